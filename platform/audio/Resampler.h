#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/audio/AudioError.h"

namespace platform {

// Streaming sample-rate conversion of planar 32-bit float audio on libsoxr.
// The filter state carries over from one call to the next, so a signal cut
// into buffers converts as if it were whole. After the object is made,
// process() allocates nothing once libsoxr has warmed up on the first calls.
// Equal rates pass samples through untouched.
class Resampler {
public:
    enum class Quality { quick, low, medium, high, veryHigh };
    static constexpr std::uint32_t kMaxChannels = 32;

    static Result<Resampler> make(double inputRate, double outputRate, std::uint32_t channels,
                                  Quality quality = Quality::high);

    Resampler(Resampler&&) noexcept;
    Resampler& operator=(Resampler&&) noexcept;
    ~Resampler();

    double inputRate() const { return inRate_; }
    double outputRate() const { return outRate_; }
    std::uint32_t channels() const { return channels_; }
    bool passesThrough() const { return soxr_ == nullptr; }

    // The most frames one process() call of `inputFrames` can write: the
    // converted length plus what the filter may still hold from earlier calls.
    std::size_t maxOutputFrames(std::size_t inputFrames) const;

    // Converts `inputFrames` frames of `input` (one pointer per channel) into
    // `output` (one pointer per channel, room for `outputCapacity` frames) and
    // returns the frames written. Whatever does not fit stays inside for the
    // next call; give maxOutputFrames() of room to take everything.
    Result<std::size_t> process(const float* const* input, std::size_t inputFrames, float* const* output,
                                std::size_t outputCapacity);
    // Ends the signal: writes what the filter still holds. The next process()
    // starts a fresh signal.
    Result<std::size_t> flush(float* const* output, std::size_t outputCapacity);
    // Forgets the signal so far.
    void reset();

private:
    Resampler() = default;
    struct Soxr;

    double inRate_ = 0;
    double outRate_ = 0;
    std::uint32_t channels_ = 0;
    std::unique_ptr<Soxr> soxr_;  // null when the rates are equal
    bool flushed_ = false;
};

}  // namespace platform
