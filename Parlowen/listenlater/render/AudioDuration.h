#pragma once

#include <filesystem>

#include "platform/runtime/Error.h"
#include "platform/values/Url.h"

namespace parlowen {

// The playing time of a finished audio file in seconds: its frames over its
// sample rate, as the audio-file layer reads them. Fails with that layer's
// error (libsndfile's message) when the file cannot be read.
platform::Result<double> loadAudioDuration(const std::filesystem::path& path);

// The same for the renderers' results: 0 when the file cannot be read or the
// value is not finite. Never fails.
double audioDuration(const platform::Url& of);

}  // namespace parlowen
