#pragma once

#include "clips/clip.h"

#include <QObject>

#include <array>
#include <memory>

// Number of clip slots; the window gives each a hotkey.
constexpr int MaxClips = 10;

// The ten clips and the rules that fill them: which clipboard changes are kept, which slot a
// new clip takes, and the gate that keeps the program's own paste out of the slots.
class ClipStore : public QObject {
    Q_OBJECT

public:
    enum class Gate {
        Collecting, // a change is captured, unless it is our own paste
        Paused,     // the user stopped collecting: skipped
    };

    enum class Origin {
        Owner, // another program, or an owner Qt cannot name
        Ours,  // this program: the clipboard holds what a paste put there
    };

    const Clip *clip(int slot) const;
    int writeCursor() const { return nextSlot; }
    Gate gate() const { return state; }

    // The clipboard changed to source (null when it holds nothing): captures it into a slot
    // unless the gate, its origin, a marked secret or nothing readable says otherwise.
    void capture(const QMimeData *source, Origin origin = Origin::Owner);
    // Stores a clip read elsewhere, unless collecting is paused.
    void add(std::unique_ptr<Clip> clip);

    void setCollecting(bool on);
    void clear(int slot);
    void clearAll();

    // A new clip holding every data format of source, in source's order, each under the name
    // a paste offers it under; the caller owns it.
    static QMimeData *cloneMimeData(const Clip *source);

signals:
    void slotChanged(int slot);

private:
    std::array<std::unique_ptr<Clip>, MaxClips> clips;
    int nextSlot = 0;
    Gate state = Gate::Collecting;
};
