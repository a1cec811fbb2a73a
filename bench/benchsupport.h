#pragma once

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <list>
#include <map>
#include <vector>

class QCommandLineOption;
class QCommandLineParser;
class QImage;

// Xlib's types as Xlib declares them: its header defines macros (Bool, Status) that break Qt
// headers included after it.
typedef struct _XDisplay Display;
typedef unsigned long Window;
typedef unsigned long Atom;
typedef unsigned long Time;
typedef unsigned char KeyCode;
typedef union _XEvent XEvent;

// What the benches share: the clips they copy, their figures and options, the processes they
// start and what /proc says about them; and, in benchx11.cpp, what those that drive the real
// program on an X display share.
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

QString fakeOwner(); // tests/fakeowner, which the end-to-end tests use too

// A process the bench starts, asked to end when it goes (and killed if it does not within
// 3 s): Tessel stops its capture worker only when asked.
class Process : public QProcess {
public:
    ~Process() override;
};

// The clipboard owners a bench started, each in a process of its own: the newest owns the
// clipboard, the ones before it lost it.
class Owners {
public:
    QProcess &start(const QStringList &command, QProcess::ProcessChannelMode mode);
    void endOlder(); // all but the newest

private:
    std::list<Process> processes;
};

// xclip offering file on the clipboard, as image/png with png; option is -quiet or -verbose.
QStringList xclip(const char *option, const QString &file, bool png = false);

// Reads a helper process's lines until one starts with prefix; false at the deadline.
bool readLine(QProcess &process, const QByteArray &prefix, QByteArray &line, long long deadlineNs);

// The CPU process pid has used (utime and stime) and, with children, what its children used:
// the live ones', and what the ones that ended (a capture worker replaced or restarted) left in
// its cutime and cstime.
double cpuMs(qint64 pid, bool children = false);

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

// parseOptions with --tessel: the program measured, by default the one built with the bench.
void parseTesselOptions(QCommandLineParser &parser, QList<QCommandLineOption> options);

// This environment, with the platform left to Tessel.
QProcessEnvironment tesselEnvironment();

// Starts program (Tessel, or a shell that becomes it) and waits until Tessel's window is
// viewable. Returns the window, or 0 after saying why on stderr.
Window startTessel(QProcess &tessel, const QString &program, const QStringList &arguments = {},
                   const QProcessEnvironment &environment = tesselEnvironment());

// Starts bench_paste_receiver; true once it has the keyboard focus.
bool startReceiver(QProcess &receiver);

// The bench's own display connection: XTest presses, the raw key presses the server reports
// with its own timestamps whoever holds a grab, and _NET_WM_PING with its replies.
class XDriver {
public:
    ~XDriver();

    // Opens $DISPLAY and says which it is and its window manager; false, after saying why,
    // without a display or without XInput 2.2.
    bool open();

    bool answersPings(Window window);
    KeyCode fKey(int number); // F1 to F10

    struct Measured {
        bool pinged = false;
        bool pasted = false;
        double pingMs = 0;   // the ping's round trip
        double serverMs = 0; // the server's time of the V press minus that of the F-key press
        double seenMs = 0;   // from just before the F-key request until the bench saw the V
        long long startNs = 0;
        long long capNs = 0;
        long serial = 0; // the ping's
        KeyCode fKey = 0;
        size_t from = 0; // the first raw press that can be the F-key's
    };

    // Sends a _NET_WM_PING to window (unless 0) and presses fKey (unless 0) at the same moment,
    // and waits for the reply and the synthetic V until the cap; a figure that did not come
    // in time is the cap. The key is released once the V has come, or after holdNs: held
    // longer than a typist holds it, the server would repeat it.
    Measured measure(Window window, KeyCode fKey, long long capNs, long long holdNs);

    // Brings the figures of a measure() cut off at the cap up to date with the reply and the V
    // that came since.
    void update(Measured &measured);

private:
    struct RawPress {
        unsigned keycode = 0;
        Time serverTime = 0;
        long long receivedNs = 0;
    };

    void fill(Measured &measured) const;
    void pump(long long deadlineNs);
    void drain();
    void handle(XEvent &event);

    Display *display = nullptr;
    Window root = 0;
    KeyCode vKey = 0;
    int xiOpcode = 0;
    Atom wmProtocols = 0;
    Atom netWmPing = 0;
    long lastSerial = 0;
    std::map<long, long long> pongs;
    std::vector<RawPress> presses;
};

} // namespace bench
