// Prints how the real program holds up while clipboard owners misbehave, on the X display in
// $DISPLAY: the latency from an F-key press to the synthetic V, and the round trip of a
// _NET_WM_PING to its window, idle and while an owner hangs, answers late, or sends 100 MiB
// with INCR. Also the owner's view of a small capture and of a whole large one, a copy made
// right after the start, and what the capture worker costs: its start and its memory. The
// owners are the fake owner's Xlib one. See README.md.

#include "benchx11.h"
#include "capture/captureprotocol.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDataStream>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <set>
#include <vector>

#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace {

using namespace bench;

const char WorkerArgument[] = "--capture-worker";
const char *const SlotTexts[] = {"tessel responsive bench, slot one",
                                 "tessel responsive bench, slot two"};
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

// What the owner reported (see tests/fakeowner/selectionowner.h): its kind, the target, the
// time and the requestor window.
struct OwnerEvent {
    QByteArray kind;
    QByteArray target;
    long long ns = 0;
    QByteArray requestor;

    // One requestor's transfer of one target, ended (served or abandoned) or not.
    QByteArray transfer() const { return target + ' ' + requestor; }
    bool ends() const { return kind == "served" || kind == "abandoned"; }
};

// The fake owner's Xlib owner in a process of its own, driven step by step.
class Owner {
public:
    ~Owner() { stopProcess(process); }

    // mode: text, hang, slow or incr; file: the text it offers.
    bool start(const QString &mode, const QString &file = QString())
    {
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(fakeOwner(), QStringList{QStringLiteral("x11"), mode} +
                                       (file.isEmpty() ? QStringList() : QStringList{file}));
        OwnerEvent ready;
        return process.waitForStarted() &&
               waitFor([](const OwnerEvent &e) { return e.kind == "ready"; }, nowNs() + 60000 * Ms,
                       ready);
    }

    // Forgets what was reported so far and takes the clipboard (offering text, for a text
    // owner).
    bool own(const QByteArray &text, OwnerEvent &owned)
    {
        collect(0);
        events.clear();
        process.write(text.isEmpty() ? QByteArray("own\n") : "own " + text + "\n");
        process.waitForBytesWritten(1000);
        return waitFor([](const OwnerEvent &e) { return e.kind == "owned"; }, nowNs() + 5000 * Ms,
                       owned);
    }

    // The first report since the clipboard was last taken that matches, waiting for it until
    // the deadline.
    bool waitFor(const std::function<bool(const OwnerEvent &)> &match, long long deadlineNs,
                 OwnerEvent &found)
    {
        for (size_t seen = 0;;) {
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
            // "owned <ns>", or "<kind> <target> <ns> ... <requestor>"
            const bool targeted = fields.size() >= 3;
            events.push_back({fields.value(0), targeted ? fields[1] : QByteArray(),
                              fields.value(targeted ? 2 : 1).toLongLong(),
                              targeted ? fields.last() : QByteArray()});
        }
    }

    std::vector<OwnerEvent> events;

private:
    QProcess process;
};

struct Options {
    explicit Options(const QCommandLineParser &parser)
        : tessel(parser.value(QStringLiteral("tessel"))),
          receiver(parser.value(QStringLiteral("receiver"))),
          only(parser.value(QStringLiteral("only"))),
          rounds(intOption(parser, QStringLiteral("rounds"))),
          capNs(intOption(parser, QStringLiteral("cap")) * 1000 * Ms),
          maxFrozen(intOption(parser, QStringLiteral("max-frozen"))),
          incrMiB(intOption(parser, QStringLiteral("incr-mib"))),
          startRuns(intOption(parser, QStringLiteral("start-runs"))),
          verbose(parser.isSet(QStringLiteral("verbose")))
    {
    }
    bool wants(const char *part) const
    {
        return only.isEmpty() || only.contains(QLatin1String(part));
    }

    QString tessel, receiver, only;
    QString incrText; // the file the incr owner sends
    int rounds;
    long long capNs;
    int maxFrozen, incrMiB, startRuns;
    bool verbose;
};

// Whether tessel has a capture worker: the synchronous build before it has none.
bool hasCaptureWorker(const QString &tessel)
{
    QFile binary(tessel);
    return binary.open(QIODevice::ReadOnly) && binary.readAll().contains(WorkerArgument);
}

