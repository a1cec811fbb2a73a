#include "captureworker.h"

#include "capture/captureprotocol.h"
#include "platform/platform.h"
#include "window/clip.h"
#include "window/clipreader.h"

#include <QApplication>
#include <QClipboard>
#include <QDataStream>
#include <QThread>

#include <memory>

using captureprotocol::Message;

namespace {
// The window only says short things: a longer frame means the input is not the window.
const quint64 MaxRequestBytes = 1024;

// Reads exactly size bytes; false at the end of the input or on an error.
bool readExactly(QFile &in, char *data, qint64 size)
{
    while (size > 0) {
        const qint64 got = in.read(data, size);
        if (got <= 0)
            return false;
        data += got;
        size -= got;
    }
    return true;
}

// Reads frames off the input until it ends, handing each to the worker's thread. Its own
// thread, because a pipe can only be waited on this way everywhere.
void readFrames(int input, CaptureWorker *worker)
{
    QFile in;
    if (in.open(input, QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        for (;;) {
            quint64 size = 0;
            QByteArray header(sizeof size, Qt::Uninitialized);
            if (!readExactly(in, header.data(), header.size()))
                break;
            QDataStream(header) >> size;
            if (size > MaxRequestBytes)
                break;
            QByteArray frame(int(size), Qt::Uninitialized);
            if (!readExactly(in, frame.data(), frame.size()))
                break;
            QMetaObject::invokeMethod(worker, [worker, frame] { worker->handle(frame); });
        }
    }
    // Without the window's process there is nobody to read for.
    QMetaObject::invokeMethod(qApp, &QCoreApplication::quit);
}
} // namespace

CaptureWorker::CaptureWorker(int output)
{
    channel.open(output, QIODevice::WriteOnly | QIODevice::Unbuffered);
    connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, this,
            &CaptureWorker::clipboardChanged);
    send(captureprotocol::frame(Message::Ready));
}

void CaptureWorker::send(const QByteArray &frame)
{
    captureprotocol::send(channel, frame);
}

void CaptureWorker::clipboardChanged()
{
    // Nothing is read before the window says so: the change may be its own paste.
    send(captureprotocol::frame(Message::Changed, ++latestChange));
}

void CaptureWorker::handle(const QByteArray &frame)
{
    QDataStream in(frame);
    quint64 change = 0;
    const Message message = captureprotocol::read(in, change);
    if (message == Message::Ping)
        send(captureprotocol::frame(Message::Pong));
    // A newer change has come since: that one will be asked about.
    else if (message == Message::Read && change == latestChange)
        readChange(change);
}

void CaptureWorker::readChange(quint64 change)
{
    bool stalled = false;
    const std::unique_ptr<Clip> clip =
        readClip(QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard), &stalled);
    if (clip) {
        captureprotocol::send(channel, Message::Clip, change,
                              [&clip](QDataStream &out) { out << *clip; });
    } else {
        send(captureprotocol::frame(Message::Nothing, change));
    }
    // An owner that answers after Qt gave up on it still writes its data to our window, where
    // Qt would take it for the answer to a later request: a new process starts clean.
    if (stalled)
        send(captureprotocol::frame(Message::Restart));
}

int runCaptureWorker(int &argc, char **argv, unsigned generation)
{
    const platform::WorkerChannel channel = platform::openWorkerChannel();
    QApplication app(argc, argv);
    platform::separateFromEarlierWorkers(generation);
    CaptureWorker worker(channel.output);
    std::unique_ptr<QThread> reader(QThread::create(readFrames, channel.input, &worker));
    reader->start();
    const int status = app.exec();
    // The reader ends with the input: the window's process closed it.
    reader->wait();
    return status;
}
