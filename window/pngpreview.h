#pragma once

class QByteArray;
class QImage;
class QSize;

// A PNG scaled to size (nearest pixel), keeping only the pixels the preview shows of rows
// decoded one after the other: Qt's reader would first fill 33 MB for a 4K picture. Null for
// an interlaced PNG, whose rows are complete only at the end, and for a damaged one.
QImage pngPreview(const QByteArray &png, const QSize &size);
