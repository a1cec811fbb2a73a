#pragma once

#include "platform/platform.h"

#include <QList>
#include <QSet>

#include <functional>

// The test backend: records what the program asks of the operating system and lets a
// test decide what the system answers.
namespace fakeplatform {

// The native event types under which a test reports a key press, made just now or longer
// ago than platform::LatePressMs; the message is a WPARAM.
extern const char KeyPressEvent[];
extern const char LateKeyPressEvent[];

struct State {
    bool noResources = false;
    QSet<int> failingHotKeys; // key codes whose registration fails
    QList<int> registered;    // key codes held now
    QList<int> unregistered;  // every key code passed to unregisterHotKey
    int pastes = 0;
    bool readerAddsImageValue = false;        // as Qt's X11 clipboard reader does
    platform::ClipboardStamp stamp{1, 1};     // the clipboard's owner now
    std::function<void(WPARAM)> desktopPress; // reports a press as the desktop's shortcut
};

State &state();
void reset();

} // namespace fakeplatform
