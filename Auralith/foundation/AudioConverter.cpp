#include "Auralith/foundation/AudioConverter.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <utility>

#include <fmt/format.h>

#include "platform/values/Number.h"

namespace auralith {

using platform::PcmBuffer;
using platform::PcmFormat;
using platform::PcmSampleType;
using platform::Result;

namespace {

// Input frames handed to the rate converter per call; bounds the work buffers
// whatever the length of the input.
constexpr std::uint32_t kBlockFrames = 16384;
// Frames of each buffer the converter's tail is drained into.
constexpr std::uint32_t kDrainFrames = 4096;
// A file's header may claim any length; room reserved from it up front is capped.
constexpr std::size_t kMaxReserve = std::size_t{1} << 24;

const char* caseNameOf(AudioConverterError::Case kind) {
    switch (kind) {
        case AudioConverterError::Case::conversionFailed: return "conversionFailed";
        case AudioConverterError::Case::sampleBufferCopyFailed: return "sampleBufferCopyFailed";
        case AudioConverterError::Case::failedToCreateConverter: return "failedToCreateConverter";
        case AudioConverterError::Case::failedToCreateBuffer: return "failedToCreateBuffer";
        case AudioConverterError::Case::sampleBufferFormatMissing: return "sampleBufferFormatMissing";
        case AudioConverterError::Case::failedToCreateSourceFormat: return "failedToCreateSourceFormat";
    }
    return "unknown";
}

std::unexpected<platform::Error> failWith(AudioConverterError error) { return platform::fail(toError(error)); }

bool usableRate(double rate) { return rate > 0 && std::isfinite(rate); }

// The same shape of samples: what a copy instead of a conversion needs.
bool matches(const PcmFormat& a, const PcmFormat& b) {
    return a.sampleRate == b.sampleRate && a.channelCount == b.channelCount && a.sampleType == b.sampleType &&
           a.interleaved == b.interleaved;
}

// Frames [start, start + n) of `src` into the front of `dst` (same format).
void copyFrames(const PcmBuffer& src, std::uint32_t start, std::uint32_t n, PcmBuffer& dst) {
    const PcmFormat& f = src.format();
    const std::size_t unit = f.interleaved ? f.bytesPerFrame() : f.bytesPerSample();
    for (std::uint32_t r = 0; r < src.channelRuns(); ++r) {
        const auto* from = f.sampleType == PcmSampleType::float32
                               ? reinterpret_cast<const std::byte*>(src.floatChannel(r))
                               : reinterpret_cast<const std::byte*>(src.int16Channel(r));
        auto* to = f.sampleType == PcmSampleType::float32 ? reinterpret_cast<std::byte*>(dst.floatChannel(r))
                                                          : reinterpret_cast<std::byte*>(dst.int16Channel(r));
        std::memcpy(to, from + start * unit, n * unit);
    }
    dst.setFrameLength(n);
}

void appendFirstChannel(const PcmBuffer& buffer, std::vector<float>& out) {
    const float* s = buffer.floatChannel(0);
    if (!s || buffer.frameLength() == 0) return;
    const std::size_t stride = buffer.stride();
    if (stride == 1) {
        out.insert(out.end(), s, s + buffer.frameLength());
        return;
    }
    for (std::uint32_t i = 0; i < buffer.frameLength(); ++i) out.push_back(s[i * stride]);
}

// Ends the converter's input and collects what it still holds.
platform::Status drain(platform::AudioFormatConverter& converter, std::vector<float>& out) {
    PcmBuffer tail(converter.outputFormat(), kDrainFrames);
    for (;;) {
        tail.setFrameLength(0);
        if (auto s = converter.flush(tail); !s)
            return platform::fail(toError(AudioConverterError::conversionFailed(s.error())));
        if (tail.frameLength() == 0) return platform::ok();
        appendFirstChannel(tail, out);
    }
}

}  // namespace

AudioConverterError AudioConverterError::conversionFailed(std::optional<platform::Error> underlying) {
    return {Case::conversionFailed,
            underlying ? std::make_shared<const platform::Error>(std::move(*underlying)) : nullptr, 0};
}

std::string AudioConverterError::description() const {
    switch (kind) {
        case Case::conversionFailed:
            return "Audio conversion failed: " + (underlying ? underlying->description : std::string("Unknown error"));
        case Case::sampleBufferCopyFailed:
            return fmt::format("Failed to copy samples from CMSampleBuffer (status: {})", status);
        case Case::failedToCreateConverter: return "Failed to create audio converter";
        case Case::failedToCreateBuffer: return "Failed to create conversion buffer";
        case Case::sampleBufferFormatMissing: return "Sample buffer is missing a valid audio format description.";
        case Case::failedToCreateSourceFormat:
            return "Failed to create a source audio format description for CMSampleBuffer.";
    }
    return "Audio conversion failed";
}

platform::Error toError(const AudioConverterError& error) {
    return platform::Error::make(kAudioConverterErrorDomain, static_cast<int>(error.kind), caseNameOf(error.kind),
                                 error.description(), error.underlying);
}

bool isAudioConverterError(const platform::Error& error, AudioConverterError::Case kind) {
    return error.is(kAudioConverterErrorDomain, static_cast<int>(kind));
}

// Where convertFrames takes its input from: frames of one format, copied a
// block at a time into the converter's input buffer.
struct AudioConverter::Source {
    PcmFormat format;
    std::uint64_t frames = 0;
    std::function<void(std::uint32_t start, std::uint32_t n, PcmBuffer& block)> fill;
};

AudioConverter::AudioConverter(PcmFormat targetFormat, bool debug, platform::AudioMedia& media)
    : logger_("AudioConverter"), targetFormat_(targetFormat), debug_(debug), media_(&media) {}

AudioConverter AudioConverter::withSampleRate(double sampleRate, bool debug, platform::AudioMedia& media) {
    return AudioConverter(PcmFormat::float32(sampleRate, 1), debug, media);
}

Result<std::unique_ptr<platform::AudioFileReader>> AudioConverter::openAudioFile(
    const std::filesystem::path& path) const {
    return media_->openForReading(path);
}

Result<std::vector<float>> AudioConverter::resampleAudioFile(const std::filesystem::path& path) const {
    auto file = openAudioFile(path);
    if (!file) return platform::fail(file.error());
    return resampleAudioFile(**file);
}

Result<std::vector<float>> AudioConverter::resampleAudioFile(platform::AudioFileReader& file) const {
    const PcmFormat in = file.processingFormat();
    const double rate = in.sampleRate;
    const PcmFormat out = PcmFormat::float32(targetFormat_.sampleRate, 1);
    if (!usableRate(rate) || !usableRate(out.sampleRate) || in.channelCount == 0)
        return failWith(AudioConverterError::failedToCreateSourceFormat());
    // About one second per read, and never less than 4096 frames.
    const auto chunk = static_cast<std::uint32_t>(std::clamp(std::trunc(rate), 4096.0, double{1u << 20}));

    std::vector<float> samples;
    const double expected = std::ceil(static_cast<double>(std::max<std::int64_t>(file.length(), 0)) *
                                      out.sampleRate / rate);
    samples.reserve(static_cast<std::size_t>(std::min(expected, static_cast<double>(kMaxReserve))));

    // A mono float file already at the target rate needs no converter.
    std::unique_ptr<platform::AudioFormatConverter> converter;
    if (in != out) {
        auto made = media_->makeConverter(in, out, kResamplingQuality);
        if (!made) return failWith(AudioConverterError::failedToCreateConverter());
        converter = std::move(*made);
    }
    PcmBuffer block(in, chunk);
    PcmBuffer converted(out, converter ? converter->maxOutputFrames(chunk) : 1);
    if (block.frameCapacity() == 0 || converted.frameCapacity() == 0)
        return failWith(AudioConverterError::failedToCreateBuffer());

    while (file.framePosition() < file.length()) {
        const auto want = static_cast<std::uint32_t>(std::min<std::int64_t>(file.length() - file.framePosition(), chunk));
        if (auto s = file.read(block, want); !s) return platform::fail(s.error());
        if (block.frameLength() == 0) break;
        if (!converter) {
            appendFirstChannel(block, samples);
            continue;
        }
        converted.setFrameLength(0);
        if (auto s = converter->convert(block, converted); !s)
            return failWith(AudioConverterError::conversionFailed(s.error()));
        appendFirstChannel(converted, samples);
    }
    if (converter)
        if (auto s = drain(*converter, samples); !s) return platform::fail(s.error());
    return samples;
}

Result<std::vector<float>> AudioConverter::resampleBuffer(const PcmBuffer& buffer) const {
    if (matches(buffer.format(), targetFormat_)) {
        std::vector<float> out;
        if (!buffer.hasFloatData() || buffer.frameLength() == 0) return out;
        out.reserve(buffer.frameLength());
        appendFirstChannel(buffer, out);
        return out;
    }
    return convertBuffer(buffer, targetFormat_);
}

Result<std::vector<float>> AudioConverter::resampleToTargetRate(std::span<const float> samples,
                                                                double sampleRate) const {
    if (samples.empty()) return std::vector<float>{};
    if (sampleRate == targetFormat_.sampleRate) return std::vector<float>(samples.begin(), samples.end());
    return resample(samples, sampleRate, targetFormat_.sampleRate);
}

Result<std::vector<float>> AudioConverter::resample(std::span<const float> samples, double sourceRate,
                                                    double destinationRate) const {
    if (!usableRate(sourceRate) || !usableRate(destinationRate))
        return failWith(AudioConverterError::failedToCreateSourceFormat());
    if (samples.size() > std::numeric_limits<std::uint32_t>::max())
        return failWith(AudioConverterError::failedToCreateBuffer());
    Source source{PcmFormat::float32(sourceRate, 1), samples.size(),
                  [samples](std::uint32_t start, std::uint32_t n, PcmBuffer& block) {
                      std::copy_n(samples.data() + start, n, block.floatChannel(0));
                      block.setFrameLength(n);
                  }};
    return convertFrames(source, PcmFormat::float32(destinationRate, 1));
}

Result<std::vector<float>> AudioConverter::convertBuffer(const PcmBuffer& buffer, const PcmFormat& outputFormat) const {
    if (buffer.format().channelCount >= 3) return convertManually(buffer, outputFormat);
    Source source{buffer.format(), buffer.frameLength(),
                  [&buffer](std::uint32_t start, std::uint32_t n, PcmBuffer& block) {
                      copyFrames(buffer, start, n, block);
                  }};
    return convertFrames(source, outputFormat);
}

Result<std::vector<float>> AudioConverter::convertFrames(const Source& source, const PcmFormat& outputFormat) const {
    const PcmFormat& in = source.format;
    if (!usableRate(in.sampleRate) || !usableRate(outputFormat.sampleRate))
        return failWith(AudioConverterError::failedToCreateConverter());
    auto made = media_->makeConverter(in, outputFormat, kResamplingQuality);
    if (!made) return failWith(AudioConverterError::failedToCreateConverter());
    platform::AudioFormatConverter& converter = **made;

    const double capacity = std::ceil(outputFormat.sampleRate / in.sampleRate * static_cast<double>(source.frames));
    if (!(capacity <= std::numeric_limits<std::uint32_t>::max()))
        return failWith(AudioConverterError::failedToCreateBuffer());
    std::vector<float> samples;
    samples.reserve(static_cast<std::size_t>(capacity));

    const auto blockFrames = static_cast<std::uint32_t>(std::min<std::uint64_t>(source.frames, kBlockFrames));
    PcmBuffer block(in, std::max<std::uint32_t>(blockFrames, 1));
    // At least one frame: an empty input at equal rates still makes a buffer to drain into.
    PcmBuffer converted(outputFormat, std::max<std::uint32_t>(converter.maxOutputFrames(blockFrames), 1));
    if (block.frameCapacity() == 0 || converted.frameCapacity() == 0)
        return failWith(AudioConverterError::failedToCreateBuffer());
    for (std::uint64_t start = 0; start < source.frames; start += blockFrames) {
        const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(blockFrames, source.frames - start));
        source.fill(static_cast<std::uint32_t>(start), n, block);
        converted.setFrameLength(0);
        if (auto s = converter.convert(block, converted); !s)
            return failWith(AudioConverterError::conversionFailed(s.error()));
        appendFirstChannel(converted, samples);
    }
    if (auto s = drain(converter, samples); !s) return platform::fail(s.error());

