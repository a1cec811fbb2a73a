#pragma once

#include <memory>

class Clip;
class QMimeData;

// A clip of what a clipboard owner offers: the formats that could be read, in its order, each
// read once, an image once in one encoding; after a request that stalled, the owner is asked
// nothing more. Null for a marked secret (recognised before anything else is read) and for a
// change with nothing readable (an emptied clipboard, an owner that died or refused every
// format): neither is worth a slot. stalled, when given, tells whether the owner stopped
// answering.
std::unique_ptr<Clip> readClip(const QMimeData *source, bool *stalled = nullptr);
