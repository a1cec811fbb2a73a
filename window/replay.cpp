#include "window/tesselgui.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

namespace {
const unsigned char VkControl = 17;
const unsigned char VkV = 86;
} // namespace

void TesselGui::getHotKey(WPARAM wParam)
{
    int slot = -1;
    for (int i = 0; i < MaxClips; ++i) {
        if (WPARAM(hotKeyCodes[i]) == wParam) {
            slot = i;
            break;
        }
    }
    if (slot < 0 || !clips[slot])
        return;

    // The clipboard change this causes is ours: keep it out of the slots.
    acceptChange = false;
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->setMimeData(cloneMimeData(clips[slot]), QClipboard::Clipboard);

    platform::keyEvent(VkControl, platform::KeyPress);
    platform::keyEvent(VkV, platform::KeyPress);
    platform::keyEvent(VkV, platform::KeyRelease);
    platform::keyEvent(VkControl, platform::KeyRelease);
}
