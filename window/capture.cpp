#include "window/tesselgui.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QIconEngine>
#include <QPainter>
#include <QTableWidget>

namespace {
const int DeleteIconSize = 32;

// Sizes the delete icon in the window's own pixels: Qt 5 would draw the 64-pixel picture made
// for a screen at 200% twice as big.
class DeleteIconEngine final : public QIconEngine {
public:
    explicit DeleteIconEngine(const QIcon &icon) : icon(icon) {}
    QSize actualSize(const QSize &size, QIcon::Mode, QIcon::State) override
    {
        return size.boundedTo(QSize(DeleteIconSize, DeleteIconSize));
    }
    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State state) override
    {
        icon.paint(painter, rect, Qt::AlignCenter, mode, state);
    }
    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        return icon.pixmap(size, mode, state);
    }
    QIconEngine *clone() const override { return new DeleteIconEngine(icon); }

private:
    QIcon icon;
};
} // namespace

void TesselGui::clipboardDataChanged()
{
    if (capture.isActive()) {
        // The worker reads the owners' changes; the window only watches that it does.
        capture.clipboardChanged();
        return;
    }
    // Qt can report an earlier owner's change late, while the clipboard already holds our
    // paste: what we own is ours, whatever the notice says.
    store.capture(QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard),
                  platform::clipboardIsOurs() ? ClipStore::Origin::Ours : ClipStore::Origin::Owner);
}

void TesselGui::startCaptureWorker()
{
    capture.start();
}

void TesselGui::showSlot(int slot)
{
    const Clip *clip = store.clip(slot);
    if (!clip) {
        for (int column = 0; column < ColumnCount; ++column)
            table->setItem(slot, column, new QTableWidgetItem(QString()));
        return;
    }

    QString description =
        QString("The following is not the content, but the format of what is copied:\r\n");
    const QStringList formats = clip->formats();
    for (const QString &format : formats)
        description += format + QLatin1String("\r\n");

    // The text, else an image preview, else the formats.
    const QString text = clip->textHead();
    auto *content = new QTableWidgetItem(text.isEmpty() ? description : text);
    if (text.isEmpty() && !clip->preview().isNull()) {
        table->setIconSize(QSize(Clip::PreviewHeight, Clip::PreviewHeight));
        table->setRowHeight(slot, Clip::PreviewHeight);
        content->setIcon(QIcon(QPixmap::fromImage(clip->preview())));
    }
    content->setData(Qt::ToolTipRole, text);
    table->setItem(slot, ContentColumn, content);
    table->setItem(slot, ShortcutColumn, new QTableWidgetItem(QStringLiteral("F%1").arg(slot + 1)));
    const QIcon picture = platform::deleteIcon();
    table->setItem(
        slot, DeleteColumn,
        new QTableWidgetItem(picture.isNull() ? QIcon() : QIcon(new DeleteIconEngine(picture)),
                             QString()));
}
