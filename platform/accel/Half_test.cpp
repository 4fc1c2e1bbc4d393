#include "platform/accel/Half.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace platform::accel {
namespace {

bool isHalfNaN(Half h) { return (h & 0x7c00u) == 0x7c00u && (h & 0x03ffu) != 0; }

TEST(HalfTest, EveryHalfPatternRoundTripsThroughSingle) {
    for (std::uint32_t bits = 0; bits <= 0xffffu; ++bits) {
        const auto h = static_cast<Half>(bits);
        const float f = halfToFloat(h);
        const Half back = floatToHalf(f);
        if (isHalfNaN(h)) {
            ASSERT_TRUE(std::isnan(f)) << std::hex << bits;
            ASSERT_TRUE(isHalfNaN(back)) << std::hex << bits;
            ASSERT_EQ(back & 0x8000u, h & 0x8000u) << std::hex << bits;
        } else {
            ASSERT_EQ(back, h) << std::hex << bits;
        }
    }
}

TEST(HalfTest, KnownConversions) {
    struct Case {
        float in;
        float expected;
    };
    const float inf = std::numeric_limits<float>::infinity();
    const Case cases[] = {
        {1.1f, 1.099609375f},
        {0.0f, 0.0f},
        {-2.5f, -2.5f},
        {65504.0f, 65504.0f},        // largest half
        {65519.0f, 65504.0f},        // below the halfway point to 65536
        {65520.0f, inf},             // the tie goes to the even neighbour: infinity
        {1e10f, inf},
        {-1e10f, -inf},
        {inf, inf},
        {0x1p-24f, 0x1p-24f},        // smallest subnormal
        {0x1p-25f, 0.0f},            // exactly half of it: ties to even (zero)
        {0x1.8p-25f, 0x1p-24f},      // above the halfway point
        {0x1.8p-24f, 0x1p-23f},      // 1.5 units: ties to even (2 units)
        {0x1.4p-24f, 0x1p-24f},      // 1.25 units
        {0x1p-14f, 0x1p-14f},        // smallest normal
        {1.0f + 0x1p-11f, 1.0f},     // halfway between 1 and the next half: even is 1
        {1.0f + 0x1.8p-11f, 1.0f + 0x1p-10f},
        {1.0f + 3 * 0x1p-11f, 1.0f + 0x1p-9f},  // tie between odd and even: rounds up to even
        {2047.5f, 2048.0f},
        {1e-30f, 0.0f},
    };
    for (const auto& c : cases) {
        const float out = halfToFloat(floatToHalf(c.in));
        EXPECT_EQ(std::bit_cast<std::uint32_t>(out), std::bit_cast<std::uint32_t>(c.expected))
            << "in " << c.in << " got " << out << " expected " << c.expected;
    }
    // Negative zero keeps its sign.
    EXPECT_EQ(floatToHalf(-0.0f), 0x8000u);
}

TEST(HalfTest, NaNStaysNaNWithItsSign) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_TRUE(isHalfNaN(floatToHalf(nan)));
    EXPECT_TRUE(isHalfNaN(floatToHalf(-nan)));
    EXPECT_EQ(floatToHalf(-nan) & 0x8000u, 0x8000u);
    // A NaN whose payload lies only in the bits that do not fit stays NaN.
    EXPECT_TRUE(isHalfNaN(floatToHalf(std::bit_cast<float>(0x7f800001u))));
    EXPECT_TRUE(std::isnan(halfToFloat(0x7c01u)));
}

TEST(HalfTest, MatchesTheCompilersHalfTypeOnRandomSingles) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<std::uint32_t> bits;
    for (int i = 0; i < 2'000'000; ++i) {
        const float f = std::bit_cast<float>(bits(rng));
        if (std::isnan(f)) continue;
        const auto reference = std::bit_cast<std::uint16_t>(static_cast<_Float16>(f));
        ASSERT_EQ(floatToHalf(f), reference) << std::hexfloat << f;
    }
}

TEST(HalfTest, BulkConversionGivesTheScalarBitsIncludingTheTail) {
    std::vector<float> values;
    for (std::uint32_t bits = 0; bits <= 0xffffu; ++bits) values.push_back(halfToFloat(static_cast<Half>(bits)));
    std::mt19937 rng(3);
    std::uniform_int_distribution<std::uint32_t> any;
    for (int i = 0; i < 100'003; ++i) values.push_back(std::bit_cast<float>(any(rng)));

    std::vector<Half> halves(values.size());
    convertFloatToHalf(values, halves);
    for (std::size_t i = 0; i < values.size(); ++i) ASSERT_EQ(halves[i], floatToHalf(values[i])) << i;

    std::vector<float> back(halves.size());
    convertHalfToFloat(halves, back);
    for (std::size_t i = 0; i < halves.size(); ++i)
        ASSERT_EQ(std::bit_cast<std::uint32_t>(back[i]), std::bit_cast<std::uint32_t>(halfToFloat(halves[i]))) << i;
}

TEST(HalfTest, BulkConversionStopsAtTheShorterSpan) {
    std::vector<float> src{1.0f, 2.0f, 3.0f};
    std::vector<Half> dst(2, 0xffff);
    convertFloatToHalf(src, dst);
    EXPECT_EQ(halfToFloat(dst[1]), 2.0f);
    std::vector<float> out(5, -1.0f);
    convertHalfToFloat(dst, out);
    EXPECT_EQ(out[1], 2.0f);
    EXPECT_EQ(out[2], -1.0f);
}

}  // namespace
}  // namespace platform::accel
