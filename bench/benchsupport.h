#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>

#include <memory>
#include <vector>

class QCommandLineParser;
class QImage;

// What the benches share: the clips they copy, their figures, the processes they start and
// what /proc says about them.
namespace bench {

constexpr int ImageWidth = 3840;
constexpr int ImageHeight = 2160;
constexpr long long Ms = 1000000;

// Prose of common words in an order given by seed, cut to exactly size bytes: zlib shrinks it
// about as much as it shrinks real text (2.8 times at its fastest level), unlike a text that
// repeats one line.
QByteArray makeText(qint64 size, quint32 seed = 1);

// A 3840x2160 PNG with screen-like content: flat panels, gradients and one photo-like area.
QByteArray makePng();

QByteArray encodeImage(const QImage &image, const char *format);

bool writeFile(const QString &path, const QByteArray &bytes);

// Samples of one figure.
class Figure {
public:
    void add(double value) { values.push_back(value); }
    int size() const { return int(values.size()); }
    double median() const;
    double maximum() const;
    // "median max", each right-aligned in width characters with decimals; a value at or over
    // capMs (a wait cut off, where given) is shown as ">=", no samples as "-".
    QByteArray pair(int width, int decimals, double capMs = 0) const;

private:
    std::vector<double> values;
};

// The monotonic clock, in nanoseconds.
long long nowNs();
double toMs(long long ns);

// An option's value as a number, at least minimum.
int intOption(const QCommandLineParser &parser, const QString &name, int minimum = 1);

// A file in the folder of the running bench, or relative to it (../tessel).
QString besideThisProgram(const QString &relative);

// The fake clipboard owner the end-to-end tests use too (tests/fakeowner).
QString fakeOwner();

// Ends a process the bench started: asked first, killed if it has not ended within waitMs.
void stopProcess(QProcess &process, int waitMs = 3000);

// The clipboard owners a bench started, each in a process of its own: the newest owns the
// clipboard, the ones before it lost it.
class Owners {
public:
    ~Owners() { stop(0); }

    // Starts command: the program and its arguments.
    QProcess &start(const QStringList &command, QProcess::ProcessChannelMode mode);

    // Ends all but the newest keep.
    void stop(size_t keep, int waitMs = 3000);

private:
    std::vector<std::unique_ptr<QProcess>> processes;
};

// xclip offering file on the clipboard, as image/png with png; option is -quiet or -verbose.
QStringList xclip(const char *option, const QString &file, bool png = false);

// Reads a helper process's lines until one starts with prefix; false at the deadline.
bool readLine(QProcess &process, const QByteArray &prefix, QByteArray &line, long long deadlineNs);

// A field of /proc/PID/status or /proc/PID/smaps_rollup in kB, or -1.
long long procKb(qint64 pid, const char *file, const QByteArray &field);

// The CPU process pid has used (utime and stime) and, with reapedChildren, what the children
// it has reaped used.
double cpuMs(qint64 pid, bool reapedChildren = false);

// The processes pid started that are still running.
std::vector<qint64> childrenOf(qint64 pid);

// The capture worker Tessel's process pid started, or 0.
qint64 workerOf(qint64 pid);

// A process's memory in MiB (/proc kB / 1024), -1 where /proc does not say: VmRSS, Pss and
// the peak, VmHWM.
struct Memory {
    double rss = -1;
    double pss = -1;
    double peak = -1;
};
Memory memoryOf(qint64 pid);

} // namespace bench
