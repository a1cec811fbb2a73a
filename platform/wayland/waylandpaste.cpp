#include "platform/wayland/wayland.h"

#include <QElapsedTimer>

#include <sys/mman.h>
#include <unistd.h>

#include "fake-input-client.h"
#include "virtual-keyboard-unstable-v1-client.h"
#include <wayland-client.h>

namespace {

// Linux input event codes, which Wayland keys are numbered by.
const uint32_t KeyLeftCtrl = 29;
const uint32_t KeyV = 47;
const uint32_t Released = 0;
const uint32_t Pressed = 1;
// Control is the third of the real modifiers, which every keymap numbers alike.
const uint32_t ControlMask = 1u << 2;
// WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1
const uint32_t KeymapFormatXkb = 1;

// The keys a paste types, at the input event codes plus 8. GTK 3.24 ignores a keymap's
// highest keycode: a key without a symbol comes last.
const char PasteKeymap[] = R"(xkb_keymap {
    xkb_keycodes "tessel" {
        minimum = 8;
        maximum = 255;
        <LCTL> = 37;
        <AB04> = 55;
        <LAST> = 255;
    };
    xkb_types "tessel" { include "complete" };
    xkb_compatibility "tessel" { include "complete" };
    xkb_symbols "tessel" {
        key <LCTL> { [ Control_L ] };
        key <AB04> { [ v, V ] };
        key <LAST> { [ VoidSymbol ] };
        modifier_map Control { <LCTL> };
    };
};
)";

zwp_virtual_keyboard_v1 *keyboard = nullptr;

uint32_t now()
{
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return uint32_t(clock.elapsed());
}

} // namespace

namespace wayland {

// A keyboard with the paste keymap, made at start: where the seat has none yet, the focused
// program must hear of it before it hears a key.
void startKeyboard()
{
    if (keyboard || !globals().keyboards)
        return;
    const int fd = memfd_create("tessel-keymap", MFD_CLOEXEC);
    if (fd < 0)
        return;
    const size_t size = sizeof PasteKeymap; // with its terminating zero, as keymaps are sent
    if (write(fd, PasteKeymap, size) != ssize_t(size)) {
        close(fd);
        return;
    }
    keyboard = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(globals().keyboards,
                                                                       globals().seat);
    zwp_virtual_keyboard_v1_keymap(keyboard, KeymapFormatXkb, fd, uint32_t(size));
    close(fd);
    wl_display_flush(globals().display);
}

void paste()
{
    if (!isActive())
        return;
    if (keyboard) {
        // The compositor takes the modifiers from us, not from the keys.
        zwp_virtual_keyboard_v1_key(keyboard, now(), KeyLeftCtrl, Pressed);
        zwp_virtual_keyboard_v1_modifiers(keyboard, ControlMask, 0, 0, 0);
        zwp_virtual_keyboard_v1_key(keyboard, now(), KeyV, Pressed);
        zwp_virtual_keyboard_v1_key(keyboard, now(), KeyV, Released);
        zwp_virtual_keyboard_v1_key(keyboard, now(), KeyLeftCtrl, Released);
        zwp_virtual_keyboard_v1_modifiers(keyboard, 0, 0, 0, 0);
    } else if (globals().fakeInput) {
        // KWin types these with the user's own keymap.
        org_kde_kwin_fake_input_keyboard_key(globals().fakeInput, KeyLeftCtrl, Pressed);
        org_kde_kwin_fake_input_keyboard_key(globals().fakeInput, KeyV, Pressed);
        org_kde_kwin_fake_input_keyboard_key(globals().fakeInput, KeyV, Released);
        org_kde_kwin_fake_input_keyboard_key(globals().fakeInput, KeyLeftCtrl, Released);
    }
    wl_display_flush(globals().display);
}

} // namespace wayland
