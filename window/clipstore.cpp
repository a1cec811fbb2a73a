#include "clipstore.h"

#include <QElapsedTimer>
#include <QMimeData>
#include <QStringList>

#include <algorithm>

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

// A request that brought nothing after this long ran into Qt's clipboard timeout (5 s): the
// owner has stopped answering, and asking it for more would freeze the window again.
const qint64 StalledRequestMs = 1000;

// Reads a clipboard owner's formats, each once, and gives up on the owner after its first
// request that timed out.
class OwnerReader {
public:
    explicit OwnerReader(const QMimeData &source) : source(source) {}

    // Null when the owner refused or never answered.
    QVariant read(const QString &format)
    {
        if (stalled)
            return QVariant();
        QElapsedTimer timer;
        timer.start();
        QVariant value = format == ImageFormat ? source.imageData() : QVariant(source.data(format));
        const bool empty = format == ImageFormat ? value.isNull() : value.toByteArray().isEmpty();
        if (empty) {
            stalled = timer.elapsed() >= StalledRequestMs;
            return QVariant();
        }
        return value;
    }

private:
    const QMimeData &source;
    bool stalled = false;
};

// Password managers mark what they copy so that clipboard tools leave it alone. A mark that
// is listed but cannot be read counts as set: a refusal must not let a password through.
bool isMarkedSecret(const QStringList &formats, OwnerReader &reader)
{
    static const QString kdeHint = QStringLiteral("x-kde-passwordManagerHint");
    static const QString excludeFormat = QStringLiteral(
        "application/x-qt-windows-mime;value=\"ExcludeClipboardContentFromMonitorProcessing\"");
    static const QString historyFormat =
        QStringLiteral("application/x-qt-windows-mime;value=\"CanIncludeInClipboardHistory\"");

    if (formats.contains(excludeFormat))
        return true;
    if (formats.contains(kdeHint)) {
        const QVariant hint = reader.read(kdeHint);
        if (hint.isNull() || hint.toByteArray().trimmed() == "secret")
            return true;
    }
    if (formats.contains(historyFormat)) {
        const QVariant flag = reader.read(historyFormat);
        if (flag.isNull() || flag.toByteArray().startsWith(QByteArray(4, '\0')))
            return true;
    }
    return false;
}

// A clip of what the owner offers: the formats that could be read, in its order. Null for a
// marked secret and for a change with nothing readable (an emptied clipboard, an owner
// that died or refused every format): neither is worth a slot.
std::unique_ptr<QMimeData> readClip(const QMimeData *source)
{
    if (!source)
        return nullptr;
    QStringList formats = source->formats();
    formats.erase(std::remove_if(formats.begin(), formats.end(), isProtocolTarget), formats.end());
    OwnerReader reader(*source);
    if (formats.isEmpty() || isMarkedSecret(formats, reader))
        return nullptr;
    auto clip = std::make_unique<QMimeData>();
    bool any = false;
    for (const QString &format : formats) {
        const QVariant value = reader.read(format);
        if (value.isNull())
            continue;
        any = true;
        if (format == ImageFormat)
            clip->setImageData(value);
        else
            clip->setData(format, value.toByteArray());
    }
    return any ? std::move(clip) : nullptr;
}
} // namespace

ClipStore::ClipStore() = default;

ClipStore::~ClipStore() = default;

const QMimeData *ClipStore::clip(int slot) const
{
    return slot >= 0 && slot < MaxClips ? clips[slot].get() : nullptr;
}

void ClipStore::capture(const QMimeData *source, Origin origin)
{
    // Every change the program causes itself is skipped, whether the gate expected it or
    // the clipboard reported it late.
    if (origin == Origin::Ours || state != Gate::Collecting) {
        if (state == Gate::IgnoringOwnPaste)
            state = Gate::Collecting;
        return;
    }
    std::unique_ptr<QMimeData> clip = readClip(source);
    // Taking no slot for it keeps the clip at the cursor.
    if (!clip)
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
