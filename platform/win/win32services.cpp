#include "win32services.h"

namespace win32 {

HINSTANCE moduleHandle()
{
    return GetModuleHandleW(nullptr);
}

bool registerHotKey(HWND window, int id, UINT modifiers, UINT virtualKey)
{
    return RegisterHotKey(window, id, modifiers, virtualKey) != 0;
}

bool unregisterHotKey(HWND window, int id)
{
    return UnregisterHotKey(window, id) != 0;
}

void keyEvent(BYTE virtualKey, DWORD flags)
{
    keybd_event(virtualKey, 0, flags, 0);
}

HICON loadIcon(HINSTANCE module, int resourceId)
{
    // A shared icon from the module's resources: never destroyed.
    return LoadIconW(module, MAKEINTRESOURCEW(resourceId));
}

} // namespace win32
