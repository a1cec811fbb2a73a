#include "platform/x11/x11.h"

#include <algorithm>
#include <cstdlib>

#include <X11/keysym.h>

namespace x11 {

KeyboardMap::KeyboardMap(xcb_connection_t *connection)
{
    const xcb_setup_t *setup = xcb_get_setup(connection);
    first = setup->min_keycode;
    xcb_get_keyboard_mapping_reply_t *reply = xcb_get_keyboard_mapping_reply(
        connection,
        xcb_get_keyboard_mapping(connection, first, uint8_t(setup->max_keycode - first + 1)),
        nullptr);
    if (!reply)
        return;
    perKeycode = reply->keysyms_per_keycode;
    const xcb_keysym_t *begin = xcb_get_keyboard_mapping_keysyms(reply);
    syms.assign(begin, begin + xcb_get_keyboard_mapping_keysyms_length(reply));
    std::free(reply);
}

xcb_keycode_t KeyboardMap::find(xcb_keysym_t sym) const
{
    for (std::size_t at = 0; at < syms.size(); ++at) {
        if (syms[at] == sym && at % perKeycode < 2)
            return xcb_keycode_t(first + at / perKeycode);
    }
    return 0;
}

xcb_keycode_t KeyboardMap::spare() const
{
    const int count = perKeycode ? int(syms.size()) / perKeycode : 0;
    for (int key = count - 1; key >= 0; --key) {
        const auto keysyms = syms.begin() + key * perKeycode;
        if (std::all_of(keysyms, keysyms + perKeycode,
                        [](xcb_keysym_t sym) { return sym == XCB_NO_SYMBOL; }))
            return xcb_keycode_t(first + key);
    }
    return 0;
}

uint16_t KeyboardMap::numLockMask(xcb_connection_t *connection) const
{
    const xcb_keycode_t numLock = find(XK_Num_Lock);
    xcb_get_modifier_mapping_reply_t *reply =
        xcb_get_modifier_mapping_reply(connection, xcb_get_modifier_mapping(connection), nullptr);
    // Eight modifiers, each with the same number of keycodes, Shift's first.
    const int perModifier = reply ? reply->keycodes_per_modifier : 0;
    const xcb_keycode_t *keycodes = reply ? xcb_get_modifier_mapping_keycodes(reply) : nullptr;
    uint16_t mask = 0;
    for (int at = 0; numLock && !mask && at < 8 * perModifier; ++at) {
        if (keycodes[at] == numLock)
            mask = uint16_t(1u << (at / perModifier));
    }
    std::free(reply);
    return mask;
}

} // namespace x11
