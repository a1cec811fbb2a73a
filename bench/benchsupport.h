#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>

#include <memory>
#include <vector>

class QCommandLineOption;
class QCommandLineParser;
class QImage;

// What the benches share: the clips they copy, their figures and options, the processes they
// start and what /proc says about them.
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
QByteArray readFile(const QString &path);

// Samples of one figure.
class Figure {
public:
    void add(double value) { values.push_back(value); }
    int size() const { return int(values.size()); }
    double median() const;
    double maximum() const;
    // "median max", each right-aligned in width characters; a value at or over capMs (a wait
    // cut off) is shown as ">=", no samples as "-".
    QByteArray pair(int width, int decimals, double capMs = 0) const;

private:
    std::vector<double> values;
};

long long nowNs(); // the monotonic clock
double toMs(long long ns);

// Reads the command line with --help and options. Each line printed then goes out at once,
// also into a pipe, so that a long run shows its figures as they come.
void parseOptions(QCommandLineParser &parser, const QList<QCommandLineOption> &options);
int intOption(const QCommandLineParser &parser, const QString &name, int minimum = 1);
// Whether --only is unset or one of its comma-separated texts is part of name.
bool picked(const QCommandLineParser &parser, const char *name);

// A file in the folder of the running bench, or relative to it (../tessel).
QString besideThisProgram(const QString &relative);

// The fake clipboard owner the end-to-end tests use too (tests/fakeowner).
QString fakeOwner();

// A process the bench starts, asked to end when it goes (and killed if it does not within
// waitMs): Tessel stops its capture worker only when asked.
class Process : public QProcess {
public:
    ~Process() override { stop(); }
    void stop(int waitMs = 3000);
};

// The clipboard owners a bench started, each in a process of its own: the newest owns the
// clipboard, the ones before it lost it.
class Owners {
public:
    // Starts command: the program and its arguments.
    QProcess &start(const QStringList &command, QProcess::ProcessChannelMode mode);
    // Ends all but the newest keep.
    void stop(size_t keep, int waitMs = 3000);

private:
    std::vector<std::unique_ptr<Process>> processes;
};

// xclip offering file on the clipboard, as image/png with png; option is -quiet or -verbose.
QStringList xclip(const char *option, const QString &file, bool png = false);

// Reads a helper process's lines until one starts with prefix; false at the deadline.
bool readLine(QProcess &process, const QByteArray &prefix, QByteArray &line, long long deadlineNs);

// The CPU process pid has used (utime and stime) and, with reapedChildren, what the children
// it has reaped used.
double cpuMs(qint64 pid, bool reapedChildren = false);

// The processes pid started that are still running, and the capture worker among Tessel's
// (0 when it has none).
std::vector<qint64> childrenOf(qint64 pid);
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
