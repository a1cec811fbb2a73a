#include "captureworker.h"

#include "platform/platform.h"
#include "clips/clip.h"
#include "clips/clipreader.h"

#include <QApplication>
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
    platform::onClipboardChange([this] { clipboardChanged(); });
    send({Message::Ready, 0, platform::clientId()});
}

void CaptureWorker::send(const captureprotocol::Header &header)
{
    captureprotocol::send(channel, captureprotocol::frame(header));
}

void CaptureWorker::clipboardChanged()
{
    // Nothing is read before the window says so: the change may be its own paste.
    send({Message::Changed, ++latestChange, captureprotocol::pack(platform::clipboardStamp())});
}

void CaptureWorker::handle(const QByteArray &frame)
{
    QDataStream in(frame);
    const captureprotocol::Header request = captureprotocol::read(in);
    if (request.message == Message::Ping)
        send({Message::Pong});
    // A newer change has come since: that one will be asked about.
    else if (request.message == Message::Read && request.change == latestChange)
        readChange(request);
}

void CaptureWorker::readChange(const captureprotocol::Header &request)
{
    using platform::OwnerChange;
    platform::ClipboardStamp stamp = platform::clipboardStamp();
    const platform::ClipboardStamp current = captureprotocol::unpack(request.current);
    // A worker that has seen no change yet knows the owner, but not since when.
    if (!stamp.time && stamp.owner == current.owner)
        stamp = current;
    const captureprotocol::Header nothing{Message::Nothing, request.change,
                                          captureprotocol::pack(stamp)};
    if (stamp.sameCopyAs(captureprotocol::unpack(request.stamp)) || stamp.sameCopyAs(sent)) {
        send(nothing);
        return;
    }
    ClipRead read;
    read.ownerUnchanged = [&stamp] {
        // A paste of the window's own takes the clipboard without answering us, and an
        // emptied clipboard answers nobody: what the owner still sends is its own.
        return platform::ownerChangeSince(stamp) != OwnerChange::ToOther;
    };
    const std::unique_ptr<Clip> clip = readClip(platform::clipboardContent(), read);
    if (clip) {
        sent = stamp;
        captureprotocol::send(channel, {Message::Clip, request.change, nothing.stamp},
                              [&clip](QDataStream &out) { out << *clip; });
    } else {
        send(nothing);
    }
    // An owner that answers after Qt gave up on it still writes its data to our window, where
    // Qt would take it for the answer to a later request: a new process starts clean.
    if (read.stalled)
        send({Message::Restart});
}

int runCaptureWorker(int &argc, char **argv, unsigned generation, quint64 window)
{
    const platform::WorkerChannel channel = platform::openWorkerChannel();
    // Before anything is read: no change of owner from now on goes unseen.
    platform::watchClipboardOwner(window);
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
