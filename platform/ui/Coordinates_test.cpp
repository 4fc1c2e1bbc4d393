#include <gtest/gtest.h>

#include "platform/ui/Coordinates.h"

namespace platform::ui {
namespace {

const Rect kPrimary{0, 0, 1920, 1080};
// A primary screen that is not at the virtual desktop's origin.
const Rect kShiftedPrimary{1280, 200, 1920, 1080};

TEST(Coordinates, RectanglesFlipAroundThePrimaryScreensBottomEdge) {
    struct Case {
        Rect bottomLeft;
        Rect screen;
        Rect topLeft;
    } cases[] = {
        // A panel 80 points above the bottom edge: its top edge is 280 up.
        {{100, 80, 400, 200}, kPrimary, {100, 800, 400, 200}},
        // Touching the bottom and the top of the screen.
        {{0, 0, 1920, 10}, kPrimary, {0, 1070, 1920, 10}},
        {{0, 1070, 10, 10}, kPrimary, {0, 0, 10, 10}},
        // Above the primary screen (a second screen on top) lands at negative y.
        {{0, 1080, 1280, 1024}, kPrimary, {0, -1024, 1280, 1024}},
        // The origin follows the primary screen's place in the virtual desktop.
        {{0, 0, 10, 10}, kShiftedPrimary, {1280, 1270, 10, 10}},
        {{-1280, 0, 1280, 1024}, kShiftedPrimary, {0, 256, 1280, 1024}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(toTopLeft(c.bottomLeft, c.screen), c.topLeft)
            << c.bottomLeft.x << "," << c.bottomLeft.y << " " << c.bottomLeft.width << "x" << c.bottomLeft.height;
        EXPECT_EQ(toBottomLeft(c.topLeft, c.screen), c.bottomLeft);
    }
}

TEST(Coordinates, PointsFlipWithoutAHeight) {
    EXPECT_EQ(toTopLeft(Point{100, 0}, kPrimary), (Point{100, 1080}));
    EXPECT_EQ(toTopLeft(Point{100, 1080}, kPrimary), (Point{100, 0}));
    EXPECT_EQ(toTopLeft(Point{10, 30}, kShiftedPrimary), (Point{1290, 1250}));
    EXPECT_EQ(toBottomLeft(Point{1290, 1250}, kShiftedPrimary), (Point{10, 30}));
}

}  // namespace
}  // namespace platform::ui
