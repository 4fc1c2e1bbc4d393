#pragma once

#include <optional>
#include <string>

#include <nlohmann/json_fwd.hpp>

#include "platform/runtime/Error.h"

namespace auralith {

// Timing and memory figures of one recognition run.
struct ASRPerformanceMetrics {
    double preprocessorTime = 0;
    double encoderTime = 0;
    double decoderTime = 0;
    double totalProcessingTime = 0;
    float rtfx = 0;
    float peakMemoryMB = 0;
    std::optional<float> gpuUtilization;

    // Multi-line text ending in the GPU line ("N/A" when unknown), no trailing line feed.
    std::string summary() const;

    // The seven keys in field order, gpuUtilization only when present.
    nlohmann::ordered_json toJson() const;
    // Requires the first six keys as numbers; gpuUtilization may be missing.
    static platform::Result<ASRPerformanceMetrics> fromJson(const nlohmann::ordered_json& json);

    friend bool operator==(const ASRPerformanceMetrics&, const ASRPerformanceMetrics&) = default;
};

// Named constants of speech recognition.
struct ASRConstants {
    static constexpr int sampleRate = 16000;
    static constexpr int maxModelSamples = 240000;
    static constexpr double maxChunkSeconds = 15.0;
    static constexpr int samplesPerEncoderFrame = 1280;
    static constexpr double secondsPerEncoderFrame = 0.08;
    static constexpr int melHopLength = 160;
    static constexpr int decoderHiddenSize = 640;
    static constexpr double minimumAudioSeconds = 0.3;

    // The sample count divided by 1280, rounded up.
    static constexpr long encoderFrameCount(long sampleCount) {
        return sampleCount <= 0 ? 0 : (sampleCount + samplesPerEncoderFrame - 1) / samplesPerEncoderFrame;
    }
    // The sample rate times 0.3, truncated.
    static constexpr long minimumSampleCount(double sampleRate) {
        return static_cast<long>(sampleRate * minimumAudioSeconds);
    }
};

}  // namespace auralith
