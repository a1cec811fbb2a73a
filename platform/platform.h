#pragma once

// The only way the rest of Tessel reaches the operating system. Exactly one backend
// (platform/win or platform/x11) is linked into the program; tests link a fake instead.

#include <QtGlobal>
#include <qwindowdefs.h>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <cstdint>

// The Windows names the window and hotkey code are written against, with the same widths.
typedef std::uintptr_t WPARAM;
typedef std::intptr_t LPARAM;
typedef unsigned int UINT;
typedef void *HWND;
typedef void *HINSTANCE;

struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    unsigned long time;
};
#endif

class QApplication;
class QByteArray;
class QPixmap;

namespace platform {

// Message number of a hotkey press (WM_HOTKEY).
constexpr UINT HotKeyMessage = 0x0312;
// keybd_event flags.
constexpr unsigned long KeyPress = 0;
constexpr unsigned long KeyRelease = 2; // KEYEVENTF_KEYUP
// Resource id of the red X shown in the delete cells.
constexpr int DeleteIconResource = 4;

// Called before the application object exists. Picks the windowing system the backend
// serves and checks that it can be reached; on failure prints one line to stderr and
// returns false.
bool prepareStart();

// Called once the application object exists: the program icon as default window icon.
void setupApplication(QApplication &app);

// GetModuleHandleW(nullptr): the program's own module, null on failure.
HINSTANCE moduleHandle();

// RegisterHotKey: after success each press of the bare key, in any application, reaches
// this program as a HotKeyMessage with wParam = id. Returns false on failure.
bool registerHotKey(WId window, int id, UINT modifiers, UINT virtualKey);

// UnregisterHotKey: releases what registerHotKey took. Releasing a key that is not held
// is harmless.
bool unregisterHotKey(WId window, int id);

// keybd_event(virtualKey, 0, flags, 0): the event goes to the focused application.
void keyEvent(unsigned char virtualKey, unsigned long flags);

// LoadIconW(module, MAKEINTRESOURCE(resourceId)) as a pixmap; null on failure.
QPixmap loadIcon(HINSTANCE module, int resourceId);

// Turns a native event that is not already a Windows message into the Windows message it
// stands for, when there is one: an X11 press of a registered key becomes a hotkey message.
// Returns false for every other event (and always on Windows).
bool translateNativeEvent(const QByteArray &eventType, void *message, MSG *translated);

} // namespace platform
