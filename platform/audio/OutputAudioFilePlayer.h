#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "platform/audio/AudioFilePlayer.h"
#include "platform/audio/AudioOutputStream.h"

namespace platform {

// Audio-file players on an audio output: libsndfile decodes, SoundTouch
// changes the tempo keeping the pitch, and a feeder thread per player keeps a
// few buffers scheduled ahead on an output stream (the default output). The
// output's completions only count played frames and wake the feeder, so the
// audio thread allocates nothing; the end report runs on the feeder thread.
// The current time counts the frames whose buffers have played (it lags by at
// most one buffer); a seek drops what is queued, moves the decoder and refills.
class OutputAudioFilePlayerFactory : public AudioFilePlayerFactory {
public:
    // Frames per scheduled buffer and how many stay scheduled ahead.
    static constexpr std::uint32_t kBufferFrames = 4096;
    static constexpr int kBuffersAhead = 3;

    explicit OutputAudioFilePlayerFactory(AudioOutput& output, std::string streamName = "Parlowen")
        : output_(output), streamName_(std::move(streamName)) {}

    Result<std::unique_ptr<AudioFilePlayer>> open(const std::filesystem::path& path) override;

private:
    AudioOutput& output_;
    std::string streamName_;
};

}  // namespace platform
