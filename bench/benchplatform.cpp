#include "platform/platform.h"

#include <QPixmap>
#include <QString>

// A backend that answers as a working desktop would but touches no desktop service: the
// capture bench runs offscreen or next to a real Tessel without taking its keys.
namespace platform {

bool prepareStart()
{
    return true;
}

void setupApplication(QApplication &) {}

HINSTANCE moduleHandle()
{
    static int module;
    return reinterpret_cast<HINSTANCE>(&module);
}

bool registerHotKey(WId, int, UINT, UINT)
{
    return true;
}

bool unregisterHotKey(WId, int)
{
    return true;
}

void keyEvent(unsigned char, unsigned long) {}

// Loaded on every call, as the X11 backend does, so that a capture pays the same.
QPixmap loadIcon(HINSTANCE, int resourceId)
{
    if (resourceId != DeleteIconResource)
        return QPixmap();
    return QPixmap(QStringLiteral(":/icons/delete.ico"));
}

bool translateNativeEvent(const QByteArray &, void *, MSG *)
{
    return false;
}

} // namespace platform
