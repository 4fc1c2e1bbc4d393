#include "Parlowen/listenlater/render/AudioDuration.h"

#include <cmath>

#include "platform/audio/AudioFile.h"

namespace parlowen {

platform::Result<double> loadAudioDuration(const std::filesystem::path& path) {
    auto reader = platform::openAudioFileForReading(path);
    if (!reader) return platform::fail(reader.error());
    return static_cast<double>((*reader)->length()) / (*reader)->fileFormat().sampleRate;
}

double audioDuration(const platform::Url& of) {
    auto seconds = loadAudioDuration(of.filePath());
    return seconds && std::isfinite(*seconds) ? *seconds : 0;
}

}  // namespace parlowen
