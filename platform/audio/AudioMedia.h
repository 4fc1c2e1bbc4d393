#pragma once

// Where audio files are opened and format converters made, so that code
// which converts files can be given a double whose reads and conversions
// fail on cue.

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/audio/AudioFile.h"
#include "platform/audio/PcmBuffer.h"
#include "platform/audio/Resampler.h"
#include "platform/runtime/Error.h"

namespace platform {

// A streaming format converter: blocks in, blocks out, the rate converter's
// state carried from one block to the next (see PcmConverter, which the
// system implementation wraps).
class AudioFormatConverter {
public:
    virtual ~AudioFormatConverter() = default;
    virtual const PcmFormat& inputFormat() const = 0;
    virtual const PcmFormat& outputFormat() const = 0;
    // Room convert() needs for `inputFrames`.
    virtual std::uint32_t maxOutputFrames(std::uint32_t inputFrames) const = 0;
    // Appends the conversion of `input` to `output` after its frame length.
    virtual Status convert(const PcmBuffer& input, PcmBuffer& output) = 0;
    // Ends the input and appends, as far as it fits, what the converter still
    // holds; call again until it appends nothing.
    virtual Status flush(PcmBuffer& output) = 0;
};

class AudioMedia {
public:
    virtual ~AudioMedia() = default;
    virtual Result<std::unique_ptr<AudioFileReader>> openForReading(const std::filesystem::path& path) = 0;
    // `output` must be planar float32 with the input's channel count, or one
    // channel (the input's channels averaged), or any count from a mono input.
    virtual Result<std::unique_ptr<AudioFormatConverter>> makeConverter(const PcmFormat& input,
                                                                       const PcmFormat& output,
                                                                       Resampler::Quality quality) = 0;
};

// libsndfile and libsoxr. It keeps no state, so one instance serves everyone.
AudioMedia& systemAudioMedia();

// The test double. Files added here are read from memory; other paths are
// opened by libsndfile. Converters are the real ones, wrapped so that a chosen
// call fails. Thread-safe.
class FakeAudioMedia final : public AudioMedia {
public:
    FakeAudioMedia();
    ~FakeAudioMedia() override;

    Result<std::unique_ptr<AudioFileReader>> openForReading(const std::filesystem::path& path) override;
    Result<std::unique_ptr<AudioFormatConverter>> makeConverter(const PcmFormat& input, const PcmFormat& output,
                                                               Resampler::Quality quality) override;

    // A file holding `contents` (its format is the file's stored format).
    void addFile(const std::filesystem::path& path, PcmBuffer contents);
    // Opening `path` fails with `error`.
    void failOpen(const std::filesystem::path& path, Error error);
    // Read number `readIndex` (0 = the first) of every reader of `path` fails.
    void failRead(const std::filesystem::path& path, int readIndex, Error error);
    // While set, makeConverter fails with it.
    void failConverterCreation(std::optional<Error> error);
    // Convert call number `callIndex` (0 = the first), counted over all converters, fails.
    void failConversion(int callIndex, Error error);
    // Every flush fails while set.
    void failFlush(std::optional<Error> error);

    struct ConverterRequest {
        PcmFormat input;
        PcmFormat output;
        Resampler::Quality quality;
    };
    std::vector<ConverterRequest> converterRequests() const;
    // The frame counts asked for by each read of `path` (files added here only).
    std::vector<std::uint32_t> readRequests(const std::filesystem::path& path) const;

    struct State;

private:
    std::shared_ptr<State> state_;
};

}  // namespace platform
