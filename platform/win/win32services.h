#pragma once

// The Win32 calls behind the platform layer, free of Qt so that they can be built and run
// on their own (the Wine self-test links exactly this file with the resource script).

#include <windows.h>

namespace win32 {

HINSTANCE moduleHandle();
bool registerHotKey(HWND window, int id, UINT modifiers, UINT virtualKey);
bool unregisterHotKey(HWND window, int id);
void keyEvent(BYTE virtualKey, DWORD flags);
HICON loadIcon(HINSTANCE module, int resourceId);

} // namespace win32
