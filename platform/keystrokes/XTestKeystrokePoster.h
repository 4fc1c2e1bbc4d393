#pragma once

// Copy and paste chords posted through the XTest extension on the display
// that DISPLAY names, as if typed on the keyboard: Control down, the letter
// down and up, Control up. Uses this thread's X11 connection.

#include "platform/keystrokes/KeystrokePoster.h"
#include "platform/runtime/Environment.h"

namespace platform {

class XTestKeystrokePoster : public KeystrokePoster {
public:
    explicit XTestKeystrokePoster(Environment environment);

    // noEventSource when the display cannot be reached or lacks XTest;
    // cannotBuildEvent when its keyboard map has no Control or letter key.
    Status post(SyntheticChord chord) override;

private:
    Environment environment_;
};

}  // namespace platform
