#include "benchx11.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QProcess>
#include <QThread>

#include <algorithm>
#include <cstdio>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <poll.h>

namespace bench {

namespace {

const long long StartTimeoutNs = 20000 * Ms;

// A window property as bytes: the text of an 8-bit one, the first value of a 32-bit one.
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

int ignoreError(Display *, XErrorEvent *)
{
    return 0;
}

// Tessel's window once it is viewable, or 0.
Window viewableTessel()
{
    QProcess search;
    search.start(QStringLiteral("xdotool"),
                 {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                  QStringLiteral("--name"), QStringLiteral("^Tessel V" TESSEL_VERSION "$")});
    search.waitForFinished();
    return Window(search.readAllStandardOutput().split('\n').value(0).toULongLong());
}

} // namespace

void parseOptions(QCommandLineParser &parser, QList<QCommandLineOption> options, bool receiver)
{
    options.append({QStringLiteral("tessel"), QStringLiteral("The program to measure."),
                    QStringLiteral("path"), besideThisProgram(QStringLiteral("../tessel"))});
    if (receiver)
        options.append({QStringLiteral("receiver"), QStringLiteral("The focused application."),
                        QStringLiteral("path"),
                        besideThisProgram(QStringLiteral("bench_paste_receiver"))});
    parser.addHelpOption();
    parser.addOptions(options);
    parser.process(*QCoreApplication::instance());
    // Each line goes out as it is printed, also into a pipe.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
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

QProcessEnvironment tesselEnvironment()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    return environment;
}

Window startTessel(QProcess &tessel, const QString &program, const QStringList &arguments,
                   const QProcessEnvironment &environment)
{
    tessel.setProcessEnvironment(environment);
    tessel.setProcessChannelMode(QProcess::ForwardedChannels);
    tessel.start(program, arguments);
    const long long deadline = nowNs() + StartTimeoutNs;
    Window window = None;
    while (!window && tessel.waitForStarted() && tessel.state() == QProcess::Running &&
           nowNs() < deadline) {
        window = viewableTessel();
        if (!window)
            QThread::msleep(5);
    }
    if (!window)
        std::fprintf(stderr,
                     "the Tessel window did not appear (%s %s); are F1 to F10 taken by "
                     "another client?\n",
                     qPrintable(program), qPrintable(arguments.join(QLatin1Char(' '))));
    return window;
}

bool startReceiver(QProcess &receiver, Display *display, const QString &program)
{
    receiver.setProcessEnvironment(tesselEnvironment());
    receiver.setReadChannel(QProcess::StandardOutput);
    receiver.start(program, QStringList());
    const long long deadline = nowNs() + StartTimeoutNs;
    QByteArray line;
    if (!receiver.waitForStarted() || !readLine(receiver, "ready", line, deadline)) {
        std::fprintf(stderr, "the receiver (%s) did not start\n", qPrintable(program));
        return false;
    }
    // Given again every 200 ms until the receiver has it: a window manager maps the window a
    // little later, and may take the focus back at first.
    const Window window = Window(line.mid(6).toULongLong());
    const auto previous = XSetErrorHandler(ignoreError);
    bool active = false;
    while (!active && nowNs() < deadline) {
        XWindowAttributes attributes;
        if (XGetWindowAttributes(display, window, &attributes) &&
            attributes.map_state == IsViewable) {
            XRaiseWindow(display, window);
            XSetInputFocus(display, window, RevertToPointerRoot, CurrentTime);
        }
        XSync(display, False);
        active = readLine(receiver, "active", line, std::min(deadline, nowNs() + 200 * Ms));
    }
    XSetErrorHandler(previous);
    if (!active)
        std::fprintf(stderr, "the receiver never got the keyboard focus\n");
    return active;
}

XDriver::~XDriver()
{
    if (display)
        XCloseDisplay(display);
}

bool XDriver::open()
{
    display = XOpenDisplay(nullptr);
    if (!display || !selectRaw()) {
        std::fprintf(stderr, "%s: cannot open the X display with XInput 2.2 (is DISPLAY set?)\n",
                     qPrintable(QCoreApplication::applicationName()));
        return false;
    }
    std::printf("display %s, window manager: %s\n", DisplayString(display),
                windowManagerName(display).constData());
    return true;
}

bool XDriver::selectRaw()
{
    root = DefaultRootWindow(display);
    vKey = XKeysymToKeycode(display, XK_v);
    wmProtocols = XInternAtom(display, "WM_PROTOCOLS", False);
    netWmPing = XInternAtom(display, "_NET_WM_PING", False);
    // Qt sends its ping replies to the root window with these masks.
    XSelectInput(display, root, StructureNotifyMask | SubstructureNotifyMask);
    // Raw presses of the master keyboard, reported with the server's time.
    int event = 0;
    int error = 0;
    int major = 2;
    int minor = 2;
    if (!XQueryExtension(display, "XInputExtension", &xiOpcode, &event, &error) ||
        XIQueryVersion(display, &major, &minor) != Success)
        return false;
    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(bits, XI_RawKeyPress);
    XIEventMask mask;
    mask.deviceid = XIAllMasterDevices;
    mask.mask_len = sizeof bits;
    mask.mask = bits;
    XISelectEvents(display, root, &mask, 1);
    XSync(display, False);
    return vKey != 0;
}

bool XDriver::answersPings(Window window)
{
    Atom *protocols = nullptr;
    int count = 0;
    bool found = false;
    if (XGetWMProtocols(display, window, &protocols, &count)) {
        found = std::find(protocols, protocols + count, netWmPing) != protocols + count;
        XFree(protocols);
    }
    return found;
}

XDriver::Measured XDriver::measure(Window window, KeyCode fKey, long long capNs, long long holdNs)
{
    drain();
    const size_t from = presses.size();
    const long serial = ++lastSerial;
    XEvent ping = {};
    ping.xclient.type = ClientMessage;
    ping.xclient.window = window;
    ping.xclient.message_type = wmProtocols;
    ping.xclient.format = 32;
    ping.xclient.data.l[0] = long(netWmPing);
    ping.xclient.data.l[1] = CurrentTime; // Qt echoes it and asks nothing of it
    ping.xclient.data.l[2] = long(window);
    // Not part of the protocol, but echoed with the rest: it tells the replies apart.
    ping.xclient.data.l[3] = serial;
    const long long start = nowNs();
    const long long deadline = start + capNs;
    if (window != None)
        XSendEvent(display, window, False, NoEventMask, &ping);
    if (fKey)
        XTestFakeKeyEvent(display, fKey, True, CurrentTime);
    XFlush(display);
    bool released = !fKey;
    int f = -1;
    int v = -1;
    for (size_t seen = from;;) {
        for (; seen < presses.size() && v < 0; ++seen) {
            if (f < 0 && presses[seen].keycode == fKey)
                f = int(seen);
            else if (f >= 0 && presses[seen].keycode == vKey)
                v = int(seen);
        }
        const long long now = nowNs();
        if (!released && (v >= 0 || now - start >= holdNs || now >= deadline)) {
            XTestFakeKeyEvent(display, fKey, False, CurrentTime);
            XFlush(display);
            released = true;
        }
        const bool pingDone = window == None || pongs.count(serial);
        if ((pingDone && (!fKey || v >= 0)) || now >= deadline)
            break;
        pump(released ? deadline : std::min(deadline, start + holdNs));
    }
    Measured measured;
    measured.startNs = start;
    measured.serial = serial;
    measured.fPress = f;
    const auto reply = pongs.find(serial);
    measured.pinged = reply != pongs.end();
    measured.pingMs = toMs(measured.pinged ? reply->second - start : capNs);
    measured.pasted = v >= 0;
    measured.serverMs =
        measured.pasted ? double(presses[v].serverTime - presses[f].serverTime) : toMs(capNs);
    measured.seenMs = toMs(measured.pasted ? presses[v].receivedNs - start : capNs);
    return measured;
}

void XDriver::late(Measured &measured)
{
    drain();
    const auto reply = pongs.find(measured.serial);
    if (reply != pongs.end())
        measured.pingMs = toMs(reply->second - measured.startNs);
    for (size_t i = size_t(measured.fPress + 1); measured.fPress >= 0 && i < presses.size(); ++i) {
        if (presses[i].keycode == vKey) {
            measured.serverMs = double(presses[i].serverTime - presses[measured.fPress].serverTime);
            return;
        }
    }
}

void XDriver::drain()
{
    while (XPending(display)) {
        XEvent event;
        XNextEvent(display, &event);
        handle(event);
    }
}

// Handles the events that have come, waiting for some until the deadline; false once the
// deadline has passed.
bool XDriver::pump(long long deadlineNs)
{
    if (!XPending(display)) {
        const long long left = deadlineNs - nowNs();
        if (left <= 0)
            return false;
        pollfd fd{ConnectionNumber(display), POLLIN, 0};
        poll(&fd, 1, int(left / Ms) + 1);
    }
    drain();
    return true;
}

void XDriver::handle(XEvent &event)
{
    if (event.type == ClientMessage) {
        const XClientMessageEvent &message = event.xclient;
        if (message.window == root && message.message_type == wmProtocols &&
            Atom(message.data.l[0]) == netWmPing)
            pongs[message.data.l[3]] = nowNs();
        return;
    }
    XGenericEventCookie *cookie = &event.xcookie;
    if (cookie->type != GenericEvent || cookie->extension != xiOpcode ||
        !XGetEventData(display, cookie))
        return;
    if (cookie->evtype == XI_RawKeyPress) {
        const auto *raw = static_cast<const XIRawEvent *>(cookie->data);
        presses.push_back({unsigned(raw->detail), raw->time, nowNs()});
    }
    XFreeEventData(display, cookie);
}

} // namespace bench
