#pragma once

#include "platform/platform.h"

#include <QList>
#include <QPair>
#include <QSet>

// The test backend: records what the program asks of the operating system and lets a
// test decide what the system answers.
namespace fakeplatform {

struct State {
    bool nullModuleHandle = false;
    QSet<int> failingHotKeys;                   // ids whose registration fails
    QList<int> registered;                      // ids registered successfully, in call order
    QList<int> registerAttempts;                // every id passed to registerHotKey
    QList<int> unregistered;                    // every id passed to unregisterHotKey
    QList<QPair<int, unsigned long>> keyEvents; // (virtual key, flags)
};

State &state();
void reset();

} // namespace fakeplatform
