#include "clip.h"

#ifdef TESSEL_PNG_PREVIEW
#include "clips/pngpreview.h"
#endif

#include <QBuffer>
#include <QDataStream>
#include <QImageReader>
#include <QImageWriter>
#include <QTextCodec>
#include <QTextDecoder>
#include <QTransform>

#include <optional>

namespace {
// Below this a format is kept as it came: compressing it would save little.
const int CompressFrom = 64 * 1024;
// zlib's fastest level shrinks big texts and office formats several times at hundreds of MB/s.
const int CompressionLevel = 1;
const int MaxImageSide = 16384;
const qint64 MaxImagePixels = 128LL * 1000 * 1000;

// A few hundred bytes of PNG can declare a picture of gigabytes: such a one is never decoded.
bool decodable(const QSize &size)
{
    return size.isValid() && size.width() <= MaxImageSide && size.height() <= MaxImageSide &&
           qint64(size.width()) * size.height() <= MaxImagePixels;
}

// The image handler's name for a mime type: image/x-portable-pixmap, and also image/ppm, as Qt
// names an image format on X11 ("image/" and the handler's name).
QByteArray imageFormatFor(const QString &mimeType)
{
    const QList<QByteArray> formats = QImageWriter::imageFormatsForMimeType(mimeType.toLatin1());
    if (!formats.isEmpty())
        return formats.first();
    return mimeType.startsWith(QLatin1String("image/")) ? mimeType.mid(6).toLatin1() : QByteArray();
}

// Decoded as QMimeData decodes text, but only the head: a 100 MiB text would be 200 MB.
QString decodeHead(const QByteArray &bytes)
{
    QTextDecoder decoder(QTextCodec::codecForUtfText(bytes, QTextCodec::codecForName("UTF-8")));
    QString head = decoder.toUnicode(
        bytes.constData(), int(qMin<qint64>(bytes.size(), qint64(Clip::TextHeadChars) * 4)));
    head.truncate(Clip::TextHeadChars);
    return head;
}
} // namespace

void Clip::addData(const QString &format, const QByteArray &bytes)
{
    // The text shown is the one QMimeData::text() gives: the UTF-8 variant, else text/plain.
    static const QString utf8Text = QStringLiteral("text/plain;charset=utf-8");
    if (format == utf8Text || (format == QLatin1String("text/plain") && !hasFormat(utf8Text)))
        head = decodeHead(bytes);
    // Compressed only when it saves at least an eighth. Already compressed data (a PNG, a
    // JPEG, an archive) is told by its head, before megabytes are compressed for nothing.
    const auto saves = [](const QByteArray &packed, int size) {
        return !packed.isEmpty() && packed.size() < size - size / 8;
    };
    QByteArray packed;
    if (bytes.size() >= CompressFrom &&
        saves(qCompress(bytes.left(CompressFrom), CompressionLevel), CompressFrom))
        packed = qCompress(bytes, CompressionLevel);
    const bool compressed = saves(packed, bytes.size());
    stored.append({format, compressed ? packed : bytes, compressed});
}

void Clip::setImage(const QString &encoding, const QByteArray &bytes)
{
    imageEncoding = encoding;
    imageBytes = bytes;
}

void Clip::addImageFormat(const QString &format)
{
    stored.append({format, QByteArray(), false, true});
}

const Clip::Format *Clip::find(const QString &format) const
{
    for (const Format &entry : stored) {
        if (entry.name == format)
            return &entry;
    }
    return nullptr;
}

QStringList Clip::formats() const
{
    QStringList names;
    for (const Format &entry : stored)
        names << entry.name;
    return names;
}

bool Clip::hasFormat(const QString &format) const
{
    return find(format) != nullptr;
}

bool Clip::imageCanBeDecoded() const
{
    QBuffer buffer(const_cast<QByteArray *>(&imageBytes));
    return !imageBytes.isEmpty() &&
           decodable(QImageReader(&buffer, imageFormatFor(imageEncoding)).size());
}

