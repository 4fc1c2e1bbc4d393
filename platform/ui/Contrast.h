#pragma once

// Readable colours: the contrast ratio of two colours as WCAG defines it,
// and the rule that makes a text colour readable on its backgrounds: the
// colour keeps its hue and saturation and only its lightness moves, away
// from the backgrounds, until every pair passes. Qt-free.

#include <initializer_list>
#include <span>

#include "platform/ui/Color.h"

namespace platform::ui {

// Body text (4.5:1) and large text or symbols (3:1), the WCAG AA minimums.
inline constexpr double kTextContrast = 4.5;
inline constexpr double kLargeTextContrast = 3.0;

// `top` painted over `bottom`; opaque when `bottom` is.
Color composite(const Color& top, const Color& bottom);

// Relative luminance with the sRGB transfer curve (0 black, 1 white).
double relativeLuminance(const Color& color);

// (lighter + 0.05) / (darker + 0.05), from 1 to 21. A translucent
// foreground is composited over the background first.
double contrastRatio(const Color& foreground, const Color& background);

// `text` (composited over the first background when translucent) with its
// lightness moved away from the backgrounds until it reaches `minimum`
// against each of them. Already readable: returned composited and unchanged.
// Backgrounds are taken to be all light or all dark (one palette's surfaces).
Color readableOn(const Color& text, std::span<const Color> backgrounds, double minimum = kTextContrast);
inline Color readableOn(const Color& text, std::initializer_list<Color> backgrounds,
                        double minimum = kTextContrast) {
    return readableOn(text, std::span<const Color>(backgrounds.begin(), backgrounds.size()), minimum);
}

// Hue (degrees), saturation and lightness (0...1) of a colour, and back.
struct Hsl {
    double hue = 0;
    double saturation = 0;
    double lightness = 0;
};
Hsl toHsl(const Color& color);
Color fromHsl(const Hsl& hsl, double alpha = 1);

}  // namespace platform::ui
