#include "window/tesselgui.h"

void TesselGui::getHotKey(WPARAM wParam)
{
    const int slot = slotOfKey(wParam);
    const Clip *clip = store.clip(slot);
    if (!clip)
        return;
    // The clipboard change this causes is ours: keep it out of the slots.
    store.ignoreNextChange();
    capture.pasting();
    platform::putOnClipboard(ClipStore::cloneMimeData(clip));
    platform::paste();
}
