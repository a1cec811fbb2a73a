#include "captureclient.h"

#include "platform/platform.h"
#include "clips/clip.h"
#include "clips/clipstore.h"

#include <QCoreApplication>
#include <QDataStream>

#include <cstdio>
#include <memory>

using captureprotocol::Header;
using captureprotocol::Message;

namespace {
const int PingIntervalMs = 5000;
// Silent this long, a worker is stuck: one stalled request costs Qt's 5 s timeout.
const qint64 StuckAfterMs = 30000;
// A worker that dies this many times in a row before it is ready will not do better.
const int MaxQuickDeaths = 5;
const int RestartBackoffMs = 200;
// A worker still reading an older change this long after a newer one came waits on an owner
// that is slow or hangs: the newer change wins.
const int SupersedeAfterMs = 300;
} // namespace

const char CaptureClient::WorkerArgument[] = "--capture-worker";

CaptureClient::CaptureClient(ClipStore &store) : store(store)
{
    connect(&worker, &QProcess::readyReadStandardOutput, this, &CaptureClient::readFrames);
    connect(&worker, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this,
            &CaptureClient::workerGone);
    connect(&worker, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            workerGone();
    });
    connect(&watchdog, &QTimer::timeout, this, &CaptureClient::checkWorker);
    supersede.setSingleShot(true);
    supersede.setInterval(SupersedeAfterMs);
    connect(&supersede, &QTimer::timeout, this, [this] {
        if (state == State::Reading)
            replaceWorker(nullptr);
    });
    reported.setSingleShot(true);
    reported.setInterval(ReportWithinMs);
    connect(&reported, &QTimer::timeout, this, [this] {
        if (state == State::Idle && !workerSaw.sameCopyAs(platform::clipboardStamp()))
            replaceWorker("the capture worker did not report a clipboard change");
    });
    worker.setProcessChannelMode(QProcess::ForwardedErrorChannel);
}

CaptureClient::~CaptureClient()
{
    disconnect(&worker, nullptr, this, nullptr);
    if (worker.state() != QProcess::NotRunning) {
        worker.kill();
        worker.waitForFinished(1000);
    }
}

void CaptureClient::start(const QString &workerProgram)
{
    program = workerProgram.isEmpty() ? QCoreApplication::applicationFilePath() : workerProgram;
    // What the clipboard holds already was copied before we ran.
    settled = platform::clipboardStamp();
    watchdog.start(PingIntervalMs);
    startWorker();
}

void CaptureClient::startWorker()
{
    state = State::Starting;
    sinceHeard.start();
    worker.start(program, {QString::fromLatin1(WorkerArgument), QString::number(++generation),
                           QString::number(platform::clientId())});
}

void CaptureClient::workerReady(quint64 client)
{
    platform::refuseClipboardRequestsFrom(client);
    state = State::Idle;
    quickDeaths = 0;
    // It hears every change from now on; whatever came before it, it reads now.
    workerSaw = platform::clipboardStamp();
    readIfNew(0);
}

void CaptureClient::readIfNew(quint64 change)
{
    const platform::ClipboardStamp now = platform::clipboardStamp();
    if (platform::clipboardIsOurs() || store.gate() == ClipStore::Gate::Paused) {
        settled = now;
        return;
    }
    if (change == 0 && now.sameCopyAs(settled))
        return;
    asked = now;
    readingChange = change;
    send({Message::Read, change, captureprotocol::pack(settled), captureprotocol::pack(now)});
    state = State::Reading;
}

void CaptureClient::clipboardChanged()
{
    // Only an owner newer than the one the worker reads supersedes its read: the window may
    // hear of that one after the worker did.
    if (state == State::Reading && !platform::clipboardIsOurs() && !supersede.isActive() &&
        !platform::clipboardStamp().sameCopyAs(workerSaw))
        supersede.start();
    // Restarted by every change: a burst is judged once it pauses.
    else if (state == State::Idle)
        reported.start();
}

void CaptureClient::replaceWorker(const char *why)
{
    if (worker.state() == QProcess::NotRunning)
        return;
    if (why)
        std::fprintf(stderr, "tessel: %s; starting it again.\n", why);
    state = State::Ending;
    worker.kill();
}

void CaptureClient::pasting()
{
    // Where a reader keeps the clipboard open, nobody else can set it: the paste ends the read.
    if (state == State::Reading && platform::readingHoldsClipboard())
        replaceWorker(nullptr);
}

void CaptureClient::send(const Header &header)
{
    if (state == State::Starting || state == State::Off || worker.state() == QProcess::NotRunning)
        return;
    captureprotocol::send(worker, captureprotocol::frame(header));
}

void CaptureClient::readFrames()
{
    sinceHeard.start();
    // Its first frames can come before QProcess has seen it start.
    while (worker.state() != QProcess::NotRunning && state != State::Ending &&
           frames.complete(worker)) {
        QDataStream in(&worker);
        const Header header = captureprotocol::read(in);
        std::unique_ptr<Clip> clip(header.message == Message::Clip ? new Clip : nullptr);
        if (clip)
            in >> *clip;
        if (in.status() != QDataStream::Ok || !frames.done(worker)) {
            replaceWorker("the capture worker said something else than expected");
            return;
        }
        switch (header.message) {
        case Message::Ready:
            workerReady(header.stamp);
            break;
        case Message::Changed:
            workerSaw = captureprotocol::unpack(header.stamp);
            readIfNew(header.change);
            break;
        case Message::Clip:
        case Message::Nothing:
            settled = captureprotocol::unpack(header.stamp);
            // An answer to an older request: the worker goes on with the newer one.
            if (header.change == readingChange) {
                state = State::Idle;
                supersede.stop();
            }
            store.add(std::move(clip));
            break;
        case Message::Restart:
            replaceWorker(nullptr);
            return;
        default:
            break;
        }
    }
}

void CaptureClient::checkWorker()
{
    if (sinceHeard.elapsed() > StuckAfterMs)
        replaceWorker("the capture worker stopped answering");
    else
        send({Message::Ping});
}

void CaptureClient::workerGone()
{
    // Whatever half frame it left is no start for the next one.
    worker.readAllStandardOutput();
    frames = captureprotocol::FrameReader();
    supersede.stop();
    reported.stop();
    // It died of the data it was reading: the next worker must not read it again.
    if (state == State::Reading)
        settled = asked;
    // Only a worker that cannot even start moves capture here: an owner's data would kill us too.
    if (state == State::Starting && ++quickDeaths >= MaxQuickDeaths) {
        std::fprintf(stderr, "tessel: the capture worker keeps failing; capturing in the "
                             "window's process from now on.\n");
        state = State::Off;
        watchdog.stop();
        return;
    }
    state = State::Ending;
    // Stored clips live here, not in the worker: at most the change in flight is lost.
    QTimer::singleShot(quickDeaths * RestartBackoffMs, this, &CaptureClient::startWorker);
}
