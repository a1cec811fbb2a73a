#include "platform/platform.h"

#include "platform/wayland/wayland.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QImage>
#include <QImageReader>
#include <QMimeData>

#include <cerrno>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "wlr-data-control-unstable-v1-client.h"
#include <wayland-client.h>

namespace {

// As long as Qt waits for an X11 owner before it gives up on a request: a source that
// never writes, or never closes its end, costs this once; the read is then judged stalled
// and the source asked nothing more.
const int ReadTimeoutMs = 5000;
// What one format may hold. A source that writes on past it is read to its end or to the
// time limit, as one that writes forever would be, and the format is left out.
const qint64 MaxFormatBytes = qint64(512) << 20;
const int ReadChunkBytes = 64 * 1024;
// The name Qt's clipboard gives an image value.
const QString ImageValue = QStringLiteral("application/x-qt-image");

bool watching = false;
// The selection whose content the worker was last handed, by its number.
quint32 handedOutNumber = 0;

// A name for a set of types, the same in every process: which offer holds the selection
// cannot be told across processes, but what it offers can. Never 0 for a selection.
quint32 typesKey(const QStringList &types)
{
    const QByteArray digest =
        QCryptographicHash::hash(types.join(QLatin1Char('\n')).toUtf8(), QCryptographicHash::Md5);
    quint32 key = 0;
    std::memcpy(&key, digest.constData(), sizeof key);
    return key ? key : 1;
}

// An offer as readClip reads it: each request goes through a pipe of its own, within the
// time limit.
class OfferData final : public QMimeData {
public:
    explicit OfferData(std::shared_ptr<const wayland::Offer> offer) : offer(std::move(offer))
    {
        // As Qt's clipboard reader does, an image type brings the image value after the
        // source's types: a clip then knows it holds an image to preview.
        listed = this->offer->types;
        for (const QString &type : listed) {
            if (type.startsWith(QLatin1String("image/")) &&
                QImageReader::supportedMimeTypes().contains(type.toLatin1())) {
                listed << ImageValue;
                break;
            }
        }
    }

    QStringList formats() const override { return listed; }
    bool hasFormat(const QString &format) const override { return listed.contains(format); }

protected:
    QVariant retrieveData(const QString &format, QVariant::Type) const override
    {
        if (format == ImageValue)
            return imageValue();
        if (!offer->types.contains(format) || !wayland::isActive())
            return QVariant();
        int ends[2];
        if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
            return QVariant();
        zwlr_data_control_offer_v1_receive(offer->proxy, format.toUtf8().constData(), ends[1]);
        // The source has its own copy of the write end once the request is out; ours would
        // keep the pipe open after the source closed it.
        wl_display_flush(wayland::globals().display);
        close(ends[1]);
        const QByteArray bytes = readAll(ends[0]);
        close(ends[0]);
        return bytes.isNull() ? QVariant() : QVariant(bytes);
    }

private:
    // The image decoded from the first image type, as Qt's reader makes it.
    QVariant imageValue() const
    {
        if (!listed.contains(ImageValue))
            return QVariant();
        for (const QString &type : offer->types) {
            if (!type.startsWith(QLatin1String("image/")))
                continue;
            const QImage image =
                QImage::fromData(retrieveData(type, QVariant::ByteArray).toByteArray());
            return image.isNull() ? QVariant() : QVariant(image);
        }
        return QVariant();
    }

    // What the source wrote up to its closing its end; null when it did not close it in
    // time or wrote too much.
    static QByteArray readAll(int fd)
    {
        QByteArray bytes(""); // null once the source wrote too much
        QElapsedTimer timer;
        timer.start();
        for (;;) {
            const qint64 left = ReadTimeoutMs - timer.elapsed();
            pollfd readable = {fd, POLLIN, 0};
            if (left <= 0 || poll(&readable, 1, int(left)) == 0)
                return QByteArray();
            char chunk[ReadChunkBytes];
            const ssize_t got = read(fd, chunk, sizeof chunk);
            if (got < 0 && (errno == EAGAIN || errno == EINTR))
                continue;
            if (got <= 0)
                return got == 0 ? bytes : QByteArray();
            if (!bytes.isNull() && bytes.size() + got <= MaxFormatBytes)
                bytes.append(chunk, int(got));
            else
                bytes = QByteArray();
        }
    }

    const std::shared_ptr<const wayland::Offer> offer;
    QStringList listed;
};

std::unique_ptr<OfferData> handedOut;

} // namespace

namespace wayland {

void watchClipboardOwner()
{
    // The device follows the selection since the connection was made.
    watching = true;
}

platform::ClipboardStamp clipboardStamp()
{
    // Only the window's connection numbers the selections alike for every worker: a
    // worker names the selection by its types and leaves the number to the window's
    // stamp, which readChange takes over when the types agree.
    if (watching)
        dispatchPending();
    else
        catchUp();
    const Selection &now = selection();
    return {now.offer ? typesKey(now.offer->types) : 0, watching ? 0 : now.number};
}

platform::OwnerChange ownerChangeSince(const platform::ClipboardStamp &)
{
    // The stamp a read carries may be the window's; what the worker knows itself is
    // whether a selection came after the one it was handed.
    dispatchPending();
    if (selection().number == handedOutNumber)
        return platform::OwnerChange::None;
    // Our own paste cannot be told from another program's here: either way the source
    // being read is gone.
    return selection().offer ? platform::OwnerChange::ToOther : platform::OwnerChange::Emptied;
}

void onClipboardChange(std::function<void()> changed)
{
    onSelection([changed] {
        // Not from inside a read that happened to take the event in.
        QMetaObject::invokeMethod(QCoreApplication::instance(), changed, Qt::QueuedConnection);
    });
    // Without the compositor there is no clipboard to follow: the window starts another.
    onLoss([] { QCoreApplication::exit(1); });
    dispatchFromEventLoop();
}

const QMimeData *clipboardContent()
{
    dispatchPending();
    const Selection &now = selection();
    handedOutNumber = now.number;
    handedOut = now.offer ? std::make_unique<OfferData>(now.offer) : nullptr;
    return handedOut.get();
}

} // namespace wayland
