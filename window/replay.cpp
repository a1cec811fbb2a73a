#include "window/tesselgui.h"

#include <QClipboard>
#include <QGuiApplication>

void TesselGui::getHotKey(WPARAM wParam)
{
    const int slot = slotOfKey(wParam);
    const Clip *clip = store.clip(slot);
    if (!clip)
        return;
    // The clipboard change this causes is ours, which keeps it out of the slots.
    capture.pasting();
    QGuiApplication::clipboard()->setMimeData(ClipStore::cloneMimeData(clip),
                                              QClipboard::Clipboard);
    platform::paste();
}
