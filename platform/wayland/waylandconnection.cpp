#include "platform/wayland/wayland.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
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

// zwlr data-control's first version would show primary selections as clipboard changes.
const uint32_t WlrDataControlVersion = 2;
// KWin's fake input types keys from its fourth version on.
const uint32_t FakeInputKeyVersion = 4;

wayland::Globals bound;
bool lost = false;
QByteArray why; // what notes() says

std::function<void()> connectionLost;

template <typename Proxy>
void bind(Proxy *&proxy, wl_registry *registry, uint32_t name, const wl_interface &interface,
          uint32_t version)
{
    proxy = static_cast<Proxy *>(wl_registry_bind(registry, name, &interface, version));
}

void global(void *, wl_registry *registry, uint32_t name, const char *interface, uint32_t version)
{
    const auto is = [interface](const wl_interface &known) {
        return std::strcmp(interface, known.name) == 0;
    };
    if (is(wl_seat_interface) && !bound.seat) {
        bind(bound.seat, registry, name, wl_seat_interface, qMin(version, 2u));
    } else if (is(ext_data_control_manager_v1_interface)) {
        if (bound.dataControl)
            zwlr_data_control_manager_v1_destroy(bound.dataControl);
        bind(bound.dataControl, registry, name, ext_data_control_manager_v1_interface, 1);
    } else if (is(zwlr_data_control_manager_v1_interface) && version >= WlrDataControlVersion &&
               !bound.dataControl) {
        bind(bound.dataControl, registry, name, zwlr_data_control_manager_v1_interface,
             WlrDataControlVersion);
    } else if (is(zwp_virtual_keyboard_manager_v1_interface)) {
        bind(bound.keyboards, registry, name, zwp_virtual_keyboard_manager_v1_interface, 1);
    } else if (is(org_kde_kwin_fake_input_interface) && version >= FakeInputKeyVersion) {
        bind(bound.fakeInput, registry, name, org_kde_kwin_fake_input_interface,
             FakeInputKeyVersion);
    }
}

void globalRemove(void *, wl_registry *, uint32_t) {}

const wl_registry_listener registryListener = {global, globalRemove};

template <typename Proxy> void destroy(Proxy *proxy)
{
    if (proxy)
        wl_proxy_destroy(reinterpret_cast<wl_proxy *>(proxy));
}

} // namespace

namespace wayland {

bool connect()
{
    if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return false;
    bound.display = wl_display_connect(nullptr);
    if (!bound.display) {
        why = "tessel: cannot connect to the Wayland compositor \"" + qgetenv("WAYLAND_DISPLAY") +
              "\"; running through XWayland.\n";
        return false;
    }
    // A reader that goes away while we write to it must not end the program.
    std::signal(SIGPIPE, SIG_IGN);
    wl_registry *registry = wl_display_get_registry(bound.display);
    wl_registry_add_listener(registry, &registryListener, nullptr);
    wl_display_roundtrip(bound.display);
    if (!bound.seat || !bound.dataControl || !(bound.keyboards || bound.fakeInput)) {
        // GNOME offers neither: its clipboard and keys are reached through XWayland alone.
        why = !bound.seat || !bound.dataControl
                  ? "tessel: the Wayland compositor lets no program follow the clipboard (no "
                    "data-control protocol); running through XWayland as an X11 program.\n"
                  : "tessel: the Wayland compositor lets no program type (no virtual keyboard or "
                    "fake input); running through XWayland as an X11 program.\n";
        destroy(bound.seat);
        destroy(bound.dataControl);
        destroy(bound.keyboards);
        destroy(bound.fakeInput);
        destroy(registry);
        wl_display_disconnect(bound.display);
        bound = {};
        return false;
    }
    if (bound.fakeInput && !bound.keyboards)
        org_kde_kwin_fake_input_authenticate(bound.fakeInput, "Tessel",
                                             "Pastes a clipboard slot with Ctrl+V");
    bound.device = zwlr_data_control_manager_v1_get_data_device(bound.dataControl, bound.seat);
    followSelection();
    // The device's first events tell what the selection holds already.
    return catchUp();
}

void lose()
{
    if (lost)
        return;
    lost = true;
    if (connectionLost)
        connectionLost();
}

bool isActive()
{
    return bound.display && !lost;
}

QByteArray notes()
{
    return why;
}

const Globals &globals()
{
    return bound;
}

bool dispatchPending()
{
    if (!isActive())
        return false;
    // Reads what has arrived without waiting for more.
    while (wl_display_prepare_read(bound.display) != 0) {
        if (wl_display_dispatch_pending(bound.display) < 0) {
            lose();
            return false;
        }
    }
    wl_display_flush(bound.display);
    pollfd ready = {wl_display_get_fd(bound.display), POLLIN, 0};
    if (poll(&ready, 1, 0) > 0) {
        if (wl_display_read_events(bound.display) < 0)
            lose();
    } else {
        wl_display_cancel_read(bound.display);
    }
    if (isActive() && wl_display_dispatch_pending(bound.display) < 0)
        lose();
    return isActive();
}

bool catchUp()
{
    if (isActive() && wl_display_roundtrip(bound.display) < 0)
        lose();
    return isActive();
}

void dispatchFromEventLoop()
{
    if (!isActive())
        return;
    auto *notifier = new QSocketNotifier(wl_display_get_fd(bound.display), QSocketNotifier::Read,
                                         QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, [notifier] {
        if (!dispatchPending())
            notifier->setEnabled(false);
    });
    // Requests made in a turn of the loop go out, and events read by other calls are handled.
    QObject::connect(QCoreApplication::eventDispatcher(), &QAbstractEventDispatcher::aboutToBlock,
                     [] {
                         if (isActive()) {
                             wl_display_dispatch_pending(bound.display);
                             wl_display_flush(bound.display);
                         }
                     });
}

void onLoss(std::function<void()> handler)
{
    connectionLost = std::move(handler);
}

} // namespace wayland
