#pragma once

#include "capture/captureprotocol.h"

#include <QLocalSocket>
#include <QObject>

// The capture worker: a second process of this program that reads each clipboard change
// with a display connection of its own and hands the clip to the window's process. However
// an owner misbehaves (slow, hanging, gigabytes), only this process waits for it.
class CaptureWorker : public QObject {
    Q_OBJECT

public:
    // The worker's exit status when it wants to be started again.
    static constexpr int RestartExitCode = 3;

    // Connects to the window's process listening under serverName; false when it cannot.
    bool connectTo(const QString &serverName);

private:
    void clipboardChanged();
    void readFrames();
    void readChange(quint64 change);

    QLocalSocket socket;
    captureprotocol::FrameReader frames;
    quint64 latestChange = 0;
};

// The worker's main: runs until the window's process goes away. Returns the exit status.
int runCaptureWorker(int &argc, char **argv, const QString &serverName);
