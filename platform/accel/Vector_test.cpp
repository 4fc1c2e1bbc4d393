#include "platform/accel/Vector.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

namespace platform::accel {
namespace {

TEST(VectorTest, ArgmaxTable) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    struct Case {
        std::vector<float> values;
        std::size_t index;
    };
    const Case cases[] = {
        {{3}, 0},
        {{1, 5, 2}, 1},
        {{5, 1, 5}, 0},        // ties: the lowest index
        {{1, 7, 7, 7}, 1},
        {{-3, -1, -2}, 1},
        {{nan, 2, 3}, 2},      // NaN never wins
        {{1, nan, 0}, 0},
        {{nan, nan}, 0},
        {{-inf, -inf}, 0},
        {{0, inf, inf}, 1},
        {{-0.0f, 0.0f}, 0},    // equal values
    };
    for (const auto& c : cases) {
        auto r = argmax(std::span<const float>(c.values));
        ASSERT_TRUE(r);
        EXPECT_EQ(r->index, c.index) << ::testing::PrintToString(c.values);
    }
    EXPECT_FALSE(argmax(std::span<const float>()));
    const std::vector<double> d{0.5, 2.5, 2.5};
    EXPECT_EQ(argmax(std::span<const double>(d))->index, 1u);
    EXPECT_EQ(argmax(std::span<const double>(d))->value, 2.5);
}

}  // namespace
}  // namespace platform::accel
