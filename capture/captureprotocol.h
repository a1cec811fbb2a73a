#pragma once

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
    Ready,   // worker: watching the clipboard; what it holds now is its change 0
    Changed, // worker: the clipboard changed; a change number follows
    Read,    // window: read that change
    Skip,    // window: leave that change alone (ours, or collecting is paused)
    Clip,    // worker: the clip read for a change; the change number and the clip follow
    Nothing, // worker: the change held nothing worth a slot
    Ping,    // window: are you there?
    Pong,    // worker: yes
    Restart, // worker: an owner stalled; replace me (Qt would take its late answer for another)
};

// A message about a change; the clip of a Clip message follows in the same frame.
QByteArray frame(Message message, quint64 change = 0);

void send(QIODevice &channel, const QByteArray &frame);

// Sends a message about a change followed by the fields that write puts on a stream. write
// is called twice, to measure the frame and then straight onto the channel, so that the
// megabytes of a clip are not copied into a frame first.
void send(QIODevice &channel, Message message, quint64 change,
          const std::function<void(QDataStream &)> &write);

// The message a frame holds and the change it is about; in is left at the next field.
Message read(QDataStream &in, quint64 &change);

// Waits for whole frames on a buffered channel, however many pieces they come in, so that
// a frame is read straight off the channel's buffer, without a copy of megabytes first.
class FrameReader {
public:
    // Whether the next frame has all arrived: it is then read from channel, then done called.
    bool complete(QIODevice &channel);
    // Skips what was not read of the frame. False when more than the frame was read: the
    // channel carries something else than frames.
    bool done(QIODevice &channel);

private:
    qint64 pending = -1;  // the size of the frame being received, once its header is in
    qint64 available = 0; // what the channel held when the frame was complete
};

} // namespace captureprotocol
