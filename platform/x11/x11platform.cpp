#include "platform/platform.h"

#include <QApplication>
#include <QByteArray>
#include <QCoreApplication>
#include <QIcon>
#include <QPixmap>
#include <QTimer>
#include <QX11Info>

#include <array>
#include <cstdio>
#include <cstdlib>

#include <X11/Xlib.h>
#include <X11/XKBlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <xcb/xcb.h>

namespace {

const char AppIconPath[] = ":/icons/tessel.ico";
const char DeleteIconPath[] = ":/icons/delete.ico";

// The function keys by the virtual-key codes the program names them with.
const int VkF1 = 112;
const int VkF10 = 121;

// How long a keycode borrowed for V stays mapped: the focused application reads the
// mapping when it handles the key, after our injection has returned.
const int BorrowedKeyRestoreMs = 1000;

const uint16_t ModifierBits = XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_LOCK | XCB_MOD_MASK_CONTROL |
                              XCB_MOD_MASK_1 | XCB_MOD_MASK_2 | XCB_MOD_MASK_3 | XCB_MOD_MASK_4 |
                              XCB_MOD_MASK_5;

struct HotKeyState {
    int codeByKeycode[256] = {}; // the virtual-key code grabbed on each X keycode
    xcb_window_t root = XCB_WINDOW_NONE;
    uint16_t numLock = 0; // the NumLock mask the grabs were made with
    uint16_t lockBits = XCB_MOD_MASK_LOCK;
    xcb_keycode_t lastKeycode = 0;
    xcb_timestamp_t lastTime = 0;
};
HotKeyState hotKeys;

struct InjectionState {
    KeyCode control = 0;
    KeyCode v = 0;
    KeyCode borrowed = 0; // a spare keycode currently mapped to XK_v, or 0
    int restoreGeneration = 0;
    bool restoreAtQuit = false;
};
InjectionState injection;

bool isX11()
{
    return QX11Info::isPlatformX11() && QX11Info::display() && QX11Info::connection();
}

uint16_t numLockMask(Display *display)
{
    const KeyCode numLock = XKeysymToKeycode(display, XK_Num_Lock);
    XModifierKeymap *map = XGetModifierMapping(display);
    uint16_t mask = 0;
    if (map && numLock) {
        for (int mod = 0; mod < 8 && !mask; ++mod) {
            for (int k = 0; k < map->max_keypermod; ++k) {
                if (map->modifiermap[mod * map->max_keypermod + k] == numLock) {
                    mask = uint16_t(1u << mod);
                    break;
                }
            }
        }
    }
    if (map)
        XFreeModifiermap(map);
    return mask;
}

// The lock states under which a bare key must still be ours: none, CapsLock, NumLock, both.
int lockVariants(uint16_t numLock, std::array<uint16_t, 4> &variants)
{
    int count = 0;
    const uint16_t candidates[4] = {0, XCB_MOD_MASK_LOCK, numLock,
                                    uint16_t(numLock | XCB_MOD_MASK_LOCK)};
    for (const uint16_t mask : candidates) {
        bool seen = false;
        for (int i = 0; i < count; ++i)
            seen = seen || variants[i] == mask;
        if (!seen)
            variants[count++] = mask;
    }
    return count;
}

// Looks the keysym up in the server's current mapping (Xlib's own cache never hears of a
// layout change, since Qt owns the event queue). Only the first group is searched, which
// is the one a Ctrl shortcut is matched against.
KeyCode keycodeFor(Display *display, KeySym sym, KeyCode *spare)
{
    int minKeycode = 0;
    int maxKeycode = 0;
    XDisplayKeycodes(display, &minKeycode, &maxKeycode);
    int perKeycode = 0;
    KeySym *map =
        XGetKeyboardMapping(display, KeyCode(minKeycode), maxKeycode - minKeycode + 1, &perKeycode);
    if (!map)
        return 0;
    KeyCode found = 0;
    if (spare)
        *spare = 0;
    for (int code = minKeycode; code <= maxKeycode; ++code) {
        const KeySym *syms = map + (code - minKeycode) * perKeycode;
        bool empty = true;
        for (int i = 0; i < perKeycode; ++i) {
            if (i < 2 && syms[i] == sym && !found)
                found = KeyCode(code);
            empty = empty && syms[i] == NoSymbol;
        }
        if (spare && empty)
            *spare = KeyCode(code);
    }
    XFree(map);
    return found;
}

// True when a press made at pressTime is too old to paste. The server's time now takes a
// round trip, made only for a press of ours; the last time Qt saw would be as old as the
// press when the event loop was held up.
bool isLate(xcb_timestamp_t pressTime)
{
    const xcb_timestamp_t now = QX11Info::getTimestamp();
    // Server time is milliseconds in 32 bits that wrap around; 0 means no answer came.
    return now != XCB_CURRENT_TIME && int32_t(now - pressTime) > platform::LatePressMs;
}

void restoreBorrowedKey(int generation)
{
    if (generation != injection.restoreGeneration || !injection.borrowed || !isX11())
        return;
    KeySym none = NoSymbol;
    XChangeKeyboardMapping(QX11Info::display(), injection.borrowed, 1, &none, 1);
    XFlush(QX11Info::display());
    injection.borrowed = 0;
}

// Finds the keycodes for a paste. A layout without a Latin v (Russian alone, say) gets a
// spare keycode mapped to v for a while, so that Ctrl+V still means paste.
void prepareInjection(Display *display)
{
    KeyCode spare = 0;
    injection.control = keycodeFor(display, XK_Control_L, nullptr);
    if (!injection.control)
        return;
    injection.v = keycodeFor(display, XK_v, &spare);
    if (!injection.v && injection.borrowed) {
        injection.v = injection.borrowed;
    } else if (!injection.v && spare) {
        KeySym v = XK_v;
        XChangeKeyboardMapping(display, spare, 1, &v, 1);
        XSync(display, False);
        injection.borrowed = spare;
        injection.v = spare;
        // The timer cannot fire once the event loop has ended: give the key back on the
        // way out too, or the user's layout would keep the extra v after we exit.
        if (!injection.restoreAtQuit) {
            injection.restoreAtQuit = true;
            QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit,
                             [] { restoreBorrowedKey(injection.restoreGeneration); });
        }
    }
    if (injection.borrowed) {
        const int generation = ++injection.restoreGeneration;
        QTimer::singleShot(BorrowedKeyRestoreMs, [generation] { restoreBorrowedKey(generation); });
    }
}

} // namespace

