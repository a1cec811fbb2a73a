#pragma once

#include "benchsupport.h"

#include <QByteArray>
#include <QProcessEnvironment>
#include <QStringList>

#include <map>
#include <vector>

class QCommandLineOption;
class QCommandLineParser;
class QProcess;

// Xlib's types as Xlib declares them: its header defines macros (Bool, Status) that break Qt
// headers included after it.
typedef struct _XDisplay Display;
typedef unsigned long XID;
typedef XID Window;
typedef unsigned long Atom;
typedef unsigned long Time;
typedef unsigned char KeyCode;
typedef union _XEvent XEvent;

// What the benches that drive the real program on an X display share.
namespace bench {

// Reads the options of a bench that drives the real program: its own, --tessel (the program
// measured, by default the one built with the bench) and, with receiver, --receiver.
void parseOptions(QCommandLineParser &parser, QList<QCommandLineOption> options, bool receiver);

// The window manager's name, "none" without one.
QByteArray windowManagerName(Display *display);

// The environment Tessel is started in: this one, with the platform left to Tessel.
QProcessEnvironment tesselEnvironment();

// Starts program (Tessel, or a shell that becomes it) and waits until Tessel's window is
// viewable. Returns the window, or 0 after saying why on stderr.
Window startTessel(QProcess &tessel, const QString &program, const QStringList &arguments = {},
                   const QProcessEnvironment &environment = tesselEnvironment());

// Starts the receiver (bench_paste_receiver) and gives it the keyboard focus, which it
// reports as "active"; false after saying why on stderr.
bool startReceiver(QProcess &receiver, Display *display, const QString &program);

// The bench's own display connection: XTest presses, the raw key presses the server reports
// with its own timestamps whoever holds a grab, and _NET_WM_PING with its replies.
class XDriver {
public:
    ~XDriver();

    // Opens the display in $DISPLAY and says which it is and its window manager; false, after
    // saying why on stderr, without a display or without XInput 2.2.
    bool open();

    // Whether window lists _NET_WM_PING among the protocols it takes part in.
    bool answersPings(Window window);

    struct Measured {
        bool pinged = false;
        bool pasted = false;
        double pingMs = 0;   // the ping's round trip
        double serverMs = 0; // the server's time of the V press minus that of the F-key press
        double seenMs = 0;   // from just before the F-key request until the bench saw the V
        long long startNs = 0;
        long serial = 0; // the ping's
        int fPress = -1; // among the raw presses, once the F-key's has come
    };

    // Sends a _NET_WM_PING to window (unless 0) and presses fKey (unless 0) at the same moment,
    // and waits for the reply and the synthetic V until the cap; a figure that did not come
    // in time is the cap. The key is released once the V has come, or after holdNs: held
    // longer than a typist holds it, the server would repeat it.
    Measured measure(Window window, KeyCode fKey, long long capNs, long long holdNs);

    // The figures of a measure() cut off at the cap, from the ping's reply and the V that came
    // later; the cap where they have not come yet.
    void late(Measured &measured);

    // Handles every event that has come in.
    void drain();

    Display *display = nullptr;
    Window root = 0;
    KeyCode vKey = 0;

private:
    struct RawPress {
        unsigned keycode = 0;
        Time serverTime = 0;
        long long receivedNs = 0;
    };

    bool selectRaw();
    bool pump(long long deadlineNs);
    void handle(XEvent &event);

    int xiOpcode = 0;
    Atom wmProtocols = 0;
    Atom netWmPing = 0;
    long lastSerial = 0;
    std::map<long, long long> pongs;
    std::vector<RawPress> presses;
};

} // namespace bench
