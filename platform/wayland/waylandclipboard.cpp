#include "platform/wayland/wayland.h"

#include <QCoreApplication>
#include <QMimeData>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cstdio>
#include <memory>

#include <fcntl.h>
#include <unistd.h>

#include "wlr-data-control-unstable-v1-client.h"
#include <wayland-client.h>

namespace {

// A receiver that takes no more of a format for this long is given up on, freeing the copy.
const int WriteGiveUpMs = 60000;

// Writes one format to one receiver from the event loop: one that never reads holds up
// nothing but itself.
class Writer final : public QObject {
public:
    Writer(int fd, QByteArray bytes)
        : QObject(QCoreApplication::instance()), fd(fd), bytes(std::move(bytes)),
          ready(fd, QSocketNotifier::Write)
    {
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        connect(&ready, &QSocketNotifier::activated, this, &Writer::writeSome);
        giveUp.setSingleShot(true);
        connect(&giveUp, &QTimer::timeout, this, &Writer::finish);
        giveUp.start(WriteGiveUpMs);
        writeSome();
    }
    ~Writer() override { close(fd); }

private:
    void writeSome()
    {
        while (written < bytes.size()) {
            const ssize_t put =
                write(fd, bytes.constData() + written, size_t(bytes.size() - written));
            if (put > 0) {
                written += put;
                giveUp.start(WriteGiveUpMs);
            } else if (errno == EAGAIN) {
                return;
            } else if (errno != EINTR) {
                break; // the receiver went away
            }
        }
        finish();
    }

    void finish()
    {
        ready.setEnabled(false);
        deleteLater();
    }

    const int fd;
    const QByteArray bytes;
    qint64 written = 0;
    QSocketNotifier ready;
    QTimer giveUp;
};

// What a paste put on the clipboard, while it is the selection.
zwlr_data_control_source_v1 *offered = nullptr;
std::unique_ptr<QMimeData> offeredData;

void withdraw()
{
    if (offered && wayland::isActive())
        zwlr_data_control_source_v1_destroy(offered);
    offered = nullptr;
    offeredData.reset();
}

void send(void *, zwlr_data_control_source_v1 *source, const char *type, int32_t fd)
{
    if (source != offered) {
        close(fd);
        return;
    }
    // A clip makes an image type from its stored image here, as Qt's clipboard would.
    new Writer(fd, offeredData->data(QString::fromUtf8(type)));
}

void cancelled(void *, zwlr_data_control_source_v1 *source)
{
    // Another program took the clipboard (a replaced source of ours was destroyed unheard).
    if (source == offered)
        withdraw();
}

const zwlr_data_control_source_v1_listener sourceListener = {send, cancelled};

} // namespace

namespace wayland {

void startWindow()
{
    dispatchFromEventLoop();
    startKeyboard();
    onLoss([] {
        // The window itself lives or ends with Qt's own connection.
        std::fprintf(stderr, "tessel: the Wayland compositor went away.\n");
        withdraw();
    });
}

void putOnClipboard(QMimeData *data)
{
    std::unique_ptr<QMimeData> owned(data);
    if (!catchUp())
        return;
    zwlr_data_control_source_v1 *source =
        zwlr_data_control_manager_v1_create_data_source(globals().dataControl);
    zwlr_data_control_source_v1_add_listener(source, &sourceListener, nullptr);
    for (const QString &format : owned->formats())
        zwlr_data_control_source_v1_offer(source, format.toUtf8().constData());
    zwlr_data_control_device_v1_set_selection(globals().device, source);
    withdraw();
    offered = source;
    offeredData = std::move(owned);
    wl_display_flush(globals().display);
}

bool clipboardIsOurs()
{
    // A cancel the compositor sent before a worker heard of the next selection is in by now.
    catchUp();
    return offered != nullptr;
}

} // namespace wayland
