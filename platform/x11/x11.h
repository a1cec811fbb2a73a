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

// Qt's connection, for the event filter: asking Qt for it builds a string each time.
inline xcb_connection_t *eventConnection()
{
    static xcb_connection_t *const connection = QX11Info::connection();
    return connection;
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
    // The first keycode with sym unshifted or shifted, or 0, in the first group: the one a
    // Ctrl shortcut is matched against.
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

// Follows the clipboard's owner as the window's connection hears of it, and answers what Qt
// must not: the capture worker's requests and a paste's TARGETS. True when it answered.
bool answerClipboardEvent(const xcb_generic_event_t *event);

// Puts the last paste's text on the primary selection too, for the terminals that paste
// from there. False when it has no text.
bool putTextOnSelection();

// The platform functions as this backend has them (platform.h tells what each does).
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
