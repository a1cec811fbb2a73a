#include "platform/platform.h"

#include "platform/x11/x11.h"

#include <QCoreApplication>
#include <QTimer>
#include <QX11Info>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace {

// How long a keycode borrowed for V stays mapped: the focused application reads the
// mapping when it handles the key, after our injection has returned.
const int BorrowedKeyRestoreMs = 1000;

KeyCode borrowed = 0; // a spare keycode mapped to XK_v for the last paste, or 0

void giveBackBorrowedKey()
{
    if (!borrowed || !x11::isX11())
        return;
    KeySym none = NoSymbol;
    XChangeKeyboardMapping(QX11Info::display(), borrowed, 1, &none, 1);
    XFlush(QX11Info::display());
    borrowed = 0;
}

// Gives the borrowed keycode back once the last paste has had its time with it.
void giveBackLater()
{
    static QTimer *timer = nullptr;
    if (!timer) {
        timer = new QTimer(QCoreApplication::instance());
        timer->setSingleShot(true);
        QObject::connect(timer, &QTimer::timeout, giveBackBorrowedKey);
        // The timer cannot fire once the event loop has ended: give the key back on the
        // way out too, or the user's layout would keep the extra v after we exit.
        QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit,
                         giveBackBorrowedKey);
    }
    timer->start(BorrowedKeyRestoreMs);
}

} // namespace

namespace x11 {

void paste()
{
    if (!x11::isX11())
        return;
    Display *display = QX11Info::display();
    // While the hotkey is still held its grab is an active keyboard grab of ours, and the
    // synthetic keys would come back to us instead of the focused application.
    XUngrabKeyboard(display, CurrentTime);
    const x11::KeyboardMap map(QX11Info::connection());
    const KeyCode control = map.find(XK_Control_L);
    KeyCode v = map.find(XK_v);
    // A layout without a Latin v (Russian alone, say) gets a spare keycode mapped to v for
    // a while, so that Ctrl+V still means paste.
    if (control && !v && (v = map.spare())) {
        KeySym sym = XK_v;
        XChangeKeyboardMapping(display, v, 1, &sym, 1);
        XSync(display, False);
        borrowed = v;
    }
    if (borrowed)
        giveBackLater();
    // Without Ctrl a v alone would type a letter instead of pasting: send neither.
    if (!control || !v)
        return;
    XTestFakeKeyEvent(display, control, True, CurrentTime);
    XTestFakeKeyEvent(display, v, True, CurrentTime);
    XTestFakeKeyEvent(display, v, False, CurrentTime);
    XTestFakeKeyEvent(display, control, False, CurrentTime);
    XFlush(display);
}

} // namespace x11
