#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/audio/PcmFormat.h"

namespace platform {

// A block of PCM audio in one format, with room for `frameCapacity` frames of
// which the first `frameLength` are valid. The storage is allocated once, by
// the constructor; nothing after that allocates, so a buffer made ahead of
// time can be refilled on an audio thread.
//
// Channel access follows the layout: for planar buffers channel c starts at
// channel(c) and its samples are adjacent (stride 1); for interleaved buffers
// only channel 0 is given, and its samples are `stride()` apart with the
// other channels in between.
class PcmBuffer {
public:
    PcmBuffer() = default;
    // A zeroed buffer; frameLength() is 0 until set. An invalid format gives an empty buffer.
    PcmBuffer(PcmFormat format, std::uint32_t frameCapacity);
    // The same, with storage left as allocated: for a caller that writes every
    // frame it then counts (zeroing first would cost as much as the copy in).
    static PcmBuffer forOverwrite(PcmFormat format, std::uint32_t frameCapacity);

    PcmBuffer(const PcmBuffer& other);
    PcmBuffer& operator=(const PcmBuffer& other);
    PcmBuffer(PcmBuffer&& other) noexcept;
    PcmBuffer& operator=(PcmBuffer&& other) noexcept;
    ~PcmBuffer() = default;

    const PcmFormat& format() const { return format_; }
    std::uint32_t frameCapacity() const { return capacity_; }
    std::uint32_t frameLength() const { return length_; }
    // Clamped to the capacity.
    void setFrameLength(std::uint32_t frames) { length_ = frames < capacity_ ? frames : capacity_; }
    bool empty() const { return length_ == 0; }
    double duration() const { return format_.sampleRate > 0 ? length_ / format_.sampleRate : 0; }

    // Samples between two frames of one channel: 1 when planar, the channel count when interleaved.
    std::size_t stride() const { return format_.interleaved ? format_.channelCount : 1; }
    // The number of separately addressable channel runs (1 when interleaved).
    std::uint32_t channelRuns() const { return format_.interleaved ? 1 : format_.channelCount; }

    // Float samples of one channel run, or nullptr when the buffer does not hold
    // 32-bit floats or `channel` is not a run (see the class comment).
    float* floatChannel(std::uint32_t channel);
    const float* floatChannel(std::uint32_t channel) const;
    std::int16_t* int16Channel(std::uint32_t channel);
    const std::int16_t* int16Channel(std::uint32_t channel) const;
    bool hasFloatData() const { return format_.sampleType == PcmSampleType::float32 && capacity_ > 0; }

    // One sample as a float in [-1, 1] (int16 scaled by 1/32768), whatever the layout.
    float sample(std::uint32_t channel, std::uint32_t frame) const;
    void setSample(std::uint32_t channel, std::uint32_t frame, float value);

    // The whole storage (frameCapacity frames).
    std::byte* data() { return data_.get(); }
    const std::byte* data() const { return data_.get(); }
    std::size_t byteCapacity() const { return static_cast<std::size_t>(capacity_) * format_.bytesPerFrame(); }

private:
    struct ForOverwrite {};
    PcmBuffer(PcmFormat format, std::uint32_t frameCapacity, ForOverwrite);
    std::byte* run(std::uint32_t channel) const;

    PcmFormat format_{};
    std::uint32_t capacity_ = 0;
    std::uint32_t length_ = 0;
    std::unique_ptr<std::byte[]> data_;
};

}  // namespace platform
