#include "benchsupport.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QThread>

#include <algorithm>
#include <cstdio>

#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <poll.h>

namespace bench {

namespace {

const long long StartTimeoutNs = 20000 * Ms;

// A window property's data as Xlib gives it: 32-bit values as longs.
QByteArray property(Display *display, Window window, const char *name)
{
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char *data = nullptr;
    QByteArray bytes;
    if (XGetWindowProperty(display, window, XInternAtom(display, name, False), 0, 1024, False,
                           AnyPropertyType, &type, &format, &count, &after, &data) == Success &&
        data) {
        const size_t unit = format == 32 ? sizeof(long) : size_t(format / 8);
        bytes = QByteArray(reinterpret_cast<const char *>(data), int(count * unit));
        XFree(data);
    }
    return bytes;
}

// The window manager names itself on the window that the root's _NET_SUPPORTING_WM_CHECK gives.
QByteArray windowManagerName(Display *display)
{
    const QByteArray check =
        property(display, DefaultRootWindow(display), "_NET_SUPPORTING_WM_CHECK");
    if (check.size() < int(sizeof(Window)))
        return "none";
    const QByteArray name =
        property(display, *reinterpret_cast<const Window *>(check.constData()), "_NET_WM_NAME");
    return name.isEmpty() ? QByteArray("unnamed") : name;
}

} // namespace

void parseTesselOptions(QCommandLineParser &parser, QList<QCommandLineOption> options)
{
    options.append({QStringLiteral("tessel"), QStringLiteral("The program to measure."),
                    QStringLiteral("path"), besideThisProgram(QStringLiteral("../tessel"))});
    parseOptions(parser, options);
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
        QProcess search;
        search.start(QStringLiteral("xdotool"),
                     {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                      QStringLiteral("--name"), QStringLiteral("^Tessel V" TESSEL_VERSION "$")});
        search.waitForFinished();
        window = Window(search.readAllStandardOutput().split('\n').value(0).toULongLong());
        QThread::msleep(window ? 0 : 5);
    }
    if (!window)
        std::fprintf(stderr,
                     "the Tessel window did not appear (%s %s); are F1 to F10 taken by "
                     "another client?\n",
                     qPrintable(program), qPrintable(arguments.join(QLatin1Char(' '))));
    return window;
}

bool startReceiver(QProcess &receiver)
{
    const QString program = besideThisProgram(QStringLiteral("bench_paste_receiver"));
    receiver.setProcessEnvironment(tesselEnvironment());
    receiver.setReadChannel(QProcess::StandardOutput);
    receiver.start(program, QStringList());
    QByteArray line;
    if (receiver.waitForStarted() && readLine(receiver, "active", line, nowNs() + StartTimeoutNs))
        return true;
    std::fprintf(stderr, "the receiver (%s) never got the keyboard focus\n", qPrintable(program));
    return false;
}

XDriver::~XDriver()
{
    if (display)
        XCloseDisplay(display);
}

bool XDriver::open()
{
    display = XOpenDisplay(nullptr);
    int event = 0;
    int error = 0;
    int major = 2;
    int minor = 2;
    if (!display || !XQueryExtension(display, "XInputExtension", &xiOpcode, &event, &error) ||
        XIQueryVersion(display, &major, &minor) != Success) {
        std::fprintf(stderr, "%s: cannot open the X display with XInput 2.2 (is DISPLAY set?)\n",
                     qPrintable(QCoreApplication::applicationName()));
        return false;
    }
    root = DefaultRootWindow(display);
    vKey = XKeysymToKeycode(display, XK_v);
    wmProtocols = XInternAtom(display, "WM_PROTOCOLS", False);
    netWmPing = XInternAtom(display, "_NET_WM_PING", False);
    // Qt sends its ping replies to the root window with these masks.
    XSelectInput(display, root, StructureNotifyMask | SubstructureNotifyMask);
    // Raw presses of the master keyboard, reported with the server's time.
    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(bits, XI_RawKeyPress);
    XIEventMask mask = {XIAllMasterDevices, int(sizeof bits), bits};
    XISelectEvents(display, root, &mask, 1);
    std::printf("display %s, window manager: %s\n", DisplayString(display),
                windowManagerName(display).constData());
    return true;
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

KeyCode XDriver::fKey(int number)
{
    return XKeysymToKeycode(display, XK_F1 + number - 1);
}

XDriver::Measured XDriver::measure(Window window, KeyCode fKey, long long capNs, long long holdNs)
{
    drain();
    Measured measured;
    measured.serial = ++lastSerial;
    measured.capNs = capNs;
    measured.fKey = fKey;
    measured.from = presses.size();
    XEvent ping = {};
    ping.xclient.type = ClientMessage;
    ping.xclient.window = window;
    ping.xclient.message_type = wmProtocols;
    ping.xclient.format = 32;
    ping.xclient.data.l[0] = long(netWmPing);
    ping.xclient.data.l[1] = CurrentTime; // Qt echoes it and asks nothing of it
    ping.xclient.data.l[2] = long(window);
    // Not part of the protocol, but echoed with the rest: it tells the replies apart.
    ping.xclient.data.l[3] = measured.serial;
    measured.startNs = nowNs();
    const long long deadline = measured.startNs + capNs;
    if (window != None)
        XSendEvent(display, window, False, NoEventMask, &ping);
    if (fKey)
        XTestFakeKeyEvent(display, fKey, True, CurrentTime);
    XFlush(display);
    for (bool released = !fKey;;) {
        fill(measured);
        const long long now = nowNs();
        if (!released && (measured.pasted || now - measured.startNs >= holdNs || now >= deadline)) {
            XTestFakeKeyEvent(display, fKey, False, CurrentTime);
            XFlush(display);
            released = true;
        }
        if (((window == None || measured.pinged) && (!fKey || measured.pasted)) || now >= deadline)
            return measured;
        pump(released ? deadline : std::min(deadline, measured.startNs + holdNs));
    }
}

void XDriver::update(Measured &measured)
{
    drain();
    fill(measured);
}

void XDriver::fill(Measured &measured) const
{
    const auto reply = pongs.find(measured.serial);
    measured.pinged = reply != pongs.end();
    measured.pingMs = toMs(measured.pinged ? reply->second - measured.startNs : measured.capNs);
    const RawPress *f = nullptr;
    const RawPress *v = nullptr;
    for (size_t i = measured.from; i < presses.size() && !v; ++i) {
        if (!f && presses[i].keycode == measured.fKey)
            f = &presses[i];
        else if (f && presses[i].keycode == vKey)
            v = &presses[i];
    }
    measured.pasted = v;
    measured.serverMs = v ? double(v->serverTime - f->serverTime) : toMs(measured.capNs);
    measured.seenMs = toMs(v ? v->receivedNs - measured.startNs : measured.capNs);
}

void XDriver::pump(long long deadlineNs)
{
    const long long left = deadlineNs - nowNs();
    if (!XPending(display) && left > 0) {
        pollfd fd{ConnectionNumber(display), POLLIN, 0};
        poll(&fd, 1, int(left / Ms) + 1);
    }
    drain();
}

void XDriver::drain()
{
    while (XPending(display)) {
        XEvent event;
        XNextEvent(display, &event);
        handle(event);
    }
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
