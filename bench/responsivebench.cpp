// Prints how the real program holds up while clipboard owners misbehave, on the X display in
// $DISPLAY: the latency from an F-key press to the synthetic V, and the round trip of a
// _NET_WM_PING to its window, idle and while an owner hangs, answers late, or sends 100 MiB
// with INCR. Also the owner's view of a small capture and of a whole large one, a copy made
// right after the start, and what the capture worker costs: its start and its memory. The
// owners are the fake owner's Xlib one. See README.md.

#include "benchsupport.h"
#include "capture/captureprotocol.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDataStream>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <optional>
#include <set>
#include <vector>

namespace {

using namespace bench;

const char WorkerArgument[] = "--capture-worker";
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

using Match = std::function<bool(const OwnerEvent &)>;

Match kindIs(const char *kind)
{
    return [kind](const OwnerEvent &e) { return e.kind == kind; };
}

// The fake owner's Xlib owner in a process of its own, driven step by step.
class Owner {
public:
    // arguments: text, hang, slow, or incr and the file it sends.
    bool start(const QStringList &arguments)
    {
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(fakeOwner(), QStringList(QStringLiteral("x11")) + arguments);
        return process.waitForStarted() && waitFor(kindIs("ready"), nowNs() + 60000 * Ms);
    }

    // Forgets what was reported so far and takes the clipboard (offering text, for a text
    // owner); the report that it did, with its time.
    std::optional<OwnerEvent> own(const QByteArray &text = QByteArray())
    {
        collect(0);
        events.clear();
        process.write(text.isEmpty() ? QByteArray("own\n") : "own " + text + "\n");
        process.waitForBytesWritten(1000);
        return waitFor(kindIs("owned"), nowNs() + 5000 * Ms);
    }

    // The first report since the clipboard was last taken that matches, waiting for it until
    // the deadline.
    std::optional<OwnerEvent> waitFor(const Match &match, long long deadlineNs)
    {
        for (;;) {
            const auto found = std::find_if(events.begin(), events.end(), match);
            if (found != events.end())
                return *found;
            const long long left = deadlineNs - nowNs();
            if (left <= 0 || process.state() != QProcess::Running)
                return std::nullopt;
            collect(int(left / Ms) + 1);
        }
    }

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
    Process process;
};

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
            if (reader.done(worker) && message == Message::Pong)
                return true;
        }
    }
    return false;
}

class ResponsiveBench {
public:
    ResponsiveBench(const QCommandLineParser &parser, XDriver &x)
        : parser(parser), x(x), tesselPath(parser.value(QStringLiteral("tessel"))),
          hasWorker(readFile(tesselPath).contains(WorkerArgument)),
          rounds(intOption(parser, QStringLiteral("rounds"))),
          capNs(intOption(parser, QStringLiteral("cap")) * 1000 * Ms),
          incrMiB(intOption(parser, QStringLiteral("incr-mib"))),
          startRuns(intOption(parser, QStringLiteral("start-runs"))),
          verbose(parser.isSet(QStringLiteral("verbose")))
    {
    }

