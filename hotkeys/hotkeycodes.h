#pragma once

#include <QtGlobal>

// Entry i is the virtual-key code of F(i+1) (VK_F1 to VK_F10), the id under which that key
// is registered, and the key of clip slot i.
constexpr qint32 hotKeyCodes[] = {112, 113, 114, 115, 116, 117, 118, 119, 120, 121};
constexpr int HotKeyCount = int(sizeof hotKeyCodes / sizeof hotKeyCodes[0]);

// The slot whose key has this code, or -1.
constexpr int slotOfKey(quint64 code)
{
    for (int i = 0; i < HotKeyCount; ++i) {
        if (quint64(hotKeyCodes[i]) == code)
            return i;
    }
    return -1;
}
