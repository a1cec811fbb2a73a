#pragma once

// F1 to F10 as the desktop's own global shortcuts, through the GlobalShortcuts portal of
// xdg-desktop-portal on the session bus: the one way a Wayland session lets a program hear
// keys while other programs have the focus, where the desktop serves it (KDE Plasma).

#include "platform/platform.h"

#include <functional>

namespace portal {

// Asks the portal for the shortcuts without waiting for it. Calls decided once, from the
// event loop (at once where there is no session bus), with whether they are bound.
void bindHotKeys(std::function<void(bool bound)> decided);

} // namespace portal
