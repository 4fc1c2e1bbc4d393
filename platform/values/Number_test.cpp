#include "platform/values/Number.h"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

namespace {

using platform::formatShortest;

TEST(FormatShortest, DoubleTable) {
    const struct {
        double value;
        const char* text;
    } cases[] = {
        {2.0, "2.0"},
        {0.7, "0.7"},
        {0.1, "0.1"},
        {-3.5, "-3.5"},
        {100.0, "100.0"},
        {0.0, "0.0"},
        {-0.0, "-0.0"},
        {123.456, "123.456"},
        {0.1 + 0.2, "0.30000000000000004"},
        {1.0 / 3.0, "0.3333333333333333"},
        {0.0001, "0.0001"},
        {0.00001, "1e-05"},
        {0.000123, "0.000123"},
        {0.0000123, "1.23e-05"},
        {1e15, "1000000000000000.0"},
        {9007199254740992.0, "9007199254740992.0"},  // 2^53, the last exact-integer decimal
        {9007199254740994.0, "9.007199254740994e+15"},
        {1e16, "1e+16"},
        {-1e16, "-1e+16"},
        {1.5e300, "1.5e+300"},
        {5e-324, "5e-324"},
        {std::numeric_limits<double>::max(), "1.7976931348623157e+308"},
        {std::numeric_limits<double>::infinity(), "inf"},
        {-std::numeric_limits<double>::infinity(), "-inf"},
        {std::numeric_limits<double>::quiet_NaN(), "nan"},
    };
    for (const auto& c : cases) EXPECT_EQ(formatShortest(c.value), c.text) << c.text;
}

TEST(FormatShortest, FloatUsesFloatDigitsAndFloatRange) {
    const struct {
        float value;
        const char* text;
    } cases[] = {
        {0.1f, "0.1"},
        {3.0f, "3.0"},
        {-0.5f, "-0.5"},
        {1.0f / 3.0f, "0.33333334"},
        {16777216.0f, "16777216.0"},  // 2^24
        {16777218.0f, "1.6777218e+07"},
        {1e8f, "1e+08"},
        {0.00001f, "1e-05"},
        {std::numeric_limits<float>::denorm_min(), "1e-45"},
        {std::numeric_limits<float>::infinity(), "inf"},
    };
    for (const auto& c : cases) EXPECT_EQ(formatShortest(c.value), c.text) << c.text;
}

TEST(FormatShortest, TextReadsBackAsTheSameValue) {
    for (double v : {0.1, 2.5e-7, 1234.5678, 6.02214076e23, 1e-300}) {
        EXPECT_EQ(std::stod(formatShortest(v)), v);
        EXPECT_EQ(std::stod(formatShortest(-v)), -v);
    }
}

}  // namespace
