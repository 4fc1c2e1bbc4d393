#pragma once

#include <cstdint>
#include <vector>

#include "platform/audio/PcmBuffer.h"
#include "platform/audio/Resampler.h"

namespace platform {

// Streaming conversion from one PCM format to planar 32-bit float in another
// rate and channel count: samples are read as floats (int16 scaled by
// 1/32768), channels are mixed down to mono by averaging (or a mono signal is
// copied to every output channel, or equal counts map one to one), then the
// rate is converted. Everything it needs is allocated by make(); convert()
// allocates nothing, so it may run on an audio thread.
class PcmConverter {
public:
    // `input` may be any valid format; `output` must be planar float32 with a
    // channel count equal to the input's, or 1, or (from mono) any.
    // `chunkFrames` is how many input frames one internal pass takes; longer
    // buffers are converted in several passes.
    static Result<PcmConverter> make(PcmFormat input, PcmFormat output, std::uint32_t chunkFrames = 4096,
                                     Resampler::Quality quality = Resampler::Quality::high);

    const PcmFormat& inputFormat() const { return in_; }
    const PcmFormat& outputFormat() const { return out_; }

    // Room convert() needs for a buffer of `inputFrames`.
    std::uint32_t maxOutputFrames(std::uint32_t inputFrames) const;

    // Converts `input` (in inputFormat()) and appends to `output` after its
    // current frameLength, which grows by the frames written. Fails without
    // writing when the formats do not match or `output` lacks room.
    Status convert(const PcmBuffer& input, PcmBuffer& output);
    // Ends the signal and appends what the rate converter still holds.
    Status flush(PcmBuffer& output);
    void reset();

private:
    PcmConverter(PcmFormat in, PcmFormat out, std::uint32_t chunk, Resampler resampler);
    Status appendResampled(std::uint32_t frames, PcmBuffer& output);

    PcmFormat in_;
    PcmFormat out_;
    std::uint32_t chunk_;
    Resampler resampler_;
    std::uint32_t work_;                  // channels the resampler runs on (1 when mixing down)
    std::vector<float> scratch_;          // work_ runs of chunk_ frames
};

}  // namespace platform
