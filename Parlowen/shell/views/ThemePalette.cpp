#include "Parlowen/shell/views/ThemePalette.h"

#include "Parlowen/brand/BrandColors.h"
#include "platform/ui/ThemeScope.h"

namespace parlowen {

// Each palette is a function-local static: built at its first use, once.
// Each carries its table of system colours: the hues views name and the
// palette's quieter texts, moved in lightness until they read on the
// palette's surfaces (platform/ui/Palette.h derives the same values for
// palettes without a table; the tests hold every entry to its minimum).

const ThemePalette& hearthPalette() {
    static const ThemePalette p{
        .surfaceBackground = brandCream(),
        .primaryText = brandInk(),
        .secondaryText = brandInk().opacity(0.75),
        .accent = brandAmber(),
        // White on amber reads at 2.2:1; the ink reads at 5.9:1.
        .accentForeground = brandInk(),
        .dimSurface = brandLinen(),
        .dotStroke = brandAmberDeep().opacity(0.25),
        .isDark = false,
        .system =
            platform::ui::SystemColors{
            .green = colorFromHex("1E7233"),
            .orange = colorFromHex("915500"),
            .red = colorFromHex("C90B00"),
            .secondary = colorFromHex("6C5F53"),
            .tertiary = colorFromHex("6B6157"),
            .separator = colorFromHex("CFC4B6"),
            .controlBackground = colorFromHex("FDFBF7"),
            .focusRing = colorFromHex("B96E18"),
            .accentText = colorFromHex("905613"),
            },
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
        .system =
            platform::ui::SystemColors{
            .green = colorFromHex("1C6A2F"),
            .orange = colorFromHex("874F00"),
            .red = colorFromHex("BC0A00"),
            .secondary = colorFromHex("575C64"),
            .tertiary = colorFromHex("595D64"),
            .separator = colorFromHex("B8BCC2"),
            .controlBackground = colorFromHex("FBFCFC"),
            .focusRing = colorFromHex("5A7B5C"),
            .accentText = colorFromHex("49634A"),
            },
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
        .system =
            platform::ui::SystemColors{
            .green = colorFromHex("1A622C"),
            .orange = colorFromHex("7F4A00"),
            .red = colorFromHex("AF0900"),
            .secondary = colorFromHex("4C5765"),
            .tertiary = colorFromHex("4E5761"),
            .separator = colorFromHex("A8B4C0"),
            .controlBackground = colorFromHex("F7F9FB"),
            .focusRing = colorFromHex("4A6FA5"),
            .accentText = colorFromHex("3A5782"),
            },
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
        .system =
            platform::ui::SystemColors{
            .green = colorFromHex("30D158"),
            .orange = colorFromHex("FF9F0A"),
            .red = colorFromHex("FF8881"),
            .secondary = colorFromHex("B5ADA8"),
            .tertiary = colorFromHex("AFAAAC"),
            .separator = colorFromHex("554E5E"),
            .controlBackground = colorFromHex("2A2541"),
            .focusRing = colorFromHex("E8A04C"),
            .accentText = colorFromHex("E8A04C"),
            },
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
        .system =
            platform::ui::SystemColors{
            .green = colorFromHex("195E2A"),
            .orange = colorFromHex("784600"),
            .red = colorFromHex("A80900"),
            .secondary = colorFromHex("654D3F"),
            .tertiary = colorFromHex("5F4E42"),
            .separator = colorFromHex("C0A991"),
            .controlBackground = colorFromHex("FCF8F3"),
            .focusRing = colorFromHex("8B4513"),
            .accentText = colorFromHex("803F11"),
            },
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
