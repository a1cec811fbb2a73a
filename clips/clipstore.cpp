#include "clipstore.h"

#include "platform/platform.h"
#include "clips/clipreader.h"

const Clip *ClipStore::clip(int slot) const
{
    return slot >= 0 && slot < MaxClips ? clips[slot].get() : nullptr;
}

void ClipStore::capture(const QMimeData *source, Origin origin)
{
    ClipRead read;
    if (origin == Origin::Owner && state == Gate::Collecting)
        add(readClip(source, read));
}

void ClipStore::add(std::unique_ptr<Clip> clip)
{
    // Nothing worth a slot: the clip at the cursor stays.
    if (!clip || state == Gate::Paused)
        return;
    // The first empty slot; when every slot is taken, the one at the write cursor.
    int slot = 0;
    while (slot < MaxClips && clips[slot])
        ++slot;
    if (slot == MaxClips) {
        slot = nextSlot;
        nextSlot = (slot + 1) % MaxClips;
    }
    clips[slot] = std::move(clip);
    emit slotChanged(slot);
}

void ClipStore::setCollecting(bool on)
{
    state = on ? Gate::Collecting : Gate::Paused;
}

void ClipStore::clear(int slot)
{
    if (!clip(slot))
        return;
    clips[slot].reset();
    emit slotChanged(slot);
}

void ClipStore::clearAll()
{
    for (int i = 0; i < MaxClips; ++i)
        clear(i);
}

QMimeData *ClipStore::cloneMimeData(const Clip *source)
{
    return source->copy(platform::pasteFormatName);
}
