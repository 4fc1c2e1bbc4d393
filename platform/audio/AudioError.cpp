#include "platform/audio/AudioError.h"

namespace platform {

namespace {
const char* caseNameOf(AudioError code) {
    switch (code) {
        case AudioError::invalidFormat: return "invalidFormat";
        case AudioError::formatMismatch: return "formatMismatch";
        case AudioError::resampler: return "resampler";
        case AudioError::bufferTooSmall: return "bufferTooSmall";
        case AudioError::server: return "server";
        case AudioError::noDevice: return "noDevice";
        case AudioError::wrongThread: return "wrongThread";
    }
    return "unknown";
}
const char* textOf(AudioError code) {
    switch (code) {
        case AudioError::invalidFormat: return "unusable audio format";
        case AudioError::formatMismatch: return "audio buffer format does not match";
        case AudioError::resampler: return "sample-rate conversion failed";
        case AudioError::bufferTooSmall: return "audio output buffer too small";
        case AudioError::server: return "sound server error";
        case AudioError::noDevice: return "no such audio device";
        case AudioError::wrongThread: return "blocking audio call on the sound server thread";
    }
    return "audio error";
}

}  // namespace

Error toError(AudioError code, std::string detail) {
    std::string text = textOf(code);
    if (!detail.empty()) text += ": " + detail;
    return Error::make(kAudioErrorDomain, static_cast<int>(code), caseNameOf(code), std::move(text));
}

}  // namespace platform
