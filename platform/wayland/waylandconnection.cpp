#include "platform/wayland/wayland.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QHash>
#include <QSocketNotifier>

#include <csignal>
#include <cstring>

#include <poll.h>

#include "ext-data-control-v1-client.h"
#include "fake-input-client.h"
#include "virtual-keyboard-unstable-v1-client.h"
#include "wlr-data-control-unstable-v1-client.h"
#include <wayland-client.h>

namespace {

// zwlr data-control's second version is the one that reports primary selections apart:
// the first would show them as clipboard changes.
const uint32_t WlrDataControlVersion = 2;
// KWin's fake input types keys from its fourth version on.
const uint32_t FakeInputKeyVersion = 4;
// An offer listing more types than this is cut: each type costs a request, and no program
// offers one thing in so many formats.
const int MaxOfferTypes = 256;

struct Globals {
    wl_display *display = nullptr;
    wl_registry *registry = nullptr;
    wl_seat *seat = nullptr;
    zwlr_data_control_manager_v1 *dataControl = nullptr;
    zwlr_data_control_device_v1 *device = nullptr;
    zwp_virtual_keyboard_manager_v1 *keyboards = nullptr;
    org_kde_kwin_fake_input *fakeInput = nullptr;
    bool extDataControl = false;
    bool tried = false;
    bool lost = false;
    QByteArray notes;
};
Globals globals;

wayland::Selection current;
// Offers introduced whose selection event has not come yet.
QHash<zwlr_data_control_offer_v1 *, std::shared_ptr<wayland::Offer>> introduced;
std::function<void()> selectionChanged;
std::function<void()> connectionLost;

void offerType(void *data, zwlr_data_control_offer_v1 *, const char *type)
{
    auto *offer = static_cast<wayland::Offer *>(data);
    const QString name = QString::fromUtf8(type);
    // Each type once, as X11 targets are.
    if (offer->types.size() < MaxOfferTypes && !offer->types.contains(name))
        offer->types << name;
}
const zwlr_data_control_offer_v1_listener offerListener = {offerType};

void dataOffer(void *, zwlr_data_control_device_v1 *, zwlr_data_control_offer_v1 *proxy)
{
    auto offer = std::make_shared<wayland::Offer>(proxy);
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

void lose()
{
    if (globals.lost)
        return;
    globals.lost = true;
    if (connectionLost)
        connectionLost();
}

void finished(void *, zwlr_data_control_device_v1 *)
{
    // The seat went away, and with it the clipboard we follow.
    lose();
}

const zwlr_data_control_device_v1_listener deviceListener = {dataOffer, selectionEvent, finished,
                                                             primarySelection};

void global(void *, wl_registry *registry, uint32_t name, const char *interface, uint32_t version)
{
    if (std::strcmp(interface, wl_seat_interface.name) == 0 && !globals.seat) {
        globals.seat = static_cast<wl_seat *>(
            wl_registry_bind(registry, name, &wl_seat_interface, qMin(version, 2u)));
    } else if (std::strcmp(interface, ext_data_control_manager_v1_interface.name) == 0) {
        if (globals.dataControl)
            zwlr_data_control_manager_v1_destroy(globals.dataControl);
        globals.dataControl = static_cast<zwlr_data_control_manager_v1 *>(
            wl_registry_bind(registry, name, &ext_data_control_manager_v1_interface, 1));
        globals.extDataControl = true;
    } else if (std::strcmp(interface, zwlr_data_control_manager_v1_interface.name) == 0 &&
               version >= WlrDataControlVersion && !globals.extDataControl) {
        globals.dataControl = static_cast<zwlr_data_control_manager_v1 *>(wl_registry_bind(
            registry, name, &zwlr_data_control_manager_v1_interface, WlrDataControlVersion));
    } else if (std::strcmp(interface, zwp_virtual_keyboard_manager_v1_interface.name) == 0) {
        globals.keyboards = static_cast<zwp_virtual_keyboard_manager_v1 *>(
            wl_registry_bind(registry, name, &zwp_virtual_keyboard_manager_v1_interface, 1));
    } else if (std::strcmp(interface, org_kde_kwin_fake_input_interface.name) == 0 &&
               version >= FakeInputKeyVersion) {
        globals.fakeInput = static_cast<org_kde_kwin_fake_input *>(wl_registry_bind(
            registry, name, &org_kde_kwin_fake_input_interface, FakeInputKeyVersion));
    }
}

void globalRemove(void *, wl_registry *, uint32_t) {}

const wl_registry_listener registryListener = {global, globalRemove};

template <typename Proxy> void destroy(Proxy *&proxy)
{
    if (proxy)
        wl_proxy_destroy(reinterpret_cast<wl_proxy *>(proxy));
    proxy = nullptr;
}

} // namespace

namespace wayland {

Offer::Offer(zwlr_data_control_offer_v1 *proxy) : proxy(proxy) {}

Offer::~Offer()
{
    if (!globals.lost)
        zwlr_data_control_offer_v1_destroy(proxy);
}

bool connect()
{
    if (globals.tried)
        return isActive();
    globals.tried = true;
    if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return false;
    globals.display = wl_display_connect(nullptr);
    if (!globals.display) {
        globals.notes = "tessel: cannot connect to the Wayland compositor \"" +
                        qgetenv("WAYLAND_DISPLAY") + "\"; running through XWayland.\n";
        return false;
    }
    // A reader that goes away while we write to it must not end the program.
    std::signal(SIGPIPE, SIG_IGN);
    globals.registry = wl_display_get_registry(globals.display);
    wl_registry_add_listener(globals.registry, &registryListener, nullptr);
    wl_display_roundtrip(globals.display);
    const bool canType = globals.keyboards || globals.fakeInput;
    if (!globals.seat || !globals.dataControl || !canType) {
        // GNOME offers neither: its clipboard and keys are reached through XWayland alone.
        QByteArray notes = !globals.seat || !globals.dataControl
                               ? "tessel: the Wayland compositor lets no program follow the "
                                 "clipboard (no data-control protocol); running through XWayland "
                                 "as an X11 program.\n"
                               : "tessel: the Wayland compositor lets no program type (no virtual "
                                 "keyboard or fake input); running through XWayland as an X11 "
                                 "program.\n";
        destroy(globals.seat);
        destroy(globals.dataControl);
        destroy(globals.keyboards);
        destroy(globals.fakeInput);
        destroy(globals.registry);
        wl_display_disconnect(globals.display);
        globals = Globals{};
        globals.tried = true;
        globals.notes = std::move(notes);
        return false;
    }
    if (globals.fakeInput && !globals.keyboards)
        org_kde_kwin_fake_input_authenticate(globals.fakeInput, "Tessel",
                                             "Pastes a clipboard slot with Ctrl+V");
    globals.device =
        zwlr_data_control_manager_v1_get_data_device(globals.dataControl, globals.seat);
    zwlr_data_control_device_v1_add_listener(globals.device, &deviceListener, nullptr);
    // The device's first events tell what the selection holds already.
    if (!catchUp())
        return false;
    return true;
}

bool isActive()
{
    return globals.display && !globals.lost;
}

QByteArray notes()
{
    return globals.notes;
}

wl_display *display()
{
    return globals.display;
}

zwlr_data_control_manager_v1 *dataControl()
{
    return globals.dataControl;
}

zwlr_data_control_device_v1 *device()
{
    return globals.device;
}

zwp_virtual_keyboard_manager_v1 *virtualKeyboards()
{
    return globals.keyboards;
}

wl_seat *seat()
{
    return globals.seat;
}

org_kde_kwin_fake_input *fakeInput()
{
    return globals.fakeInput;
}

bool dispatchPending()
{
    if (!isActive())
        return false;
    // Reads what has arrived without waiting for more.
    while (wl_display_prepare_read(globals.display) != 0) {
        if (wl_display_dispatch_pending(globals.display) < 0) {
            lose();
            return false;
        }
    }
    wl_display_flush(globals.display);
    pollfd ready = {wl_display_get_fd(globals.display), POLLIN, 0};
    if (poll(&ready, 1, 0) > 0) {
        if (wl_display_read_events(globals.display) < 0)
            lose();
    } else {
        wl_display_cancel_read(globals.display);
    }
    if (isActive() && wl_display_dispatch_pending(globals.display) < 0)
        lose();
    return isActive();
}

bool catchUp()
{
    if (!isActive())
        return false;
    if (wl_display_roundtrip(globals.display) < 0)
        lose();
    return isActive();
}

void dispatchFromEventLoop()
{
    static QSocketNotifier *notifier = nullptr;
    if (notifier || !isActive())
        return;
    notifier = new QSocketNotifier(wl_display_get_fd(globals.display), QSocketNotifier::Read,
                                   QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, [] {
        if (!dispatchPending())
            notifier->setEnabled(false);
    });
    // Requests made between two turns of the loop go out before it waits again, and events
    // another call read into the queue are handled.
    QObject::connect(QCoreApplication::eventDispatcher(), &QAbstractEventDispatcher::aboutToBlock,
                     [] {
                         if (isActive()) {
                             wl_display_dispatch_pending(globals.display);
                             wl_display_flush(globals.display);
                         }
                     });
}

void onLoss(std::function<void()> lost)
{
    connectionLost = std::move(lost);
}

const Selection &selection()
{
    return current;
}

void onSelection(std::function<void()> changed)
{
    selectionChanged = std::move(changed);
}

quint32 typesKey(const QStringList &types)
{
    const QByteArray digest =
        QCryptographicHash::hash(types.join(QLatin1Char('\n')).toUtf8(), QCryptographicHash::Md5);
    quint32 key = 0;
    std::memcpy(&key, digest.constData(), sizeof key);
    return key ? key : 1;
}

} // namespace wayland