void printMemory(const char *when, qint64 tesselPid)
{
    const auto mib = [](double value) {
        return value < 0 ? QByteArray("-") : QByteArray::number(value, 'f', 1);
    };
    const Memory tessel = memoryOf(tesselPid);
    const Memory worker = memoryOf(workerOf(tesselPid));
    std::printf("%-28s | %6s %6s %6s | %6s %6s %6s\n", when, mib(tessel.rss).data(),
                mib(tessel.pss).data(), mib(tessel.peak).data(), mib(worker.rss).data(),
                mib(worker.pss).data(), mib(worker.peak).data());
}

// Whether the worker answers a ping on its standard output (after its Ready).
bool answersPing(QProcess &worker)
{
    using namespace captureprotocol;
    send(worker, frame({Message::Ping}));
    FrameReader reader;
    while (worker.waitForReadyRead(10000)) {
        while (reader.complete(worker)) {
            QDataStream in(&worker);
            const Message message = read(in).message;
            if (!reader.done(worker))
                return false;
            if (message == Message::Pong)
                return true;
        }
    }
    return false;
}

// `tessel --capture-worker` from the start of the process until it answers a ping on its
// standard output: the first change it can be asked to read.
void benchWorkerStart(const Options &options)
{
    std::printf("\nworker start: `tessel %s 1 0` until it answers a ping\n", WorkerArgument);
    if (!hasCaptureWorker(options.tessel)) {
        std::printf("  this build has no capture worker\n");
        return;
    }
    Figure ready;
    for (int run = 0; run < 2 * options.startRuns; ++run) {
        QProcess worker;
        worker.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        const long long start = nowNs();
        // Generation 1, and no window process whose pastes it would tell apart.
        worker.start(options.tessel, {QString::fromLatin1(WorkerArgument), QStringLiteral("1"),
                                      QStringLiteral("0")});
        if (answersPing(worker))
            ready.add(toMs(nowNs() - start));
        // Without the window's process the worker ends by itself.
        worker.closeWriteChannel();
        if (!worker.waitForFinished(3000))
            stopProcess(worker);
    }
    std::printf("  %d runs: median, max %s ms\n", ready.size(), ready.pair(0, 1).data());
}

// From the window's appearance until Tessel first reads an owner that takes the clipboard
// again every 20 ms: what a copy right after the start has to wait for. Every other start
// takes the clipboard once as the window appears and waits for a read: is such a copy kept?
void benchFirstCapture(const Options &options)
{
    std::printf("\nfirst capture after start: the window appears, then an owner takes the "
                "clipboard again every %lld ms until Tessel asks it for something, or (every "
                "other run) once, waiting %lld s\n",
                RetakeEveryNs / Ms, SingleTakeWaitNs / 1000 / Ms);
    Owner owner;
    if (!owner.start(QStringLiteral("text"))) {
        std::printf("  the owner did not start\n");
        return;
    }
    Figure viewable, firstRead, singleRead;
    const auto isRequest = [](const OwnerEvent &e) { return e.kind == "request"; };
    for (int run = 0; run < 2 * options.startRuns; ++run) {
        QProcess tessel;
        const long long start = nowNs();
        if (!startTessel(tessel, options.tessel))
            continue;
        const long long shownAt = nowNs();
        viewable.add(toMs(shownAt - start));
        const QByteArray text = "tessel start " + QByteArray::number(run);
        OwnerEvent event;
        bool read = false;
        if (run % 2) {
            if (owner.own(text, event) &&
                owner.waitFor(isRequest, nowNs() + SingleTakeWaitNs, event))
                singleRead.add(toMs(event.ns - shownAt));
        } else {
            for (int take = 0; !read && nowNs() < shownAt + ReadStartTimeoutNs; ++take)
                read = owner.own(text + '.' + QByteArray::number(take), event) &&
                       owner.waitFor(isRequest, nowNs() + RetakeEveryNs, event);
            if (read)
                firstRead.add(toMs(event.ns - shownAt));
        }
        stopProcess(tessel);
    }
    std::printf("  start->window viewable: median, max %s ms (%d runs)\n"
                "  window viewable->first request, taken every %lld ms: median, max %s ms (%d of "
                "%d runs read)\n  taken once as the window appears: read in %d of %d runs, "
                "median, max %s ms after\n",
                viewable.pair(0, 1).data(), viewable.size(), RetakeEveryNs / Ms,
                firstRead.pair(0, 1).data(), firstRead.size(), options.startRuns, singleRead.size(),
                options.startRuns, singleRead.pair(0, 1).data());
}

