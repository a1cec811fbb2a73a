// Prints how the real program holds up while clipboard owners misbehave, on the X display in
// $DISPLAY: the latency from an F-key press to the synthetic V, and the round trip of a
// _NET_WM_PING to its window, idle and while an owner hangs, answers late, or sends 100 MiB
// with INCR. Also the owner's view of a small capture, and what the capture worker costs:
// its start and its memory. The owners are this program run with --serve (SelectionOwner).
// See README.md.

#include "benchdata.h"
#include "benchx11.h"
#include "selectionowner.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <vector>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <poll.h>
#include <signal.h>

namespace {

const char TesselTitle[] = "Tessel V" TESSEL_VERSION;
const char WorkerArgument[] = "--capture-worker";
const char *const SlotTexts[] = {"tessel responsive bench, slot one",
                                 "tessel responsive bench, slot two"};
const int DefaultRounds = 20;
const int DefaultCapSeconds = 30;
const int DefaultMaxFrozen = 3;
const int DefaultIncrMiB = 100;
const int DefaultStartRuns = 5;
const long long Ms = 1000000;
const long long StartTimeoutNs = 15000 * Ms;
// An owner that Tessel has not started to read from this long after taking the clipboard
// leaves nothing to measure in that round.
const long long ReadStartTimeoutNs = 10000 * Ms;
const long long PasteTimeoutNs = 10000 * Ms;
// A capture is over once its owner has heard nothing for this long.
const long long CaptureQuietNs = 500 * Ms;
const long long CaptureTimeoutNs = 10000 * Ms;
const long long FullIncrTimeoutNs = 300000 * Ms;
// During the program's start the clipboard is taken again this often until it is read.
const long long RetakeEveryNs = 20 * Ms;
const long long SingleTakeWaitNs = 3000 * Ms;
const int PauseBetweenRoundsMs = 100;
const long long KeyHoldNs = 100 * Ms;
const int CalmBeforeCapturesMs = 1000;

double toMs(long long ns)
{
    return double(ns) / 1e6;
}

// Samples of one figure; a wait cut off at the cap counts as the cap, shown as ">=".
class Figure {
public:
    explicit Figure(double capMs = 0) : capMs(capMs) {}
    void add(double ms) { values.push_back(ms); }
    bool empty() const { return values.empty(); }
    int size() const { return int(values.size()); }
    std::vector<double> sorted() const
    {
        std::vector<double> copy = values;
        std::sort(copy.begin(), copy.end());
        return copy;
    }
    QByteArray median() const
    {
        if (values.empty())
            return "-";
        const std::vector<double> all = sorted();
        return show(benchdata::median(values), all[all.size() / 2] >= capMs && capMs > 0);
    }
    QByteArray maximum() const
    {
        if (values.empty())
            return "-";
        const double top = benchdata::maximum(values);
        return show(top, top >= capMs && capMs > 0);
    }

private:
    static QByteArray show(double ms, bool capped)
    {
        return (capped ? QByteArray(">=") : QByteArray()) + QByteArray::number(ms, 'f', 1);
    }
    std::vector<double> values;
    double capMs;
};

using benchx11::findWindowNamed;
using benchx11::focus;
using benchx11::nowNs;
using benchx11::propertyBytes;
using benchx11::readLine;
using benchx11::stopProcess;
using benchx11::windowManagerName;

int ignoreError(Display *, XErrorEvent *)
{
    return 0;
}

bool isViewable(Display *display, Window window)
{
    const auto previous = XSetErrorHandler(ignoreError);
    XWindowAttributes attributes;
    const bool viewable =
        XGetWindowAttributes(display, window, &attributes) && attributes.map_state == IsViewable;
    XSetErrorHandler(previous);
    return viewable;
}

// The bench's display connection: XTest presses, raw key events with the server's times,
// and pings with their replies.
class XSession {
public:
    ~XSession()
    {
        if (display)
            XCloseDisplay(display);
    }

    bool open()
    {
        display = XOpenDisplay(nullptr);
        if (!display)
            return false;
        root = DefaultRootWindow(display);
        wmProtocols = XInternAtom(display, "WM_PROTOCOLS", False);
        netWmPing = XInternAtom(display, "_NET_WM_PING", False);
        stampAtom = XInternAtom(display, "_TESSEL_BENCH_STAMP", False);
        own = XCreateSimpleWindow(display, root, 0, 0, 1, 1, 0, 0, 0);
        XSelectInput(display, own, PropertyChangeMask);
        // Qt sends its ping replies to the root window with these masks.
        XSelectInput(display, root, StructureNotifyMask | SubstructureNotifyMask);
        return benchx11::selectRawKeyPresses(display, xiOpcode);
    }

    // Whether window lists _NET_WM_PING among the protocols it takes part in.
    bool answersPings(Window window)
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

