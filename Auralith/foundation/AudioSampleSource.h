#pragma once

// Long recordings read a window at a time: the sample-source contract, a
// source over an array, and one over a memory-mapped temporary file of raw
// floats that AudioSourceFactory streams any audio file into, one block at a
// time, so that neither the decoded file nor the mapped result has to sit on
// the heap.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Auralith/foundation/AppLogger.h"
#include "platform/audio/AudioMedia.h"
#include "platform/runtime/Error.h"

namespace auralith {

class AudioSampleSource {
public:
    virtual ~AudioSampleSource() = default;
    virtual std::int64_t sampleCount() const = 0;
    // Copies up to `count` samples from `offset` to the front of `destination`
    // (an offset below 0 counts as 0; one at or past the end copies nothing).
    // Elements past the copied ones are left as they were.
    virtual void copySamples(float* destination, std::int64_t offset, std::int64_t count) const = 0;
};

struct ArrayAudioSampleSource final : AudioSampleSource {
    std::vector<float> samples;

    ArrayAudioSampleSource() = default;
    explicit ArrayAudioSampleSource(std::vector<float> s) : samples(std::move(s)) {}
    std::int64_t sampleCount() const override { return static_cast<std::int64_t>(samples.size()); }
    void copySamples(float* destination, std::int64_t offset, std::int64_t count) const override;
};

// A read-only mapping of a whole file, unmapped when the last copy goes.
class MappedFile {
public:
    static platform::Result<std::shared_ptr<const MappedFile>> map(const std::filesystem::path& path);
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    const std::byte* data() const { return data_; }
    std::size_t size() const { return size_; }

private:
    MappedFile(const std::byte* data, std::size_t size) : data_(data), size_(size) {}
    const std::byte* data_;
    std::size_t size_;
};

// Raw 32-bit floats in a temporary file, mapped into memory. Copies share the
// mapping; the file goes only when cleanup() is called.
struct DiskBackedAudioSampleSource final : AudioSampleSource {
    std::shared_ptr<const MappedFile> mappedData;
    int floatStride = 4;
    std::filesystem::path fileURL;
    std::int64_t count = 0;

    std::int64_t sampleCount() const override { return count; }
    void copySamples(float* destination, std::int64_t offset, std::int64_t count) const override;
    // Removes the temporary file; a failure to remove it is ignored.
    void cleanup() const;
};

struct AudioSourceError {
    std::string message;
    // "Processing failed: <message>"
    std::string description() const { return "Processing failed: " + message; }
};
inline constexpr const char* kAudioSourceErrorDomain = "AudioSourceError";
// Domain "AudioSourceError", case processingFailed, code 0.
platform::Error toError(const AudioSourceError& error);
bool isAudioSourceError(const platform::Error& error);

// Where live audio comes from, for callers that keep one stream per origin.
enum class AudioSource { microphone, system };

struct AudioSourceFactory {
    AppLogger logger{"AudioSourceFactory"};
    platform::AudioMedia* media = &platform::systemAudioMedia();
    // Where the temporary files go; the system's temporary folder when absent.
    std::optional<std::filesystem::path> temporaryDirectory;

    struct Made {
        DiskBackedAudioSampleSource source;
        double elapsed = 0;  // seconds the whole operation took
    };

    // Streams the file, mixed to mono and converted to `sampleRate` Hz, into
    // "auralith-streaming-<UUID>.raw" and maps it. Every failure is an
    // AudioSourceError; the temporary file is removed again when one happens.
    platform::Result<Made> makeDiskBackedSource(const std::filesystem::path& url, int sampleRate) const;

    // Input frames read and converted per block.
    static constexpr std::uint32_t kBlockFrames = 16384;
};

}  // namespace auralith
