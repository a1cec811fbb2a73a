#pragma once

#include "capture/captureprotocol.h"

#include <QFile>
#include <QObject>

// The capture worker: a second process of this program that reads each clipboard change
// with a display connection of its own and hands the clip to the window's process over its
// standard output. However an owner misbehaves (slow, hanging, gigabytes), only this process
// waits for it.
class CaptureWorker : public QObject {
    Q_OBJECT

public:
    // output is the descriptor the window's process reads.
    explicit CaptureWorker(int output);

    // One frame from the window's process.
    void handle(const QByteArray &frame);

private:
    void clipboardChanged();
    void readChange(const captureprotocol::Header &request);
    void send(const captureprotocol::Header &header);

    QFile channel;
    quint64 latestChange = 0;
    // The copy this worker sent last: never read twice.
    platform::ClipboardStamp sent;
};

// The worker's main: runs until the window's process goes away. generation counts the
// workers the window has started; window is the window process's client id. Returns the
// exit status.
int runCaptureWorker(int &argc, char **argv, unsigned generation, quint64 window);
