#include "platform/platform.h"

#include "platform/x11/x11.h"

#include <QByteArray>
#include <QIcon>
#include <QString>
#include <QWidget>
#include <QX11Info>

#include <cstdio>
#include <cstdlib>

#include <X11/Xlib.h>
#include <unistd.h>

namespace {

const char DeleteIconPath[] = ":/icons/delete.ico";

// What the program is run on when the platform asked for has no X11 in it.
const char XcbPlatform[] = "xcb";

} // namespace

namespace x11 {

bool prepareStart()
{
    // Nothing here draws with OpenGL, and Qt's GLX integration loads some 50 MB of Mesa.
    if (!qEnvironmentVariableIsSet("QT_XCB_GL_INTEGRATION"))
        qputenv("QT_XCB_GL_INTEGRATION", "none");
    // Hotkeys and key injection are X11 services. Qt's list: "name:arguments;name...".
    const QByteArray chosen = qgetenv("QT_QPA_PLATFORM");
    QList<QByteArray> names;
    for (const QByteArray &entry : chosen.split(';'))
        names << entry.split(':').first().trimmed();
    const bool namesXcb = names.contains(XcbPlatform);
    if (namesXcb && names.first() != XcbPlatform)
        return true; // xcb is only a fallback here: Qt decides.
    if (!namesXcb)
        qputenv("QT_QPA_PLATFORM", XcbPlatform);
    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        const char *name = std::getenv("DISPLAY");
        if (name && *name)
            std::fprintf(stderr, "tessel: cannot open the X display \"%s\".\n", name);
        else
            std::fprintf(stderr, "tessel: no X display: DISPLAY is not set. Tessel needs an X11 "
                                 "desktop session (or Xvfb).\n");
        return false;
    }
    XCloseDisplay(display);
    if (!namesXcb && !chosen.isEmpty())
        std::fprintf(stderr,
                     "tessel: QT_QPA_PLATFORM is \"%s\", but the hotkeys need X11: running on "
                     "xcb instead.\n",
                     chosen.constData());
    return true;
}

QString sessionKey()
{
    // ":0", ":0.0" (its first screen) and "unix:0" all name the same display.
    const QByteArray name =
        x11::isX11() ? QByteArray(DisplayString(QX11Info::display())) : qgetenv("DISPLAY");
    const int colon = name.lastIndexOf(':');
    QByteArray host = name.left(qMax(colon, 0));
    if (host == "unix")
        host.clear();
    const QByteArray number = name.mid(colon + 1).split('.').first();
    return QStringLiteral("%1-%2:%3")
        .arg(getuid())
        .arg(QString::fromLocal8Bit(host), QString::fromLocal8Bit(number));
}

} // namespace x11

namespace platform {

void bringToFront(QWidget &window)
{
    window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
    window.show();
    window.raise();
    // A window manager that guards against focus stealing weighs an activation's time
    // against the user's last input: it must be the server's time now, not our last event's.
    if (x11::isX11()) {
        const unsigned long now = QX11Info::getTimestamp();
        QX11Info::setAppTime(now);
        QX11Info::setAppUserTime(now);
    }
    window.activateWindow();
}

// X11 window managers go by the time of the activation, which bringToFront sets.
void yieldFront() {}

bool openResources()
{
    // The icons are compiled into the program.
    return true;
}

QIcon deleteIcon()
{
    // The file holds a 64-pixel picture for screens at 200% besides the 32-pixel one.
    return QIcon(QString::fromLatin1(DeleteIconPath));
}

} // namespace platform
