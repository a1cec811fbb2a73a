#include "captureprotocol.h"

#include <QDataStream>
#include <QIODevice>

namespace captureprotocol {

namespace {
const qint64 HeaderBytes = sizeof(quint64);
} // namespace

QByteArray frame(Message message, quint64 change)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << quint8(message) << change;
    return bytes;
}

Message read(QDataStream &in, quint64 &change)
{
    quint8 message = 0;
    in >> message >> change;
    return Message(message);
}

void send(QIODevice &channel, const QByteArray &frame)
{
    QByteArray header;
    QDataStream(&header, QIODevice::WriteOnly) << quint64(frame.size());
    channel.write(header);
    channel.write(frame);
}

bool FrameReader::next(QIODevice &channel, QByteArray &frame)
{
    if (pending < 0) {
        if (channel.bytesAvailable() < HeaderBytes)
            return false;
        quint64 size = 0;
        QDataStream(channel.read(HeaderBytes)) >> size;
        pending = qint64(size);
    }
    // Read only once all of it is there: the channel buffers the rest meanwhile.
    if (channel.bytesAvailable() < pending)
        return false;
    frame = channel.read(pending);
    pending = -1;
    return true;
}

} // namespace captureprotocol
