#pragma once

#include <optional>

class QByteArray;
class QImage;

// The picture Qt decodes (indexed: as an indexed or 1-bit image) in Qt's fast scale by these
// factors, sampled from libpng's rows as they come: never the 33 MB of a decoded 4K picture.
// Null when libpng rejects the PNG; nothing for an interlaced one, complete only at the end.
std::optional<QImage> pngPreview(const QByteArray &png, double scaleX, double scaleY, bool indexed);
