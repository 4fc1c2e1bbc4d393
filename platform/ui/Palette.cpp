#include "platform/ui/Palette.h"

#include "platform/ui/Contrast.h"

namespace platform::ui {
namespace {

Color controlBackgroundOf(const Palette& p) {
    // Fields sit a step off the surface: lighter on a light theme, the dim
    // surface on a dark one.
    return p.isDark ? p.dimSurface : composite(Color::white().opacity(0.65), p.surfaceBackground);
}

// The top of a themed window's backdrop: the dim surface under the
// accent's glow (Surfaces.h).
Color glowOf(const Palette& p) { return composite(p.accent.opacity(0.18), p.dimSurface); }

}  // namespace

std::vector<Color> surfaces(const Palette& p) {
    return {p.surfaceBackground, p.dimSurface, p.system ? p.system->controlBackground : controlBackgroundOf(p),
            glowOf(p)};
}

SystemColors deriveSystemColors(const Palette& p) {
    SystemColors s;
    s.controlBackground = controlBackgroundOf(p);
    const std::vector<Color> backgrounds{p.surfaceBackground, p.dimSurface, s.controlBackground, glowOf(p)};
    auto text = [&](const Color& c) { return readableOn(c, backgrounds, kTextContrast); };
    s.green = text(p.isDark ? Color::rgb8(0x30, 0xD1, 0x58) : Color::rgb8(0x34, 0xC7, 0x59));
    s.orange = text(p.isDark ? Color::rgb8(0xFF, 0x9F, 0x0A) : Color::rgb8(0xFF, 0x95, 0x00));
    s.red = text(p.isDark ? Color::rgb8(0xFF, 0x45, 0x3A) : Color::rgb8(0xFF, 0x3B, 0x30));
    s.secondary = text(p.secondaryText);
    s.tertiary = text(p.primaryText.opacity(0.5));
    // Decorative, so no text minimum; but it must show on every surface.
    s.separator = readableOn(p.primaryText.opacity(0.18), backgrounds, 1.3);
    s.focusRing = readableOn(p.accent, backgrounds, kLargeTextContrast);
    s.accentText = text(p.accent);
    return s;
}

Color foregroundOn(const Palette& p, const Color& fill) {
    if (contrastRatio(p.accentForeground, fill) >= kTextContrast) return p.accentForeground;
    const Color& best = contrastRatio(p.primaryText, fill) >= contrastRatio(p.surfaceBackground, fill)
                            ? p.primaryText
                            : p.surfaceBackground;
    return readableOn(best, {fill});
}

SystemColors systemColors(const Palette& p) { return p.system ? *p.system : deriveSystemColors(p); }

}  // namespace platform::ui
