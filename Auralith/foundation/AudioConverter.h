#pragma once

// The package's canonical audio: 32-bit float samples, one channel, planar,
// 16 kHz unless a caller asks for another rate. AudioConverter turns files,
// PCM buffers of any layout and float arrays at other rates into it;
// AudioWAV turns float samples into the bytes of a 16-bit mono WAV file.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "Auralith/foundation/AppLogger.h"
#include "platform/audio/AudioMedia.h"
#include "platform/audio/PcmBuffer.h"
#include "platform/runtime/Error.h"
#include "platform/values/Bytes.h"

namespace auralith {

struct AudioConverterError {
    enum class Case {
        conversionFailed,
        sampleBufferCopyFailed,
        failedToCreateConverter,
        failedToCreateBuffer,
        sampleBufferFormatMissing,
        failedToCreateSourceFormat,
    };
    Case kind = Case::conversionFailed;
    std::shared_ptr<const platform::Error> underlying;  // conversionFailed
    std::int32_t status = 0;                            // sampleBufferCopyFailed

    static AudioConverterError conversionFailed(std::optional<platform::Error> underlying);
    static AudioConverterError sampleBufferCopyFailed(std::int32_t status) {
        return {Case::sampleBufferCopyFailed, nullptr, status};
    }
    static AudioConverterError failedToCreateConverter() { return {Case::failedToCreateConverter, nullptr, 0}; }
    static AudioConverterError failedToCreateBuffer() { return {Case::failedToCreateBuffer, nullptr, 0}; }
    static AudioConverterError sampleBufferFormatMissing() { return {Case::sampleBufferFormatMissing, nullptr, 0}; }
    static AudioConverterError failedToCreateSourceFormat() { return {Case::failedToCreateSourceFormat, nullptr, 0}; }

    // "Audio conversion failed: <underlying description | Unknown error>", ...
    std::string description() const;
};

inline constexpr const char* kAudioConverterErrorDomain = "AudioConverterError";
// Domain "AudioConverterError", code = the case's position; conversionFailed keeps its cause as the underlying error.
platform::Error toError(const AudioConverterError& error);
bool isAudioConverterError(const platform::Error& error, AudioConverterError::Case kind);

// Converts audio to the target format. Holds no mutable state once made, so
// one instance may serve several threads at once; each conversion makes its
// own converter and buffers.
class AudioConverter {
public:
    // The rate converter's quality for every conversion of the package, so
    // that all entry points (buffers, files, disk-backed sources) agree.
    static constexpr platform::Resampler::Quality kResamplingQuality = platform::Resampler::Quality::veryHigh;

    // Planar float32, 16000 Hz, one channel.
    static platform::PcmFormat defaultTargetFormat() { return platform::PcmFormat::float32(16000, 1); }

    // `media` opens files and makes the rate converters; it must outlive the converter.
    explicit AudioConverter(platform::PcmFormat targetFormat = defaultTargetFormat(), bool debug = false,
                            platform::AudioMedia& media = platform::systemAudioMedia());
    // Mono float32 at `sampleRate`. A rate that is not positive and finite
    // makes every conversion fail with failedToCreateSourceFormat.
    static AudioConverter withSampleRate(double sampleRate, bool debug = false,
                                         platform::AudioMedia& media = platform::systemAudioMedia());

    const platform::PcmFormat& targetFormat() const { return targetFormat_; }
    bool debug() const { return debug_; }
    const AppLogger& logger() const { return logger_; }

    // Every sample of the file, mixed to mono and converted to the target rate
    // block by block (about one second per read). Open and read errors are the
    // file layer's, passed on unchanged.
    platform::Result<std::vector<float>> resampleAudioFile(const std::filesystem::path& path) const;
    platform::Result<std::vector<float>> resampleAudioFile(platform::AudioFileReader& file) const;
    // The buffer's samples in the target format (first channel); a buffer
    // already in the target format is copied as it is.
    platform::Result<std::vector<float>> resampleBuffer(const platform::PcmBuffer& buffer) const;
    // `samples` at `sampleRate` brought to the target rate; empty stays empty,
    // an equal rate returns the samples unchanged.
    platform::Result<std::vector<float>> resampleToTargetRate(std::span<const float> samples, double sampleRate) const;
    // Mono samples from one rate to another.
    platform::Result<std::vector<float>> resample(std::span<const float> samples, double sourceRate,
                                                  double destinationRate) const;
    // The core of every conversion: the buffer in `outputFormat`, first channel
    // only. Three or more channels are first averaged to mono by hand, then
    // resampled by the same rate converter, and always give mono.
    platform::Result<std::vector<float>> convertBuffer(const platform::PcmBuffer& buffer,
                                                       const platform::PcmFormat& outputFormat) const;
    platform::Result<std::unique_ptr<platform::AudioFileReader>> openAudioFile(const std::filesystem::path& path) const;

private:
    struct Source;
    platform::Result<std::vector<float>> convertFrames(const Source& source,
                                                       const platform::PcmFormat& outputFormat) const;
    platform::Result<std::vector<float>> convertManually(const platform::PcmBuffer& buffer,
                                                         const platform::PcmFormat& outputFormat) const;

    AppLogger logger_;
    platform::PcmFormat targetFormat_;
    bool debug_;
    platform::AudioMedia* media_;
};

// 16-bit mono PCM WAV bytes: a 44-byte RIFF header and the samples,
// peak-normalised to full scale.
struct AudioWAV {
    inline static constexpr const char* kErrorDomain = "AudioWAV";
    // Fails only when the sample count or the rate does not fit the header's 32-bit fields.
    static platform::Result<platform::Bytes> data(std::span<const float> samples, double sampleRate);
};

}  // namespace auralith