    struct Measured {
        bool pinged = false;
        bool pasted = false;
        double pingMs = 0;   // the ping's round trip
        double serverMs = 0; // the server's time of the V press minus that of the F-key press
        double seenMs = 0;   // from just before the F-key request until the bench saw the V
        long long startNs = 0;
        long serial = 0;
        int fPress = -1; // among the raw presses, once the F-key's has come
    };

    // Sends a _NET_WM_PING to window (unless None) and presses fKey (unless 0) at the same
    // moment, and waits for the reply and the synthetic V until the cap; a figure that did
    // not come in time is the cap. The key is released once the V has come, or after a
    // typist's press at most: held any longer, the server would repeat it.
    Measured measure(Window window, KeyCode fKey, long long capNs)
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
        ping.xclient.data.l[1] = long(serverTime());
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
            if (!released && (v >= 0 || now - start >= KeyHoldNs)) {
                XTestFakeKeyEvent(display, fKey, False, CurrentTime);
                XFlush(display);
                released = true;
            }
            const bool pingDone = window == None || pongs.count(serial);
            const bool keyDone = !fKey || v >= 0;
            if ((pingDone && keyDone) || now >= deadline)
                break;
            pump(released ? deadline : std::min(deadline, start + KeyHoldNs));
        }
        if (!released) {
            XTestFakeKeyEvent(display, fKey, False, CurrentTime);
            XFlush(display);
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

    // The figures of a measure() cut off at the cap, from the ping's reply and the V that
    // came later; the cap where they have not come yet.
    void late(Measured &measured)
    {
        drain();
        const auto reply = pongs.find(measured.serial);
        if (reply != pongs.end())
            measured.pingMs = toMs(reply->second - measured.startNs);
        if (measured.fPress < 0)
            return;
        for (size_t i = size_t(measured.fPress) + 1; i < presses.size(); ++i) {
            if (presses[i].keycode == vKey) {
                measured.serverMs =
                    double(presses[i].serverTime - presses[measured.fPress].serverTime);
                return;
            }
        }
    }

    // Handles every event that has come in.
    void drain()
    {
        while (XPending(display))
            handleOne();
    }

    Display *display = nullptr;
    Window root = None;
    KeyCode vKey = 0;

private:
    struct RawPress {
        unsigned keycode = 0;
        Time serverTime = 0;
        long long receivedNs = 0;
    };

    // Handles the events that have come, waiting for some until the deadline; false once
    // the deadline has passed.
    bool pump(long long deadlineNs)
    {
        if (XPending(display)) {
            drain();
            return true;
        }
        const long long left = deadlineNs - nowNs();
        if (left <= 0)
            return false;
        pollfd fd{ConnectionNumber(display), POLLIN, 0};
        poll(&fd, 1, int(left / Ms) + 1);
        drain();
        return true;
    }

    void handleOne()
    {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == ClientMessage) {
            const XClientMessageEvent &message = event.xclient;
            if (message.window == root && message.message_type == wmProtocols &&
                Atom(message.data.l[0]) == netWmPing)
                pongs[message.data.l[3]] = nowNs();
            return;
        }
        if (event.type == PropertyNotify) {
            if (event.xproperty.window == own && event.xproperty.atom == stampAtom)
                lastStamp = event.xproperty.time;
            return;
        }
        XGenericEventCookie *cookie = &event.xcookie;
        if (cookie->type != GenericEvent || cookie->extension != xiOpcode ||
            !XGetEventData(display, cookie))
            return;
        if (cookie->evtype == XI_RawKeyPress) {
            const auto *raw = static_cast<const XIRawEvent *>(cookie->data);
            RawPress press;
            press.keycode = unsigned(raw->detail);
            press.serverTime = raw->time;
            press.receivedNs = nowNs();
            presses.push_back(press);
        }
        XFreeEventData(display, cookie);
    }

    // A current server time, from a property change on the bench's own window.
    Time serverTime()
    {
        lastStamp = CurrentTime;
        XChangeProperty(display, own, stampAtom, XA_STRING, 8, PropModeAppend, nullptr, 0);
        XFlush(display);
        const long long deadline = nowNs() + 1000 * Ms;
        while (lastStamp == CurrentTime && pump(deadline))
            ;
        return lastStamp;
    }

    int xiOpcode = 0;
    Atom wmProtocols = None;
    Atom netWmPing = None;
    Atom stampAtom = None;
    Window own = None;
    Time lastStamp = CurrentTime;
    long lastSerial = 0;
    std::map<long, long long> pongs;
    std::vector<RawPress> presses;
};

// What a --serve owner reported (see SelectionOwner): its kind, the target, the time and the
// requestor window.
struct OwnerEvent {
    QByteArray kind;
    QByteArray target;
    long long ns = 0;
    QByteArray requestor;
};

// A SelectionOwner in a process of its own (this program run with --serve).
class Owner {
public:
    ~Owner() { stop(); }

