#include "clipstore.h"

#include <QMimeData>
#include <QStringList>

namespace {
const QString ImageFormat = QStringLiteral("application/x-qt-image");

// Targets of the X11 selection protocol itself, which Qt lists among the formats. They
// describe the transfer, not the data, and cannot be offered back as data.
bool isProtocolTarget(const QString &format)
{
    static const QStringList targets = {
        QStringLiteral("TARGETS"),         QStringLiteral("MULTIPLE"),
        QStringLiteral("TIMESTAMP"),       QStringLiteral("SAVE_TARGETS"),
        QStringLiteral("DELETE"),          QStringLiteral("INSERT_SELECTION"),
        QStringLiteral("INSERT_PROPERTY"),
    };
    return targets.contains(format);
}

bool hasData(const QMimeData &data)
{
    const QStringList formats = data.formats();
    for (const QString &format : formats) {
        if (!isProtocolTarget(format))
            return true;
    }
    return false;
}

// Password managers mark what they copy so that clipboard tools leave it alone.
bool isMarkedSecret(const QMimeData &data)
{
    static const QString kdeHint = QStringLiteral("x-kde-passwordManagerHint");
    static const QString excludeFormat = QStringLiteral(
        "application/x-qt-windows-mime;value=\"ExcludeClipboardContentFromMonitorProcessing\"");
    static const QString historyFormat =
        QStringLiteral("application/x-qt-windows-mime;value=\"CanIncludeInClipboardHistory\"");

    const QStringList formats = data.formats();
    if (formats.contains(excludeFormat))
        return true;
    if (formats.contains(kdeHint) && data.data(kdeHint) == "secret")
        return true;
    if (formats.contains(historyFormat)) {
        const QByteArray flag = data.data(historyFormat);
        if (flag.size() >= 4 && flag.startsWith(QByteArray(4, '\0')))
            return true;
    }
    return false;
}
} // namespace

ClipStore::ClipStore() = default;

ClipStore::~ClipStore() = default;

const QMimeData *ClipStore::clip(int slot) const
{
    return slot >= 0 && slot < MaxClips ? clips[slot].get() : nullptr;
}

void ClipStore::capture(const QMimeData *source)
{
    if (state != Gate::Collecting) {
        if (state == Gate::IgnoringOwnPaste)
            state = Gate::Collecting;
        return;
    }
    // An emptied clipboard (on X11: its owner exited) and a marked secret take no slot:
    // either would cost the user the clip at the cursor for nothing worth pasting.
    if (!source || !hasData(*source) || isMarkedSecret(*source))
        return;
    const int slot = chooseSlot();
    clips[slot].reset();
    clips[slot].reset(cloneMimeData(source));
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

void ClipStore::ignoreNextChange()
{
    if (state == Gate::Collecting)
        state = Gate::IgnoringOwnPaste;
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

QMimeData *ClipStore::cloneMimeData(const QMimeData *source)
{
    auto *copy = new QMimeData;
    const QStringList formats = source->formats();
    for (const QString &format : formats) {
        if (isProtocolTarget(format))
            continue;
        if (format == ImageFormat)
            copy->setImageData(source->imageData());
        else
            copy->setData(format, source->data(format));
    }
    return copy;
}
