// Which Linux backend serves: Wayland's where the compositor lets a program follow the
// clipboard and type, else X11's (also through XWayland). prepareStart decides once.

#include "platform/platform.h"

#include "platform/posix/portalshortcuts.h"
#include "platform/wayland/wayland.h"
#include "platform/x11/x11.h"

#include <QApplication>
#include <QIcon>
#include <QString>

#include <cstdio>

#include <unistd.h>

namespace {

// Qt's own Wayland platform, for the window where there is no XWayland to run it on.
const char WaylandPlatform[] = "wayland";
const char AppIconPath[] = ":/icons/tessel.ico";

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
    app.setWindowIcon(QIcon(QString::fromLatin1(AppIconPath)));
    std::fputs(wayland::notes().constData(), stderr);
    if (!wayland::isActive())
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
    return wayland::isActive() ? quint64(getpid()) : x11::clientId();
}

void watchClipboardOwner(quint64 window)
{
    wayland::isActive() ? wayland::watchClipboardOwner() : x11::watchClipboardOwner(window);
}

ClipboardStamp clipboardStamp()
{
    return wayland::isActive() ? wayland::clipboardStamp() : x11::clipboardStamp();
}

OwnerChange ownerChangeSince(const ClipboardStamp &stamp)
{
    return wayland::isActive() ? wayland::ownerChangeSince(stamp) : x11::ownerChangeSince(stamp);
}

void onClipboardChange(std::function<void()> changed)
{
    wayland::isActive() ? wayland::onClipboardChange(std::move(changed))
                        : x11::onClipboardChange(std::move(changed));
}

const QMimeData *clipboardContent()
{
    return wayland::isActive() ? wayland::clipboardContent() : x11::clipboardContent();
}

void refuseClipboardRequestsFrom(quint64 client)
{
    // A data-control read never reaches the window's process: the worker reads other
    // programs' selections only (clipboardIsOurs keeps it from ours).
    if (!wayland::isActive())
        x11::refuseClipboardRequestsFrom(client);
}

bool registerHotKey(WId window, int keyCode)
{
    // Wayland lets no program take a key for itself: the desktop's shortcuts do instead (the
    // start said so). Through XWayland the key is taken for while X11 programs have the focus.
    return x11::registerHotKey(window, keyCode) || wayland::isActive();
}

void putOnClipboard(QMimeData *data)
{
    wayland::isActive() ? wayland::putOnClipboard(data) : x11::putOnClipboard(data);
}

void paste()
{
    wayland::isActive() ? wayland::paste() : x11::paste();
}

bool clipboardIsOurs()
{
    return wayland::isActive() ? wayland::clipboardIsOurs() : x11::clipboardIsOurs();
}

} // namespace platform
