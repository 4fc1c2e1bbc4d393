#include "platform/keystrokes/KeystrokePoster.h"

namespace platform {

std::string_view chordName(SyntheticChord chord) {
    switch (chord) {
        case SyntheticChord::copy: return "copy";
        case SyntheticChord::paste: return "paste";
        case SyntheticChord::terminalCopy: return "terminal copy";
        case SyntheticChord::terminalPaste: return "terminal paste";
    }
    return "unknown";
}

Error keystrokeError(KeystrokeErrorCode code, std::string description) {
    const char* name = code == KeystrokeErrorCode::noEventSource ? "noEventSource" : "cannotBuildEvent";
    return Error::make(kKeystrokeErrorDomain, static_cast<int>(code), name, std::move(description));
}

}  // namespace platform
