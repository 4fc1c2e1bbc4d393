#pragma once

// Synthetic keystrokes sent to whatever application has the keyboard focus:
// the copy and paste chords that borrow another application's clipboard
// handling. The X11 implementation lives in XTestKeystrokePoster.h; the
// scripted double is in ScriptedKeystrokePoster.h.

#include <string_view>

#include "platform/runtime/Error.h"

namespace platform {

// Ctrl+C, Ctrl+V; terminals take Ctrl+Shift+C and Ctrl+Shift+V (their Ctrl+C
// interrupts the running program).
enum class SyntheticChord { copy, paste, terminalCopy, terminalPaste };
inline bool isCopy(SyntheticChord chord) { return chord == SyntheticChord::copy || chord == SyntheticChord::terminalCopy; }
std::string_view chordName(SyntheticChord chord);

// Failures of post(), so callers can say which step broke.
enum class KeystrokeErrorCode : int {
    noEventSource = 1,  // no connection to the display, or no XTest there
    cannotBuildEvent = 2,  // the keyboard map has no key for the chord
};
inline constexpr const char* kKeystrokeErrorDomain = "Keystrokes";
Error keystrokeError(KeystrokeErrorCode code, std::string description);

class KeystrokePoster {
public:
    virtual ~KeystrokePoster() = default;
    // Presses and releases the chord, modifier first. Returns once the
    // events are on their way; the focused application handles them later.
    virtual Status post(SyntheticChord chord) = 0;
};

}  // namespace platform
