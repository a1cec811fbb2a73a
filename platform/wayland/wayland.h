#pragma once

// What the Wayland backend's sources share. Each process (the window's, each capture
// worker) has a connection of its own to the compositor, apart from Qt's: the clipboard is
// followed through a data-control device, which needs no window and no keyboard focus.
// ext-data-control-v1 is bound where offered, else wlroots' zwlr_data_control_manager_v1;
// the two are the same message for message, so both are driven through the zwlr functions.

#include <QStringList>
#include <QtGlobal>

#include <functional>

class QMimeData;
struct org_kde_kwin_fake_input;
struct wl_display;
struct wl_seat;
struct zwlr_data_control_device_v1;
struct zwlr_data_control_manager_v1;
struct zwp_virtual_keyboard_manager_v1;

namespace platform {
struct ClipboardStamp;
enum class OwnerChange;
} // namespace platform

namespace wayland {

// Connects to the compositor named by WAYLAND_DISPLAY, once per process. True when it offers
// data-control and a way to type Ctrl+V (a virtual keyboard, or KWin's fake input);
// otherwise false, and why is kept for notes().
bool connect();
// Whether connect succeeded and the compositor is still there.
bool isActive();
// Why connect failed, for the window to say once at start; empty where nothing needs saying.
QByteArray notes();

// What connect bound; a way to type that is not offered stays null.
struct Globals {
    wl_display *display = nullptr;
    wl_seat *seat = nullptr;
    zwlr_data_control_manager_v1 *dataControl = nullptr;
    zwlr_data_control_device_v1 *device = nullptr;
    zwp_virtual_keyboard_manager_v1 *keyboards = nullptr;
    org_kde_kwin_fake_input *fakeInput = nullptr;
};
const Globals &globals();

// Take in what the compositor has sent: dispatchPending without waiting, catchUp all it sent
// before it answers now. Both false once the connection is gone.
bool dispatchPending();
bool catchUp();
// Handles the compositor's events from the event loop, once the application object exists.
void dispatchFromEventLoop();
// lost is called once when the connection is lost, or given up with lose().
void onLoss(std::function<void()> lost);
void lose();
// Follows the selection through the device from now on (waylandcapture.cpp).
void followSelection();

// The platform functions as this backend has them (platform.h tells what each does). The
// capture worker's side (waylandcapture.cpp):
void watchClipboardOwner();
platform::ClipboardStamp clipboardStamp();
platform::OwnerChange ownerChangeSince(const platform::ClipboardStamp &stamp);
void onClipboardChange(std::function<void()> changed);
const QMimeData *clipboardContent();

// The window's side (waylandclipboard.cpp, waylandpaste.cpp):
void startWindow();
void startKeyboard();
void putOnClipboard(QMimeData *data);
bool clipboardIsOurs();
void paste();

} // namespace wayland