    bool start(const QByteArray &mode, int incrMiB)
    {
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(QCoreApplication::applicationFilePath(),
                      {QStringLiteral("--serve"), QString::fromLatin1(mode),
                       QStringLiteral("--incr-mib"), QString::number(incrMiB)});
        OwnerEvent ready;
        return process.waitForStarted() &&
               waitFor([](const OwnerEvent &e) { return e.kind == "ready"; }, nowNs() + 60000 * Ms,
                       ready);
    }

    void stop()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.closeWriteChannel();
        if (!process.waitForFinished(3000)) {
            process.kill();
            process.waitForFinished(3000);
        }
    }

    // Forgets what was reported so far.
    void clear()
    {
        collect(0);
        events.clear();
    }

    // Takes the clipboard (offering text, for a text owner).
    bool own(const QByteArray &text, OwnerEvent &owned)
    {
        collect(0);
        const size_t from = events.size();
        process.write(text.isEmpty() ? QByteArray("own\n") : "own " + text + "\n");
        process.waitForBytesWritten(1000);
        return waitFor([](const OwnerEvent &e) { return e.kind == "owned"; }, nowNs() + 5000 * Ms,
                       owned, from);
    }

    // The first report since the last clear() (or from the given one on) that matches,
    // waiting for it until the deadline.
    bool waitFor(const std::function<bool(const OwnerEvent &)> &match, long long deadlineNs,
                 OwnerEvent &found, size_t from = 0)
    {
        for (size_t seen = from;;) {
            for (; seen < events.size(); ++seen) {
                if (match(events[seen])) {
                    found = events[seen];
                    return true;
                }
            }
            const long long left = deadlineNs - nowNs();
            if (left <= 0 || process.state() != QProcess::Running)
                return false;
            collect(int(left / Ms) + 1);
        }
    }

    // Reads what the owner has reported, waiting at most waitMs for something new.
    void collect(int waitMs)
    {
        if (!process.canReadLine())
            process.waitForReadyRead(waitMs);
        while (process.canReadLine()) {
            const QList<QByteArray> fields = process.readLine().trimmed().split(' ');
            OwnerEvent event;
            event.kind = fields.value(0);
            if (fields.size() >= 3) {
                event.target = fields[1];
                event.ns = fields[2].toLongLong();
                event.requestor = fields.last();
            } else if (fields.size() == 2) {
                event.ns = fields[1].toLongLong();
            }
            events.push_back(event);
        }
    }

    std::vector<OwnerEvent> events;

private:
    QProcess process;
};

bool isProtocolTarget(const QByteArray &target)
{
    return target == "TARGETS" || target == "TIMESTAMP";
}

// The process started by pid (the capture worker of Tessel's process), or 0.
qint64 childOf(qint64 pid)
{
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &entry : entries) {
        bool number = false;
        const qint64 candidate = entry.toLongLong(&number);
        if (!number)
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(candidate));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        // pid (name) state ppid ...: the name may hold spaces and parentheses.
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields[1].toLongLong() == pid)
            return candidate;
    }
    return 0;
}

// A field of /proc/PID/status or /proc/PID/smaps_rollup in kB, or -1.
long long procKb(qint64 pid, const char *file, const QByteArray &field)
{
    QFile status(QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(file)));
    if (!pid || !status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field + ':'))
            return line.mid(field.size() + 1).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

void printMemory(const char *when, qint64 tesselPid)
{
    const qint64 worker = childOf(tesselPid);
    const auto mib = [](long long kb) {
        return kb < 0 ? QByteArray("-") : QByteArray::number(double(kb) / 1024, 'f', 1);
    };
    std::printf("%-28s | %6s %6s %6s | %6s %6s %6s\n", when,
                mib(procKb(tesselPid, "status", "VmRSS")).constData(),
                mib(procKb(tesselPid, "smaps_rollup", "Pss")).constData(),
                mib(procKb(tesselPid, "status", "VmHWM")).constData(),
                mib(procKb(worker, "status", "VmRSS")).constData(),
                mib(procKb(worker, "smaps_rollup", "Pss")).constData(),
                mib(procKb(worker, "status", "VmHWM")).constData());
    std::fflush(stdout);
}

struct Options {
    QString tessel;
    QString receiver;
    int rounds = DefaultRounds;
    long long capNs = DefaultCapSeconds * 1000 * Ms;
    int maxFrozen = DefaultMaxFrozen;
    int incrMiB = DefaultIncrMiB;
    int startRuns = DefaultStartRuns;
    QByteArray only;

    bool verbose = false;

    bool wants(const char *part) const { return only.isEmpty() || only.contains(part); }
};

bool hasCaptureWorker(const QString &tessel)
{
    QFile binary(tessel);
    return binary.open(QIODevice::ReadOnly) && binary.readAll().contains(WorkerArgument);
}

