#pragma once

#include "benchsupport.h"

#include <QByteArray>
#include <QProcessEnvironment>
#include <QStringList>

#include <map>
#include <vector>

class QCommandLineOption;
class QCommandLineParser;

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

// parseOptions with --tessel (the program measured, by default the one built with the bench)
// and, with receiver, --receiver.
void parseTesselOptions(QCommandLineParser &parser, QList<QCommandLineOption> options,
                        bool receiver);

// This environment, with the platform left to Tessel.
QProcessEnvironment tesselEnvironment();

// Starts program (Tessel, or a shell that becomes it) and waits until Tessel's window is
// viewable. Returns the window, or 0 after saying why on stderr.
Window startTessel(QProcess &tessel, const QString &program, const QStringList &arguments = {},
                   const QProcessEnvironment &environment = tesselEnvironment());

// Starts bench_paste_receiver and waits until it has the keyboard focus; false after saying
// why.
bool startReceiver(QProcess &receiver, const QString &program);

// The bench's own display connection: XTest presses, the raw key presses the server reports
// with its own timestamps whoever holds a grab, and _NET_WM_PING with its replies.
class XDriver {
public:
    ~XDriver();

    // Opens $DISPLAY and says which it is and its window manager; false, after saying why,
    // without a display or without XInput 2.2.
    bool open();

    bool answersPings(Window window);

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

    Display *display = nullptr;
    Window root = 0;
    KeyCode vKey = 0;

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

    int xiOpcode = 0;
    Atom wmProtocols = 0;
    Atom netWmPing = 0;
    long lastSerial = 0;
    std::map<long, long long> pongs;
    std::vector<RawPress> presses;
};

} // namespace bench