    bool run()
    {
        if (!writeFile(incrText, makeText(qint64(incrMiB) << 20)))
            return false;
        std::printf("tessel: %s (%s)\n", qPrintable(tesselPath),
                    hasWorker ? "capture worker" : "no capture worker");
        if (picked(parser, "start")) {
            workerStart();
            firstCapture();
        }
        window = startTessel(tessel, tesselPath);
        const bool pings = window && x.answersPings(window);
        std::printf("\nTessel window 0x%lx; WM_PROTOCOLS lists _NET_WM_PING: %s\n", window,
                    pings ? "yes" : "no");
        if (!pings || !startReceiver(receiver))
            return false;
        if (picked(parser, "memory")) {
            // The worker is started with the window; it has captured nothing yet.
            for (int i = 0; i < 50 && !workerOf(tessel.processId()); ++i)
                QThread::msleep(100);
            QThread::msleep(1000);
            std::printf("\n%-28s | %20s | %20s\n%-28s | %6s %6s %6s | %6s %6s %6s\n", "memory, MiB",
                        "Tessel", "worker", "", "RSS", "PSS", "peak", "RSS", "PSS", "peak");
        }
        memory("idle, nothing captured");
        // Slots 1 and 2, which the cases' F1 presses and their pastes need.
        Owner texts;
        if (!texts.start({QStringLiteral("text")}) || !copy(texts, "tessel responsive, slot 1") ||
            !copy(texts, "tessel responsive, slot 2")) {
            std::fprintf(stderr, "bench_responsive: Tessel did not take two short texts\n");
            return false;
        }
        memory("after two short texts");
        const char *const cases[] = {"idle", "hang", "slow", "incr"};
        if (std::any_of(std::begin(cases), std::end(cases),
                        [this](const char *c) { return picked(parser, c); }))
            std::printf("\n%d rounds per case, each wait cut at %lld s; a case stops after %d "
                        "rounds cut off\n%-6s | %19s | %19s | %19s | n\n%-6s | %9s %9s | %9s %9s | "
                        "%9s %9s |\n",
                        rounds, capNs / 1000 / Ms, intOption(parser, QStringLiteral("max-frozen")),
                        "case", "F1->V server ms", "F1->V seen ms", "ping round trip ms", "",
                        "median", "max", "median", "max", "median", "max");
        for (const char *c : cases) {
            if (picked(parser, c))
                runCase(c);
        }
        if (picked(parser, "capture")) {
            // A worker replaced after the last case's paste is back by then.
            QThread::msleep(CalmBeforeCapturesMs);
            captures(texts, "small text", rounds, CaptureTimeoutNs);
            memory("after the small captures");
        }
        Owner incr;
        if (picked(parser, "full") && incr.start({QStringLiteral("incr"), incrText})) {
            captures(incr, QByteArray::number(incrMiB) + " MiB text", 1, FullIncrTimeoutNs);
            memory("after a whole large capture");
        }
        return true;
    }

private:
    // `tessel --capture-worker` from the start of the process until it answers a ping on its
    // standard output: the first change it can be asked to read.
    void workerStart()
    {
        std::printf("\nworker start: `tessel %s 1 0` until it answers a ping\n", WorkerArgument);
        if (!hasWorker) {
            std::printf("  this build has no capture worker\n");
            return;
        }
        Figure ready;
        for (int run = 0; run < 2 * startRuns; ++run) {
            Process worker;
            worker.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            const long long start = nowNs();
            // Generation 1, and no window process whose pastes it would tell apart.
            worker.start(tesselPath, {QString::fromLatin1(WorkerArgument), QStringLiteral("1"),
                                      QStringLiteral("0")});
            if (answersPing(worker))
                ready.add(toMs(nowNs() - start));
            // Without the window's process the worker ends by itself.
            worker.closeWriteChannel();
            worker.waitForFinished(3000);
        }
        std::printf("  %d runs: median, max %s ms\n", ready.size(), ready.pair(0, 1).data());
    }

    // From the window's appearance until Tessel first reads an owner that takes the clipboard
    // again every 20 ms: what a copy right after the start has to wait for. Every other start
    // takes the clipboard once as the window appears and waits for a read: is such a copy kept?
    void firstCapture()
    {
        std::printf("\nfirst capture after start: the window appears, then an owner takes the "
                    "clipboard again every %lld ms until Tessel asks it for something, or (every "
                    "other run) once, waiting %lld s\n",
                    RetakeEveryNs / Ms, SingleTakeWaitNs / 1000 / Ms);
        Owner owner;
        if (!owner.start({QStringLiteral("text")})) {
            std::printf("  the owner did not start\n");
            return;
        }
        Figure viewable, firstRead, singleRead;
        for (int run = 0; run < 2 * startRuns; ++run) {
            Process tessel;
            const long long start = nowNs();
            if (!startTessel(tessel, tesselPath))
                continue;
            const long long shownAt = nowNs();
            viewable.add(toMs(shownAt - start));
            // Taken once as the window appears, or again and again until it is read.
            const bool once = run % 2;
            const long long until = shownAt + (once ? SingleTakeWaitNs : ReadStartTimeoutNs);
            std::optional<OwnerEvent> request;
            for (int take = 0; !request && nowNs() < until && (take == 0 || !once); ++take) {
                if (owner.own("tessel start " + QByteArray::number(run * 1000 + take)))
                    request =
                        owner.waitFor(kindIs("request"), once ? until : nowNs() + RetakeEveryNs);
            }
            if (request)
                (once ? singleRead : firstRead).add(toMs(request->ns - shownAt));
        }
        std::printf("  start->window viewable: median, max %s ms (%d runs)\n"
                    "  window viewable->first request, taken every %lld ms: median, max %s ms (%d "
                    "of %d runs read)\n  taken once as the window appears: read in %d of %d runs, "
                    "median, max %s ms after\n",
                    viewable.pair(0, 1).data(), viewable.size(), RetakeEveryNs / Ms,
                    firstRead.pair(0, 1).data(), firstRead.size(), startRuns, singleRead.size(),
                    startRuns, singleRead.pair(0, 1).data());
    }

