#pragma once

#include <cstdint>
#include <string>

namespace platform {

// How one sample is stored. The values are the common-format numbers that
// logs print (1 = 32-bit float, 3 = signed 16-bit integer).
enum class PcmSampleType : std::uint8_t { float32 = 1, int16 = 3 };

// The shape of PCM audio: rate, channels, sample type and layout. Planar
// ("non-interleaved") keeps each channel in its own run of samples;
// interleaved keeps frames together.
struct PcmFormat {
    double sampleRate = 0;
    std::uint32_t channelCount = 0;
    PcmSampleType sampleType = PcmSampleType::float32;
    bool interleaved = false;

    static PcmFormat float32(double sampleRate, std::uint32_t channels, bool interleaved = false) {
        return {sampleRate, channels, PcmSampleType::float32, interleaved};
    }
    static PcmFormat int16(double sampleRate, std::uint32_t channels, bool interleaved = true) {
        return {sampleRate, channels, PcmSampleType::int16, interleaved};
    }

    // A usable format has a positive rate and at least one channel.
    bool isValid() const { return sampleRate > 0 && channelCount > 0; }
    std::uint32_t bytesPerSample() const { return sampleType == PcmSampleType::float32 ? 4 : 2; }
    std::uint32_t bytesPerFrame() const { return bytesPerSample() * channelCount; }
    int commonFormat() const { return static_cast<int>(sampleType); }

    // "48000 Hz, 2 ch, Float32, deinterleaved"
    std::string description() const;

    friend bool operator==(const PcmFormat&, const PcmFormat&) = default;
};

}  // namespace platform
