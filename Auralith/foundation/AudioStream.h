#pragma once

// Audio that arrives in pieces of any size, cut into fixed-length overlapping
// chunks for a model that works on windows: every chunk is `chunkDuration`
// long and consecutive chunks start `chunkSkip` apart. Pieces are converted to
// mono float at the stream's rate and kept in a time-stamped buffer of fixed
// length; gaps in the time stamps are filled with silence, overlaps are
// overwritten, and an overflow drops the oldest samples. Finished chunks go to
// a bound callback as they become ready, or to a caller that polls.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <shared_mutex>
#include <span>
#include <vector>

#include "Auralith/foundation/AudioConverter.h"
#include "platform/audio/PcmBuffer.h"
#include "platform/runtime/Error.h"
#include "platform/runtime/Executor.h"
#include "platform/runtime/Task.h"

namespace auralith {

enum class AudioStreamChunkingStrategy {
    useFixedSkip,   // a chunk is the front of the buffer; the buffer then moves on by the skip
    useMostRecent,  // a chunk is the newest samples; only the overlap stays behind
};

enum class AudioStreamStartupStrategy {
    startSilent,       // the overlap of the first chunk is silence before the stream's start
    rampUpChunkSize,   // chunks grow by the skip until they reach full length
    waitForFullChunk,  // nothing until a whole chunk has arrived
};

// invalidTime: a write's time stamp is not a finite number of seconds that a
// sample position can hold; the piece is refused.
enum class AudioStreamError { bufferTooSmall, invalidChunkSkip, invalidChunkDuration, invalidTime };
inline constexpr const char* kAudioStreamErrorDomain = "AudioStreamError";
// Domain "AudioStreamError", code = the case's position, the case name as text.
platform::Error toError(AudioStreamError error);
bool isAudioStreamError(const platform::Error& error, AudioStreamError kind);

class AudioStream {
public:
    struct Options {
        double chunkDuration = 1.0;        // seconds
        std::optional<double> chunkSkip;   // seconds; the chunk duration when absent
        double streamStartTime = 0;        // seconds
        AudioStreamChunkingStrategy chunkingStrategy = AudioStreamChunkingStrategy::useFixedSkip;
        AudioStreamStartupStrategy startupStrategy = AudioStreamStartupStrategy::waitForFullChunk;
        double sampleRate = 16000;
        std::optional<double> bufferCapacity;  // seconds; chunk duration + skip when absent
    };

    // Receives each chunk (a copy of its own) and the time of its first sample.
    using Callback = std::function<platform::Status(std::vector<float> samples, double time)>;
    struct Chunk {
        std::vector<float> samples;
        double time = 0;
    };

    // Fails with one AudioStreamError, checked in the order chunk duration, chunk skip, buffer size.
    static platform::Result<std::unique_ptr<AudioStream>> make(Options options);

    AudioStream(const AudioStream&) = delete;
    AudioStream& operator=(const AudioStream&) = delete;

    void bind(Callback callback);
    // The chunk as the caller's own collection of floats.
    template <class Collection>
    void bind(std::function<platform::Status(Collection samples, double time)> callback) {
        bind([callback = std::move(callback)](std::vector<float> samples, double time) {
            return callback(Collection(samples.begin(), samples.end()), time);
        });
    }
    // Each chunk starts a task of its own on `executor`; the write does not wait for it.
    void bindAsync(platform::Executor& executor,
                   std::function<platform::Task<void>(std::vector<float> samples, double time)> closure);
    template <class Collection>
    void bindAsync(platform::Executor& executor,
                   std::function<platform::Task<void>(Collection samples, double time)> closure) {
        bindAsync(executor, [closure = std::move(closure)](std::vector<float> samples, double time) {
            return closure(Collection(samples.begin(), samples.end()), time);
        });
    }
    void unbind();

    // Appends the piece, then hands every ready chunk to the callback before
    // returning. `time`, when given, is compared in samples (rounded) with
    // the position the piece would end at: a shortfall is filled with
    // silence first, an excess moves the write position back so the piece
    // overwrites. Fails with invalidTime (nothing taken) when `time` has no
    // sample position, else only with the callback's error; samples already
    // taken stay.
    platform::Status write(std::span<const float> samples, std::optional<double> time = std::nullopt);
    // Converts the buffer to mono float at the stream's rate first; conversion errors pass on.
    platform::Status write(const platform::PcmBuffer& buffer, std::optional<double> time = std::nullopt);

    std::optional<Chunk> readChunk();
    template <class Collection, class F>
    auto readChunk(F&& f) -> std::optional<decltype(f(std::declval<Collection>(), 0.0))> {
        auto chunk = readChunk();
        if (!chunk) return std::nullopt;
        return f(Collection(chunk->samples.begin(), chunk->samples.end()), chunk->time);
    }
    bool isChunkReady() const;

    double sampleRate() const { return sampleRate_; }
    double chunkDuration() const { return chunkDuration_; }
    double chunkSkip() const { return chunkSkip_; }
    std::int64_t chunkSize() const { return chunkSize_; }
    std::int64_t skipSize() const { return skipSize_; }
    AudioStreamChunkingStrategy chunkingStrategy() const { return chunkingStrategy_; }
    double overlapDuration() const { return chunkDuration_ - chunkSkip_; }
    std::int64_t overlapSize() const { return chunkSize_ - skipSize_; }
    std::size_t bufferLength() const { return buffer_.size(); }
    // The mutable state, read together.
    struct State {
        std::int64_t writeIndex = 0;
        std::int64_t temporaryChunkSize = 0;
        double bufferStartTime = 0;
    };
    State state() const;

private:
    AudioStream(const Options& options, double chunkSkip, std::int64_t chunkSize, std::int64_t skipSize,
                std::size_t bufferLength);

    // The members below the lock run with it held exclusively.
    void advance(std::int64_t count);
    std::int64_t makeRoom(std::int64_t incoming, std::int64_t capacity, std::int64_t limit);
    std::int64_t limit() const;
    void append(std::span<const float> samples);
    void appendGap(std::int64_t gap, std::int64_t incoming);
    std::optional<Chunk> extractChunk();
    std::shared_ptr<const Callback> currentCallback() const;

    const double sampleRate_;
    const double chunkDuration_;
    const double chunkSkip_;
    const std::int64_t chunkSize_;
    const std::int64_t skipSize_;
    const AudioStreamChunkingStrategy chunkingStrategy_;
    const AudioConverter converter_;

    mutable std::shared_mutex mutex_;
    std::int64_t writeIndex_ = 0;
    std::int64_t temporaryChunkSize_ = 0;
    double bufferStartTime_ = 0;
    std::vector<float> buffer_;
    std::shared_ptr<const Callback> callback_;
};

}  // namespace auralith
