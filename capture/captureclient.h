#pragma once

#include "capture/captureprotocol.h"

#include <QElapsedTimer>
#include <QObject>
#include <QProcess>
#include <QTimer>

class ClipStore;

// The window's side of capture: starts the capture worker, tells it which changes to read,
// stores what it reads, and replaces it when it dies or stops answering. Every wait here is a
// signal or a timer, so nothing the worker does blocks the window.
class CaptureClient : public QObject {
    Q_OBJECT

public:
    enum class State {
        Off,      // no worker: the window's process captures
        Starting, // started, not ready yet
        Idle,     // watching the clipboard
        Reading,  // reading a change
        Ending,   // being replaced: its end starts the next one
    };

    explicit CaptureClient(ClipStore &store);
    ~CaptureClient() override;

    // Starts the worker: this program run with WorkerArgument, or program when given.
    void start(const QString &program = QString());
    // Whether a worker reads the clipboard now, or one is on its way.
    bool isActive() const { return state != State::Off; }
    State currentState() const { return state; }
    unsigned workersStarted() const { return generation; }
    // The window saw the clipboard change. A worker still waiting for an older change's owner
    // is replaced, and so is one that does not report the change within ReportWithinMs.
    void clipboardChanged();
    // The window is about to put a clip on the clipboard.
    void pasting();

    static const char WorkerArgument[];
    static constexpr int ReportWithinMs = 1000;

private:
    void startWorker();
    void workerReady(quint64 client);
    void readFrames();
    void workerGone();
    void checkWorker();
    void send(const captureprotocol::Header &header);
    void readIfNew(quint64 change);
    void replaceWorker(const char *why);

    ClipStore &store;
    QProcess worker;
    QString program;
    unsigned generation = 0;
    State state = State::Off;
    captureprotocol::FrameReader frames;
    QTimer watchdog;
    QElapsedTimer sinceHeard;
    int quickDeaths = 0;
    QTimer supersede;
    QTimer reported;
    // The copy last stored or given up on: no worker reads it again.
    platform::ClipboardStamp settled;
    // The owner as the worker last reported it, and when a read was asked for.
    platform::ClipboardStamp workerSaw;
    platform::ClipboardStamp asked;
    quint64 readingChange = 0;
};
