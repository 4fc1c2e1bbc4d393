#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "platform/audio/AllocationProbe.h"
#include "platform/audio/PcmConverter.h"
#include "platform/audio/Resampler.h"

using namespace platform;

namespace {

// Frequency of a mono signal from its rising zero crossings (the ends trimmed
// so the filter's start-up does not count).
double frequencyOf(const float* s, std::size_t n, double rate) {
    std::size_t first = 0, last = 0, crossings = 0;
    for (std::size_t i = n / 10 + 1; i < n - n / 10; ++i)
        if (s[i - 1] < 0 && s[i] >= 0) {
            if (!crossings) first = i;
            last = i;
            ++crossings;
        }
    if (crossings < 2) return 0;
    return (crossings - 1) * rate / static_cast<double>(last - first);
}

PcmBuffer tone(PcmFormat format, std::uint32_t frames, double hz, double amplitude, std::uint64_t offset = 0) {
    PcmBuffer b(format, frames);
    for (std::uint32_t f = 0; f < frames; ++f)
        for (std::uint32_t c = 0; c < format.channelCount; ++c)
            b.setSample(c, f,
                        static_cast<float>(amplitude *
                                           std::sin(2 * std::numbers::pi * hz * (offset + f) / format.sampleRate)));
    b.setFrameLength(frames);
    return b;
}

TEST(PcmConverter, StereoAt48kBecomesMonoAt16kWithTheSameToneAndLength) {
    const auto in = PcmFormat::float32(48000, 2);
    const auto out = PcmFormat::float32(16000, 1);
    auto conv = PcmConverter::make(in, out);
    ASSERT_TRUE(conv) << conv.error().description;
    // One second in 1024-frame buffers, as the capture tap delivers it.
    const std::uint32_t total = 48000;
    PcmBuffer result(out, 20000);
    for (std::uint32_t at = 0; at < total; at += 1024) {
        const std::uint32_t n = std::min<std::uint32_t>(1024, total - at);
        ASSERT_TRUE(conv->convert(tone(in, n, 440, 0.5, at), result));
    }
    ASSERT_TRUE(conv->flush(result));
    EXPECT_EQ(result.frameLength(), 16000u);
    EXPECT_NEAR(frequencyOf(result.floatChannel(0), result.frameLength(), 16000), 440, 1.0);
    // Both channels carried the same tone: the average keeps its amplitude.
    float peak = 0;
    for (std::uint32_t i = 2000; i < 14000; ++i) peak = std::max(peak, std::abs(result.floatChannel(0)[i]));
    EXPECT_NEAR(peak, 0.5f, 0.01f);
}

TEST(PcmConverter, MixDownAveragesTheChannels) {
    const auto in = PcmFormat::float32(16000, 2, true);
    auto conv = PcmConverter::make(in, PcmFormat::float32(16000, 1));
    ASSERT_TRUE(conv);
    PcmBuffer b(in, 3);
    const float left[] = {1.0f, 0.5f, -1.0f}, right[] = {0.0f, 0.5f, 0.0f};
    for (std::uint32_t i = 0; i < 3; ++i) {
        b.setSample(0, i, left[i]);
        b.setSample(1, i, right[i]);
    }
    b.setFrameLength(3);
    PcmBuffer out(PcmFormat::float32(16000, 1), 8);
    ASSERT_TRUE(conv->convert(b, out));
    // Equal rates pass straight through: same length, no filter delay.
    ASSERT_EQ(out.frameLength(), 3u);
    EXPECT_EQ(out.floatChannel(0)[0], 0.5f);
    EXPECT_EQ(out.floatChannel(0)[1], 0.5f);
    EXPECT_EQ(out.floatChannel(0)[2], -0.5f);
}

TEST(PcmConverter, Int16InputAndMonoToStereo) {
    const auto in = PcmFormat::int16(8000, 1);
    auto conv = PcmConverter::make(in, PcmFormat::float32(8000, 2));
    ASSERT_TRUE(conv);
    PcmBuffer b(in, 2);
    b.int16Channel(0)[0] = 16384;
    b.int16Channel(0)[1] = -32768;
    b.setFrameLength(2);
    PcmBuffer out(PcmFormat::float32(8000, 2), 4);
    ASSERT_TRUE(conv->convert(b, out));
    EXPECT_EQ(out.floatChannel(1)[0], 0.5f);
    EXPECT_EQ(out.floatChannel(1)[1], -1.0f);
}

TEST(PcmConverter, RefusesWhatItCannotDo) {
    EXPECT_FALSE(PcmConverter::make(PcmFormat::float32(0, 1), PcmFormat::float32(16000, 1)));
    EXPECT_FALSE(PcmConverter::make(PcmFormat::float32(48000, 3), PcmFormat::float32(16000, 2)));
    EXPECT_FALSE(PcmConverter::make(PcmFormat::float32(48000, 1), PcmFormat::int16(16000, 1)));
    auto conv = PcmConverter::make(PcmFormat::float32(48000, 1), PcmFormat::float32(16000, 1));
    ASSERT_TRUE(conv);
    PcmBuffer wrong(PcmFormat::float32(44100, 1), 8);
    PcmBuffer out(PcmFormat::float32(16000, 1), 4096);
    auto r = conv->convert(wrong, out);
    ASSERT_FALSE(r);
    EXPECT_TRUE(isAudioError(r.error(), AudioError::formatMismatch));
    PcmBuffer small(PcmFormat::float32(16000, 1), 10);
    auto right = tone(PcmFormat::float32(48000, 1), 1024, 100, 0.1);
    EXPECT_TRUE(isAudioError(conv->convert(right, small).error(), AudioError::bufferTooSmall));
}

TEST(Resampler, SteadyStateProcessingAllocatesNothing) {
    auto conv = PcmConverter::make(PcmFormat::float32(44100, 2), PcmFormat::float32(16000, 1), 1024);
    ASSERT_TRUE(conv);
    PcmBuffer out(PcmFormat::float32(16000, 1), conv->maxOutputFrames(1024));
    std::vector<PcmBuffer> input;
    for (int i = 0; i < 20; ++i) input.push_back(tone(PcmFormat::float32(44100, 2), 1024, 300, 0.3, i * 1024));
    // libsoxr sets itself up over the first buffers.
    for (int i = 0; i < 10; ++i) {
        out.setFrameLength(0);
        ASSERT_TRUE(conv->convert(input[i], out));
    }
    AllocationProbe probe;
    for (int i = 10; i < 20; ++i) {
        out.setFrameLength(0);
        ASSERT_TRUE(conv->convert(input[i], out));
    }
    EXPECT_EQ(probe.count(), 0u);
}

TEST(Resampler, ResetStartsAFreshSignal) {
    auto r = Resampler::make(48000, 16000, 1);
    ASSERT_TRUE(r);
    std::vector<float> in(4800, 0.25f), out(r->maxOutputFrames(4800));
    const float* ip[] = {in.data()};
    float* op[] = {out.data()};
    auto first = r->process(ip, in.size(), op, out.size());
    ASSERT_TRUE(first);
    r->reset();
    auto second = r->process(ip, in.size(), op, out.size());
    ASSERT_TRUE(second);
    EXPECT_EQ(*first, *second);  // the same delay again, nothing carried over
    EXPECT_FALSE(Resampler::make(48000, 16000, 0));
    EXPECT_FALSE(Resampler::make(48000, -1, 1));
}

}  // namespace