// `tessel --capture-worker` from the start of the process until it answers a ping on its
// standard output: the first change it can be asked to read.
void benchWorkerStart(const Options &options)
{
    std::printf("\nworker start: `tessel %s 1` until it answers a ping\n", WorkerArgument);
    if (!hasCaptureWorker(options.tessel)) {
        std::printf("  this build has no capture worker\n");
        return;
    }
    // The window's framing: the size as a big-endian quint64, then the message type and the
    // change number (Ping = 6, Pong = 7).
    const auto frame = [](char message) {
        QByteArray bytes(7, '\0');
        return bytes.append(char(9)).append(message).append(QByteArray(8, '\0'));
    };
    const QByteArray ping = frame(6);
    const QByteArray pong = frame(7);
    Figure ready;
    for (int run = 0; run < std::max(10, options.startRuns); ++run) {
        QProcess worker;
        worker.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        const long long start = nowNs();
        worker.start(options.tessel, {QString::fromLatin1(WorkerArgument), QStringLiteral("1")});
        worker.write(ping);
        QByteArray answer;
        while (!answer.endsWith(pong) && worker.waitForReadyRead(10000))
            answer += worker.readAllStandardOutput();
        // Ready comes first, then the answer.
        if (answer.endsWith(pong))
            ready.add(toMs(nowNs() - start));
        // Without the window's process the worker ends by itself.
        worker.closeWriteChannel();
        if (!worker.waitForFinished(3000))
            stopProcess(worker);
    }
    std::printf("  %d runs: median %s ms, max %s ms\n", ready.size(), ready.median().data(),
                ready.maximum().data());
}

// From the window's appearance until Tessel first reads an owner that takes the clipboard
// again every 20 ms: what a copy right after the start has to wait for. Runs in between take
// the clipboard once as the window appears and wait for a read: is such a copy kept?
void benchFirstCapture(const Options &options, QProcessEnvironment environment)
{
    std::printf("\nfirst capture after start: the window appears, then an owner takes the "
                "clipboard again every %lld ms until Tessel asks it for something, or (every "
                "other run) once, waiting %lld s\n",
                RetakeEveryNs / Ms, SingleTakeWaitNs / 1000 / Ms);
    Display *display = XOpenDisplay(nullptr);
    Owner owner;
    if (!display || !owner.start("text", 1)) {
        std::printf("  no display or no owner\n");
        if (display)
            XCloseDisplay(display);
        return;
    }
    Figure shown;
    Figure firstRead;
    Figure singleRead;
    int singleTakes = 0;
    for (int run = 0; run < 2 * options.startRuns; ++run) {
        QProcess tessel;
        tessel.setProcessEnvironment(environment);
        tessel.setProcessChannelMode(QProcess::ForwardedChannels);
        const long long start = nowNs();
        tessel.start(options.tessel, QStringList());
        Window window = None;
        long long shownAt = 0;
        while (tessel.waitForStarted() && tessel.state() == QProcess::Running &&
               nowNs() < start + StartTimeoutNs) {
            if (window == None)
                window = findWindowNamed(display, DefaultRootWindow(display), TesselTitle);
            if (window != None && isViewable(display, window)) {
                shownAt = nowNs();
                break;
            }
            QThread::msleep(2);
        }
        if (!shownAt) {
            std::printf("  run %d: the window did not appear\n", run + 1);
            stopProcess(tessel);
            continue;
        }
        shown.add(toMs(shownAt - start));
        owner.clear();
        OwnerEvent event;
        const auto isRequest = [](const OwnerEvent &e) { return e.kind == "request"; };
        if (run % 2) {
            ++singleTakes;
            if (owner.own("tessel start " + QByteArray::number(run), event) &&
                owner.waitFor(isRequest, nowNs() + SingleTakeWaitNs, event))
                singleRead.add(toMs(event.ns - shownAt));
            stopProcess(tessel);
            continue;
        }
        bool read = false;
        for (int take = 0; !read && nowNs() < shownAt + ReadStartTimeoutNs; ++take) {
            owner.own("tessel start " + QByteArray::number(run) + "." + QByteArray::number(take),
                      event);
            read = owner.waitFor(isRequest, nowNs() + RetakeEveryNs, event);
        }
        if (read)
            firstRead.add(toMs(event.ns - shownAt));
        else
            std::printf("  run %d: nothing was read within %lld s\n", run + 1,
                        ReadStartTimeoutNs / 1000 / Ms);
        stopProcess(tessel);
    }
    owner.stop();
    XCloseDisplay(display);
    std::printf("  start->window viewable: median %s ms, max %s ms (%d runs)\n"
                "  window viewable->first request, taken every %lld ms: median %s ms, max %s ms "
                "(%d runs)\n"
                "  taken once as the window appears: read in %d of %d runs, median %s ms, max "
                "%s ms after\n",
                shown.median().data(), shown.maximum().data(), shown.size(), RetakeEveryNs / Ms,
                firstRead.median().data(), firstRead.maximum().data(), firstRead.size(),
                singleRead.size(), singleTakes, singleRead.median().data(),
                singleRead.maximum().data());
}

struct Case {
    const char *name;
    const char *mode; // the owner's --serve mode; none for idle
    const char *what;
};