    if (debug_)
        logger_.debug(fmt::format("Audio conversion: {} samples → {} samples, ratio: {}", source.frames,
                                  samples.size(),
                                  platform::formatShortest(static_cast<double>(samples.size()) /
                                                           static_cast<double>(source.frames))));
    return samples;
}

Result<std::vector<float>> AudioConverter::convertManually(const PcmBuffer& buffer,
                                                           const PcmFormat& outputFormat) const {
    const PcmFormat& in = buffer.format();
    if (in.sampleType != PcmSampleType::float32 || in.interleaved)
        return failWith(AudioConverterError::failedToCreateBuffer());
    if (!usableRate(in.sampleRate) || !usableRate(outputFormat.sampleRate))
        return failWith(AudioConverterError::failedToCreateConverter());
    const std::uint32_t channels = in.channelCount;
    const std::uint32_t frames = buffer.frameLength();

    std::vector<float> mono(frames, 0.0f);
    for (std::uint32_t c = 0; c < channels; ++c) {
        const float* s = buffer.floatChannel(c);
        for (std::uint32_t i = 0; i < frames; ++i) mono[i] += s[i];
    }
    const float scale = 1.0f / static_cast<float>(channels);
    for (float& v : mono) v *= scale;
    if (in.sampleRate == outputFormat.sampleRate) return mono;

    // The mono mix goes through the same rate converter as every other path:
    // its low-pass keeps content above the target's Nyquist frequency from
    // folding back into the band.
    if (debug_)
        logger_.debug(fmt::format("Manual resampling: {} channels → mono, {}Hz → {}Hz", channels,
                                  platform::formatShortest(in.sampleRate),
                                  platform::formatShortest(outputFormat.sampleRate)));
    return resample(mono, in.sampleRate, outputFormat.sampleRate);
}

