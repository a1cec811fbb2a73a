// Prints how the real program holds up while clipboard owners misbehave, on the X display in
// $DISPLAY: the latency from an F-key press to the synthetic V, and the round trip of a
// _NET_WM_PING to its window, idle and while an owner hangs, answers late, or sends 100 MiB
// with INCR; and the capture worker's start. The owners are the fake owner's Xlib one.
// See README.md.

#include "benchx11.h"
#include "capture/captureprotocol.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDataStream>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
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
const int PauseBetweenRoundsMs = 100;
const long long KeyHoldNs = 100 * Ms;
const int CalmBeforeCapturesMs = 1000;

// A figure's median or maximum; one that is the cap (a wait cut off) is shown as ">=".
QByteArray shown(const Figure &figure, bool maximum, double capMs = 0)
{
    if (!figure.size())
        return "-";
    const double ms = maximum ? figure.maximum() : figure.median();
    return (capMs > 0 && ms >= capMs ? ">=" : "") + QByteArray::number(ms, 'f', 1);
}

// What the owner reported (see tests/fakeowner/selectionowner.h): its kind, the target and
// the time.
struct OwnerEvent {
    QByteArray kind;
    QByteArray target;
    long long ns = 0;
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
            // "owned <ns>", or "<kind> <target> <ns> ..."
            const bool targeted = fields.size() >= 3;
            events.push_back({fields.value(0), targeted ? fields[1] : QByteArray(),
                              fields.value(targeted ? 2 : 1).toLongLong()});
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
          startRuns(intOption(parser, QStringLiteral("start-runs")))
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
    Figure ready;
    for (int run = 0; run < options.startRuns; ++run) {
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
    std::printf("  %d runs: median %s ms, max %s ms\n", ready.size(), shown(ready, false).data(),
                shown(ready, true).data());
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

    // Takes the clipboard offering text and waits until the owner has served what it was
    // asked and heard nothing for a while.
    bool copy(Owner &owner, const QByteArray &text)
    {
        OwnerEvent owned;
        if (!owner.own(text, owned))
            return false;
        const long long deadline = nowNs() + CaptureTimeoutNs;
        for (long long quietSince = nowNs();
             nowNs() < deadline && nowNs() - quietSince <= CaptureQuietNs;) {
            const size_t before = owner.events.size();
            owner.collect(20);
            if (owner.events.size() != before)
                quietSince = nowNs();
        }
        return std::any_of(owner.events.begin(), owner.events.end(),
                           [](const OwnerEvent &e) { return e.kind == "served"; });
    }

    // Fills slots 1 and 2 with short texts and checks that F1 and F2 paste them.
    bool fillSlots(Owner &owner)
    {
        for (const char *text : SlotTexts) {
            if (!copy(owner, text)) {
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
        Figure pressServer, pressSeen, ping;
        int frozen = 0;
        int noRead = 0;
        int missingPastes = 0;
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
            if (!measured.pinged || !measured.pasted) {
                ++frozen;
                continue;
            }
            // The paste is not measured, but the next round waits for it to be over.
            QByteArray line;
            if (!readLine(receiver, "text ", line, nowNs() + PasteTimeoutNs))
                ++missingPastes;
        }
        std::printf("%-6s | %9s %9s | %9s %9s | %9s %9s | %2d", c.name,
                    shown(pressServer, false, capMs).data(), shown(pressServer, true, capMs).data(),
                    shown(pressSeen, false, capMs).data(), shown(pressSeen, true, capMs).data(),
                    shown(ping, false, capMs).data(), shown(ping, true, capMs).data(), ping.size());
        if (frozen)
            std::printf("; %d cut at %.0f s", frozen, capMs / 1000);
        if (noRead)
            std::printf("; %d rounds with no read begun", noRead);
        if (missingPastes)
            std::printf("; %d pastes did not arrive", missingPastes);
        if (!note.isEmpty())
            std::printf("; %s", note.constData());
        std::printf("\n");
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

    ResponsiveBench bench(options, x, receiver, window);
    Owner textOwner;
    if (!textOwner.start(QStringLiteral("text")) || !bench.fillSlots(textOwner)) {
        std::fprintf(stderr, "bench_responsive: could not fill slots 1 and 2\n");
        return false;
    }

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

    return true;
}

} // namespace

int main(int argc, char **argv)
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0); // rows show as they come, through a pipe too
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parseOptions(
        parser,
        {{"rounds", "Rounds per case.", "n", QStringLiteral("20")},
         {"cap", "Where a wait is cut off.", "seconds", QStringLiteral("30")},
         {"max-frozen", "Rounds cut off after which a case stops.", "n", QStringLiteral("3")},
         {"incr-mib", "The size of the INCR text.", "n", QStringLiteral("100")},
         {"start-runs", "Starts of the capture worker.", "n", QStringLiteral("10")},
         {"only", "The parts to run: idle,hang,slow,incr,start.", "parts"}},
        true);
    Options options(parser);

    XDriver x;
    if (!x.open()) {
        std::fprintf(stderr, "bench_responsive: cannot open the X display with XInput 2.2 "
                             "(is DISPLAY set?)\n");
        return 1;
    }
    QTemporaryDir scratch;
    options.incrText = scratch.filePath(QStringLiteral("incr"));
    if (!writeFile(options.incrText, makeText(qint64(options.incrMiB) << 20)))
        return 1;
    std::printf("display %s, window manager: %s\ntessel: %s\n", DisplayString(x.display),
                windowManagerName(x.display).constData(), qPrintable(options.tessel));

    if (options.wants("start"))
        benchWorkerStart(options);
    QProcess tessel;
    QProcess receiver;
    const bool ran = runParts(options, x, tessel, receiver);
    stopProcess(receiver);
    stopProcess(tessel);
    return ran ? 0 : 1;
}
