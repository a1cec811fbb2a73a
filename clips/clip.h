#pragma once

#include <QByteArray>
#include <QImage>
#include <QMimeData>
#include <QString>
#include <QVector>

class QDataStream;

// A stored clip: every format the owner gave, in its order. Large formats are kept
// compressed and the image stays encoded; a paste decompresses or decodes only the format
// it asks for, so a clip costs about what its encoded bytes cost.
class Clip final : public QMimeData {
    Q_OBJECT

public:
    // The format under which Qt offers an image value.
    inline static const QString ImageFormat = QStringLiteral("application/x-qt-image");
    // The preview of an image is this high, and at most this wide: scaled only to the height,
    // a 16000x1 image would make a 2048000x128 pixmap, and the cell shows 128 by 128 anyway.
    static constexpr int PreviewHeight = 128;
    static constexpr int MaxPreviewWidth = 8 * PreviewHeight;
    // A row keeps this much of a text: more than its cell and tooltip ever show, so that they
    // still mark a cut text.
    static constexpr int TextHeadChars = 4096;

    // Keeps format's bytes, compressed when they are large and compress well; of a text also
    // its head, decoded here.
    void addData(const QString &format, const QByteArray &bytes);
    // Makes bytes, in the encoding named by the mime type encoding, the clip's image. They
    // are not listed as a format of their own unless addData lists them too.
    void setImage(const QString &encoding, const QByteArray &bytes);
    // Lists format (the image format, or an encoding Qt can write) as made from the image
    // on request.
    void addImageFormat(const QString &format);

    // The image's bytes as stored; empty when the clip has no image.
    QByteArray encodedImage() const { return imageBytes; }
    // False when the image declares a size too large to decode safely.
    bool imageCanBeDecoded() const;
    // Decodes the image once, where the clip is read, into its small preview; on a screen with
    // ratio device pixels to the pixel, that many times finer (its device pixel ratio says so).
    void makePreview(qreal ratio = 1);
    // The image's preview; null when there is none to show.
    QImage preview() const { return thumbnail; }
    // The start of the text, at most TextHeadChars characters: the window shows it without
    // decompressing megabytes.
    QString textHead() const { return head; }
    // A new clip sharing this one's stored bytes, each format listed under nameFor(its name).
    Clip *copy(QString (*nameFor)(const QString &)) const;
    // What the clip holds, in bytes.
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
    QImage decodeImage() const;

    QVector<Format> stored;
    QString imageEncoding;
    QByteArray imageBytes;
    QImage thumbnail;
    QString head;
};
