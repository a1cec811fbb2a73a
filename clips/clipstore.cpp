#include "clipstore.h"

#include "platform/platform.h"
#include "clips/clipreader.h"

ClipStore::ClipStore() = default;

ClipStore::~ClipStore() = default;

const Clip *ClipStore::clip(int slot) const
{
    return slot >= 0 && slot < MaxClips ? clips[slot].get() : nullptr;
}

void ClipStore::capture(const QMimeData *source, Origin origin)
{
    if (origin == Origin::Owner && state == Gate::Collecting)
        add(readClip(source));
}

void ClipStore::add(std::unique_ptr<Clip> clip)
{
    // Nothing worth a slot: the clip at the cursor stays.
    if (!clip || state == Gate::Paused)
        return;
    const int slot = chooseSlot();
    clips[slot] = std::move(clip);
    emit slotChanged(slot);
}

// The first empty slot; when every slot is taken, the one at the write cursor.
int ClipStore::chooseSlot()
{
    for (int i = 0; i < MaxClips; ++i) {
        if (!clips[i])
            return i;
    }
    const int slot = nextSlot;
    nextSlot = (slot + 1) % MaxClips;
    return slot;
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
