#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/audio/PcmBuffer.h"

using namespace platform;

namespace {

TEST(PcmBuffer, PlanarAndInterleavedLayoutsAddressTheSameSamples) {
    PcmBuffer planar(PcmFormat::float32(48000, 2), 4);
    PcmBuffer interleaved(PcmFormat::float32(48000, 2, true), 4);
    for (std::uint32_t f = 0; f < 4; ++f)
        for (std::uint32_t c = 0; c < 2; ++c) {
            planar.setSample(c, f, f + c * 0.5f);
            interleaved.setSample(c, f, f + c * 0.5f);
        }
    // Planar: one run per channel; interleaved: one run with the channels in between.
    EXPECT_EQ(planar.stride(), 1u);
    EXPECT_EQ(planar.floatChannel(1)[3], 3.5f);
    EXPECT_EQ(interleaved.stride(), 2u);
    EXPECT_EQ(interleaved.floatChannel(0)[3 * 2 + 1], 3.5f);
    EXPECT_EQ(interleaved.floatChannel(1), nullptr);
    EXPECT_EQ(planar.int16Channel(0), nullptr);
    EXPECT_EQ(planar.frameLength(), 0u);
    planar.setFrameLength(99);
    EXPECT_EQ(planar.frameLength(), 4u);  // clamped to the capacity
}

TEST(PcmBuffer, Int16SamplesScaleAndClamp) {
    PcmBuffer b(PcmFormat::int16(16000, 1), 6);
    const float in[] = {0.5f, -1.0f, 1.0f, 2.0f, std::numeric_limits<float>::quiet_NaN(), -0.25f};
    const std::int16_t want[] = {16384, -32768, 32767, 32767, 0, -8192};
    for (std::uint32_t i = 0; i < 6; ++i) b.setSample(0, i, in[i]);
    for (std::uint32_t i = 0; i < 6; ++i) EXPECT_EQ(b.int16Channel(0)[i], want[i]) << i;
    EXPECT_FLOAT_EQ(b.sample(0, 0), 0.5f);
    EXPECT_FALSE(b.hasFloatData());
    EXPECT_EQ(b.floatChannel(0), nullptr);
}

TEST(PcmBuffer, CopiesOwnTheirSamplesAndMovesEmptyTheSource) {
    PcmBuffer a(PcmFormat::float32(8000, 1), 2);
    a.setSample(0, 0, 0.25f);
    a.setFrameLength(2);
    PcmBuffer copy = a;
    copy.setSample(0, 0, 0.75f);
    EXPECT_EQ(a.sample(0, 0), 0.25f);
    PcmBuffer moved = std::move(a);
    EXPECT_EQ(moved.frameLength(), 2u);
    EXPECT_EQ(moved.sample(0, 0), 0.25f);
    EXPECT_EQ(a.frameCapacity(), 0u);  // NOLINT: moved-from is empty by contract
    EXPECT_DOUBLE_EQ(moved.duration(), 2.0 / 8000);
}

TEST(PcmBuffer, InvalidFormatGivesAnEmptyBuffer) {
    PcmBuffer b(PcmFormat::float32(0, 1), 1024);
    EXPECT_EQ(b.frameCapacity(), 0u);
    EXPECT_EQ(b.floatChannel(0), nullptr);
    EXPECT_EQ(PcmFormat::float32(44100, 2).description(), "44100 Hz, 2 ch, Float32, deinterleaved");
    EXPECT_EQ(PcmFormat::float32(44100, 2).commonFormat(), 1);
    EXPECT_EQ(PcmFormat::int16(44100, 2).commonFormat(), 3);
}

}  // namespace
