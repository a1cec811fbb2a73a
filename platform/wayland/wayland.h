#pragma once

// What the Wayland backend's sources share. Each process (the window's, each capture
// worker) has a connection of its own to the compositor, apart from Qt's: the clipboard is
// followed through a data-control device, which needs no window and no keyboard focus.
//
// The compositor's ext-data-control-v1 is bound where it offers it, else wlroots'
// zwlr_data_control_manager_v1. The first is the second under another name, message for
// message, so both are driven through the zwlr functions wayland-scanner made: only the
// interface a global is bound with tells them apart.

#include <QStringList>
#include <QtGlobal>

#include <functional>
#include <memory>

class QMimeData;
struct org_kde_kwin_fake_input;
struct wl_display;
struct wl_registry;
struct wl_seat;
struct zwlr_data_control_device_v1;
struct zwlr_data_control_manager_v1;
struct zwlr_data_control_offer_v1;
struct zwp_virtual_keyboard_manager_v1;

namespace platform {
struct ClipboardStamp;
enum class OwnerChange;
} // namespace platform

namespace wayland {

// Connects to the compositor named by WAYLAND_DISPLAY, once per process. True when it
// offers a data-control manager and a way to type Ctrl+V (a virtual keyboard, or KWin's
// fake input): Tessel then follows and sets the clipboard and pastes through Wayland.
// Otherwise false, and why is kept for notes().
bool connect();
// Whether connect succeeded and the compositor is still there.
bool isActive();
// Why connect failed, for the window to say once on stderr at start; empty where nothing
// needs saying.
QByteArray notes();

// What connect bound; a way to type that is not offered stays null.
struct Globals {
    wl_display *display = nullptr;
    wl_registry *registry = nullptr;
    wl_seat *seat = nullptr;
    zwlr_data_control_manager_v1 *dataControl = nullptr;
    zwlr_data_control_device_v1 *device = nullptr;
    zwp_virtual_keyboard_manager_v1 *keyboards = nullptr;
    org_kde_kwin_fake_input *fakeInput = nullptr;
};
const Globals &globals();

// Takes in whatever the compositor has sent, without waiting. False once the connection
// is gone.
bool dispatchPending();
// Takes in everything the compositor sent before it answers now. False once the
// connection is gone.
bool catchUp();
// Reads and handles the compositor's events from the event loop, from now on. Called once
// the application object exists.
void dispatchFromEventLoop();
// Called once when the connection is lost.
void onLoss(std::function<void()> lost);

// What another client offers: its types in the source's order. The offer is destroyed with
// the last holder, so that a read under way outlives the selection it began with.
class Offer {
public:
    explicit Offer(zwlr_data_control_offer_v1 *proxy);
    ~Offer();
    Offer(const Offer &) = delete;
    Offer &operator=(const Offer &) = delete;

    zwlr_data_control_offer_v1 *const proxy;
    QStringList types;
};

// The selection as the device has it.
struct Selection {
    std::shared_ptr<const Offer> offer; // null when empty
    quint32 number = 0;                 // counts the selection events this process heard
};
const Selection &selection();
// Called after each selection event, from inside the event handling.
void onSelection(std::function<void()> changed);

// The platform functions as this backend has them (platform.h tells what each does).

// The capture worker's side (waylandcapture.cpp).
void watchClipboardOwner();
platform::ClipboardStamp clipboardStamp();
platform::OwnerChange ownerChangeSince(const platform::ClipboardStamp &stamp);
void onClipboardChange(std::function<void()> changed);
const QMimeData *clipboardContent();

// The window's side (waylandclipboard.cpp, waylandpaste.cpp).
void startWindow();
void startKeyboard();
void putOnClipboard(QMimeData *data);
bool clipboardIsOurs();
void paste();

} // namespace wayland