struct Case {
    const char *name;
    const char *mode; // the owner's mode; none for idle
};

class ResponsiveBench {
public:
    ResponsiveBench(const Options &options, XDriver &x, QProcess &receiver, Window window)
        : options(options), x(x), receiver(receiver), window(window)
    {
    }

    // Pings until the window answers: whatever it was stuck on is over.
    bool settle()
    {
        const long long capNs = std::max<long long>(2 * options.capNs, 60000 * Ms);
        return x.measure(window, 0, capNs, capNs).pinged;
    }

    struct Copied {
        long long ownedNs = 0;
        long long firstNs = 0; // the first request
        long long lastNs = 0;  // the last answer served
    };

    // Takes the clipboard (offering text, for a text owner) and waits until the owner has
    // served what it was asked, has no INCR transfer going and has heard nothing for a while.
    bool copy(Owner &owner, const QByteArray &text, Copied &copied,
              long long timeoutNs = CaptureTimeoutNs)
    {
        OwnerEvent owned;
        if (!owner.own(text, owned))
            return false;
        copied = {owned.ns, 0, 0};
        const long long deadline = nowNs() + timeoutNs;
        std::multiset<QByteArray> transfers;
        size_t seen = 0;
        for (long long quietSince = nowNs();
             nowNs() < deadline &&
             (nowNs() - quietSince <= CaptureQuietNs || !transfers.empty());) {
            owner.collect(20);
            for (; seen < owner.events.size(); ++seen, quietSince = nowNs()) {
                const OwnerEvent &e = owner.events[seen];
                if (e.kind == "request" && !copied.firstNs)
                    copied.firstNs = e.ns;
                if (e.kind == "incr")
                    transfers.insert(e.transfer());
                if (e.ends() && transfers.count(e.transfer()))
                    transfers.erase(transfers.find(e.transfer()));
                if (e.kind == "served")
                    copied.lastNs = e.ns;
            }
        }
        return copied.lastNs > 0;
    }

