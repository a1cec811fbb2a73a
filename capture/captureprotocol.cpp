#include "captureprotocol.h"

#include <QDataStream>
#include <QLocalSocket>

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

void send(QLocalSocket &socket, const QByteArray &frame)
{
    QByteArray header;
    QDataStream(&header, QIODevice::WriteOnly) << quint64(frame.size());
    socket.write(header);
    socket.write(frame);
}

bool FrameReader::next(QLocalSocket &socket, QByteArray &frame)
{
    if (pending < 0) {
        if (socket.bytesAvailable() < HeaderBytes)
            return false;
        quint64 size = 0;
        QDataStream(socket.read(HeaderBytes)) >> size;
        pending = qint64(size);
    }
    // Read only once all of it is there: the socket buffers the rest meanwhile.
    if (socket.bytesAvailable() < pending)
        return false;
    frame = socket.read(pending);
    pending = -1;
    return true;
}

} // namespace captureprotocol
