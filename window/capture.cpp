#include "window/tesselgui.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QIcon>
#include <QImage>
#include <QMimeData>
#include <QPixmap>
#include <QTableWidget>

namespace {
const QString ImageFormat = QStringLiteral("application/x-qt-image");
const char FormatHeader[] =
    "The following is not the content, but the format of what is copied:\r\n";
const char LineEnd[] = "\r\n";
const int PreviewHeight = 128;
// Scaling only to the height would turn a 20000x1 image into a 2560000x128 pixmap (1.3 GB
// and seconds of work); the cell draws its icon within 128 by 128 anyway.
const int MaxPreviewWidth = 8 * PreviewHeight;

// Targets of the X11 selection protocol itself, which Qt lists among the formats. They
// describe the transfer, not the data, and cannot be offered back as data.
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

bool hasData(const QMimeData &data)
{
    const QStringList formats = data.formats();
    for (const QString &format : formats) {
        if (!isProtocolTarget(format))
            return true;
    }
    return false;
}

// Password managers mark what they copy so that clipboard tools leave it alone.
bool isMarkedSecret(const QMimeData &data)
{
    static const QString kdeHint = QStringLiteral("x-kde-passwordManagerHint");
    static const QString excludeFormat = QStringLiteral(
        "application/x-qt-windows-mime;value=\"ExcludeClipboardContentFromMonitorProcessing\"");
    static const QString historyFormat =
        QStringLiteral("application/x-qt-windows-mime;value=\"CanIncludeInClipboardHistory\"");

    const QStringList formats = data.formats();
    if (formats.contains(excludeFormat))
        return true;
    if (formats.contains(kdeHint) && data.data(kdeHint) == "secret")
        return true;
    if (formats.contains(historyFormat)) {
        const QByteArray flag = data.data(historyFormat);
        if (flag.size() >= 4 && flag.startsWith(QByteArray(4, '\0')))
            return true;
    }
    return false;
}

QImage toImage(QVariant value)
{
    if (value.userType() == QMetaType::QImage)
        return value.value<QImage>();
    if (value.convert(QMetaType::QImage))
        return value.value<QImage>();
    return QImage();
}
} // namespace

void TesselGui::clipboardDataChanged()
{
    if (!acceptChange) {
        acceptChange = collecting;
        return;
    }

    QClipboard *clipboard = QGuiApplication::clipboard();
    const QMimeData *source = clipboard->mimeData(QClipboard::Clipboard);
    // An emptied clipboard (on X11: its owner exited) and a marked secret take no slot:
    // either would cost the user the clip at the cursor for nothing worth pasting.
    if (!source || !hasData(*source) || isMarkedSecret(*source)) {
        acceptChange = collecting;
        return;
    }

    int slot = -1;
    for (int i = 0; i < MaxClips; ++i) {
        if (!clips[i]) {
            slot = i;
            break;
        }
    }
    if (slot < 0) {
        slot = nextSlot;
        nextSlot = slot + 1 == MaxClips ? 0 : slot + 1;
        delete clips[slot];
        clips[slot] = nullptr;
    }
    clips[slot] = cloneMimeData(source);

    QString description = QString::fromLatin1(FormatHeader);
    QImage image;
    const QStringList formats = source->formats();
    for (const QString &format : formats) {
        if (isProtocolTarget(format))
            continue;
        description += format;
        description += QLatin1String(LineEnd);
        if (format == ImageFormat)
            image = toImage(source->imageData());
    }

    const QString text = clipboard->text(QClipboard::Clipboard);
    QTableWidgetItem *content;
    if (!text.isEmpty()) {
        content = new QTableWidgetItem(text);
    } else if (image.isNull()) {
        content = new QTableWidgetItem(description);
    } else {
        table->setIconSize(QSize(PreviewHeight, PreviewHeight));
        table->setRowHeight(slot, PreviewHeight);
        const QPixmap preview = QPixmap::fromImage(image).scaled(
            MaxPreviewWidth, PreviewHeight, Qt::KeepAspectRatio, Qt::FastTransformation);
        content = new QTableWidgetItem(QIcon(preview), description);
    }
    content->setData(Qt::ToolTipRole, text);
    table->setItem(slot, 0, content);
    table->setItem(slot, 1, new QTableWidgetItem(QString("F%1").arg(slot + 1)));
    const QPixmap deleteIcon = platform::loadIcon(moduleHandle, platform::DeleteIconResource);
    table->setItem(slot, 2, new QTableWidgetItem(QIcon(deleteIcon), QString()));

    acceptChange = collecting;
}

QMimeData *TesselGui::cloneMimeData(const QMimeData *source)
{
    auto *copy = new QMimeData;
    const QStringList formats = source->formats();
    for (const QString &format : formats) {
        if (isProtocolTarget(format))
            continue;
        if (format == ImageFormat)
            copy->setImageData(source->imageData());
        else
            copy->setData(format, source->data(format));
    }
    return copy;
}