    // Fills slots 1 and 2 with short texts and checks that F1 and F2 paste them.
    bool fillSlots(Owner &owner)
    {
        Copied copied;
        for (const char *text : SlotTexts) {
            if (!copy(owner, text, copied)) {
                std::printf("Tessel did not read \"%s\"\n", text);
                return false;
            }
        }
        for (int slot = 0; slot < 2; ++slot) {
            const KeyCode key = XKeysymToKeycode(x.display, XK_F1 + slot);
            QByteArray line;
            if (!x.measure(None, key, 5000 * Ms, KeyHoldNs).pasted ||
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
        const bool incr = !std::strcmp(c.mode, "incr");
        if (*c.mode && !owner.start(QLatin1String(c.mode), incr ? options.incrText : QString())) {
            std::printf("%-6s | the owner did not start\n", c.name);
            return;
        }
        const double capMs = toMs(options.capNs);
        Figure pressServer, pressSeen, ping, frozenPing, frozenPress;
        int frozen = 0;
        int noRead = 0;
        int missingPastes = 0;
        int transfers = 0;
        int duringTransfer = 0;
        QByteArray note;
        const KeyCode f1 = XKeysymToKeycode(x.display, XK_F1);
        for (int round = 0; round < options.rounds && frozen < options.maxFrozen; ++round) {
            if (!settle()) {
                note = "the window did not answer again; case stopped";
                break;
            }
            QThread::msleep(PauseBetweenRoundsMs);
            OwnerEvent reading;
            if (*c.mode) {
                if (!owner.own(QByteArray(), reading)) {
                    note = "the owner could not take the clipboard";
                    break;
                }
                // Measured only once Tessel is in the middle of reading it.
                const auto isReading = [incr](const OwnerEvent &e) {
                    return incr ? e.kind == "incr"
                                : e.kind == "request" && e.target != "TARGETS" &&
                                      e.target != "TIMESTAMP";
                };
                if (!owner.waitFor(isReading, nowNs() + ReadStartTimeoutNs, reading)) {
                    ++noRead;
                    continue;
                }
            }
            const XDriver::Measured measured = x.measure(window, f1, options.capNs, KeyHoldNs);
            ping.add(measured.pingMs);
            pressServer.add(measured.serverMs);
            pressSeen.add(measured.seenMs);
            if (options.verbose)
                std::printf("  %s round %d: F1->V server %.1f ms, seen %.2f ms; ping %.2f ms\n",
                            c.name, round + 1, measured.serverMs, measured.seenMs, measured.pingMs);
            if (!measured.pinged || !measured.pasted) {
                ++frozen;
                // How long the freeze really was: until the window answers again.
                settle();
                XDriver::Measured after = measured;
                x.late(after);
                frozenPing.add(after.pingMs);
                frozenPress.add(after.serverMs);
                if (options.verbose)
                    std::printf("  %s round %d froze: ping answered after %.1f s, V after %.1f s\n",
                                c.name, round + 1, after.pingMs / 1000, after.serverMs / 1000);
                continue;
            }
            // The paste is not measured, but the next round waits for it to be over.
            QByteArray line;
            if (!readLine(receiver, "text ", line, nowNs() + PasteTimeoutNs))
                ++missingPastes;
            if (incr) {
                // Whether the transfer was still going when the ping and the press were sent.
                owner.collect(0);
                ++transfers;
                duringTransfer += std::none_of(
                    owner.events.begin(), owner.events.end(), [&](const OwnerEvent &e) {
                        return e.ends() && e.transfer() == reading.transfer() &&
                               e.ns >= reading.ns && e.ns <= measured.startNs;
                    });
            }
        }
        std::printf("%-6s | %s | %s | %s | %2d", c.name, pressServer.pair(9, 1, capMs).data(),
                    pressSeen.pair(9, 1, capMs).data(), ping.pair(9, 1, capMs).data(), ping.size());
        if (frozen)
            std::printf("; %d cut at %.0f s (in full: ping max %.1f s, F1->V max %.1f s)", frozen,
                        capMs / 1000, frozenPing.maximum() / 1000, frozenPress.maximum() / 1000);
        if (noRead)
            std::printf("; %d rounds with no read begun", noRead);
        if (missingPastes)
            std::printf("; %d pastes did not arrive", missingPastes);
        if (transfers)
            std::printf("; %d of %d sent during the transfer", duringTransfer, transfers);
        if (!note.isEmpty())
            std::printf("; %s", note.constData());
        std::printf("\n");
    }

    // The owner's view of small captures: from its taking the clipboard to the last request
    // it served, and to the first request.
    void runCaptures(Owner &owner)
    {
        Figure complete, first;
        Copied copied;
        // A worker replaced after the last case's paste is back by then.
        QThread::msleep(CalmBeforeCapturesMs);
        for (int round = 0; round < options.rounds; ++round) {
            settle();
            if (!copy(owner, "tessel small capture " + QByteArray::number(round), copied))
                continue;
            complete.add(toMs(copied.lastNs - copied.ownedNs));
            first.add(toMs(copied.firstNs - copied.ownedNs));
            if (options.verbose)
                std::printf("  capture %d: last served %.2f ms, first request %.2f ms\n", round + 1,
                            toMs(copied.lastNs - copied.ownedNs),
                            toMs(copied.firstNs - copied.ownedNs));
        }
        std::printf("small text | owned->last request served: median, max %s ms | owned->first "
                    "request: median, max %s ms | %d of %d captures read\n",
                    complete.pair(0, 1).data(), first.pair(0, 1).data(), complete.size(),
                    options.rounds);
    }

    // One whole capture of the large INCR text, with nothing in its way.
    void runFullIncr()
    {
        Owner owner;
        Copied copied;
        settle();
        if (!owner.start(QStringLiteral("incr"), options.incrText) ||
            !copy(owner, QByteArray(), copied, FullIncrTimeoutNs))
            std::printf("%d MiB capture: not served\n", options.incrMiB);
        else
            std::printf("%d MiB capture: owned->last served %.0f ms\n", options.incrMiB,
                        toMs(copied.lastNs - copied.ownedNs));
        settle();
    }

private:
    const Options &options;
    XDriver &x;
    QProcess &receiver;
    Window window;
};

// Runs the parts asked for against a started Tessel; false when it could not be set up.
bool runParts(const Options &options, XDriver &x, QProcess &tessel, QProcess &receiver)
{
    const Window window = startTessel(tessel, options.tessel);
    if (!window)
        return false;
    const bool pings = x.answersPings(window);
    std::printf("\nTessel window 0x%lx; WM_PROTOCOLS lists _NET_WM_PING: %s\n", window,
                pings ? "yes" : "no");
    if (!pings || !startReceiver(receiver, x.display, options.receiver))
        return false;

    const bool memory = options.wants("memory");
    if (memory) {
        // The worker is started with the window; it has captured nothing yet.
        for (int i = 0; i < 50 && !workerOf(tessel.processId()); ++i)
            QThread::msleep(100);
        QThread::msleep(1000);
        std::printf("\n%-28s | %20s | %20s\n%-28s | %6s %6s %6s | %6s %6s %6s\n", "memory, MiB",
                    "Tessel", "worker", "", "RSS", "PSS", "peak", "RSS", "PSS", "peak");
        printMemory("idle, nothing captured", tessel.processId());
    }

    ResponsiveBench bench(options, x, receiver, window);
    auto textOwner = std::make_unique<Owner>();
    if (!textOwner->start(QStringLiteral("text")) || !bench.fillSlots(*textOwner)) {
        std::fprintf(stderr, "bench_responsive: could not fill slots 1 and 2\n");
        return false;
    }
    if (memory)
        printMemory("after two short texts", tessel.processId());

    const Case cases[] = {
        {"idle", ""},
        {"hang", "hang"},
        {"slow", "slow"},
        {"incr", "incr"},
    };
    const bool anyCase = std::any_of(std::begin(cases), std::end(cases),
                                     [&options](const Case &c) { return options.wants(c.name); });
    if (anyCase) {
        std::printf("\n%d rounds per case, each wait cut at %lld s; a case stops after %d rounds "
                    "cut off\n",
                    options.rounds, options.capNs / 1000 / Ms, options.maxFrozen);
        std::printf("%-6s | %19s | %19s | %19s | %s\n", "case", "F1->V server ms", "F1->V seen ms",
                    "ping round trip ms", "n");
        std::printf("%-6s | %9s %9s | %9s %9s | %9s %9s |\n", "", "median", "max", "median", "max",
                    "median", "max");
    }
    for (const Case &c : cases) {
        if (options.wants(c.name))
            bench.runCase(c);
    }

    if (options.wants("capture")) {
        std::printf("\n");
        bench.runCaptures(*textOwner);
        if (memory)
            printMemory("after the small captures", tessel.processId());
    }
    textOwner.reset();
    if (options.wants("full")) {
        std::printf("\n");
        bench.runFullIncr();
        if (memory)
            printMemory("after a whole large capture", tessel.processId());
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parseOptions(
        parser,
        {{"rounds", "Rounds per case.", "n", QStringLiteral("20")},
         {"cap", "Where a wait is cut off.", "seconds", QStringLiteral("30")},
         {"max-frozen", "Rounds cut off after which a case stops.", "n", QStringLiteral("3")},
         {"incr-mib", "The size of the INCR text.", "n", QStringLiteral("100")},
         {"start-runs", "Starts of Tessel of each kind; twice as many of its worker.", "n",
          QStringLiteral("5")},
         {"only", "The parts to run: idle,hang,slow,incr,capture,full,start,memory.", "parts"},
         {"verbose", "Print every round."}},
        true);
    Options options(parser);

    XDriver x;
    if (!x.open())
        return 1;
    QTemporaryDir scratch;
    options.incrText = scratch.filePath(QStringLiteral("incr"));
    if (!writeFile(options.incrText, makeText(qint64(options.incrMiB) << 20)))
        return 1;
    std::printf("tessel: %s (%s)\n", qPrintable(options.tessel),
                hasCaptureWorker(options.tessel) ? "capture worker" : "no capture worker");

    if (options.wants("start")) {
        benchWorkerStart(options);
        benchFirstCapture(options);
    }
    QProcess tessel;
    QProcess receiver;
    const bool ran = runParts(options, x, tessel, receiver);
    stopProcess(receiver);
    stopProcess(tessel);
    return ran ? 0 : 1;
}
