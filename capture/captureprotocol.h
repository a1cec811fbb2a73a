#pragma once

#include <QByteArray>
#include <QtGlobal>

class QDataStream;
class QIODevice;

// What the window's process and its capture worker say to each other over the worker's
// standard input and output. Each message is a frame: its size as a quint64, then a QDataStream of
// the message type and its fields.
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

// The message a frame holds and the change it is about; in is left at the next field.
Message read(QDataStream &in, quint64 &change);

// Takes whole frames off a buffered channel as they complete, however many pieces they came in.
class FrameReader {
public:
    // The next complete frame, or false when it has not all arrived yet.
    bool next(QIODevice &channel, QByteArray &frame);

private:
    qint64 pending = -1; // the size of the frame being received, once its header is in
};

} // namespace captureprotocol
