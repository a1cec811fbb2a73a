#pragma once

// The only way the rest of Tessel reaches the operating system. Windows links its backend;
// Linux links X11's and Wayland's and prepareStart picks one; tests link a fake instead.

#include <QtGlobal>
#include <qwindowdefs.h>

#include <cstdint>
#include <functional>

class QApplication;
class QByteArray;
class QIcon;
class QMimeData;
class QString;
class QStringList;
class QWidget;

// The key code a hotkey press carries, declared as <windows.h> declares it.
typedef std::uintptr_t WPARAM;

namespace platform {

// A press older than this is not pasted: the focus may have moved on since.
constexpr int LatePressMs = 500;

// Called before the application object exists: picks the windowing system and checks that it
// can be reached; on failure prints one line to stderr and returns false.
bool prepareStart();

// Called first thing in the capture worker: its standard input and output set to carry bytes
// as they are, as its channel to the window; other writes to standard output go to stderr.
struct WorkerChannel {
    int input = 0;
    int output = 1;
};
WorkerChannel openWorkerChannel();

// Names this process among the windowing system's clients (the window's and the worker's).
quint64 clientId();

// One owner's hold on the clipboard: the same copy made by the user, however often seen.
struct ClipboardStamp {
    quint32 owner = 0; // the owner's window (X11), 0 where the system names no owner
    quint32 time = 0;  // when it took the clipboard, or the change's number; 0: not known
    bool sameCopyAs(const ClipboardStamp &other) const
    {
        // Where one side never saw the change itself, the owner alone tells.
        if (!time || !other.time)
            return owner && owner == other.owner;
        return owner == other.owner && time == other.time;
    }
};

// What became of the clipboard since a stamp was taken.
enum class OwnerChange {
    None,     // the same owner still holds it
    ToWindow, // the window's process took it: a paste, which never answers the worker
    Emptied,  // the owner gave it up, and nobody else answers for it
    ToOther,  // another program took it
};

// In a capture worker, before it reads anything: follows who holds the clipboard from now
// on; window is the window process's clientId.
void watchClipboardOwner(quint64 window);
// The clipboard's owner now, as far as the system has told.
ClipboardStamp clipboardStamp();
// Whether the clipboard changed hands since stamp was taken.
OwnerChange ownerChangeSince(const ClipboardStamp &stamp);
// In a capture worker with an application object: calls changed from the event loop
// whenever the clipboard changes hands.
void onClipboardChange(std::function<void()> changed);
// In a capture worker: what the clipboard holds, each format read from its owner when asked
// for; null when empty. The backend's, valid until the next call.
const QMimeData *clipboardContent();

// The window's side: the clipboard requests of this client (the capture worker) are refused,
// so what it reads comes from other owners only, also when a paste takes over mid-read.
void refuseClipboardRequestsFrom(quint64 client);

// Whether a clipboard read keeps everyone else from setting the clipboard while it lasts
// (Windows): a paste must then end the read first.
bool readingHoldsClipboard();

// Whether Qt's reader lists "application/x-qt-image" among formats though the owner never
// offered it: last after an image type (X11), or for a PNG without a bitmap (Windows).
bool readerAddsImageValue(const QStringList &formats);

// In a capture worker with an application object, before any read. generation counts the
// workers started: a late answer to an earlier worker must not reach this one.
void separateFromEarlierWorkers(unsigned generation);

// Once the application object exists: the program icon as default window icon.
void setupApplication(QApplication &app);

// Names this user and desktop session: a second start finds the first under this name.
QString sessionKey();

// Brings the window to the front, un-minimised, with the keyboard focus.
void bringToFront(QWidget &window);

// Called by a second start before it hands over: lets the first take the front, which some
// systems refuse to a program the user is not working with.
void yieldFront();

// Called once, with an application object: calls endRequested from the event loop whenever
// the system asks the program to end (SIGTERM, SIGINT, SIGHUP), so it gives back what it took.
void onEndRequest(std::function<void()> endRequested);

// Opens the program's own resources (its icons). False when they cannot be had.
bool openResources();

// The red X shown in the delete cells; null when the resources could not be opened.
QIcon deleteIcon();

// Takes the function key keyCode (F1 = 112 to F10 = 121) for the window, system-wide, without
// modifiers; false when another program holds it. Presses come through hotKeyPressed; the key
// is kept through keyboard mapping changes, and losing it there is said once on stderr.
bool registerHotKey(WId window, int keyCode);

// Releases what registerHotKey took. Releasing a key that is not held is harmless.
void unregisterHotKey(WId window, int keyCode);

// Where presses come as the desktop's shortcuts, not native events (Wayland's portal): calls
// pressed from the event loop with each press's key code. An empty function stops them.
void onHotKeyPress(std::function<void(WPARAM code)> pressed);

// What a native event means to the hotkeys.
struct HotKeyPress {
    WPARAM code = 0;      // the key code of the registered key pressed; 0: not a press of ours
    bool late = false;    // made more than LatePressMs ago: ours to swallow, not to paste
    bool handled = false; // not a press, but the backend answered it: no one else may
};

// Reads every native event the application receives (keyboard mapping changes too).
HotKeyPress hotKeyPressed(const QByteArray &eventType, void *message);

// Puts data on the clipboard, which takes it over (as QClipboard::setMimeData does). The
// clipboard then offers data's formats, in their order, and no others.
void putOnClipboard(QMimeData *data);

// Pastes into the application that has the keyboard focus: a synthetic Ctrl+V, or in a
// terminal the keys it pastes with where the backend knows them (X11).
void paste();

// The name a paste offers a format under, given Qt's: the system's own where Qt has its own.
QString pasteFormatName(const QString &format);

// Whether this process owns the clipboard now, as the system has it (Qt learns of a new owner
// only when it handles the event, which may come after other news of the change).
bool clipboardIsOurs();

} // namespace platform
