#pragma once

#include <QtGlobal>

#include <functional>
#include <memory>

class Clip;
class QMimeData;

struct ClipRead {
    // Asked before each request: false once another owner has the clipboard, which would
    // answer the rest. The read then ends, and what it has is not that owner's alone.
    std::function<bool()> ownerUnchanged;
    // A request that brought nothing after this long ran into the toolkit's clipboard
    // timeout (5 s in Qt): the owner has stopped answering.
    qint64 stalledAfterMs = 1000;
    // Set by the read: the owner stopped answering.
    bool stalled = false;
};

// A clip of what a clipboard owner offers: the formats that could be read, in its order, each
// read once, an image once in one encoding; after a request that stalled, the owner is asked
// nothing more. Null for a marked secret (recognised before anything else is read) and for a
// change with nothing readable (an emptied clipboard, an owner that died or refused every
// format): neither is worth a slot; nor is a read that another owner cut short.
std::unique_ptr<Clip> readClip(const QMimeData *source, ClipRead &&read = {});
std::unique_ptr<Clip> readClip(const QMimeData *source, ClipRead &read);