namespace platform {

bool prepareStart()
{
    // Hotkeys and key injection are X11 services: in a Wayland session run through XWayland.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    const QByteArray chosen = qgetenv("QT_QPA_PLATFORM");
    if (chosen != "xcb" && !chosen.startsWith("xcb:"))
        return true;
    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        const char *name = std::getenv("DISPLAY");
        if (name && *name)
            std::fprintf(stderr, "tessel: cannot open the X display \"%s\".\n", name);
        else
            std::fprintf(stderr, "tessel: no X display: DISPLAY is not set. Tessel needs an X11 "
                                 "desktop session (or Xvfb).\n");
        return false;
    }
    XCloseDisplay(display);
    return true;
}

void setupApplication(QApplication &app)
{
    app.setWindowIcon(QIcon(QString::fromLatin1(AppIconPath)));
}

bool openResources()
{
    // The icons are compiled into the program.
    return true;
}

QPixmap deleteIcon()
{
    return QPixmap(QString::fromLatin1(DeleteIconPath));
}

bool registerHotKey(WId, int keyCode)
{
    if (!isX11() || keyCode < VkF1 || keyCode > VkF10)
        return false;
    Display *display = QX11Info::display();
    xcb_connection_t *connection = QX11Info::connection();
    const KeyCode keycode = XKeysymToKeycode(display, XK_F1 + KeySym(keyCode - VkF1));
    if (!keycode)
        return false;

    // Only a grab on the root window is global.
    const xcb_window_t root = xcb_window_t(QX11Info::appRootWindow());
    const uint16_t numLock = numLockMask(display);
    std::array<uint16_t, 4> variants{};
    const int count = lockVariants(numLock, variants);
    std::array<xcb_void_cookie_t, 4> cookies{};
    for (int i = 0; i < count; ++i)
        cookies[i] = xcb_grab_key_checked(connection, 0, root, variants[i], keycode,
                                          XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
    // Checked requests report a key held by another client here, not later as a stray error.
    std::array<bool, 4> grabbed{};
    bool all = true;
    for (int i = 0; i < count; ++i) {
        xcb_generic_error_t *error = xcb_request_check(connection, cookies[i]);
        grabbed[i] = !error;
        all = all && !error;
        std::free(error);
    }
    if (!all) {
        for (int i = 0; i < count; ++i) {
            if (grabbed[i])
                xcb_ungrab_key(connection, keycode, root, variants[i]);
        }
        xcb_flush(connection);
        return false;
    }
    hotKeys.codeByKeycode[keycode] = keyCode;
    hotKeys.root = root;
    hotKeys.numLock = numLock;
    hotKeys.lockBits = uint16_t(XCB_MOD_MASK_LOCK | numLock);
    return true;
}

void unregisterHotKey(WId, int keyCode)
{
    if (!isX11())
        return;
    xcb_connection_t *connection = QX11Info::connection();
    // Release exactly what was grabbed: the keymap or the NumLock modifier may have changed
    // since. A key that was never grabbed (another client holds it) has nothing to release.
    std::array<uint16_t, 4> variants{};
    const int count = lockVariants(hotKeys.numLock, variants);
    for (int keycode = 0; keycode < 256; ++keycode) {
        if (hotKeys.codeByKeycode[keycode] != keyCode)
            continue;
        for (int i = 0; i < count; ++i)
            xcb_ungrab_key(connection, xcb_keycode_t(keycode), hotKeys.root, variants[i]);
        hotKeys.codeByKeycode[keycode] = 0;
    }
    xcb_flush(connection);
}

HotKeyPress hotKeyPressed(const QByteArray &eventType, void *message)
{
    if (eventType != "xcb_generic_event_t")
        return {};
    const auto *event = static_cast<const xcb_generic_event_t *>(message);
    if ((event->response_type & ~0x80) != XCB_KEY_PRESS)
        return {};
    const auto *key = reinterpret_cast<const xcb_key_press_event_t *>(event);
    const int code = hotKeys.codeByKeycode[key->detail];
    if (!code || key->event != hotKeys.root)
        return {};
    if (key->state & ModifierBits & ~hotKeys.lockBits)
        return {};
    // An auto-repeat arrives as a release and a press with the same time: one press each.
    if (key->detail == hotKeys.lastKeycode && key->time == hotKeys.lastTime)
        return {};
    hotKeys.lastKeycode = key->detail;
    hotKeys.lastTime = key->time;
    return {WPARAM(code), isLate(key->time)};
}

void paste()
{
    if (!isX11())
        return;
    Display *display = QX11Info::display();
    // While the hotkey is still held its grab is an active keyboard grab of ours, and the
    // synthetic keys would come back to us instead of the focused application.
    XUngrabKeyboard(display, CurrentTime);
    prepareInjection(display);
    // Without Ctrl a v alone would type a letter instead of pasting: send neither.
    if (!injection.control || !injection.v)
        return;
    XTestFakeKeyEvent(display, injection.control, True, CurrentTime);
    XTestFakeKeyEvent(display, injection.v, True, CurrentTime);
    XTestFakeKeyEvent(display, injection.v, False, CurrentTime);
    XTestFakeKeyEvent(display, injection.control, False, CurrentTime);
    XFlush(display);
}

} // namespace platform
