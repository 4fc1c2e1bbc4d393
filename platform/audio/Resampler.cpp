#include "platform/audio/Resampler.h"

#include <soxr.h>

#include <cmath>
#include <cstring>

#include <fmt/format.h>

namespace platform {

namespace {
unsigned long recipeOf(Resampler::Quality q) {
    switch (q) {
        case Resampler::Quality::quick: return SOXR_QQ;
        case Resampler::Quality::low: return SOXR_LQ;
        case Resampler::Quality::medium: return SOXR_MQ;
        case Resampler::Quality::high: return SOXR_HQ;
        case Resampler::Quality::veryHigh: return SOXR_VHQ;
    }
    return SOXR_HQ;
}
}  // namespace

struct Resampler::Soxr {
    soxr_t handle = nullptr;
    ~Soxr() { soxr_delete(handle); }
};

Result<Resampler> Resampler::make(double inputRate, double outputRate, std::uint32_t channels, Quality quality) {
    if (!(inputRate > 0) || !(outputRate > 0) || !std::isfinite(inputRate) || !std::isfinite(outputRate) ||
        channels == 0 || channels > kMaxChannels)
        return fail(toError(AudioError::invalidFormat,
                            fmt::format("{} Hz to {} Hz, {} channels", inputRate, outputRate, channels)));
    Resampler r;
    r.inRate_ = inputRate;
    r.outRate_ = outputRate;
    r.channels_ = channels;
    if (inputRate == outputRate) return r;

    soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_S, SOXR_FLOAT32_S);
    soxr_quality_spec_t q = soxr_quality_spec(recipeOf(quality), 0);
    // One thread: the caller's. libsoxr would otherwise start OpenMP workers.
    soxr_runtime_spec_t rt = soxr_runtime_spec(1);
    soxr_error_t err = nullptr;
    soxr_t handle = soxr_create(inputRate, outputRate, channels, &err, &io, &q, &rt);
    if (err || !handle) {
        if (handle) soxr_delete(handle);
        return fail(toError(AudioError::resampler, err ? err : "soxr_create failed"));
    }
    r.soxr_.reset(new Soxr{handle});
    return r;
}

Resampler::Resampler(Resampler&&) noexcept = default;
Resampler& Resampler::operator=(Resampler&&) noexcept = default;
Resampler::~Resampler() = default;

std::size_t Resampler::maxOutputFrames(std::size_t inputFrames) const {
    if (!soxr_) return inputFrames;
    // The filter may release what it held back from earlier calls; 1024
    // frames of slack covers libsoxr's hold-back at every quality.
    return static_cast<std::size_t>(std::ceil(static_cast<double>(inputFrames) * outRate_ / inRate_)) + 1024;
}

Result<std::size_t> Resampler::process(const float* const* input, std::size_t inputFrames, float* const* output,
                                       std::size_t outputCapacity) {
    if (!soxr_) {
        if (inputFrames > outputCapacity) return fail(toError(AudioError::bufferTooSmall));
        for (std::uint32_t c = 0; c < channels_; ++c)
            if (input[c] != output[c]) std::memmove(output[c], input[c], inputFrames * sizeof(float));
        return inputFrames;
    }
    if (flushed_) reset();
    const float* in[kMaxChannels];
    float* out[kMaxChannels];
    std::size_t consumed = 0;
    std::size_t written = 0;
    // libsoxr may take the input in parts; keep feeding until all of it is in.
    for (;;) {
        for (std::uint32_t c = 0; c < channels_; ++c) {
            in[c] = input[c] + consumed;
            out[c] = output[c] + written;
        }
        std::size_t idone = 0, odone = 0;
        soxr_error_t err = soxr_process(soxr_->handle, in, inputFrames - consumed, &idone, out,
                                        outputCapacity - written, &odone);
        if (err) return fail(toError(AudioError::resampler, err));
        consumed += idone;
        written += odone;
        if (consumed >= inputFrames) break;
        if (idone == 0 && odone == 0) {
            if (written >= outputCapacity) return fail(toError(AudioError::bufferTooSmall));
            break;
        }
    }
    return written;
}

Result<std::size_t> Resampler::flush(float* const* output, std::size_t outputCapacity) {
    if (!soxr_) return std::size_t{0};
    float* out[kMaxChannels];
    std::size_t written = 0;
    while (written < outputCapacity) {
        for (std::uint32_t c = 0; c < channels_; ++c) out[c] = output[c] + written;
        std::size_t odone = 0;
        soxr_error_t err = soxr_process(soxr_->handle, nullptr, 0, nullptr, out, outputCapacity - written, &odone);
        if (err) return fail(toError(AudioError::resampler, err));
        if (odone == 0) break;
        written += odone;
    }
    flushed_ = true;
    return written;
}

void Resampler::reset() {
    flushed_ = false;
    if (soxr_) soxr_clear(soxr_->handle);
}

}  // namespace platform
