#pragma once

// What the X11 backend's sources share. The window's requests go over Qt's own connection.

#include "platform/platform.h"

#include <QX11Info>

#include <cstdint>
#include <vector>

#include <xcb/xcb.h>

namespace x11 {

// Whether Qt runs on X11: a platform list that names xcb after another is left to Qt.
inline bool isX11()
{
    return QX11Info::isPlatformX11() && QX11Info::display() && QX11Info::connection();
}

// An event's type, without the bit that marks one another client sent.
inline uint8_t typeOf(const xcb_generic_event_t *event)
{
    return event->response_type & ~0x80;
}

// The server's keyboard mapping, read afresh: Xlib's own cache never hears of a change,
// since Qt owns the event queue.
class KeyboardMap {
public:
    explicit KeyboardMap(xcb_connection_t *connection);
    // The first keycode with sym unshifted or shifted, or 0. Only the first group is
    // searched, which is the one a Ctrl shortcut is matched against.
    xcb_keycode_t find(xcb_keysym_t sym) const;
    // The last keycode without any symbol, or 0.
    xcb_keycode_t spare() const;
    // The modifier NumLock sets, 0 when it sets none.
    uint16_t numLockMask(xcb_connection_t *connection) const;

private:
    xcb_keycode_t first = 0;
    int perKeycode = 0;
    std::vector<xcb_keysym_t> syms;
};

// Takes in what the window's connection hears about the clipboard (its owner), and answers
// the requests for it that Qt must not: those of the capture worker, and those for the
// formats of a paste. True when event was such a request.
bool answerClipboardEvent(const xcb_generic_event_t *event);

// Puts the text of what the last paste put on the clipboard on the primary selection too,
// for the terminals that paste from there. False when the clipboard holds no such text.
bool putTextOnSelection();

// The platform functions as this backend has them, where a Linux program chooses between
// X11 and Wayland at start (platform.h tells what each does).
bool prepareStart();
QString sessionKey();
quint64 clientId();
void watchClipboardOwner(quint64 window);
platform::ClipboardStamp clipboardStamp();
platform::OwnerChange ownerChangeSince(const platform::ClipboardStamp &stamp);
void onClipboardChange(std::function<void()> changed);
const QMimeData *clipboardContent();
void refuseClipboardRequestsFrom(quint64 client);
bool registerHotKey(WId window, int keyCode);
void putOnClipboard(QMimeData *data);
void paste();
bool clipboardIsOurs();

} // namespace x11
