#include "platform/ui/Contrast.h"

#include <algorithm>
#include <cmath>

namespace platform::ui {
namespace {

double linear(double channel) {
    return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
}

// Colours are drawn, and written in tables, with 8-bit channels: a colour
// that passes only before rounding does not pass.
Color rounded(const Color& c) {
    auto r = [](double v) { return std::round(std::clamp(v, 0.0, 1.0) * 255) / 255; };
    return {r(c.red), r(c.green), r(c.blue), c.alpha};
}

bool passesAll(const Color& text, std::span<const Color> backgrounds, double minimum) {
    for (const auto& b : backgrounds)
        if (contrastRatio(text, b) < minimum) return false;
    return true;
}

}  // namespace

Color composite(const Color& top, const Color& bottom) {
    const double a = std::clamp(top.alpha, 0.0, 1.0);
    const double outAlpha = a + bottom.alpha * (1 - a);
    if (outAlpha <= 0) return Color::clear();
    auto mixChannel = [&](double t, double b) { return (t * a + b * bottom.alpha * (1 - a)) / outAlpha; };
    return {mixChannel(top.red, bottom.red), mixChannel(top.green, bottom.green), mixChannel(top.blue, bottom.blue),
            outAlpha};
}

double relativeLuminance(const Color& c) {
    return 0.2126 * linear(c.red) + 0.7152 * linear(c.green) + 0.0722 * linear(c.blue);
}

double contrastRatio(const Color& foreground, const Color& background) {
    const Color fg = foreground.alpha < 1 ? composite(foreground, background) : foreground;
    const double a = relativeLuminance(fg), b = relativeLuminance(background);
    return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
}

Color readableOn(const Color& text, std::span<const Color> backgrounds, double minimum) {
    if (backgrounds.empty()) return text;
    const Color start = text.alpha < 1 ? composite(text, backgrounds.front()) : text;
    if (passesAll(start, backgrounds, minimum)) return start;
    // Darker text on light backgrounds, lighter on dark ones; the middle of
    // the luminance scale (0.18) divides them.
    const bool darken = relativeLuminance(backgrounds.front()) > 0.18;
    Hsl hsl = toHsl(start);
    constexpr double kStep = 0.005;
    while (darken ? hsl.lightness > 0 : hsl.lightness < 1) {
        hsl.lightness = std::clamp(hsl.lightness + (darken ? -kStep : kStep), 0.0, 1.0);
        const Color candidate = rounded(fromHsl(hsl));
        if (passesAll(candidate, backgrounds, minimum)) return candidate;
    }
    return darken ? Color::black() : Color::white();
}

Hsl toHsl(const Color& c) {
    const double maxC = std::max({c.red, c.green, c.blue});
    const double minC = std::min({c.red, c.green, c.blue});
    Hsl out;
    out.lightness = (maxC + minC) / 2;
    const double delta = maxC - minC;
    if (delta <= 0) return out;
    out.saturation = delta / (1 - std::abs(2 * out.lightness - 1));
    double h;
    if (maxC == c.red)
        h = std::fmod((c.green - c.blue) / delta, 6.0);
    else if (maxC == c.green)
        h = (c.blue - c.red) / delta + 2;
    else
        h = (c.red - c.green) / delta + 4;
    out.hue = h * 60;
    if (out.hue < 0) out.hue += 360;
    return out;
}

Color fromHsl(const Hsl& hsl, double alpha) {
    const double chroma = (1 - std::abs(2 * hsl.lightness - 1)) * hsl.saturation;
    const double h = hsl.hue / 60;
    const double x = chroma * (1 - std::abs(std::fmod(h, 2.0) - 1));
    double r = 0, g = 0, b = 0;
    if (h < 1) r = chroma, g = x;
    else if (h < 2) r = x, g = chroma;
    else if (h < 3) g = chroma, b = x;
    else if (h < 4) g = x, b = chroma;
    else if (h < 5) r = x, b = chroma;
    else r = chroma, b = x;
    const double m = hsl.lightness - chroma / 2;
    auto clamp01 = [](double v) { return std::clamp(v, 0.0, 1.0); };
    return {clamp01(r + m), clamp01(g + m), clamp01(b + m), alpha};
}

}  // namespace platform::ui
