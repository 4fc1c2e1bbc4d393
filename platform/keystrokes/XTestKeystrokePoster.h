#pragma once

// Copy and paste chords posted through the XTest extension on the display
// that DISPLAY names, as if typed on the keyboard: Control (and Shift for a
// terminal) down, the letter down and up, then up again. Modifiers the user
// still holds are released around the chord and pressed again after it.
// The key source of the same display is told first (SyntheticKeyGate), so
// it ignores these events. Uses this thread's X11 connection.

#include <cstdint>
#include <vector>

#include "platform/keystrokes/KeystrokePoster.h"
#include "platform/runtime/Environment.h"
#include "platform/x11/SyntheticKeys.h"

namespace platform {

class XTestKeystrokePoster : public KeystrokePoster {
public:
    explicit XTestKeystrokePoster(Environment environment);

    // noEventSource when the display cannot be reached or lacks XTest;
    // cannotBuildEvent when its keyboard map has no Control or letter key.
    Status post(SyntheticChord chord) override;

    // The key events posted for `chord` (its keys, modifiers first) while
    // the modifier keys `held` are down.
    static std::vector<KeyTransition> chordEvents(const std::vector<std::uint8_t>& held,
                                                  const std::vector<std::uint8_t>& chord);

private:
    Environment environment_;
};

}  // namespace platform
