#include "captureprotocol.h"

#include <QDataStream>
#include <QIODevice>

namespace captureprotocol {

namespace {
const qint64 HeaderBytes = sizeof(quint64);

// Counts what is written to it, and keeps none of it.
class SizeCounter final : public QIODevice {
public:
    SizeCounter() { open(QIODevice::WriteOnly | QIODevice::Unbuffered); }
    qint64 written = 0;

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *, qint64 size) override
    {
        written += size;
        return size;
    }
};
} // namespace

quint64 pack(const platform::ClipboardStamp &stamp)
{
    return quint64(stamp.owner) << 32 | stamp.time;
}

platform::ClipboardStamp unpack(quint64 stamp)
{
    return {quint32(stamp >> 32), quint32(stamp)};
}

QByteArray frame(const Header &header)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << quint8(header.message) << header.change << header.stamp << header.current;
    return bytes;
}

Header read(QDataStream &in)
{
    quint8 message = 0;
    Header header;
    in >> message >> header.change >> header.stamp >> header.current;
    header.message = Message(message);
    return header;
}

void send(QIODevice &channel, const QByteArray &frame)
{
    QByteArray header;
    QDataStream(&header, QIODevice::WriteOnly) << quint64(frame.size());
    channel.write(header);
    channel.write(frame);
}

void send(QIODevice &channel, const Header &header, const std::function<void(QDataStream &)> &write)
{
    const QByteArray head = frame(header);
    SizeCounter counter;
    QDataStream measure(&counter);
    write(measure);
    QDataStream out(&channel);
    out << quint64(head.size() + counter.written);
    out.writeRawData(head.constData(), head.size());
    write(out);
}

bool FrameReader::complete(QIODevice &channel)
{
    if (pending < 0) {
        if (channel.bytesAvailable() < HeaderBytes)
            return false;
        quint64 size = 0;
        QDataStream(channel.read(HeaderBytes)) >> size;
        pending = qint64(size);
    }
    // Read only once all of it is there: the channel buffers the rest meanwhile.
    available = channel.bytesAvailable();
    return available >= pending;
}

bool FrameReader::done(QIODevice &channel)
{
    const qint64 left = pending - (available - channel.bytesAvailable());
    pending = -1;
    return left >= 0 && channel.skip(left) == left;
}

} // namespace captureprotocol
