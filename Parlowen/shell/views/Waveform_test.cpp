#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

#include "Parlowen/shell/views/ThemePalette.h"
#include "Parlowen/shell/views/WaveformBarView.h"
#include "Parlowen/shell/views/WaveformLayout.h"
#include "platform/ui/Animations.h"
#include "platform/ui/ScreenshotTesting.h"
#include "platform/ui/Surfaces.h"
#include "platform/ui/ThemeScope.h"

namespace parlowen {
namespace {

const std::filesystem::path kShots = PARLOWEN_SCREENSHOT_DIR;

TEST(WaveformLayout, BarsShareTheWidthAndAreMaxOfMinHeightAndScaledSample) {
    // 4 bars over 100 points with 2 points between them: (100 - 6) / 4 = 23.5 wide.
    const auto bars = waveformBars({0.0f, 0.05f, 0.5f, 1.5f}, 100, 22, 2, 2);
    ASSERT_EQ(bars.size(), 4u);
    struct Expected {
        double x, height;
    };
    const Expected expected[] = {{0, 2}, {25.5, 2}, {51, 11}, {76.5, 33}};
    for (std::size_t i = 0; i < bars.size(); ++i) {
        EXPECT_DOUBLE_EQ(bars[i].width, 23.5) << i;
        EXPECT_DOUBLE_EQ(bars[i].x, expected[i].x) << i;
        EXPECT_DOUBLE_EQ(bars[i].height, expected[i].height) << i;
        EXPECT_DOUBLE_EQ(bars[i].y + bars[i].height / 2, 11) << "vertically centred " << i;
    }
    // 0.05 x 22 = 1.1 is below the minimum: exactly minHeight. 1.5 is not clamped.
    EXPECT_LT(bars[3].y, 0) << "taller than the view";
    EXPECT_TRUE(waveformBars({}, 100, 22, 2, 2).empty());
    EXPECT_DOUBLE_EQ(waveformBars({0.5f}, 10, 22, 2, 2)[0].width, 10) << "one bar takes the whole width";
    EXPECT_DOUBLE_EQ(waveformBars({1, 1, 1}, 2, 22, 2, 2)[0].width, 0) << "spacing wider than the view";
}

QImage render(WaveformBarView& view) {
    QImage image(view.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    view.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);  // no background
    return image;
}

TEST(WaveformBarView, DrawsBarsInTheAccentAndNothingWithoutSamples) {
    platform::ui::AnimationsOff noAnimations;
    const platform::ui::Color accent = duskPalette().accent.opacity(0.85);
    WaveformBarView view({}, accent, 2, 2);
    view.resize(120, 22);
    const QImage empty = render(view);
    bool anything = false;
    for (int y = 0; y < empty.height(); ++y)
        for (int x = 0; x < empty.width(); ++x) anything = anything || empty.pixelColor(x, y).alpha() != 0;
    EXPECT_FALSE(anything) << "no samples, nothing drawn";

    view.setSamples({0.1f, 0.9f, 0.4f, 1.0f, 0.0f, 0.6f});
    const QImage bars = render(view);
    const QColor middleOfSecondBar = bars.pixelColor(30, 11);
    EXPECT_GT(middleOfSecondBar.alpha(), 200);
    EXPECT_EQ(bars.pixelColor(30, 1).alpha() > 0, true) << "a 0.9 bar reaches near the top";
    EXPECT_EQ(bars.pixelColor(90, 1).alpha(), 0) << "a zero bar stays at its minimum height";
    EXPECT_GT(bars.pixelColor(90, 11).alpha(), 0);

    for (Theme theme : allCases<Theme>()) {
        const ThemePalette& themed = palette(theme);
        platform::ui::ThemedBackground strip;
        platform::ui::ThemeScope::apply(&strip, themed);
        strip.resize(200, 40);
        auto* wave = new WaveformBarView({0.2f, 0.5f, 0.8f, 1.0f, 0.7f, 0.4f, 0.1f, 0.0f, 0.3f, 0.6f, 0.9f, 0.5f},
                                         themed.accent.opacity(0.85), 2, 2, &strip);
        wave->setGeometry(10, 9, 180, 22);
        platform::ui::testing::expectScreenshot(&strip, kShots / ("waveform-" + std::string(rawValue(theme)) + ".png"),
                                                {"waveform"});
    }
}

}  // namespace
}  // namespace parlowen
