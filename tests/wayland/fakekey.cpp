// Presses and releases one key through KWin's fake input, as a keyboard would: KWin runs
// the press through its own shortcuts before any client hears it. KWin lets a program type
// only where its installed .desktop file asks for fake input.
//
// Usage: fakekey KEYCODE   (a Linux input event code: F1 is 59, F10 is 68)

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fake-input-client.h"
#include <wayland-client.h>

namespace {

org_kde_kwin_fake_input *fakeInput = nullptr;

void global(void *, wl_registry *registry, uint32_t name, const char *interface, uint32_t version)
{
    // Keys came with the fourth version.
    if (std::strcmp(interface, org_kde_kwin_fake_input_interface.name) == 0 && version >= 4)
        fakeInput = static_cast<org_kde_kwin_fake_input *>(
            wl_registry_bind(registry, name, &org_kde_kwin_fake_input_interface, 4));
}

void globalRemove(void *, wl_registry *, uint32_t) {}

const wl_registry_listener registryListener = {global, globalRemove};

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fputs("usage: fakekey KEYCODE\n", stderr);
        return 2;
    }
    const uint32_t key = uint32_t(std::strtoul(argv[1], nullptr, 10));
    wl_display *display = wl_display_connect(nullptr);
    if (!display) {
        std::fputs("fakekey: no Wayland display\n", stderr);
        return 1;
    }
    wl_registry *registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registryListener, nullptr);
    wl_display_roundtrip(display);
    if (!fakeInput) {
        std::fputs("fakekey: the compositor offers no fake input with keys\n", stderr);
        return 1;
    }
    org_kde_kwin_fake_input_authenticate(fakeInput, "fakekey", "Presses a key for a test");
    org_kde_kwin_fake_input_keyboard_key(fakeInput, key, 1);
    org_kde_kwin_fake_input_keyboard_key(fakeInput, key, 0);
    // Gone before KWin has read the keys, the client would have typed nothing.
    const bool delivered = wl_display_roundtrip(display) >= 0;
    org_kde_kwin_fake_input_destroy(fakeInput);
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    return delivered ? 0 : 1;
}
