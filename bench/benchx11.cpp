#include "benchx11.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>

#include <algorithm>
#include <chrono>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>

namespace benchx11 {

QByteArray propertyBytes(Display *display, Window window, Atom property)
{
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char *data = nullptr;
    QByteArray bytes;
    if (XGetWindowProperty(display, window, property, 0, 1024, False, AnyPropertyType, &type,
                           &format, &count, &after, &data) == Success &&
        data) {
        if (format == 8)
            bytes = QByteArray(reinterpret_cast<const char *>(data), int(count));
        else if (format == 32 && count > 0)
            bytes = QByteArray::number(qulonglong(*reinterpret_cast<unsigned long *>(data)));
        XFree(data);
    }
    return bytes;
}

namespace {

int ignoreError(Display *, XErrorEvent *)
{
    return 0;
}

Window windowNamedBelow(Display *display, Window window, const QByteArray &name)
{
    if (propertyBytes(display, window, XA_WM_NAME) == name)
        return window;
    Window root = 0;
    Window parent = 0;
    Window *children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(display, window, &root, &parent, &children, &count))
        return None;
    Window found = None;
    for (unsigned int i = 0; i < count && found == None; ++i)
        found = windowNamedBelow(display, children[i], name);
    if (children)
        XFree(children);
    return found;
}

} // namespace

Window findWindowNamed(Display *display, Window window, const QByteArray &name)
{
    // Windows come and go during the walk (a program that starts or quits): a window that
    // vanished is simply not the one sought, not an error that ends the bench.
    const auto previous = XSetErrorHandler(ignoreError);
    const Window found = windowNamedBelow(display, window, name);
    XSync(display, False);
    XSetErrorHandler(previous);
    return found;
}

bool hasWindowNamed(Display *display, Window window, const QByteArray &name)
{
    return findWindowNamed(display, window, name) != None;
}

bool selectRawKeyPresses(Display *display, int &opcode)
{
    int event = 0;
    int error = 0;
    if (!XQueryExtension(display, "XInputExtension", &opcode, &event, &error))
        return false;
    int major = 2;
    int minor = 2;
    if (XIQueryVersion(display, &major, &minor) != Success)
        return false;
    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(bits, XI_RawKeyPress);
    XIEventMask mask;
    mask.deviceid = XIAllMasterDevices;
    mask.mask_len = sizeof bits;
    mask.mask = bits;
    XISelectEvents(display, DefaultRootWindow(display), &mask, 1);
    XSync(display, False);
    return true;
}

QByteArray windowManagerName(Display *display)
{
    const Atom check = XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", False);
    const QByteArray id = propertyBytes(display, DefaultRootWindow(display), check);
    if (id.isEmpty())
        return "none";
    const QByteArray name = propertyBytes(display, Window(id.toULongLong()),
                                          XInternAtom(display, "_NET_WM_NAME", False));
    return name.isEmpty() ? QByteArray("unnamed") : name;
}

QString besideThisProgram(const QString &relative)
{
    return QDir(QCoreApplication::applicationDirPath()).absoluteFilePath(relative);
}

void stopProcess(QProcess &process, int waitMs)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(waitMs)) {
        process.kill();
        process.waitForFinished(waitMs);
    }
}

long long nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool readLine(QProcess &process, const QByteArray &prefix, QByteArray &line, long long deadlineNs)
{
    for (;;) {
        while (process.canReadLine()) {
            line = process.readLine().trimmed();
            if (line.startsWith(prefix))
                return true;
        }
        const long long left = deadlineNs - nowNs();
        if (left <= 0 || process.state() != QProcess::Running)
            return false;
        process.waitForReadyRead(int(left / 1000000) + 1);
    }
}

bool focus(Display *display, QProcess &receiver, Window window, long long deadlineNs)
{
    const auto previous = XSetErrorHandler(ignoreError);
    bool active = false;
    QByteArray line;
    while (!active && nowNs() < deadlineNs) {
        XWindowAttributes attributes;
        if (XGetWindowAttributes(display, window, &attributes) &&
            attributes.map_state == IsViewable) {
            XRaiseWindow(display, window);
            XSetInputFocus(display, window, RevertToPointerRoot, CurrentTime);
        }
        XSync(display, False);
        // Asked again every 200 ms: the window manager may take the focus back at first.
        active = readLine(receiver, "active", line, std::min(deadlineNs, nowNs() + 200000000LL));
    }
    XSetErrorHandler(previous);
    return active;
}

} // namespace benchx11
