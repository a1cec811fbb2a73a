#include "clipreader.h"

#include "platform/platform.h"
#include "clips/clip.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QMimeData>
#include <QStringList>

#include <algorithm>

namespace {
// PNG quality 80 is zlib's level 1: a 4K image is encoded in a fraction of the default's time.
const int FastPngQuality = 80;

// The X11 selection protocol's own targets, which Qt lists among the formats: they describe
// the transfer, not the data.
bool isProtocolTarget(const QString &format)
{
    static const QStringList targets = {
        QStringLiteral("TARGETS"),         QStringLiteral("MULTIPLE"),
        QStringLiteral("TIMESTAMP"),       QStringLiteral("SAVE_TARGETS"),
        QStringLiteral("DELETE"),          QStringLiteral("INSERT_SELECTION"),
        QStringLiteral("INSERT_PROPERTY"),
    };
    return targets.contains(format);
}

// Gives up on the owner after its first request that timed out, or once another owner took
// the clipboard.
class OwnerReader {
public:
    OwnerReader(const QMimeData &source, ClipRead &read) : source(source), limits(read) {}

    // Null when the owner refused or never answered.
    QVariant read(const QString &format)
    {
        if (limits.stalled || !unchanged())
            return QVariant();
        QElapsedTimer timer;
        timer.start();
        QVariant value =
            format == Clip::ImageFormat ? source.imageData() : QVariant(source.data(format));
        const bool empty =
            format == Clip::ImageFormat ? value.isNull() : value.toByteArray().isEmpty();
        if (empty) {
            limits.stalled = timer.elapsed() >= limits.stalledAfterMs;
            return QVariant();
        }
        return value;
    }

    // False once another owner has taken the clipboard: then nothing read is kept.
    bool unchanged()
    {
        cut = cut || (limits.ownerUnchanged && !limits.ownerUnchanged());
        return !cut;
    }

private:
    const QMimeData &source;
    ClipRead &limits;
    bool cut = false;
};

// Password managers mark what they copy so that clipboard tools leave it alone. A mark that
// is listed but cannot be read counts as set: a refusal must not let a password through.
bool isMarkedSecret(const QStringList &formats, OwnerReader &reader)
{
    static const QString kdeHint = QStringLiteral("x-kde-passwordManagerHint");
    static const QString excludeFormat = QStringLiteral(
        "application/x-qt-windows-mime;value=\"ExcludeClipboardContentFromMonitorProcessing\"");
    static const QString historyFormat =
        QStringLiteral("application/x-qt-windows-mime;value=\"CanIncludeInClipboardHistory\"");

    if (formats.contains(excludeFormat))
        return true;
    if (formats.contains(kdeHint)) {
        const QVariant hint = reader.read(kdeHint);
        if (hint.isNull() || hint.toByteArray().trimmed() == "secret")
            return true;
    }
    if (formats.contains(historyFormat)) {
        const QVariant flag = reader.read(historyFormat);
        if (flag.isNull() || flag.toByteArray().startsWith(QByteArray(4, '\0')))
            return true;
    }
    return false;
}

// The encodings Qt writes from an image value: a paste gets them again from the stored image.
const QStringList &regeneratedImageTypes()
{
    static const QStringList types = [] {
        QStringList names;
        for (const QByteArray &type : QImageWriter::supportedMimeTypes())
            names << QString::fromLatin1(type);
        // On X11 Qt also names each format "image/" and its handler's name (image/ppm).
        for (const QByteArray &format : QImageWriter::supportedImageFormats())
            names << QStringLiteral("image/") + QString::fromLatin1(format.toLower());
        names.removeDuplicates();
        return names;
    }();
    return types;
}

// Reads the image once, in one encoding, into clip, also one the reader lists only as an image
// value (hasImage). Returns the encoding, or an empty string when there is no image to be had.
QString readImage(const QStringList &formats, bool hasImage, OwnerReader &reader, Clip &clip)
{
    // A lossless encoding, the most compact first; else any that Qt can read.
    QStringList types = {QStringLiteral("image/png"), QStringLiteral("image/bmp"),
                         QStringLiteral("image/x-portable-pixmap"), QStringLiteral("image/tiff")};
    for (const QByteArray &type : QImageReader::supportedMimeTypes())
        types << QString::fromLatin1(type);
    types.removeDuplicates();
    for (const QString &type : qAsConst(types)) {
        const QVariant bytes = formats.contains(type) ? reader.read(type) : QVariant();
        if (!bytes.isNull()) {
            clip.setImage(type, bytes.toByteArray());
            return type;
        }
    }
    if (!hasImage)
        return QString();
    // Only an image value (an in-process copy, or a Windows bitmap): kept as a PNG made with
    // the fastest compression.
    const QImage image = qvariant_cast<QImage>(reader.read(Clip::ImageFormat));
    if (image.isNull())
        return QString();
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    writer.setQuality(FastPngQuality);
    if (!writer.write(image))
        return QString();
    clip.setImage(QStringLiteral("image/png"), png);
    return Clip::ImageFormat;
}

} // namespace

std::unique_ptr<Clip> readClip(const QMimeData *source, ClipRead &read)
{
    if (!source)
        return nullptr;
    QStringList formats = source->formats();
    formats.erase(std::remove_if(formats.begin(), formats.end(), isProtocolTarget), formats.end());
    const bool hasImage = formats.contains(Clip::ImageFormat);
    // An image value the owner never offered, offered back, would make Qt offer every image
    // type it can write (and on Windows a bitmap too); its image is still read.
    if (hasImage && platform::readerAddsImageValue(formats))
        formats.removeOne(Clip::ImageFormat);
    OwnerReader reader(*source, read);
    if (formats.isEmpty() || !reader.unchanged() || isMarkedSecret(formats, reader))
        return nullptr;
    // A file manager drops a cut from the clipboard once its files are read (pcmanfm does,
    // after x-special/gnome-copied-files): the mark that makes it a cut is read first.
    static const QString cutMark = QStringLiteral("application/x-kde-cutselection");
    const QVariant cut = formats.contains(cutMark) ? reader.read(cutMark) : QVariant();
    auto clip = std::make_unique<Clip>();
    const QString imageType = readImage(formats, hasImage, reader, *clip);
    const bool image = !imageType.isEmpty();
    for (const QString &format : formats) {
        if (image && format == imageType && format != Clip::ImageFormat) {
            clip->addData(format, clip->encodedImage());
        } else if (image &&
                   (format == Clip::ImageFormat || regeneratedImageTypes().contains(format))) {
            clip->addImageFormat(format);
        } else if (format != Clip::ImageFormat) {
            const QVariant value = format == cutMark ? cut : reader.read(format);
            if (!value.isNull())
                clip->addData(format, value.toByteArray());
        }
    }
    // Whatever came after another owner took over may be that owner's.
    if ((!image && clip->formats().isEmpty()) || !reader.unchanged())
        return nullptr;
    // A text wins over the image in the row; a text listed but refused or empty shows nothing.
    if (hasImage && clip->textHead().isEmpty())
        clip->makePreview(qGuiApp ? qGuiApp->devicePixelRatio() : 1.0);
    return clip;
}
