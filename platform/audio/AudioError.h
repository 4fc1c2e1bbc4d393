#pragma once

#include <string>

#include "platform/runtime/Error.h"

namespace platform {

// Errors of the audio core: domain "audio".
inline constexpr const char* kAudioErrorDomain = "audio";
enum class AudioError {
    invalidFormat = 1,     // a rate, channel count or layout the operation cannot take
    formatMismatch = 2,    // a buffer in another format than the operation was made for
    resampler = 3,         // libsoxr refused (its message is the detail)
    bufferTooSmall = 4,    // the output cannot hold the result
    server = 5,            // the sound server refused or is unreachable
    noDevice = 6,          // the named device does not exist
    wrongThread = 7,       // a blocking call made on the sound server's own thread
};
Error toError(AudioError code, std::string detail = {});
inline bool isAudioError(const Error& e, AudioError code) { return e.is(kAudioErrorDomain, static_cast<int>(code)); }

}  // namespace platform
