#include "platform/keystrokes/KeystrokePoster.h"

namespace platform {

std::string_view chordName(KeyChord chord) {
    switch (chord) {
        case KeyChord::copy: return "copy";
        case KeyChord::paste: return "paste";
    }
    return "unknown";
}

Error keystrokeError(KeystrokeErrorCode code, std::string description) {
    const char* name = code == KeystrokeErrorCode::noEventSource ? "noEventSource" : "cannotBuildEvent";
    return Error::make(kKeystrokeErrorDomain, static_cast<int>(code), name, std::move(description));
}

}  // namespace platform