void Clip::makePreview(qreal ratio)
{
    QBuffer buffer(&imageBytes);
    QImageReader reader(&buffer, imageFormatFor(imageEncoding));
    const QSize size = imageBytes.isEmpty() ? QSize() : reader.size();
    if (!decodable(size))
        return;
    // Qt's fast scale to the preview's height, or to its width when the picture is too wide; a
    // side that would round to nothing keeps one pixel.
    const double factor =
        qMin(PreviewHeight * ratio / size.height(), MaxPreviewWidth * ratio / size.width());
    const double scaleX = qRound(size.width() * factor) > 0 ? factor : 1.0 / size.width();
    const double scaleY = qRound(size.height() * factor) > 0 ? factor : 1.0 / size.height();
    std::optional<QImage> preview;
#ifdef TESSEL_PNG_PREVIEW
    // Qt scales the images it decodes as Mono, MonoLSB and Indexed8 its own way.
    if (reader.format() == "png")
        preview =
            pngPreview(imageBytes, scaleX, scaleY, reader.imageFormat() <= QImage::Format_Indexed8);
#endif
    // Else the whole picture is decoded, 33 MB for a 4K one: a scaled read would not, but smooths.
    thumbnail = preview ? *preview
                        : reader.read().transformed(QTransform::fromScale(scaleX, scaleY),
                                                    Qt::FastTransformation);
    thumbnail.setDevicePixelRatio(ratio);
}

Clip *Clip::copy(QString (*nameFor)(const QString &)) const
{
    auto *other = new Clip;
    other->stored = stored;
    for (Format &entry : other->stored)
        entry.name = nameFor(entry.name);
    other->imageEncoding = imageEncoding;
    other->imageBytes = imageBytes;
    other->thumbnail = thumbnail;
    other->head = head;
    return other;
}

qint64 Clip::storedBytes() const
{
    qint64 total = imageBytes.size() + head.size() * qint64(sizeof(QChar));
    for (const Format &entry : stored) {
        // Bytes shared with the image count once.
        if (!entry.bytes.isSharedWith(imageBytes))
            total += entry.bytes.size();
    }
    return total;
}

QVariant Clip::retrieveData(const QString &format, QVariant::Type type) const
{
    const Format *entry = find(format);
    if (!entry)
        return QVariant();
    if (!entry->fromImage)
        return entry->compressed ? qUncompress(entry->bytes) : entry->bytes;
    // Qt's byte form of an image value is PNG: a stored PNG goes out as it is, not decoded
    // and encoded again while the receiver waits.
    if (format == Clip::ImageFormat && type == QVariant::ByteArray &&
        imageEncoding == QLatin1String("image/png") && imageCanBeDecoded())
        return imageBytes;
    const QImage image =
        imageCanBeDecoded()
            ? QImage::fromData(imageBytes, imageFormatFor(imageEncoding).constData())
            : QImage();
    if (image.isNull())
        return QVariant();
    if (format == Clip::ImageFormat || type == QVariant::Image)
        return image;
    QByteArray encoded;
    QBuffer buffer(&encoded);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, imageFormatFor(format));
    return writer.write(image) ? QVariant(encoded) : QVariant();
}

// The stored form as it is, so that the window's process does not do the work again; a format
// that holds the image's own bytes says so instead of sending megabytes twice.
QDataStream &operator<<(QDataStream &out, const Clip &clip)
{
    // A stream keeps an image's pixels, not its device pixel ratio.
    out << clip.imageEncoding << clip.imageBytes << clip.thumbnail
        << clip.thumbnail.devicePixelRatio() << clip.head << quint32(clip.stored.size());
    for (const Clip::Format &entry : clip.stored) {
        const bool isImage = !entry.bytes.isEmpty() && entry.bytes.isSharedWith(clip.imageBytes);
        out << entry.name << (isImage ? QByteArray() : entry.bytes) << entry.compressed
            << entry.fromImage << isImage;
    }
    return out;
}

QDataStream &operator>>(QDataStream &in, Clip &clip)
{
    quint32 count = 0;
    qreal ratio = 1;
    in >> clip.imageEncoding >> clip.imageBytes >> clip.thumbnail >> ratio >> clip.head >> count;
    clip.thumbnail.setDevicePixelRatio(ratio);
    clip.stored.clear();
    for (quint32 i = 0; i < count && in.status() == QDataStream::Ok; ++i) {
        Clip::Format entry;
        bool isImage = false;
        in >> entry.name >> entry.bytes >> entry.compressed >> entry.fromImage >> isImage;
        if (isImage)
            entry.bytes = clip.imageBytes;
        clip.stored.append(entry);
    }
    return in;
}
