#include "platform/x11/x11.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QTimer>
#include <QX11Info>

#include <algorithm>
#include <vector>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace {

// How long a borrowed keycode stays mapped: the focused application reads the mapping when
// it handles the key, after our injection has returned.
const int BorrowedKeyRestoreMs = 1000;

KeyCode borrowed = 0; // a spare keycode mapped to the last paste's key, or 0

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
        // The timer never fires after the event loop: give the key back on the way out too.
        QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit,
                         giveBackBorrowedKey);
    }
    timer->start(BorrowedKeyRestoreMs);
}

// The keycode that types sym; a layout without it (Russian alone has no Latin v) gets a
// spare keycode mapped to sym for a while.
KeyCode keycodeFor(Display *display, const x11::KeyboardMap &map, KeySym sym)
{
    KeyCode key = map.find(sym);
    if (!key && (key = map.spare())) {
        // One keycode on loan at a time: a paste that needs another key ends the last loan.
        giveBackBorrowedKey();
        XChangeKeyboardMapping(display, key, 1, &sym, 1);
        XSync(display, False);
        borrowed = key;
    }
    return key;
}

// How a program pastes: modifiers held around a key, from the primary selection or not.
struct PasteKeys {
    KeySym modifiers[2];
    KeySym key;
    bool fromSelection;
};
const PasteKeys ControlV = {{XK_Control_L, NoSymbol}, XK_v, false};
const PasteKeys ControlShiftV = {{XK_Control_L, XK_Shift_L}, XK_v, false};
const PasteKeys ShiftInsert = {{XK_Shift_L, NoSymbol}, XK_Insert, true};

// Terminals, by the class in their WM_CLASS. They hand Ctrl+V to the program inside (bash
// takes it for quoted-insert) and paste with keys of their own.
const struct {
    const char *windowClass;
    const PasteKeys *keys;
} Terminals[] = {
    {"Gnome-terminal", &ControlShiftV}, {"konsole", &ControlShiftV},
    {"Xfce4-terminal", &ControlShiftV}, {"Lxterminal", &ControlShiftV},
    {"qterminal", &ControlShiftV},      {"kitty", &ControlShiftV},
    {"Alacritty", &ControlShiftV},      {"XTerm", &ShiftInsert},
    {"UXTerm", &ShiftInsert},           {"URxvt", &ShiftInsert},
    {"st-256color", &ShiftInsert},
};

QByteArray classOf(Display *display, Window window)
{
    XClassHint hint = {};
    if (!XGetClassHint(display, window, &hint))
        return {};
    const QByteArray name = hint.res_class;
    XFree(hint.res_name);
    XFree(hint.res_class);
    return name;
}

// The class of the window with the focus: its own, else a child's (a window manager focuses
// its frame), else its nearest ancestor's (GTK focuses a child of its top-level).
QByteArray focusedClass(Display *display)
{
    Window window = None, root = None, parent = None, *children = nullptr;
    int revert = 0;
    unsigned count = 0;
    XGetInputFocus(display, &window, &revert);
    QByteArray found;
    for (bool focus = true; window > PointerRoot && window != root && found.isEmpty();
         focus = false, window = parent) {
        found = classOf(display, window);
        if (!XQueryTree(display, window, &root, &parent, &children, &count))
            break;
        for (unsigned at = 0; focus && at < count && found.isEmpty(); ++at)
            found = classOf(display, children[at]);
        if (children)
            XFree(children);
    }
    return found;
}

} // namespace

namespace x11 {

void paste()
{
    if (!x11::isX11())
        return;
    Display *display = QX11Info::display();
    // While the hotkey is held its grab is an active one of ours: the keys would come to us.
    XUngrabKeyboard(display, CurrentTime);
    const PasteKeys *keys = &ControlV;
    const QByteArray windowClass = focusedClass(display);
    for (const auto &terminal : Terminals) {
        if (qstricmp(windowClass.constData(), terminal.windowClass) == 0)
            keys = terminal.keys;
    }
    const x11::KeyboardMap map(QX11Info::connection());
    std::vector<KeyCode> presses;
    for (const KeySym modifier : keys->modifiers) {
        if (modifier != NoSymbol)
            presses.push_back(map.find(modifier));
    }
    // Without its modifiers the key would type a letter instead of pasting: send none.
    if (std::count(presses.begin(), presses.end(), 0))
        return;
    presses.push_back(keycodeFor(display, map, keys->key));
    if (borrowed)
        giveBackLater();
    // A clip without text would leave the terminal pasting an older selection.
    if (!presses.back() || (keys->fromSelection && !x11::putTextOnSelection()))
        return;
    for (const KeyCode key : presses)
        XTestFakeKeyEvent(display, key, True, CurrentTime);
    for (auto key = presses.rbegin(); key != presses.rend(); ++key)
        XTestFakeKeyEvent(display, *key, False, CurrentTime);
    XFlush(display);
}

} // namespace x11