    void memory(const char *when)
    {
        if (!picked(parser, "memory"))
            return;
        const auto mib = [](double value) {
            return value < 0 ? QByteArray("-") : QByteArray::number(value, 'f', 1);
        };
        const Memory t = memoryOf(tessel.processId());
        const Memory w = memoryOf(workerOf(tessel.processId()));
        std::printf("%-28s | %6s %6s %6s | %6s %6s %6s\n", when, mib(t.rss).data(),
                    mib(t.pss).data(), mib(t.peak).data(), mib(w.rss).data(), mib(w.pss).data(),
                    mib(w.peak).data());
    }

    // Pings until the window answers: whatever it was stuck on is over.
    bool settle()
    {
        const long long waitNs = std::max<long long>(2 * capNs, 60000 * Ms);
        return x.measure(window, 0, waitNs, waitNs).pinged;
    }

    struct Copied {
        double firstMs; // from the owner's taking the clipboard to the first request
        double lastMs;  // and to the last answer served
    };

    // Takes the clipboard (offering text, for a text owner) and waits until the owner has
    // served what it was asked, has no INCR transfer going and has heard nothing for a while.
    std::optional<Copied> copy(Owner &owner, const QByteArray &text,
                               long long timeoutNs = CaptureTimeoutNs)
    {
        const std::optional<OwnerEvent> owned = owner.own(text);
        long long first = 0;
        long long last = 0;
        const long long deadline = nowNs() + timeoutNs;
        std::multiset<QByteArray> transfers;
        size_t seen = 0;
        for (long long quietSince = nowNs();
             owned && nowNs() < deadline &&
             (nowNs() - quietSince <= CaptureQuietNs || !transfers.empty());) {
            owner.collect(20);
            for (; seen < owner.events.size(); ++seen, quietSince = nowNs()) {
                const OwnerEvent &e = owner.events[seen];
                if (e.kind == "request" && !first)
                    first = e.ns;
                if (e.kind == "incr")
                    transfers.insert(e.transfer());
                if (e.ends() && transfers.count(e.transfer()))
                    transfers.erase(transfers.find(e.transfer()));
                if (e.kind == "served")
                    last = e.ns;
            }
        }
        if (!last)
            return std::nullopt;
        return Copied{toMs(first - owned->ns), toMs(last - owned->ns)};
    }

