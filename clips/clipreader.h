#pragma once

#include <QtGlobal>

#include <functional>
#include <memory>

class Clip;
class QMimeData;

struct ClipRead {
    // Asked before each request: false once another owner has the clipboard. The read then
    // ends, and what it has is not that owner's alone.
    std::function<bool()> ownerUnchanged;
    // A request that brought nothing after this long ran into Qt's 5 s clipboard timeout.
    qint64 stalledAfterMs = 1000;
    // Set by the read: the owner stopped answering, and was asked nothing more.
    bool stalled = false;
};

// The formats an owner offers that could be read, in its order, each once, an image once in
// one encoding. Null for a marked secret (recognised before anything else is read), a change
// with nothing readable, and a read that another owner cut short.
std::unique_ptr<Clip> readClip(const QMimeData *source, ClipRead &read);
