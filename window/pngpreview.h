#pragma once

class QByteArray;
class QImage;
class QSize;

// A PNG scaled to size (nearest pixel) from its rows as they are unfiltered one after the
// other, without the 33 MB that Qt's reader fills for a 4K picture: the usual 8-bit PNG is
// inflated here, any other is read by libpng, a row at a time both.
// Null for an interlaced PNG, whose rows are complete only at the end, and for a damaged one.
QImage pngPreview(const QByteArray &png, const QSize &size);