    // Rounds of a ping and an F1 press sent together, each once Tessel is in the middle of
    // reading the owner of the case (none for idle, else the owner's mode).
    void runCase(const char *name)
    {
        const bool idle = !std::strcmp(name, "idle");
        const bool incr = !std::strcmp(name, "incr");
        Owner owner;
        if (!idle && !owner.start(incr ? QStringList{name, incrText} : QStringList{name})) {
            std::printf("%-6s | the owner did not start\n", name);
            return;
        }
        const Match reading = [incr](const OwnerEvent &e) {
            return incr ? e.kind == "incr"
                        : e.kind == "request" && e.target != "TARGETS" && e.target != "TIMESTAMP";
        };
        const double capMs = toMs(capNs);
        const int maxFrozen = intOption(parser, QStringLiteral("max-frozen"));
        const KeyCode f1 = x.fKey(1);
        Figure server, seen, ping, frozenPing, frozenPress;
        int noRead = 0;
        int missingPastes = 0;
        int duringTransfer = 0;
        QByteArray note;
        for (int round = 1; round <= rounds && frozenPing.size() < maxFrozen; ++round) {
            const bool answered = settle();
            QThread::msleep(PauseBetweenRoundsMs);
            if (!answered || (!idle && !owner.own())) {
                note = "the window or the owner stopped answering; case stopped";
                break;
            }
            std::optional<OwnerEvent> read;
            if (!idle && !(read = owner.waitFor(reading, nowNs() + ReadStartTimeoutNs))) {
                ++noRead;
                continue;
            }
            XDriver::Measured m = x.measure(window, f1, capNs, KeyHoldNs);
            ping.add(m.pingMs);
            server.add(m.serverMs);
            seen.add(m.seenMs);
            if (verbose)
                std::printf("  %s round %d: F1->V server %.1f ms, seen %.2f ms; ping %.2f ms\n",
                            name, round, m.serverMs, m.seenMs, m.pingMs);
            if (!m.pinged || !m.pasted) {
                // How long the freeze really was: until the window answers again.
                settle();
                x.update(m);
                frozenPing.add(m.pingMs);
                frozenPress.add(m.serverMs);
                if (verbose)
                    std::printf("  %s round %d froze: ping answered after %.1f s, V after %.1f s\n",
                                name, round, m.pingMs / 1000, m.serverMs / 1000);
                continue;
            }
            // The paste is not measured, but the next round waits for it to be over.
            QByteArray line;
            missingPastes += !readLine(receiver, "text ", line, nowNs() + PasteTimeoutNs);
            if (incr) {
                // Whether the transfer was still going when the ping and the press were sent.
                owner.collect(0);
                duringTransfer += std::none_of(
                    owner.events.begin(), owner.events.end(), [&](const OwnerEvent &e) {
                        return e.ends() && e.transfer() == read->transfer() && e.ns >= read->ns &&
                               e.ns <= m.startNs;
                    });
            }
        }
        std::printf("%-6s | %s | %s | %s | %2d", name, server.pair(9, 1, capMs).data(),
                    seen.pair(9, 1, capMs).data(), ping.pair(9, 1, capMs).data(), ping.size());
        if (frozenPing.size())
            std::printf("; %d cut at %.0f s (in full: ping max %.1f s, F1->V max %.1f s)",
                        frozenPing.size(), capMs / 1000, frozenPing.maximum() / 1000,
                        frozenPress.maximum() / 1000);
        if (noRead)
            std::printf("; %d rounds with no read begun", noRead);
        if (missingPastes)
            std::printf("; %d pastes did not arrive", missingPastes);
        if (incr)
            std::printf("; %d of %d sent during the transfer", duringTransfer,
                        ping.size() - frozenPing.size());
        if (!note.isEmpty())
            std::printf("; %s", note.constData());
        std::printf("\n");
    }

    // The owner's view: from its taking the clipboard to the last request served, and the first.
    void captures(Owner &owner, const QByteArray &name, int count, long long timeoutNs)
    {
        Figure last, first;
        for (int round = 1; round <= count; ++round) {
            settle();
            const std::optional<Copied> copied =
                copy(owner, "tessel capture " + QByteArray::number(round), timeoutNs);
            if (!copied)
                continue;
            last.add(copied->lastMs);
            first.add(copied->firstMs);
            if (verbose)
                std::printf("  capture %d: last served %.2f ms, first request %.2f ms\n", round,
                            copied->lastMs, copied->firstMs);
        }
        settle();
        std::printf("\n%s | owned->last request served: median, max %s ms | owned->first "
                    "request: median, max %s ms | %d of %d captures read\n",
                    name.constData(), last.pair(0, 1).data(), first.pair(0, 1).data(), last.size(),
                    count);
    }

    const QCommandLineParser &parser;
    XDriver &x;
    const QString tesselPath;
    const bool hasWorker;
    const int rounds;
    const long long capNs;
    const int incrMiB;
    const int startRuns;
    const bool verbose;
    QTemporaryDir scratch;
    const QString incrText = scratch.filePath(QStringLiteral("incr"));
    Process tessel;
    Process receiver;
    Window window = 0;
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parseTesselOptions(
        parser,
        {{"rounds", "Rounds per case.", "n", QStringLiteral("20")},
         {"cap", "Where a wait is cut off.", "seconds", QStringLiteral("30")},
         {"max-frozen", "Rounds cut off after which a case stops.", "n", QStringLiteral("3")},
         {"incr-mib", "The size of the INCR text.", "n", QStringLiteral("100")},
         {"start-runs", "Starts of Tessel of each kind; twice as many of its worker.", "n",
          QStringLiteral("5")},
         {"only", "The parts to run: idle,hang,slow,incr,capture,full,start,memory.", "parts"},
         {"verbose", "Print every round."}});
    XDriver x;
    if (!x.open())
        return 1;
    ResponsiveBench bench(parser, x);
    return bench.run() ? 0 : 1;
}
