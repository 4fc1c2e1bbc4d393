#include "platform/audio/PcmConverter.h"

#include <algorithm>
#include <cstring>

#include <fmt/format.h>

namespace platform {

Result<PcmConverter> PcmConverter::make(PcmFormat input, PcmFormat output, std::uint32_t chunkFrames,
                                        Resampler::Quality quality) {
    auto describe = [&] { return fmt::format("{} to {}", input.description(), output.description()); };
    if (!input.isValid() || !output.isValid() || output.sampleType != PcmSampleType::float32 ||
        output.interleaved || chunkFrames == 0)
        return fail(toError(AudioError::invalidFormat, describe()));
    const std::uint32_t inCh = input.channelCount, outCh = output.channelCount;
    if (!(outCh == inCh || outCh == 1 || inCh == 1)) return fail(toError(AudioError::invalidFormat, describe()));
    const std::uint32_t work = std::min(inCh, outCh);
    auto resampler = Resampler::make(input.sampleRate, output.sampleRate, work, quality);
    if (!resampler) return fail(resampler.error());
    return PcmConverter(input, output, chunkFrames, std::move(*resampler));
}

PcmConverter::PcmConverter(PcmFormat in, PcmFormat out, std::uint32_t chunk, Resampler resampler)
    : in_(in),
      out_(out),
      chunk_(chunk),
      resampler_(std::move(resampler)),
      work_(std::min(in.channelCount, out.channelCount)),
      scratch_(static_cast<std::size_t>(work_) * chunk) {}

std::uint32_t PcmConverter::maxOutputFrames(std::uint32_t inputFrames) const {
    // Each pass may release the filter's hold-back again; count it per pass.
    const std::uint32_t passes = std::max<std::uint32_t>(1, (inputFrames + chunk_ - 1) / chunk_);
    std::size_t total = resampler_.maxOutputFrames(inputFrames);
    if (!resampler_.passesThrough()) total += static_cast<std::size_t>(passes - 1) * 1024;
    return static_cast<std::uint32_t>(total);
}

namespace {

// Appends what `produce(channels, room)` writes into the first
// `workChannels` channels of `output`, after its frame length.
template <class Produce>
Status appendTo(PcmBuffer& output, std::uint32_t workChannels, Produce&& produce) {
    float* out[Resampler::kMaxChannels];
    const std::uint32_t at = output.frameLength();
    for (std::uint32_t c = 0; c < workChannels; ++c) out[c] = output.floatChannel(c) + at;
    Result<std::size_t> written = produce(out, output.frameCapacity() - at);
    if (!written) return fail(written.error());
    // A mono signal going to several channels is copied to the others.
    for (std::uint32_t c = workChannels; c < output.format().channelCount; ++c)
        std::copy_n(output.floatChannel(0) + at, *written, output.floatChannel(c) + at);
    output.setFrameLength(at + static_cast<std::uint32_t>(*written));
    return ok();
}

}  // namespace

Status PcmConverter::appendResampled(std::uint32_t frames, PcmBuffer& output) {
    const float* in[Resampler::kMaxChannels];
    for (std::uint32_t c = 0; c < work_; ++c) in[c] = scratch_.data() + static_cast<std::size_t>(c) * chunk_;
    return appendTo(output, work_,
                    [&](float* const* out, std::size_t room) { return resampler_.process(in, frames, out, room); });
}

Status PcmConverter::convert(const PcmBuffer& input, PcmBuffer& output) {
    const PcmFormat& f = input.format();
    if (f.sampleRate != in_.sampleRate || f.channelCount != in_.channelCount || f.sampleType != in_.sampleType ||
        f.interleaved != in_.interleaved || output.format() != out_)
        return fail(toError(AudioError::formatMismatch));
    if (output.frameCapacity() - output.frameLength() < maxOutputFrames(input.frameLength()))
        return fail(toError(AudioError::bufferTooSmall));

    const std::uint32_t channels = in_.channelCount;
    const std::size_t stride = input.stride();
    const bool isFloat = in_.sampleType == PcmSampleType::float32;
    const bool mixDown = work_ == 1 && channels > 1;
    const float scale = mixDown ? 1.0f / static_cast<float>(channels) : 1.0f;
    constexpr float kInt16Scale = 1.0f / 32768.0f;

    for (std::uint32_t start = 0; start < input.frameLength(); start += chunk_) {
        const std::uint32_t n = std::min(chunk_, input.frameLength() - start);
        if (isFloat && !in_.interleaved) {
            // The common capture layout: plain loops over adjacent samples.
            if (mixDown) {
                float* __restrict dst = scratch_.data();
                const float* __restrict a = input.floatChannel(0) + start;
                if (channels == 2) {
                    const float* __restrict b = input.floatChannel(1) + start;
                    // Four samples at a time (GCC vector extension: SIMD at any optimisation level).
                    using F4 = float __attribute__((vector_size(16)));
                    std::uint32_t i = 0;
                    for (; i + 4 <= n; i += 4) {
                        F4 va, vb;
                        std::memcpy(&va, a + i, sizeof va);
                        std::memcpy(&vb, b + i, sizeof vb);
                        const F4 mixed = (va + vb) * 0.5f;
                        std::memcpy(dst + i, &mixed, sizeof mixed);
                    }
                    for (; i < n; ++i) dst[i] = (a[i] + b[i]) * 0.5f;
                } else {
                    std::copy_n(a, n, dst);
                    for (std::uint32_t c = 1; c < channels; ++c) {
                        const float* __restrict src = input.floatChannel(c) + start;
                        for (std::uint32_t i = 0; i < n; ++i) dst[i] += src[i];
                    }
                    for (std::uint32_t i = 0; i < n; ++i) dst[i] *= scale;
                }
            } else {
                for (std::uint32_t w = 0; w < work_; ++w)
                    std::copy_n(input.floatChannel(w) + start, n, scratch_.data() + static_cast<std::size_t>(w) * chunk_);
            }
            if (auto s = appendResampled(n, output); !s) return s;
            continue;
        }
        for (std::uint32_t w = 0; w < work_; ++w) {
            float* dst = scratch_.data() + static_cast<std::size_t>(w) * chunk_;
            // Which input channels feed this work channel: all of them when mixing down.
            const std::uint32_t first = mixDown ? 0 : w;
            const std::uint32_t last = mixDown ? channels : w + 1;
            for (std::uint32_t c = first; c < last; ++c) {
                const std::uint32_t run = in_.interleaved ? 0 : c;
                const std::size_t offset = in_.interleaved ? c : 0;
                if (isFloat) {
                    const float* src = input.floatChannel(run) + offset + start * stride;
                    if (c == first)
                        for (std::uint32_t i = 0; i < n; ++i) dst[i] = src[i * stride];
                    else
                        for (std::uint32_t i = 0; i < n; ++i) dst[i] += src[i * stride];
                } else {
                    const std::int16_t* src = input.int16Channel(run) + offset + start * stride;
                    if (c == first)
                        for (std::uint32_t i = 0; i < n; ++i) dst[i] = src[i * stride] * kInt16Scale;
                    else
                        for (std::uint32_t i = 0; i < n; ++i) dst[i] += src[i * stride] * kInt16Scale;
                }
            }
            if (mixDown)
                for (std::uint32_t i = 0; i < n; ++i) dst[i] *= scale;
        }
        if (auto s = appendResampled(n, output); !s) return s;
    }
    return ok();
}

Status PcmConverter::flush(PcmBuffer& output) {
    if (output.format() != out_) return fail(toError(AudioError::formatMismatch));
    return appendTo(output, work_, [&](float* const* out, std::size_t room) { return resampler_.flush(out, room); });
}

void PcmConverter::reset() { resampler_.reset(); }

}  // namespace platform
