#pragma once

#include "platform/platform.h"

#include <QList>
#include <QSet>

// The test backend: records what the program asks of the operating system and lets a
// test decide what the system answers.
namespace fakeplatform {

// The native event type under which a test reports a key press; the message is a WPARAM.
extern const char KeyPressEvent[];

struct State {
    bool noResources = false;
    QSet<int> failingHotKeys; // key codes whose registration fails
    QList<int> registered;    // key codes held now
    QList<int> unregistered;  // every key code passed to unregisterHotKey
    int pastes = 0;
};

State &state();
void reset();

} // namespace fakeplatform