Result<platform::Bytes> AudioWAV::data(std::span<const float> samples, double sampleRate) {
    const std::uint64_t dataBytes = 2 * static_cast<std::uint64_t>(samples.size());
    constexpr double kLimit = 4294967296.0;  // 2^32
    if (dataBytes + 36 >= static_cast<std::uint64_t>(kLimit) || !std::isfinite(sampleRate) || sampleRate < 0 ||
        2 * sampleRate >= kLimit)
        return platform::fail(platform::Error::make(
            kErrorDomain, 1, "unrepresentable",
            fmt::format("Cannot write {} samples at {} Hz as WAV data", samples.size(), sampleRate)));

    // The peak ignores samples that are not finite (NaN, ±inf), and they are
    // written as silence: one such sample neither silences the rest (an
    // infinite peak would scale every other sample to 0) nor becomes a
    // full-scale click.
    float peak = samples.empty() ? 1.0f : 0.0f;
    for (float s : samples)
        if (std::isfinite(s) && std::abs(s) > peak) peak = std::abs(s);

    platform::Bytes out;
    out.reserve(44 + dataBytes);
    auto put = [&out](std::uint64_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    };
    auto tag = [&out](const char* text) { out.insert(out.end(), text, text + 4); };
    tag("RIFF");
    put(dataBytes + 36, 4);
    tag("WAVE");
    tag("fmt ");
    put(16, 4);
    put(1, 2);
    put(1, 2);
    put(static_cast<std::uint32_t>(sampleRate), 4);
    put(static_cast<std::uint32_t>(2 * sampleRate), 4);
    put(2, 2);
    put(16, 2);
    tag("data");
    put(dataBytes, 4);
    for (float s : samples) {
        std::int16_t v = 0;
        if (!std::isfinite(s)) {
            put(0, 2);
            continue;
        }
        if (peak > 0) s /= peak;
        if (s >= 1.0f) v = 32767;
        else v = static_cast<std::int16_t>(std::max(s, -1.0f) * 32767.0f);
        put(static_cast<std::uint16_t>(v), 2);
    }
    return out;
}

}  // namespace auralith