class ResponsiveBench {
public:
    ResponsiveBench(const Options &options, XSession &x, QProcess &receiver, Window window)
        : options(options), x(x), receiver(receiver), window(window)
    {
    }

    // Pings until the window answers: whatever it was stuck on is over.
    bool settle(double &ms)
    {
        const XSession::Measured measured =
            x.measure(window, 0, std::max<long long>(2 * options.capNs, 60000 * Ms));
        ms = measured.pingMs;
        return measured.pinged;
    }

    // Copies text and waits until its owner has served it and heard nothing for a while.
    bool copy(Owner &owner, const QByteArray &text, long long &ownedNs, long long &firstNs,
              long long &lastNs, int &requests)
    {
        owner.clear();
        OwnerEvent owned;
        if (!owner.own(text, owned))
            return false;
        ownedNs = owned.ns;
        const long long deadline = nowNs() + CaptureTimeoutNs;
        long long quietSince = nowNs();
        size_t count = 0;
        while (nowNs() < deadline) {
            owner.collect(20);
            if (owner.events.size() != count) {
                count = owner.events.size();
                quietSince = nowNs();
            } else if (nowNs() - quietSince > CaptureQuietNs) {
                break;
            }
        }
        firstNs = lastNs = 0;
        requests = 0;
        for (const OwnerEvent &event : owner.events) {
            if (event.kind == "request") {
                ++requests;
                if (!firstNs)
                    firstNs = event.ns;
            } else if (event.kind == "served") {
                lastNs = event.ns;
            }
        }
        return lastNs > 0;
    }

    // Fills slots 1 and 2 with short texts and checks that F1 and F2 paste them.
    bool fillSlots(Owner &owner)
    {
        for (const char *text : SlotTexts) {
            long long owned, first, last;
            int requests;
            if (!copy(owner, text, owned, first, last, requests)) {
                std::printf("Tessel did not read \"%s\"\n", text);
                return false;
            }
        }
        for (int slot = 0; slot < 2; ++slot) {
            const KeyCode key = XKeysymToKeycode(x.display, XK_F1 + slot);
            QByteArray line;
            if (!x.measure(None, key, 5000 * Ms).pasted ||
                !readLine(receiver, "text ", line, nowNs() + PasteTimeoutNs) ||
                line.split(' ').value(2).toInt() != int(std::strlen(SlotTexts[slot]))) {
                std::printf("F%d did not paste slot %d's text\n", slot + 1, slot + 1);
                return false;
            }
        }
        return true;
    }

    void runCase(const Case &c)
    {
        Owner owner;
        if (*c.mode && !owner.start(c.mode, options.incrMiB)) {
            std::printf("%-6s | the owner did not start\n", c.name);
            return;
        }
        const double capMs = toMs(options.capNs);
        Figure pressServer(capMs);
        Figure pressSeen(capMs);
        Figure ping(capMs);
        int frozen = 0;
        Figure frozenPing;
        Figure frozenPress;
        int noRead = 0;
        int missingPastes = 0;
        int duringTransfer = 0;
        int transfers = 0;
        QByteArray note;
        const KeyCode f1 = XKeysymToKeycode(x.display, XK_F1);
        for (int round = 0; round < options.rounds && frozen < options.maxFrozen; ++round) {
            double settleMs = 0;
            if (!settle(settleMs)) {
                note = "the window did not answer again within " +
                       QByteArray::number(settleMs / 1000, 'f', 0) + " s; case stopped";
                break;
            }
            QThread::msleep(PauseBetweenRoundsMs);
            OwnerEvent reading;
            if (*c.mode) {
                owner.clear();
                OwnerEvent event;
                if (!owner.own(QByteArray(), event)) {
                    note = "the owner could not take the clipboard";
                    break;
                }
                // Measured only once Tessel is in the middle of reading it.
                const bool incr = !std::strcmp(c.mode, "incr");
                if (!owner.waitFor(
                        [incr](const OwnerEvent &e) {
                            return incr ? e.kind == "incr"
                                        : e.kind == "request" && !isProtocolTarget(e.target);
                        },
                        nowNs() + ReadStartTimeoutNs, reading)) {
                    ++noRead;
                    continue;
                }
            }
            const XSession::Measured measured = x.measure(window, f1, options.capNs);
            ping.add(measured.pingMs);
            pressServer.add(measured.serverMs);
            pressSeen.add(measured.seenMs);
            if (options.verbose)
                std::printf("  %s round %d: F1->V server %.1f ms, seen %.2f ms; ping %.2f ms\n",
                            c.name, round + 1, measured.serverMs, measured.seenMs, measured.pingMs);
            if (!measured.pinged || !measured.pasted) {
                ++frozen;
                // How long the freeze really was: until the window answers again.
                double settleMs = 0;
                settle(settleMs);
                XSession::Measured after = measured;
                x.late(after);
                frozenPing.add(after.pingMs);
                frozenPress.add(after.serverMs);
                if (options.verbose)
                    std::printf("  %s round %d froze: ping answered after %.1f s, V after "
                                "%.1f s\n",
                                c.name, round + 1, after.pingMs / 1000, after.serverMs / 1000);
                continue;
            }
            // The paste is not measured, but the next round waits for it to be over.
            QByteArray line;
            if (!readLine(receiver, "text ", line, nowNs() + PasteTimeoutNs))
                ++missingPastes;
            if (!std::strcmp(c.mode, "incr")) {
                // Whether the transfer was still going when the ping and the press were sent.
                owner.collect(0);
                ++transfers;
                const bool ended =
                    std::any_of(owner.events.begin(), owner.events.end(), [&](const OwnerEvent &e) {
                        return (e.kind == "served" || e.kind == "abandoned") &&
                               e.requestor == reading.requestor && e.target == reading.target &&
                               e.ns >= reading.ns && e.ns <= measured.startNs;
                    });
                duringTransfer += ended ? 0 : 1;
                if (options.verbose) {
                    for (const OwnerEvent &e : owner.events)
                        std::printf("    %s %s %s at %+.1f ms from the measure\n", e.kind.data(),
                                    e.target.data(), e.requestor.data(),
                                    toMs(e.ns - measured.startNs));
                }
            }
        }
        std::printf("%-6s | %9s %9s | %9s %9s | %9s %9s | %2d", c.name, pressServer.median().data(),
                    pressServer.maximum().data(), pressSeen.median().data(),
                    pressSeen.maximum().data(), ping.median().data(), ping.maximum().data(),
                    ping.size());
        if (frozen)
            std::printf("; %d frozen (cut at %.0f s; in full, ping max %.1f s, F1->V max "
                        "%.1f s)",
                        frozen, capMs / 1000, benchdata::maximum(frozenPing.sorted()) / 1000,
                        benchdata::maximum(frozenPress.sorted()) / 1000);
        if (noRead)
            std::printf("; %d rounds with no read begun", noRead);
        if (missingPastes)
            std::printf("; %d pastes did not arrive", missingPastes);
        if (transfers)
            std::printf("; %d of %d sent during the transfer", duringTransfer, transfers);
        if (!note.isEmpty())
            std::printf("; %s", note.constData());
        std::printf("\n");
        std::fflush(stdout);
        owner.stop();
    }

