#include "platform/audio/PcmBuffer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include <fmt/format.h>

namespace platform {

std::string PcmFormat::description() const {
    return fmt::format("{} Hz, {} ch, {}, {}", sampleRate, channelCount,
                       sampleType == PcmSampleType::float32 ? "Float32" : "Int16",
                       interleaved ? "interleaved" : "deinterleaved");
}

PcmBuffer::PcmBuffer(PcmFormat format, std::uint32_t frameCapacity) : format_(format) {
    if (!format.isValid() || frameCapacity == 0) return;
    capacity_ = frameCapacity;
    data_ = std::make_unique<std::byte[]>(byteCapacity());  // value-initialised: silence
}

PcmBuffer::PcmBuffer(PcmFormat format, std::uint32_t frameCapacity, ForOverwrite) : format_(format) {
    if (!format.isValid() || frameCapacity == 0) return;
    capacity_ = frameCapacity;
    data_ = std::make_unique_for_overwrite<std::byte[]>(byteCapacity());
}

PcmBuffer PcmBuffer::forOverwrite(PcmFormat format, std::uint32_t frameCapacity) {
    return PcmBuffer(format, frameCapacity, ForOverwrite{});
}

PcmBuffer::PcmBuffer(const PcmBuffer& other) : format_(other.format_), capacity_(other.capacity_), length_(other.length_) {
    if (capacity_ == 0) return;
    data_ = std::make_unique_for_overwrite<std::byte[]>(byteCapacity());
    std::memcpy(data_.get(), other.data_.get(), byteCapacity());
}

PcmBuffer& PcmBuffer::operator=(const PcmBuffer& other) {
    if (this != &other) *this = PcmBuffer(other);
    return *this;
}

PcmBuffer::PcmBuffer(PcmBuffer&& other) noexcept
    : format_(other.format_),
      capacity_(std::exchange(other.capacity_, 0)),
      length_(std::exchange(other.length_, 0)),
      data_(std::move(other.data_)) {}

PcmBuffer& PcmBuffer::operator=(PcmBuffer&& other) noexcept {
    if (this != &other) {
        format_ = other.format_;
        capacity_ = std::exchange(other.capacity_, 0);
        length_ = std::exchange(other.length_, 0);
        data_ = std::move(other.data_);
    }
    return *this;
}

std::byte* PcmBuffer::run(std::uint32_t channel) const {
    if (capacity_ == 0 || channel >= channelRuns()) return nullptr;
    return data_.get() + static_cast<std::size_t>(channel) * capacity_ * format_.bytesPerSample();
}

float* PcmBuffer::floatChannel(std::uint32_t channel) {
    if (format_.sampleType != PcmSampleType::float32) return nullptr;
    return reinterpret_cast<float*>(run(channel));
}
const float* PcmBuffer::floatChannel(std::uint32_t channel) const {
    if (format_.sampleType != PcmSampleType::float32) return nullptr;
    return reinterpret_cast<const float*>(run(channel));
}
std::int16_t* PcmBuffer::int16Channel(std::uint32_t channel) {
    if (format_.sampleType != PcmSampleType::int16) return nullptr;
    return reinterpret_cast<std::int16_t*>(run(channel));
}
const std::int16_t* PcmBuffer::int16Channel(std::uint32_t channel) const {
    if (format_.sampleType != PcmSampleType::int16) return nullptr;
    return reinterpret_cast<const std::int16_t*>(run(channel));
}

float PcmBuffer::sample(std::uint32_t channel, std::uint32_t frame) const {
    if (channel >= format_.channelCount || frame >= capacity_) return 0;
    const std::uint32_t r = format_.interleaved ? 0 : channel;
    const std::size_t i = format_.interleaved ? static_cast<std::size_t>(frame) * format_.channelCount + channel : frame;
    if (format_.sampleType == PcmSampleType::float32) return floatChannel(r)[i];
    return int16Channel(r)[i] / 32768.0f;
}

void PcmBuffer::setSample(std::uint32_t channel, std::uint32_t frame, float value) {
    if (channel >= format_.channelCount || frame >= capacity_) return;
    const std::uint32_t r = format_.interleaved ? 0 : channel;
    const std::size_t i = format_.interleaved ? static_cast<std::size_t>(frame) * format_.channelCount + channel : frame;
    if (format_.sampleType == PcmSampleType::float32) {
        floatChannel(r)[i] = value;
    } else {
        const float scaled = std::isnan(value) ? 0.0f : std::clamp(value * 32768.0f, -32768.0f, 32767.0f);
        int16Channel(r)[i] = static_cast<std::int16_t>(scaled);
    }
}

}  // namespace platform
