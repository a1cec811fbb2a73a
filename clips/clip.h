#pragma once

#include <QByteArray>
#include <QImage>
#include <QMimeData>
#include <QString>
#include <QVector>

class QDataStream;

// Every format the owner gave, in its order. Large formats stay compressed and the image stays
// encoded; a paste decompresses or decodes only the format it asks for.
class Clip final : public QMimeData {
    Q_OBJECT

public:
    // The format under which Qt offers an image value.
    inline static const QString ImageFormat = QStringLiteral("application/x-qt-image");
    // Bounded in width too: a 16000x1 image would make a 2048000x128 preview.
    static constexpr int PreviewHeight = 128;
    static constexpr int MaxPreviewWidth = 8 * PreviewHeight;
    // More than a cell and its tooltip ever show, so that they still mark a cut text.
    static constexpr int TextHeadChars = 4096;

    // Keeps format's bytes, compressed when large and compressible; of a text also its head.
    void addData(const QString &format, const QByteArray &bytes);
    // The image, in the encoding the mime type encoding names; listed only if addData lists it.
    void setImage(const QString &encoding, const QByteArray &bytes);
    // Lists format (the image value, or an encoding Qt can write) as made from the image.
    void addImageFormat(const QString &format);

    QByteArray encodedImage() const { return imageBytes; }
    // False when the image declares a size too large to decode safely.
    bool imageCanBeDecoded() const;
    // Decodes the image once, where the clip is read, into its preview, ratio times finer for
    // a screen with ratio device pixels to the pixel.
    void makePreview(qreal ratio = 1);
    QImage preview() const { return thumbnail; }
    // At most TextHeadChars of the text: the window shows it without decompressing megabytes.
    QString textHead() const { return head; }
    // A new clip sharing this one's bytes, each format listed under nameFor(its name).
    Clip *copy(QString (*nameFor)(const QString &)) const;
    qint64 storedBytes() const;

    friend QDataStream &operator<<(QDataStream &out, const Clip &clip);
    friend QDataStream &operator>>(QDataStream &in, Clip &clip);

    QStringList formats() const override;
    bool hasFormat(const QString &format) const override;

protected:
    QVariant retrieveData(const QString &format, QVariant::Type type) const override;

private:
    struct Format {
        QString name;
        QByteArray bytes;
        bool compressed = false;
        bool fromImage = false;
    };
    const Format *find(const QString &format) const;

    QVector<Format> stored;
    QString imageEncoding;
    QByteArray imageBytes;
    QImage thumbnail;
    QString head;
};
