#pragma once

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
    void readChange(quint64 change);
    void send(const QByteArray &frame);

    QFile channel;
    quint64 latestChange = 0;
};

// The worker's main: runs until the window's process goes away. generation counts the
// workers the window has started. Returns the exit status.
int runCaptureWorker(int &argc, char **argv, unsigned generation);
