#include "platform/platform.h"

#include "platform/x11/x11.h"

#include <QByteArray>
#include <QTimer>
#include <QX11Info>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <X11/extensions/XKB.h>
#include <X11/keysym.h>

namespace {

// The function keys by the virtual-key codes the program names them with.
const int VkF1 = 112;
const int VkF10 = 121;
const int KeyCount = VkF10 - VkF1 + 1;

// Shift, Lock, Control and Mod1 to Mod5; the bits above them are mouse buttons.
const uint16_t ModifierBits = 0xff;

const char XcbEventType[] = "xcb_generic_event_t";

struct HotKey {
    bool wanted = false;     // registered and not released since
    xcb_keycode_t held = 0;  // the keycode grabbed for it, or 0
    xcb_keycode_t tried = 0; // where it was last looked for (0: nowhere)
    bool told = false;       // the user knows it is not ours
};

std::array<HotKey, KeyCount> keys; // F1 first
xcb_window_t root = XCB_WINDOW_NONE;
uint16_t numLock = 0;  // the NumLock mask the grabs were made with
int xkbEventBase = -1; // where the XKB extension's events start, -1 without it
bool retakePending = false;
xcb_keycode_t lastKeycode = 0; // the last press, which an auto-repeat repeats
xcb_timestamp_t lastTime = 0;

// The lock states under which a bare key must still be ours: none, CapsLock, NumLock, both
// (without a NumLock modifier the last two repeat the first two, which the server allows).
std::array<uint16_t, 4> lockVariants()
{
    return {0, XCB_MOD_MASK_LOCK, numLock, uint16_t(numLock | XCB_MOD_MASK_LOCK)};
}

// Releases exactly what was grabbed for key, whatever the keymap and NumLock are now; what
// other clients hold of the same variants stays theirs.
void release(xcb_connection_t *connection, HotKey &key)
{
    if (!key.held) // keycode 0 would be any key: every grab of ours
        return;
    for (const uint16_t variant : lockVariants())
        xcb_ungrab_key(connection, key.held, root, variant);
    key.held = 0;
}

enum class Grab { Taken, NoKey, HeldElsewhere };

// Grabs key on keycode with every lock variant, or none of them.
Grab grab(xcb_connection_t *connection, HotKey &key, xcb_keycode_t keycode)
{
    key.tried = keycode;
    if (!keycode)
        return Grab::NoKey;
    std::vector<xcb_void_cookie_t> cookies;
    for (const uint16_t variant : lockVariants())
        cookies.push_back(xcb_grab_key_checked(connection, 0, root, variant, keycode,
                                               XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    // Checked requests report a key held by another client here, not later as a stray error.
    bool refused = false;
    for (const xcb_void_cookie_t cookie : cookies) {
        xcb_generic_error_t *error = xcb_request_check(connection, cookie);
        refused = refused || error;
        std::free(error);
    }
    key.held = keycode;
    if (!refused)
        return Grab::Taken;
    release(connection, key);
    xcb_flush(connection);
    return Grab::HeldElsewhere;
}

// After a keyboard mapping change, a key whose keycode moved (every key, when NumLock did) is
// taken again where it is now. A key lost on the way is told once on stderr: a box would
// only get in the way of whatever the user is doing.
void retakeKeys()
{
    retakePending = false;
    xcb_connection_t *connection = QX11Info::connection();
    const x11::KeyboardMap map(connection);
    const uint16_t numLockNow = map.numLockMask(connection);
    std::array<bool, KeyCount> moved{};
    // All moved keys are let go before any is taken again: two keys may have swapped.
    for (int i = 0; i < KeyCount; ++i) {
        moved[i] =
            keys[i].wanted && (numLockNow != numLock || map.find(XK_F1 + i) != keys[i].tried);
        if (moved[i])
            release(connection, keys[i]);
    }
    numLock = numLockNow;
    for (int i = 0; i < KeyCount; ++i) {
        if (!moved[i])
            continue;
        const Grab result = grab(connection, keys[i], map.find(XK_F1 + i));
        if (result != Grab::Taken && !keys[i].told)
            std::fprintf(stderr,
                         result == Grab::NoKey
                             ? "tessel: no key gives F%d any more; it will not paste.\n"
                             : "tessel: F%d is held by another program; it will not paste.\n",
                         i + 1);
        keys[i].told = result != Grab::Taken;
    }
    xcb_flush(connection);
}

bool isMappingChange(const xcb_generic_event_t *event)
{
    if (x11::typeOf(event) == XCB_MAPPING_NOTIFY)
        return reinterpret_cast<const xcb_mapping_notify_event_t *>(event)->request !=
               XCB_MAPPING_POINTER;
    // An XKB event carries its own kind in the byte after the event code.
    return x11::typeOf(event) == xkbEventBase &&
           (event->pad0 == XkbNewKeyboardNotify || event->pad0 == XkbMapNotify);
}

// True when a press made at pressTime is too old to paste. The server's time costs a round
// trip, but the last time Qt saw is as old as the press when the event loop was held up.
bool isLate(xcb_timestamp_t pressTime)
{
    const xcb_timestamp_t now = QX11Info::getTimestamp();
    // Server time is milliseconds in 32 bits that wrap around; 0 means no answer came.
    return now != XCB_CURRENT_TIME && int32_t(now - pressTime) > platform::LatePressMs;
}

} // namespace

namespace x11 {

bool registerHotKey(WId, int keyCode)
{
    if (!x11::isX11() || keyCode < VkF1 || keyCode > VkF10)
        return false;
    xcb_connection_t *connection = QX11Info::connection();
    if (root == XCB_WINDOW_NONE) {
        // Only a grab on the root window is global.
        root = xcb_window_t(QX11Info::appRootWindow());
        xcb_query_extension_reply_t *xkb = xcb_query_extension_reply(
            connection, xcb_query_extension(connection, 9, "XKEYBOARD"), nullptr);
        xkbEventBase = xkb && xkb->present ? xkb->first_event : -1;
        std::free(xkb);
    }
    HotKey &key = keys[keyCode - VkF1];
    release(connection, key);
    const x11::KeyboardMap map(connection);
    if (std::none_of(keys.begin(), keys.end(), [](auto &other) { return other.held; }))
        numLock = map.numLockMask(connection);
    key.wanted = true;
    // The window tells the user about a key it could not have.
    key.told = grab(connection, key, map.find(XK_F1 + keyCode - VkF1)) != Grab::Taken;
    return !key.told;
}

} // namespace x11

namespace platform {

void unregisterHotKey(WId, int keyCode)
{
    if (!x11::isX11() || keyCode < VkF1 || keyCode > VkF10)
        return;
    keys[keyCode - VkF1].wanted = false;
    release(QX11Info::connection(), keys[keyCode - VkF1]);
    xcb_flush(QX11Info::connection());
}

HotKeyPress hotKeyPressed(const QByteArray &eventType, void *message)
{
    if (eventType != XcbEventType)
        return {};
    const auto *event = static_cast<const xcb_generic_event_t *>(message);
    if (x11::answerClipboardEvent(event))
        return {0, false, true};
    if (x11::typeOf(event) != XCB_KEY_PRESS) {
        // Let Qt see the change as well: the caller passes every event on but presses.
        if (!retakePending && isMappingChange(event)) {
            retakePending = true;
            // One look for all the changes a single xmodmap or setxkbmap makes.
            QTimer::singleShot(0, retakeKeys);
        }
        return {};
    }
    const auto *press = reinterpret_cast<const xcb_key_press_event_t *>(event);
    const auto key = std::find_if(keys.begin(), keys.end(),
                                  [press](auto &key) { return key.held == press->detail; });
    if (key == keys.end() || press->event != root ||
        (press->state & ModifierBits & ~(XCB_MOD_MASK_LOCK | numLock)))
        return {};
    // An auto-repeat arrives as a release and a press with the same time: one press each.
    if (press->detail == lastKeycode && press->time == lastTime)
        return {};
    lastKeycode = press->detail;
    lastTime = press->time;
    return {WPARAM(VkF1 + (key - keys.begin())), isLate(press->time)};
}

} // namespace platform
