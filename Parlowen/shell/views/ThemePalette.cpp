#include "Parlowen/shell/views/ThemePalette.h"

#include "Parlowen/brand/BrandColors.h"
#include "platform/ui/ThemeScope.h"

namespace parlowen {

// Each palette is a function-local static: built at its first use, once.

const ThemePalette& hearthPalette() {
    static const ThemePalette p{
        .surfaceBackground = brandCream(),
        .primaryText = brandInk(),
        .secondaryText = brandInk().opacity(0.75),
        .accent = brandAmber(),
        .accentForeground = Color::white(),
        .dimSurface = brandLinen(),
        .dotStroke = brandAmberDeep().opacity(0.25),
        .isDark = false,
    };
    return p;
}

const ThemePalette& summitPalette() {
    static const ThemePalette p{
        .surfaceBackground = colorFromHex("F4F5F7"),
        .primaryText = colorFromHex("1F2937"),
        .secondaryText = colorFromHex("1F2937").opacity(0.65),
        .accent = colorFromHex("5A7B5C"),
        .accentForeground = Color::white(),
        .dimSurface = colorFromHex("E9ECEF"),
        .dotStroke = colorFromHex("5A7B5C").opacity(0.18),
        .isDark = false,
    };
    return p;
}

const ThemePalette& alpineDawnPalette() {
    static const ThemePalette p{
        .surfaceBackground = colorFromHex("E8EEF4"),
        .primaryText = colorFromHex("1A2A3F"),
        .secondaryText = colorFromHex("1A2A3F").opacity(0.7),
        .accent = colorFromHex("4A6FA5"),
        .accentForeground = Color::white(),
        .dimSurface = colorFromHex("D8E2EE"),
        .dotStroke = colorFromHex("4A6FA5").opacity(0.22),
        .isDark = false,
    };
    return p;
}

const ThemePalette& duskPalette() {
    static const ThemePalette p{
        .surfaceBackground = colorFromHex("1F1B2E"),
        .primaryText = colorFromHex("F5EBDC"),
        .secondaryText = colorFromHex("F5EBDC").opacity(0.7),
        .accent = colorFromHex("E8A04C"),
        .accentForeground = colorFromHex("1F1B2E"),
        .dimSurface = colorFromHex("2A2541"),
        .dotStroke = colorFromHex("E8A04C").opacity(0.4),
        .isDark = true,
    };
    return p;
}

const ThemePalette& chestnutPalette() {
    static const ThemePalette p{
        .surfaceBackground = brandLinen(),
        .primaryText = colorFromHex("4B2412"),
        .secondaryText = colorFromHex("4B2412").opacity(0.7),
        .accent = colorFromHex("8B4513"),
        .accentForeground = brandLinen(),
        .dimSurface = colorFromHex("EDDCC4"),
        .dotStroke = colorFromHex("8B4513").opacity(0.25),
        .isDark = false,
    };
    return p;
}

const ThemePalette& palette(Theme theme) {
    switch (theme) {
        case Theme::hearth: return hearthPalette();
        case Theme::summit: return summitPalette();
        case Theme::alpineDawn: return alpineDawnPalette();
        case Theme::dusk: return duskPalette();
        case Theme::chestnut: return chestnutPalette();
    }
    return hearthPalette();
}

ThemePalette themePalette(const QWidget* widget) {
    return platform::ui::ThemeScope::paletteFor(widget).value_or(ThemePaletteKey::defaultValue());
}

void setThemePalette(QWidget* root, const ThemePalette& p) { platform::ui::ThemeScope::apply(root, p); }

platform::Subscription followTheme(QWidget* root, platform::Stream<Theme> themes) {
    return platform::ui::ThemeScope::follow(root, themes.map([](const Theme& t) { return palette(t); }));
}

}  // namespace parlowen
