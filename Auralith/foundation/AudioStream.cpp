#include "Auralith/foundation/AudioStream.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>

namespace auralith {

namespace {

const char* caseNameOf(AudioStreamError error) {
    switch (error) {
        case AudioStreamError::bufferTooSmall: return "bufferTooSmall";
        case AudioStreamError::invalidChunkSkip: return "invalidChunkSkip";
        case AudioStreamError::invalidChunkDuration: return "invalidChunkDuration";
        case AudioStreamError::invalidTime: return "invalidTime";
    }
    return "unknown";
}

// Nearest integer, halves away from zero; nothing when the value has no integer form.
std::optional<std::int64_t> rounded(double value) {
    if (!std::isfinite(value) || std::abs(value) >= 9.2e18) return std::nullopt;
    return static_cast<std::int64_t>(std::llround(value));
}

}  // namespace

platform::Error toError(AudioStreamError error) {
    return platform::Error::make(kAudioStreamErrorDomain, static_cast<int>(error), caseNameOf(error),
                                 caseNameOf(error));
}

bool isAudioStreamError(const platform::Error& error, AudioStreamError kind) {
    return error.is(kAudioStreamErrorDomain, static_cast<int>(kind));
}

platform::Result<std::unique_ptr<AudioStream>> AudioStream::make(Options o) {
    const double skip = o.chunkSkip.value_or(o.chunkDuration);
    const auto chunkSize = rounded(o.chunkDuration * o.sampleRate);
    if (!chunkSize || *chunkSize < 1) return platform::fail(toError(AudioStreamError::invalidChunkDuration));
    const auto skipSize = rounded(skip * o.sampleRate);
    if (!skipSize || *skipSize < 1 || *skipSize > *chunkSize)
        return platform::fail(toError(AudioStreamError::invalidChunkSkip));
    const auto length = rounded(o.sampleRate * o.bufferCapacity.value_or(o.chunkDuration + skip));
    if (!length || *length < *chunkSize) return platform::fail(toError(AudioStreamError::bufferTooSmall));
    return std::unique_ptr<AudioStream>(
        new AudioStream(o, skip, *chunkSize, *skipSize, static_cast<std::size_t>(*length)));
}

AudioStream::AudioStream(const Options& o, double chunkSkip, std::int64_t chunkSize, std::int64_t skipSize,
                         std::size_t bufferLength)
    : sampleRate_(o.sampleRate),
      chunkDuration_(o.chunkDuration),
      chunkSkip_(chunkSkip),
      chunkSize_(chunkSize),
      skipSize_(skipSize),
      chunkingStrategy_(o.chunkingStrategy),
      converter_(AudioConverter::withSampleRate(o.sampleRate)),
      buffer_(bufferLength, 0.0f) {
    switch (o.startupStrategy) {
        case AudioStreamStartupStrategy::startSilent:
            // The zeros already in the buffer count as the first chunk's overlap.
            writeIndex_ = chunkSize - skipSize;
            temporaryChunkSize_ = chunkSize;
            bufferStartTime_ = o.streamStartTime - (o.chunkDuration - chunkSkip);
            break;
        case AudioStreamStartupStrategy::rampUpChunkSize:
            writeIndex_ = 0;
            temporaryChunkSize_ = skipSize;
            bufferStartTime_ = o.streamStartTime;
            break;
        case AudioStreamStartupStrategy::waitForFullChunk:
            writeIndex_ = 0;
            temporaryChunkSize_ = chunkSize;
            bufferStartTime_ = o.streamStartTime;
            break;
    }
}

void AudioStream::bind(Callback callback) {
    auto shared = std::make_shared<const Callback>(std::move(callback));
    std::unique_lock lock(mutex_);
    callback_ = std::move(shared);
}

void AudioStream::bindAsync(platform::Executor& executor,
                            std::function<platform::Task<void>(std::vector<float>, double)> closure) {
    bind([&executor, closure = std::move(closure)](std::vector<float> samples, double time) -> platform::Status {
        platform::spawn(executor, closure(std::move(samples), time));
        return platform::ok();
    });
}

void AudioStream::unbind() {
    std::unique_lock lock(mutex_);
    callback_.reset();
}

std::shared_ptr<const AudioStream::Callback> AudioStream::currentCallback() const {
    std::shared_lock lock(mutex_);
    return callback_;
}

bool AudioStream::isChunkReady() const {
    std::shared_lock lock(mutex_);
    return writeIndex_ >= temporaryChunkSize_;
}

AudioStream::State AudioStream::state() const {
    std::shared_lock lock(mutex_);
    return {writeIndex_, temporaryChunkSize_, bufferStartTime_};
}

void AudioStream::advance(std::int64_t count) {
    if (count < writeIndex_)
        std::memmove(buffer_.data(), buffer_.data() + count,
                     static_cast<std::size_t>(writeIndex_ - count) * sizeof(float));
    // A negative index means that many of the next incoming samples are skipped.
    writeIndex_ -= count;
    bufferStartTime_ += static_cast<double>(count) / sampleRate_;
}

std::int64_t AudioStream::makeRoom(std::int64_t incoming, std::int64_t capacity, std::int64_t limit) {
    std::int64_t end = writeIndex_ + incoming;
    if (end > capacity) {
        // Drop the oldest samples so that exactly `limit` are filled afterwards.
        advance(end - limit);
        end = limit;
    }
    if (end <= 0) {
        writeIndex_ = end;
        return 0;
    }
    if (writeIndex_ >= 0) return incoming;
    const std::int64_t taken = incoming + writeIndex_;
    writeIndex_ = 0;
    return taken;
}

std::int64_t AudioStream::limit() const {
    return chunkingStrategy_ == AudioStreamChunkingStrategy::useMostRecent ? temporaryChunkSize_
                                                                           : static_cast<std::int64_t>(buffer_.size());
}

void AudioStream::append(std::span<const float> samples) {
    const auto n = static_cast<std::int64_t>(samples.size());
    const std::int64_t taken = makeRoom(n, static_cast<std::int64_t>(buffer_.size()), limit());
    if (taken <= 0) return;
    std::copy(samples.end() - taken, samples.end(), buffer_.begin() + writeIndex_);
    writeIndex_ += taken;
}

void AudioStream::appendGap(std::int64_t gap, std::int64_t incoming) {
    const std::int64_t taken = makeRoom(gap, static_cast<std::int64_t>(buffer_.size()) - incoming, limit() - incoming);
    if (taken <= 0) return;
    std::fill_n(buffer_.begin() + writeIndex_, taken, 0.0f);
    writeIndex_ += taken;
}

std::optional<AudioStream::Chunk> AudioStream::extractChunk() {
    std::unique_lock lock(mutex_);
    // Another writer may have taken the chunk since the ready check.
    if (writeIndex_ < temporaryChunkSize_) return std::nullopt;
    const bool mostRecent = chunkingStrategy_ == AudioStreamChunkingStrategy::useMostRecent;
    const std::int64_t start = mostRecent ? writeIndex_ - temporaryChunkSize_ : 0;
    Chunk chunk{std::vector<float>(buffer_.begin() + start, buffer_.begin() + start + temporaryChunkSize_),
                bufferStartTime_ + static_cast<double>(start) / sampleRate_};
    if (temporaryChunkSize_ == chunkSize_)
        advance(mostRecent ? writeIndex_ - (chunkSize_ - skipSize_) : skipSize_);
    else
        temporaryChunkSize_ = std::min(chunkSize_, temporaryChunkSize_ + skipSize_);
    return chunk;
}

platform::Status AudioStream::write(std::span<const float> samples, std::optional<double> time) {
    if (samples.empty()) return platform::ok();
    // A time stamp that has no sample position (NaN, ±inf, beyond 64 bits)
    // would otherwise be taken as no time at all, and the piece placed where
    // it does not belong: refuse the piece instead.
    const auto target = time ? rounded(sampleRate_ * *time) : std::nullopt;
    if (time && !target) return platform::fail(toError(AudioStreamError::invalidTime));
    {
        std::unique_lock lock(mutex_);
        const auto n = static_cast<std::int64_t>(samples.size());
        const auto start = rounded(bufferStartTime_ * sampleRate_);
        if (target && start) {
            const std::int64_t gap = *target - (*start + writeIndex_ + n);
            if (gap > 0) {
                appendGap(gap, n);
            } else if (gap < 0) {
                writeIndex_ += gap;
                if (writeIndex_ < 0) {
                    bufferStartTime_ += static_cast<double>(writeIndex_) / sampleRate_;
                    writeIndex_ = 0;
                }
            }
        }
        append(samples);
    }
    auto callback = currentCallback();
    while (callback && isChunkReady()) {
        auto chunk = extractChunk();
        if (!chunk) break;
        if (auto s = (*callback)(std::move(chunk->samples), chunk->time); !s) return s;
        callback = currentCallback();
    }
    return platform::ok();
}

platform::Status AudioStream::write(const platform::PcmBuffer& buffer, std::optional<double> time) {
    auto samples = converter_.resampleBuffer(buffer);
    if (!samples) return platform::fail(samples.error());
    return write(std::span<const float>(*samples), time);
}

std::optional<AudioStream::Chunk> AudioStream::readChunk() {
    if (!isChunkReady()) return std::nullopt;
    return extractChunk();
}

}  // namespace auralith
