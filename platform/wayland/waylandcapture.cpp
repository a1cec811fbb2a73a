#include "platform/platform.h"

#include "platform/wayland/wayland.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QHash>
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

// As long as Qt waits for an X11 owner: a source that never writes, or never closes its end,
// costs this once; the read is then judged stalled and the source asked nothing more.
const int ReadTimeoutMs = 5000;
// What one format may hold; a source writing on past it is read to its end or to the time
// limit, and the format is left out.
const qint64 MaxFormatBytes = qint64(512) << 20;
const int ReadChunkBytes = 64 * 1024;
// An offer listing more types than this is cut: each type costs a request, and no program
// offers one thing in so many formats.
const int MaxOfferTypes = 256;
// The name Qt's clipboard gives an image value.
const QString ImageValue = QStringLiteral("application/x-qt-image");

// What another client offers: its types in the source's order, each read through a pipe of
// its own within the time limit. Shared, so a read outlives the selection it began with.
class Offer final : public QMimeData {
public:
    explicit Offer(zwlr_data_control_offer_v1 *proxy) : proxy(proxy) {}
    ~Offer() override
    {
        if (wayland::isActive())
            zwlr_data_control_offer_v1_destroy(proxy);
    }

    QStringList formats() const override
    {
        // As Qt's clipboard reader does, an image type brings the image value after the
        // source's types: a clip then knows it holds an image to preview.
        const QList<QByteArray> readable = QImageReader::supportedMimeTypes();
        for (const QString &type : types) {
            if (type.startsWith(QLatin1String("image/")) && readable.contains(type.toLatin1()))
                return types + QStringList(ImageValue);
        }
        return types;
    }
    bool hasFormat(const QString &format) const override { return formats().contains(format); }

    zwlr_data_control_offer_v1 *const proxy;
    QStringList types;

protected:
    QVariant retrieveData(const QString &format, QVariant::Type) const override
    {
        if (format == ImageValue)
            return imageValue();
        if (!types.contains(format) || !wayland::isActive())
            return QVariant();
        int ends[2];
        if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
            return QVariant();
        zwlr_data_control_offer_v1_receive(proxy, format.toUtf8().constData(), ends[1]);
        // Once the request is out the source has its own write end; ours would keep it open.
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
        if (!hasFormat(ImageValue))
            return QVariant();
        for (const QString &type : types) {
            if (!type.startsWith(QLatin1String("image/")))
                continue;
            const QImage image =
                QImage::fromData(retrieveData(type, QVariant::ByteArray).toByteArray());
            return image.isNull() ? QVariant() : QVariant(image);
        }
        return QVariant();
    }

    // What the source wrote until it closed its end; null if that took too long or too much.
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
};

// The selection as the device has it.
struct Selection {
    std::shared_ptr<Offer> offer; // null when empty
    quint32 number = 0;           // counts the selection events this process heard
};
Selection current;
// Offers introduced whose selection event has not come yet.
QHash<zwlr_data_control_offer_v1 *, std::shared_ptr<Offer>> introduced;
std::function<void()> selectionChanged;

void offerType(void *data, zwlr_data_control_offer_v1 *, const char *type)
{
    auto *offer = static_cast<Offer *>(data);
    const QString name = QString::fromUtf8(type);
    // Each type once, as X11 targets are.
    if (offer->types.size() < MaxOfferTypes && !offer->types.contains(name))
        offer->types << name;
}
const zwlr_data_control_offer_v1_listener offerListener = {offerType};

void dataOffer(void *, zwlr_data_control_device_v1 *, zwlr_data_control_offer_v1 *proxy)
{
    auto offer = std::make_shared<Offer>(proxy);
    zwlr_data_control_offer_v1_add_listener(proxy, &offerListener, offer.get());
    introduced.insert(proxy, std::move(offer));
}

void selectionEvent(void *, zwlr_data_control_device_v1 *, zwlr_data_control_offer_v1 *proxy)
{
    current.offer = proxy ? introduced.take(proxy) : nullptr;
    ++current.number;
    if (selectionChanged)
        selectionChanged();
}

void primarySelection(void *, zwlr_data_control_device_v1 *, zwlr_data_control_offer_v1 *proxy)
{
    // The mouse selection is not watched: its offer goes as it came.
    if (proxy)
        introduced.remove(proxy);
}

void finished(void *, zwlr_data_control_device_v1 *)
{
    // The seat went away, and with it the clipboard we follow.
    wayland::lose();
}

const zwlr_data_control_device_v1_listener deviceListener = {dataOffer, selectionEvent, finished,
                                                             primarySelection};

bool watching = false;
// The selection whose content the worker was last handed, by its number.
quint32 handedOutNumber = 0;

// A name for a set of types, the same in every process (unlike an offer's). Never 0.
quint32 typesKey(const QStringList &types)
{
    const QByteArray digest =
        QCryptographicHash::hash(types.join(QLatin1Char('\n')).toUtf8(), QCryptographicHash::Md5);
    quint32 key = 0;
    std::memcpy(&key, digest.constData(), sizeof key);
    return key ? key : 1;
}

std::shared_ptr<Offer> handedOut;

} // namespace

namespace wayland {

void followSelection()
{
    zwlr_data_control_device_v1_add_listener(globals().device, &deviceListener, nullptr);
}

void watchClipboardOwner()
{
    // The device follows the selection since the connection was made.
    watching = true;
}

platform::ClipboardStamp clipboardStamp()
{
    // Only the window numbers selections alike for every worker: a worker names one by its
    // types and leaves the number to the window's stamp, taken over when the types agree.
    if (watching)
        dispatchPending();
    else
        catchUp();
    return {current.offer ? typesKey(current.offer->types) : 0, watching ? 0 : current.number};
}

platform::OwnerChange ownerChangeSince(const platform::ClipboardStamp &)
{
    // The stamp may be the window's; the worker knows whether a selection followed its own.
    dispatchPending();
    if (current.number == handedOutNumber)
        return platform::OwnerChange::None;
    // Our own paste looks like another program's here: either way the source is gone.
    return current.offer ? platform::OwnerChange::ToOther : platform::OwnerChange::Emptied;
}

void onClipboardChange(std::function<void()> changed)
{
    selectionChanged = [changed] {
        // Not from inside a read that happened to take the event in.
        QMetaObject::invokeMethod(QCoreApplication::instance(), changed, Qt::QueuedConnection);
    };
    // Without the compositor there is no clipboard to follow: the window starts another.
    onLoss([] { QCoreApplication::exit(1); });
    dispatchFromEventLoop();
}

const QMimeData *clipboardContent()
{
    dispatchPending();
    handedOutNumber = current.number;
    handedOut = current.offer;
    return handedOut.get();
}

} // namespace wayland
