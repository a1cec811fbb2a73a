// Which Linux backend serves: Wayland's where the compositor lets a program follow the
// clipboard and type, else X11's (also through XWayland). prepareStart decides once; every
// call below goes to that backend alone.

#include "platform/platform.h"

#include "platform/posix/portalshortcuts.h"
#include "platform/wayland/wayland.h"
#include "platform/x11/x11.h"

#include <QApplication>
#include <QString>
#include <QStringList>

#include <cstdio>

#include <unistd.h>

namespace {

// Qt's own Wayland platform, for the window where there is no XWayland to run it on.
const char WaylandPlatform[] = "wayland";

bool onWayland()
{
    return wayland::isActive();
}

} // namespace

namespace platform {

bool prepareStart()
{
    if (!wayland::connect()) {
        if (x11::prepareStart())
            return true; // the window says why not Wayland once it is up
        std::fputs(wayland::notes().constData(), stderr);
        return false;
    }
    // The window stays on XWayland where there is one: keeping it above others needs X11,
    // and its F-keys then still work while X11 programs have the focus.
    if (!qEnvironmentVariableIsEmpty("DISPLAY") && x11::prepareStart())
        return true;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", WaylandPlatform);
    return true;
}

void setupApplication(QApplication &app)
{
    x11::setupApplication(app);
    const QByteArray notes = wayland::notes();
    if (!notes.isEmpty())
        std::fputs(notes.constData(), stderr);
    if (!onWayland())
        return;
    wayland::startWindow();
    // Which way the keys come in is said once the portal has answered.
    portal::bindHotKeys([onX11 = x11::isX11()](bool bound) {
        std::fputs(
            bound ? "tessel: on Wayland the F-keys reach Tessel as the desktop's global shortcuts "
                    "\"Paste slot 1\" to \"Paste slot 10\" (GlobalShortcuts portal), which its "
                    "shortcut settings can change.\n"
            : onX11 ? "tessel: on Wayland the F-keys reach Tessel only while an X11 program has "
                      "the focus; elsewhere a key binding of the desktop runs tessel --paste N: "
                      "see \"Wayland\" in Tessel's README.\n"
                    : "tessel: on Wayland the F-keys reach Tessel through key bindings of the "
                      "desktop that run tessel --paste N: see \"Wayland\" in Tessel's README.\n",
            stderr);
    });
}

QString sessionKey()
{
    // Asked before prepareStart too (tessel --paste): a Wayland session without XWayland is
    // told by its variables alone, as the window runs on Qt's Wayland platform there.
    if (qEnvironmentVariableIsEmpty("DISPLAY") && !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return QStringLiteral("%1-wayland:%2")
            .arg(getuid())
            .arg(QString::fromLocal8Bit(qgetenv("WAYLAND_DISPLAY")));
    return x11::sessionKey();
}

quint64 clientId()
{
    return onWayland() ? quint64(getpid()) : x11::clientId();
}

void watchClipboardOwner(quint64 window)
{
    if (onWayland())
        wayland::watchClipboardOwner();
    else
        x11::watchClipboardOwner(window);
}

ClipboardStamp clipboardStamp()
{
    return onWayland() ? wayland::clipboardStamp() : x11::clipboardStamp();
}

OwnerChange ownerChangeSince(const ClipboardStamp &stamp)
{
    return onWayland() ? wayland::ownerChangeSince(stamp) : x11::ownerChangeSince(stamp);
}

void onClipboardChange(std::function<void()> changed)
{
    if (onWayland())
        wayland::onClipboardChange(std::move(changed));
    else
        x11::onClipboardChange(std::move(changed));
}

const QMimeData *clipboardContent()
{
    return onWayland() ? wayland::clipboardContent() : x11::clipboardContent();
}

void refuseClipboardRequestsFrom(quint64 client)
{
    // A data-control read never reaches the window's process: the worker reads other
    // programs' selections only (clipboardIsOurs keeps it from ours).
    if (!onWayland())
        x11::refuseClipboardRequestsFrom(client);
}

bool readerAddsImageValue(const QStringList &formats)
{
    // The Wayland reader names the image value as Qt's X11 reader does.
    return x11::readerAddsImageValue(formats);
}

bool registerHotKey(WId window, int keyCode)
{
    // Wayland lets no program take a key for itself: the desktop's key bindings do instead
    // (the start said so once, on stderr). Through XWayland the key is taken where its
    // keymap has it, for while X11 programs have the focus; where it has not, nobody could.
    if (!onWayland())
        return x11::registerHotKey(window, keyCode);
    if (x11::isX11())
        x11::registerHotKey(window, keyCode);
    return true;
}

void onHotKeyPress(std::function<void(WPARAM)> pressed)
{
    // X11 reports its presses as native events; the portal, used on Wayland alone, does not.
    portal::onHotKeyPress(std::move(pressed));
}

void putOnClipboard(QMimeData *data)
{
    if (onWayland())
        wayland::putOnClipboard(data);
    else
        x11::putOnClipboard(data);
}

void paste()
{
    if (onWayland())
        wayland::paste();
    else
        x11::paste();
}

bool clipboardIsOurs()
{
    return onWayland() ? wayland::clipboardIsOurs() : x11::clipboardIsOurs();
}

} // namespace platform
