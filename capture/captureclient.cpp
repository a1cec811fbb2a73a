#include "captureclient.h"

#include "platform/platform.h"
#include "window/clip.h"
#include "window/clipstore.h"

#include <QCoreApplication>
#include <QDataStream>

#include <cstdio>

using captureprotocol::Message;

namespace {
// How often the worker is asked whether it is there.
const int PingIntervalMs = 5000;
// A worker that has said nothing for this long is stuck: a single stalled request costs Qt's
// 5 s timeout, and even a transfer of hundreds of megabytes takes a few seconds.
const qint64 StuckAfterMs = 30000;
// A worker that dies sooner than this after its start, this many times in a row, will not
// do better: capture moves into this process.
const qint64 QuickDeathMs = 10000;
const int MaxQuickDeaths = 5;
// A worker still reading an older change this long after a newer one came is waiting on an
// owner that is slow or hangs: the newer change wins, read by a new worker.
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
    connect(&supersede, &QTimer::timeout, this, &CaptureClient::replaceWorker);
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

bool CaptureClient::start()
{
    active = true;
    watchdog.start(PingIntervalMs);
    startWorker();
    return true;
}

void CaptureClient::startWorker()
{
    sinceStart.start();
    sinceHeard.start();
    worker.start(QCoreApplication::applicationFilePath(),
                 {QString::fromLatin1(WorkerArgument), QString::number(++generation)});
}

void CaptureClient::workerReady()
{
    connected = true;
    if (readOnConnect) {
        readOnConnect = false;
        // The new worker has seen no change yet: its change 0 is what the clipboard holds.
        if (!platform::clipboardIsOurs() && store.isCollecting())
            askToRead(0);
    }
}

void CaptureClient::askToRead(quint64 change)
{
    send(Message::Read, change);
    reading = true;
}

void CaptureClient::clipboardChanged()
{
    // A worker on its way reads what the clipboard holds once it is there.
    if (!connected)
        readOnConnect = true;
    else if (reading && !supersede.isActive())
        supersede.start();
}

void CaptureClient::replaceWorker()
{
    if (!reading || worker.state() != QProcess::Running)
        return;
    readOnConnect = true;
    replacing = true;
    // Its finished signal starts the next one.
    worker.kill();
}

void CaptureClient::pasting()
{
    // What the worker is reading, our paste supersedes; and on Windows a reader keeps the
    // clipboard open while it waits for the owner, so that nobody could set it.
    if (!reading || worker.state() != QProcess::Running)
        return;
    replacing = true;
    worker.kill();
}

void CaptureClient::send(Message message, quint64 change)
{
    if (!connected)
        return;
    captureprotocol::send(worker, captureprotocol::frame(message, change));
}

void CaptureClient::readFrames()
{
    sinceHeard.start();
    while (worker.state() == QProcess::Running && frames.complete(worker)) {
        QDataStream in(&worker);
        quint64 change = 0;
        const Message message = captureprotocol::read(in, change);
        std::unique_ptr<Clip> clip;
        if (message == Message::Clip) {
            clip = std::make_unique<Clip>();
            in >> *clip;
        }
        if (in.status() != QDataStream::Ok || !frames.done(worker)) {
            std::fprintf(stderr, "tessel: the capture worker said something else than "
                                 "expected; starting it again.\n");
            // Its finished signal starts the next one.
            worker.kill();
            return;
        }
        // A change seen while we own the clipboard is ours, or our paste superseded it.
        const bool ours = platform::clipboardIsOurs();
        if (message == Message::Ready) {
            workerReady();
        } else if (message == Message::Changed) {
            if (!ours && store.isCollecting())
                askToRead(change);
            else
                send(Message::Skip, change);
        } else if (message == Message::Nothing) {
            finishedReading();
        } else if (message == Message::Clip) {
            finishedReading();
            if (!ours)
                store.add(std::move(clip));
        } else if (message == Message::Restart) {
            replacing = true;
            readOnConnect = false;
            // Its finished signal starts the next one.
            worker.kill();
            return;
        }
    }
}

void CaptureClient::finishedReading()
{
    reading = false;
    supersede.stop();
}

void CaptureClient::checkWorker()
{
    if (worker.state() != QProcess::Running)
        return;
    if (sinceHeard.elapsed() > StuckAfterMs) {
        std::fprintf(stderr, "tessel: the capture worker stopped answering; starting it again.\n");
        // Its finished signal starts the next one.
        worker.kill();
        return;
    }
    send(Message::Ping);
}

void CaptureClient::workerGone()
{
    connected = false;
    // Whatever half frame it left is no start for the next one.
    worker.readAllStandardOutput();
    frames = captureprotocol::FrameReader();
    finishedReading();
    // A worker replaced on purpose, or that asked to be, did not fail.
    quickDeaths = !replacing && sinceStart.elapsed() < QuickDeathMs ? quickDeaths + 1 : 0;
    replacing = false;
    if (quickDeaths >= MaxQuickDeaths) {
        std::fprintf(stderr, "tessel: the capture worker keeps failing; capturing in the "
                             "window's process from now on.\n");
        active = false;
        watchdog.stop();
        return;
    }
    // Stored clips live here, not in the worker: at most the change in flight is lost.
    QTimer::singleShot(quickDeaths * 200, this, &CaptureClient::startWorker);
}