    // The owner's view of small captures: from its taking the clipboard to the last request
    // it served, and to the first request.
    void runCaptures(Owner &owner)
    {
        Figure complete;
        Figure first;
        Figure requests;
        int missed = 0;
        // A worker replaced after the last case's paste is back by then.
        QThread::msleep(CalmBeforeCapturesMs);
        for (int round = 0; round < options.rounds; ++round) {
            double settleMs = 0;
            settle(settleMs);
            long long owned, firstNs, lastNs;
            int count;
            if (!copy(owner, "tessel small capture " + QByteArray::number(round), owned, firstNs,
                      lastNs, count)) {
                ++missed;
                continue;
            }
            if (options.verbose) {
                std::map<QByteArray, int> byRequestor;
                for (const OwnerEvent &e : owner.events) {
                    if (e.kind == "request")
                        ++byRequestor[e.requestor + ' ' + e.target];
                }
                std::printf("  capture %d: served %.2f ms, first request %.2f ms;", round + 1,
                            toMs(lastNs - owned), toMs(firstNs - owned));
                for (const auto &requests : byRequestor)
                    std::printf(" %s x%d,", requests.first.constData(), requests.second);
                std::printf("\n");
            }
            complete.add(toMs(lastNs - owned));
            first.add(toMs(firstNs - owned));
            requests.add(count);
        }
        std::printf("small text | owned->last request served: median %s ms, max %s ms | "
                    "owned->first request: median %s ms, max %s ms | requests per capture: "
                    "median %s, max %s | %d captures",
                    complete.median().data(), complete.maximum().data(), first.median().data(),
                    first.maximum().data(), requests.median().data(), requests.maximum().data(),
                    complete.size());
        if (missed)
            std::printf("; %d not read", missed);
        std::printf("\n");
        std::fflush(stdout);
    }

