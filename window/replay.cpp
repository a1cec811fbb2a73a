#include "window/tesselgui.h"

void TesselGui::getHotKey(WPARAM wParam)
{
    const int slot = slotOfKey(wParam);
    const Clip *clip = store.clip(slot);
    if (!clip)
        return;
    // The clipboard change this causes is ours, which keeps it out of the slots.
    capture.pasting();
    platform::putOnClipboard(ClipStore::cloneMimeData(clip));
    platform::paste();
}
