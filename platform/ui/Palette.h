#pragma once

#include "platform/ui/Color.h"

namespace platform::ui {

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

    friend constexpr bool operator==(const Palette&, const Palette&) = default;
};

}  // namespace platform::ui
