#pragma once

#include <optional>
#include <vector>

#include "platform/ui/Color.h"

namespace platform::ui {

// The system colours views name beside a palette's own roles, each readable
// on that palette's surfaces (Contrast.h): text colours reach 4.5:1, the
// focus ring 3:1. The separator is a decorative line and only needs to show
// (1.3:1).
struct SystemColors {
    Color green;
    Color orange;
    Color red;
    Color secondary;          // quieter text
    Color tertiary;           // quietest text that still reads
    Color separator;
    Color controlBackground;  // fields and lists
    Color focusRing;
    Color accentText;  // the accent where it is text: plain buttons, links

    friend constexpr bool operator==(const SystemColors&, const SystemColors&) = default;
};

// The colour roles a themed window draws with. A window's theme scope
// (ThemeScope.h) carries one; its content reads it from there.
struct Palette {
    Color surfaceBackground;
    Color primaryText;
    Color secondaryText;
    Color accent;
    Color accentForeground;
    Color dimSurface;
    Color dotStroke;
    bool isDark = false;
    // The palette's table of system colours; without one they are derived.
    std::optional<SystemColors> system = std::nullopt;

    friend bool operator==(const Palette&, const Palette&) = default;
};

// The palette's table, or the colours derived from its roles.
SystemColors systemColors(const Palette& palette);
// The system colours made readable on the palette's surfaces: macOS's hues
// (light or dark variants) and the palette's text, each shifted in
// lightness until it passes.
SystemColors deriveSystemColors(const Palette& palette);
// Text on a filled control (a prominent button, a capsule): the accent
// foreground when it reads on `fill`, else whichever of the primary text and
// the surface reads better, moved in lightness until it passes.
Color foregroundOn(const Palette& palette, const Color& fill);

// What text of this palette is drawn on: the surface, the dim surface, the
// control background and the top of a themed window's backdrop, where the
// accent glows over the dim surface.
std::vector<Color> surfaces(const Palette& palette);

}  // namespace platform::ui