    // One whole capture of the large INCR text, with nothing in its way.
    void runFullIncr()
    {
        Owner owner;
        if (!owner.start("incr", options.incrMiB))
            return;
        double settleMs = 0;
        settle(settleMs);
        OwnerEvent owned;
        OwnerEvent started;
        OwnerEvent done;
        if (!owner.own(QByteArray(), owned) ||
            !owner.waitFor([](const OwnerEvent &e) { return e.kind == "incr"; },
                           nowNs() + ReadStartTimeoutNs, started)) {
            std::printf("%d MiB capture: Tessel did not read it\n", options.incrMiB);
            return;
        }
        const bool served = owner.waitFor(
            [&started](const OwnerEvent &e) {
                return (e.kind == "served" || e.kind == "abandoned") &&
                       e.requestor == started.requestor && e.target == started.target;
            },
            nowNs() + FullIncrTimeoutNs, done);
        // Later requests (a second format) count too: the capture is over when all are.
        long long last = done.ns;
        for (long long quiet = nowNs(); nowNs() - quiet < 2000 * Ms;) {
            const size_t before = owner.events.size();
            owner.collect(50);
            if (owner.events.size() != before)
                quiet = nowNs();
        }
        int transfersServed = 0;
        for (const OwnerEvent &e : owner.events) {
            if (e.kind == "served" && e.target != "TARGETS") {
                last = std::max(last, e.ns);
                ++transfersServed;
            }
        }
        settle(settleMs);
        std::printf("%d MiB capture: %s; first INCR transfer %.0f ms; owned->last served "
                    "%.0f ms; %d transfers of the text served\n",
                    options.incrMiB, served && done.kind == "served" ? "served" : "not served",
                    toMs(done.ns - started.ns), toMs(last - owned.ns), transfersServed);
        std::fflush(stdout);
        owner.stop();
    }

private:
    const Options &options;
    XSession &x;
    QProcess &receiver;
    Window window;
};

void usage()
{
    std::fprintf(stderr, "usage: bench_responsive [--tessel PATH] [--receiver PATH] [--rounds N] "
                         "[--cap SECONDS] [--max-frozen N] [--incr-mib N] [--start-runs N] "
                         "[--only idle,hang,slow,incr,capture,full,start,memory] [--verbose]\n"
                         "       bench_responsive --serve text|hang|slow|incr [--incr-mib N]\n");
}

int serve(const QByteArray &mode, int incrMiB)
{
    const std::map<QByteArray, SelectionOwner::Mode> modes = {{"text", SelectionOwner::Mode::Text},
                                                              {"hang", SelectionOwner::Mode::Hang},
                                                              {"slow", SelectionOwner::Mode::Slow},
                                                              {"incr", SelectionOwner::Mode::Incr}};
    const auto found = modes.find(mode);
    if (found == modes.end()) {
        usage();
        return 2;
    }
    QByteArray text = "tessel responsive bench, " + mode + " owner";
    if (found->second == SelectionOwner::Mode::Incr)
        text = benchdata::makeText(qint64(incrMiB) * 1024 * 1024);
    SelectionOwner owner(found->second, text);
    return owner.run();
}

} // namespace

