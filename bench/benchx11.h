#pragma once

#include <QByteArray>
#include <QString>

class QProcess;

// Xlib's types as Xlib declares them: its header defines macros (Bool, Status) that break Qt
// headers included after it.
typedef struct _XDisplay Display;
typedef unsigned long XID;
typedef XID Window;
typedef unsigned long Atom;

// Window lookups the benches that drive the real program share.
namespace benchx11 {

// A window property as bytes: the text of an 8-bit one, the first value of a 32-bit one.
QByteArray propertyBytes(Display *display, Window window, Atom property);

// Window or the first of its descendants titled name (the client window inside a window
// manager's frame), or 0.
Window findWindowNamed(Display *display, Window window, const QByteArray &name);

// Whether window or one of its descendants is titled name.
bool hasWindowNamed(Display *display, Window window, const QByteArray &name);

// Asks for raw key presses of the master keyboard on the root window, which the server
// reports with its own timestamp whoever holds a grab. Sets opcode to XInput's; false when
// the server has no XInput 2.2.
bool selectRawKeyPresses(Display *display, int &opcode);

// The running window manager's name, "none" without one.
QByteArray windowManagerName(Display *display);

// A file in the folder of the running bench, or relative to it (../tessel).
QString besideThisProgram(const QString &relative);

// Ends a process the bench started: asked first, killed if it has not ended within waitMs.
void stopProcess(QProcess &process, int waitMs = 3000);

// The monotonic clock, in nanoseconds.
long long nowNs();

// Reads a helper process's lines until one starts with prefix; false at the deadline.
bool readLine(QProcess &process, const QByteArray &prefix, QByteArray &line, long long deadlineNs);

// Gives the receiver the keyboard focus once its window is viewable (a window manager maps it
// a little later), until the receiver reports "active"; false at the deadline.
bool focus(Display *display, QProcess &receiver, Window window, long long deadlineNs);

} // namespace benchx11
