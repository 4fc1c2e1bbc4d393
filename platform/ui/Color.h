#pragma once

#include <algorithm>

namespace platform::ui {

// An sRGB colour with straight (not premultiplied) alpha, every component
// from 0 to 1. Qt-free, so palettes and brand colours can be compared and
// tested without widgets.
struct Color {
    double red = 0;
    double green = 0;
    double blue = 0;
    double alpha = 1;

    // 8-bit channels, as colours are usually written.
    static constexpr Color rgb8(int r, int g, int b, double alpha = 1) {
        return {r / 255.0, g / 255.0, b / 255.0, alpha};
    }
    static constexpr Color white() { return {1, 1, 1, 1}; }
    static constexpr Color black() { return {0, 0, 0, 1}; }
    static constexpr Color clear() { return {0, 0, 0, 0}; }

    // The same colour with its alpha multiplied by `factor` (clamped to 0...1):
    // translucent variants are formed where they are used.
    constexpr Color opacity(double factor) const {
        return {red, green, blue, alpha * std::clamp(factor, 0.0, 1.0)};
    }

    // Relative luminance (sRGB, Rec. 709 weights, gamma ignored): enough to
    // tell a dark surface from a light one.
    constexpr double luminance() const { return 0.2126 * red + 0.7152 * green + 0.0722 * blue; }

    friend constexpr bool operator==(const Color&, const Color&) = default;
};

}  // namespace platform::ui