int main(int argc, char **argv)
{
    QByteArray serveMode;
    Options options;
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (!std::strcmp(argv[i], "--serve") && hasValue) {
            serveMode = argv[++i];
        } else if (!std::strcmp(argv[i], "--tessel") && hasValue) {
            options.tessel = QString::fromLocal8Bit(argv[++i]);
        } else if (!std::strcmp(argv[i], "--receiver") && hasValue) {
            options.receiver = QString::fromLocal8Bit(argv[++i]);
        } else if (!std::strcmp(argv[i], "--rounds") && hasValue) {
            options.rounds = std::max(1, std::atoi(argv[++i]));
        } else if (!std::strcmp(argv[i], "--cap") && hasValue) {
            options.capNs = std::max(1, std::atoi(argv[++i])) * 1000 * Ms;
        } else if (!std::strcmp(argv[i], "--max-frozen") && hasValue) {
            options.maxFrozen = std::max(1, std::atoi(argv[++i]));
        } else if (!std::strcmp(argv[i], "--incr-mib") && hasValue) {
            options.incrMiB = std::max(1, std::atoi(argv[++i]));
        } else if (!std::strcmp(argv[i], "--start-runs") && hasValue) {
            options.startRuns = std::max(1, std::atoi(argv[++i]));
        } else if (!std::strcmp(argv[i], "--verbose")) {
            options.verbose = true;
        } else if (!std::strcmp(argv[i], "--only") && hasValue) {
            options.only = argv[++i];
        } else {
            usage();
            return 2;
        }
    }
    if (!serveMode.isEmpty())
        return serve(serveMode, options.incrMiB);

    QCoreApplication app(argc, argv);
    if (options.tessel.isEmpty())
        options.tessel = benchx11::besideThisProgram(QStringLiteral("../tessel"));
    if (options.receiver.isEmpty())
        options.receiver = benchx11::besideThisProgram(QStringLiteral("bench_paste_receiver"));

    XSession x;
    if (!x.open()) {
        std::fprintf(stderr, "bench_responsive: cannot open the X display with XInput2 2.2 "
                             "(is DISPLAY set?)\n");
        return 1;
    }
    x.vKey = XKeysymToKeycode(x.display, XK_v);
    std::printf("display %s, window manager: %s\ntessel: %s (%s)\n", DisplayString(x.display),
                windowManagerName(x.display).constData(), qPrintable(options.tessel),
                hasCaptureWorker(options.tessel) ? "capture worker" : "no capture worker");
    std::fflush(stdout);

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));

    if (options.wants("start")) {
        benchWorkerStart(options);
        benchFirstCapture(options, environment);
    }

    QProcess tessel;
    QProcess receiver;
    const auto cleanUp = [&] {
        stopProcess(receiver);
        const qint64 worker = tessel.state() == QProcess::Running ? childOf(tessel.processId()) : 0;
        stopProcess(tessel);
        // The worker ends once the window's process is gone; one that does not is ended here.
        for (int i = 0; worker && i < 30 && QFile::exists(QStringLiteral("/proc/%1").arg(worker));
             ++i)
            QThread::msleep(100);
        if (worker && QFile::exists(QStringLiteral("/proc/%1").arg(worker)))
            ::kill(pid_t(worker), SIGKILL);
    };

    tessel.setProcessEnvironment(environment);
    tessel.setProcessChannelMode(QProcess::ForwardedChannels);
    tessel.start(options.tessel, QStringList());
    const long long startDeadline = nowNs() + StartTimeoutNs;
    Window window = None;
    while (tessel.waitForStarted() && tessel.state() == QProcess::Running &&
           nowNs() < startDeadline) {
        window = findWindowNamed(x.display, x.root, TesselTitle);
        if (window != None && isViewable(x.display, window))
            break;
        window = None;
        QThread::msleep(20);
    }
    if (window == None) {
        std::fprintf(stderr,
                     "bench_responsive: the Tessel window did not appear (%s); are F1 "
                     "to F10 taken by another client?\n",
                     qPrintable(options.tessel));
        cleanUp();
        return 1;
    }
    const bool pings = x.answersPings(window);
    std::printf("\nTessel window 0x%lx; WM_PROTOCOLS lists _NET_WM_PING: %s\n", window,
                pings ? "yes" : "no");
    if (!pings) {
        cleanUp();
        return 1;
    }

    receiver.setProcessEnvironment(environment);
    receiver.setReadChannel(QProcess::StandardOutput);
    receiver.start(options.receiver, QStringList());
    QByteArray line;
    if (!receiver.waitForStarted() || !readLine(receiver, "ready", line, startDeadline) ||
        !focus(x.display, receiver, Window(line.mid(6).toULongLong()), startDeadline)) {
        std::fprintf(stderr,
                     "bench_responsive: the receiver (%s) did not start or get the "
                     "focus\n",
                     qPrintable(options.receiver));
        cleanUp();
        return 1;
    }

    const bool memory = options.wants("memory");
    if (memory) {
        // The worker is started with the window; it has captured nothing yet.
        for (int i = 0; i < 50 && !childOf(tessel.processId()); ++i)
            QThread::msleep(100);
        QThread::msleep(1000);
        std::printf("\n%-28s | %20s | %20s\n%-28s | %6s %6s %6s | %6s %6s %6s\n", "memory, MiB",
                    "Tessel", "worker", "", "RSS", "PSS", "peak", "RSS", "PSS", "peak");
        printMemory("idle, nothing captured", tessel.processId());
    }

    ResponsiveBench bench(options, x, receiver, window);
    Owner textOwner;
    if (!textOwner.start("text", 1) || !bench.fillSlots(textOwner)) {
        std::fprintf(stderr, "bench_responsive: could not fill slots 1 and 2\n");
        cleanUp();
        return 1;
    }
    if (memory)
        printMemory("after two short texts", tessel.processId());

    const Case cases[] = {
        {"idle", "", "no owner at work"},
        {"hang", "hang", "owner lists ten targets, never answers a request for data"},
        {"slow", "slow", "owner lists its targets at once, answers each data request 2 s late"},
        {"incr", "incr", "owner sends the text with INCR, measured once its transfer began"},
    };
    const bool anyCase = std::any_of(std::begin(cases), std::end(cases),
                                     [&options](const Case &c) { return options.wants(c.name); });
    if (anyCase)
        std::printf("\n%d rounds per case, each wait cut at %lld s; a case stops after %d rounds "
                    "cut off\n",
                    options.rounds, options.capNs / 1000 / Ms, options.maxFrozen);
    for (const Case &c : cases) {
        if (options.wants(c.name))
            std::printf("  %-6s %s\n", c.name, c.what);
    }
    if (anyCase) {
        std::printf("%-6s | %19s | %19s | %19s | %s\n", "case", "F1->V server ms", "F1->V seen ms",
                    "ping round trip ms", "n");
        std::printf("%-6s | %9s %9s | %9s %9s | %9s %9s |\n", "", "median", "max", "median", "max",
                    "median", "max");
        std::fflush(stdout);
    }
    for (const Case &c : cases) {
        if (options.wants(c.name))
            bench.runCase(c);
    }

    if (options.wants("capture")) {
        std::printf("\n");
        bench.runCaptures(textOwner);
        if (memory)
            printMemory("after the small captures", tessel.processId());
    }
    textOwner.stop();
    if (options.wants("full")) {
        std::printf("\n");
        bench.runFullIncr();
        if (memory)
            printMemory("after a whole large capture", tessel.processId());
    }
    cleanUp();
    return 0;
}
