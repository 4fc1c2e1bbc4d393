#pragma once

// The five colour themes' palettes, and how views receive the palette of the
// selected theme: a themed window carries it in its theme scope
// (platform/ui/ThemeScope.h); views read it with `themePalette(widget)`,
// which gives the hearth palette outside any themed window.

#include "Parlowen/model/Theme.h"
#include "platform/runtime/Observable.h"
#include "platform/ui/Palette.h"

class QWidget;

namespace parlowen {

using ThemePalette = platform::ui::Palette;

// A theme's palette; each of the five is built once, on first use.
const ThemePalette& palette(Theme theme);
const ThemePalette& hearthPalette();
const ThemePalette& summitPalette();
const ThemePalette& alpineDawnPalette();
const ThemePalette& duskPalette();
const ThemePalette& chestnutPalette();

// The environment key of the theme palette: its value type and default.
struct ThemePaletteKey {
    using Value = ThemePalette;
    static const ThemePalette& defaultValue() { return hearthPalette(); }
};

// Reads the palette of the nearest themed window or container above
// `widget`; the key's default (hearth) when there is none.
ThemePalette themePalette(const QWidget* widget);
// Sets `palette` on `root` for everything inside it (a themed window's root).
void setThemePalette(QWidget* root, const ThemePalette& palette);

// Keeps `root` in the palette of the theme `themes` delivers (the setting
// `selectedTheme`'s stream), starting with the current one, until the
// subscription ends or `root` is destroyed.
[[nodiscard]] platform::Subscription followTheme(QWidget* root, platform::Stream<Theme> themes);

}  // namespace parlowen
