#include "platform/platform.h"

#include "platform/win/win32services.h"

#include <QByteArray>
#include <QPixmap>

// QtGui's own HICON conversion, which the Windows Extras module only forwards to.
Q_GUI_EXPORT QPixmap qt_pixmapFromWinHICON(HICON icon);

namespace platform {

bool prepareStart()
{
    return true;
}

void setupApplication(QApplication &)
{
    // Windows gives every window the executable's IDI_ICON1 by itself.
}

HINSTANCE moduleHandle()
{
    return win32::moduleHandle();
}

bool registerHotKey(WId window, int id, UINT modifiers, UINT virtualKey)
{
    return win32::registerHotKey(reinterpret_cast<HWND>(window), id, modifiers, virtualKey);
}

bool unregisterHotKey(WId window, int id)
{
    return win32::unregisterHotKey(reinterpret_cast<HWND>(window), id);
}

void keyEvent(unsigned char virtualKey, unsigned long flags)
{
    win32::keyEvent(virtualKey, DWORD(flags));
}

QPixmap loadIcon(HINSTANCE module, int resourceId)
{
    return qt_pixmapFromWinHICON(win32::loadIcon(module, resourceId));
}

bool translateNativeEvent(const QByteArray &, void *, MSG *)
{
    // Hotkey presses already arrive as WM_HOTKEY messages.
    return false;
}

} // namespace platform
