#pragma once

#include "capture/captureprotocol.h"

#include <QElapsedTimer>
#include <QObject>
#include <QProcess>
#include <QTimer>

#include <memory>

class ClipStore;

// The window's side of capture: starts the capture worker, tells it which changes to read,
// stores what it reads, and starts it again when it dies or stops answering. Nothing the
// worker does can block this process: every wait here is a signal or a timer.
class CaptureClient : public QObject {
    Q_OBJECT

public:
    explicit CaptureClient(ClipStore &store);
    ~CaptureClient() override;

    // Starts the worker, this program's own executable run with workerArgument. False when
    // no worker can be had; the caller then captures in this process.
    bool start();
    // Whether a worker reads the clipboard now, or one is on its way.
    bool isActive() const { return active; }
    // This process saw the clipboard change. A worker still waiting for an older change's
    // owner is replaced, and the new one reads the newest change at once; so does a worker
    // that is still starting.
    void clipboardChanged();
    // This process is about to put a clip on the clipboard.
    void pasting();

    static const char WorkerArgument[];

private:
    void startWorker();
    void workerReady();
    void readFrames();
    void workerGone();
    void checkWorker();
    void send(captureprotocol::Message message, quint64 change = 0);
    void askToRead(quint64 change);
    void finishedReading();
    void replaceWorker();

    ClipStore &store;
    QProcess worker;
    unsigned generation = 0;
    bool connected = false;
    captureprotocol::FrameReader frames;
    QTimer watchdog;
    QElapsedTimer sinceHeard;
    int quickDeaths = 0;
    QElapsedTimer sinceStart;
    QTimer supersede;
    bool reading = false;
    bool readOnConnect = false;
    bool replacing = false;
    bool active = false;
};
