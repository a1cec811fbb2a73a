#include "captureworker.h"

#include "capture/captureprotocol.h"
#include "platform/platform.h"
#include "clips/clip.h"
#include "clips/clipreader.h"

#include <QApplication>
#include <QDataStream>
#include <QFile>
#include <QThread>

#include <memory>

using captureprotocol::Message;

namespace {
// The window only says short things: a longer frame means the input is not the window.
const quint64 MaxRequestBytes = 1024;

class CaptureWorker : public QObject {
public:
    explicit CaptureWorker(int output)
    {
        channel.open(output, QIODevice::WriteOnly | QIODevice::Unbuffered);
        platform::onClipboardChange([this] { clipboardChanged(); });
        send({Message::Ready, 0, platform::clientId()});
    }

    void handle(const QByteArray &frame)
    {
        QDataStream in(frame);
        const captureprotocol::Header request = captureprotocol::read(in);
        if (request.message == Message::Ping)
            send({Message::Pong});
        // A newer change has come since: that one will be asked about.
        else if (request.message == Message::Read && request.change == latestChange)
            readChange(request);
    }

private:
    void send(const captureprotocol::Header &header)
    {
        captureprotocol::send(channel, captureprotocol::frame(header));
    }

    void clipboardChanged()
    {
        // Nothing is read before the window says so: the change may be its own paste.
        send({Message::Changed, ++latestChange, captureprotocol::pack(platform::clipboardStamp())});
    }

    void readChange(const captureprotocol::Header &request)
    {
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
            return platform::ownerChangeSince(stamp) != platform::OwnerChange::ToOther;
        };
        const std::unique_ptr<Clip> clip = readClip(platform::clipboardContent(), read);
        if (clip) {
            sent = stamp;
            captureprotocol::send(channel, {Message::Clip, request.change, nothing.stamp},
                                  [&clip](QDataStream &out) { out << *clip; });
        } else {
            send(nothing);
        }
        // An owner's answer after Qt gave up on it would pass for the answer to a later request.
        if (read.stalled)
            send({Message::Restart});
    }

    QFile channel;
    quint64 latestChange = 0;
    // The copy this worker sent last: never read twice.
    platform::ClipboardStamp sent;
};

// Hands each frame of the input to the worker's thread until the input ends. A thread of its
// own, because a pipe can only be waited on this way everywhere.
void readFrames(int input, CaptureWorker *worker)
{
    QFile in;
    QDataStream stream(&in);
    quint64 size = 0;
    // An unbuffered file reads until it has all it was asked for, or the input ends.
    if (in.open(input, QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        while ((stream >> size).status() == QDataStream::Ok && size <= MaxRequestBytes) {
            QByteArray frame(int(size), Qt::Uninitialized);
            if (stream.readRawData(frame.data(), frame.size()) != frame.size())
                break;
            QMetaObject::invokeMethod(worker, [worker, frame] { worker->handle(frame); });
        }
    }
    // Without the window's process there is nobody to read for.
    QMetaObject::invokeMethod(qApp, &QCoreApplication::quit);
}
} // namespace

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
