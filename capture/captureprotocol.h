#pragma once

#include "platform/platform.h"

#include <QByteArray>
#include <QtGlobal>

#include <functional>

class QDataStream;
class QIODevice;

// What the window's process and its capture worker say to each other over the worker's
// standard input and output. Each message is a frame: its size as a quint64, then a
// QDataStream of the message type and its fields.
namespace captureprotocol {

enum class Message : quint8 {
    Ready,   // worker: watching the clipboard; its client id follows
    Changed, // worker: the clipboard changed; a change number and the new owner's stamp follow
    Read,    // window: read that change, unless it is the copy last settled
    Clip,    // worker: the clip read for a change; the change, its stamp and the clip follow
    Nothing, // worker: the change held nothing worth a slot, or was superseded while read
    Ping,    // window: are you there?
    Pong,    // worker: yes
    Restart, // worker: an owner stalled; replace me (Qt would take its late answer for another)
};

// What every frame starts with; a Clip frame's clip follows it.
struct Header {
    Message message = Message::Ping;
    quint64 change = 0;
    // Ready: the worker's client id. Changed, Clip, Nothing: the owner's stamp. Read: the
    // stamp of the copy the window settled last.
    quint64 stamp = 0;
    // Read: the owner as the window last saw it, for a worker that has seen no change yet.
    quint64 current = 0;
};

quint64 pack(const platform::ClipboardStamp &stamp);
platform::ClipboardStamp unpack(quint64 stamp);

QByteArray frame(const Header &header);
void send(QIODevice &channel, const QByteArray &frame);
// Sends a header and what write puts on a stream. write is called twice, to measure the frame
// and then onto the channel, so that a clip's megabytes are not copied into a frame first.
void send(QIODevice &channel, const Header &header,
          const std::function<void(QDataStream &)> &write);

// The header a frame starts with; in is left at the next field.
Header read(QDataStream &in);

// Waits for whole frames on a buffered channel, so that a frame is read straight off the
// channel's buffer, without a copy of megabytes first.
class FrameReader {
public:
    // Whether the next frame has all arrived: it is then read from channel, then done called.
    bool complete(QIODevice &channel);
    // Skips what was not read of the frame; false when more than the frame was read.
    bool done(QIODevice &channel);

private:
    qint64 pending = -1;  // the size of the frame being received, once its header is in
    qint64 available = 0; // what the channel held when the frame was complete
};

} // namespace captureprotocol
