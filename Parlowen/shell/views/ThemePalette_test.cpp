#include <gtest/gtest.h>

#include <QLabel>
#include <QVBoxLayout>

#include "Parlowen/brand/BrandColors.h"
#include "Parlowen/shell/settings/PreferencesStore.h"
#include "Parlowen/shell/views/SettingProperty.h"
#include "Parlowen/shell/views/ThemePalette.h"
#include "platform/defaults/InMemoryUserDefaults.h"
#include "platform/ui/Animations.h"
#include "platform/ui/Bindings.h"
#include "platform/ui/Contrast.h"
#include "platform/ui/Forms.h"
#include "platform/ui/ScreenshotTesting.h"
#include "platform/ui/Surfaces.h"
#include "platform/ui/ThemeScope.h"

namespace platform::ui {
void PrintTo(const Color& c, std::ostream* os) {
    *os << "rgba(" << c.red * 255 << ", " << c.green * 255 << ", " << c.blue * 255 << ", " << c.alpha << ")";
}
}  // namespace platform::ui

namespace parlowen {
namespace {

const std::filesystem::path kShots = PARLOWEN_SCREENSHOT_DIR;

Color hex(const char* text, double opacity = 1) { return colorFromHex(text).opacity(opacity); }

TEST(ThemePalette, FiveThemesHaveTheirTableValues) {
    struct Row {
        Theme theme;
        ThemePalette expected;
    };
    const Color white = Color::white();
    const std::vector<Row> table{
        {Theme::hearth,
         {hex("FAF3E7"), hex("3D2E22"), hex("3D2E22", 0.75), hex("E8A04C"), hex("3D2E22"), hex("F5EBDC"), hex("D17F2A", 0.25), false}},
        {Theme::summit,
         {hex("F4F5F7"), hex("1F2937"), hex("1F2937", 0.65), hex("5A7B5C"), white, hex("E9ECEF"), hex("5A7B5C", 0.18), false}},
        {Theme::alpineDawn,
         {hex("E8EEF4"), hex("1A2A3F"), hex("1A2A3F", 0.7), hex("4A6FA5"), white, hex("D8E2EE"), hex("4A6FA5", 0.22), false}},
        {Theme::dusk,
         {hex("1F1B2E"), hex("F5EBDC"), hex("F5EBDC", 0.7), hex("E8A04C"), hex("1F1B2E"), hex("2A2541"), hex("E8A04C", 0.4), true}},
        {Theme::chestnut,
         {hex("F5EBDC"), hex("4B2412"), hex("4B2412", 0.7), hex("8B4513"), hex("F5EBDC"), hex("EDDCC4"), hex("8B4513", 0.25), false}},
    };
    ASSERT_EQ(table.size(), allCases<Theme>().size());
    for (const auto& row : table) {
        const auto name = rawValue(row.theme);
        const ThemePalette& p = palette(row.theme);
        EXPECT_EQ(p.surfaceBackground, row.expected.surfaceBackground) << name;
        EXPECT_EQ(p.primaryText, row.expected.primaryText) << name;
        EXPECT_EQ(p.secondaryText, row.expected.secondaryText) << name;
        EXPECT_EQ(p.accent, row.expected.accent) << name;
        EXPECT_EQ(p.accentForeground, row.expected.accentForeground) << name;
        EXPECT_EQ(p.dimSurface, row.expected.dimSurface) << name;
        EXPECT_EQ(p.dotStroke, row.expected.dotStroke) << name;
        EXPECT_EQ(p.isDark, row.expected.isDark) << name;
        EXPECT_EQ(&palette(row.theme), &p) << name << " is built once";
        // Only dusk is dark; hearth (ink on amber), dusk and chestnut have a
        // non-white accent foreground.
        EXPECT_EQ(p.isDark, row.theme == Theme::dusk) << name;
        EXPECT_EQ(p.accentForeground != white,
                  row.theme == Theme::hearth || row.theme == Theme::dusk || row.theme == Theme::chestnut)
            << name;
    }
    // The hearth palette is the brand's own colours.
    EXPECT_EQ(hearthPalette().surfaceBackground, brandCream());
    EXPECT_EQ(hearthPalette().accent, brandAmber());
    EXPECT_EQ(hearthPalette().dotStroke, brandAmberDeep().opacity(0.25));
    EXPECT_EQ(chestnutPalette().surfaceBackground, brandLinen());
    EXPECT_NE(palette(Theme::summit), palette(Theme::alpineDawn));
}

TEST(ThemePalette, EverySystemColourReadsOnItsPalettesSurfacesAndKeepsItsHue) {
    using platform::ui::contrastRatio;
    using platform::ui::toHsl;
    struct Hue {
        const char* name;
        Color platform::ui::SystemColors::*member;
        double hue;  // of the light-theme system colour
    };
    const std::vector<Hue> hues{{"green", &platform::ui::SystemColors::green, 135},
                                {"orange", &platform::ui::SystemColors::orange, 35},
                                {"red", &platform::ui::SystemColors::red, 3}};
    for (Theme theme : allCases<Theme>()) {
        const auto name = rawValue(theme);
        const ThemePalette& p = palette(theme);
        ASSERT_TRUE(p.system.has_value()) << name << " has its own table";
        const auto& s = *p.system;
        EXPECT_EQ(platform::ui::systemColors(p), s);
        EXPECT_GE(contrastRatio(p.accentForeground, p.accent), 4.5) << name << ": prominent buttons";
        for (const Color& surface : platform::ui::surfaces(p)) {
            for (const auto& [role, colour] :
                 {std::pair{"primary", p.primaryText}, std::pair{"green", s.green}, std::pair{"orange", s.orange},
                  std::pair{"red", s.red}, std::pair{"secondary", s.secondary}, std::pair{"tertiary", s.tertiary},
                  std::pair{"accent text", s.accentText}})
                EXPECT_GE(contrastRatio(colour, surface), 4.5) << name << " " << role;
            EXPECT_GE(contrastRatio(s.focusRing, surface), 3.0) << name << " focus ring";
            EXPECT_GE(contrastRatio(s.separator, surface), 1.3) << name << " separator shows";
        }
        for (const auto& h : hues) {
            const double hue = toHsl(s.*h.member).hue;
            const double apart = std::min(std::abs(hue - h.hue), 360 - std::abs(hue - h.hue));
            EXPECT_LT(apart, 8) << name << " " << h.name << " keeps its hue";
        }
        EXPECT_LT(std::abs(toHsl(s.accentText).hue - toHsl(p.accent).hue), 2) << name << " accent text";
    }
    // The faults this table mends: white on brand amber, amber text on cream.
    EXPECT_LT(contrastRatio(Color::white(), brandAmber()), 2.3);
    EXPECT_LT(contrastRatio(brandAmber(), brandCream()), 2.1);
}

TEST(ThemePalette, ViewsOutsideThemedWindowsReadHearth) {
    QWidget loose;
    auto* child = new QLabel("x", &loose);
    EXPECT_EQ(ThemePaletteKey::defaultValue(), hearthPalette());
    EXPECT_EQ(themePalette(child), hearthPalette());
    setThemePalette(&loose, summitPalette());
    EXPECT_EQ(themePalette(child), summitPalette());
}

class SettingsBound : public ::testing::Test {
protected:
    platform::ui::AnimationsOff noAnimations;
    platform::InMemoryUserDefaults defaults;
    PreferencesStore store{defaults, PreferencesStore::Dependencies{}};
};

TEST_F(SettingsBound, DuskThemeSettingYieldsADarkWindowAndOthersLight) {
    platform::ui::ThemedBackground window;
    auto* text = new QLabel("Appearance", &window);
    platform::Subscription follow = followTheme(&window, store.selectedTheme.stream());
    EXPECT_EQ(themePalette(text), hearthPalette()) << "the default theme";
    EXPECT_GT(window.palette().color(QPalette::Window).lightnessF(), 0.8);

    store.selectedTheme.set(Theme::dusk);
    EXPECT_EQ(themePalette(text), duskPalette());
    EXPECT_LT(window.palette().color(QPalette::Window).lightnessF(), 0.2) << "the dusk palette yields a dark window";
    EXPECT_GT(text->palette().color(QPalette::WindowText).lightnessF(), 0.8) << "with light text";
    window.resize(240, 120);
    const QImage dark = platform::ui::testing::saveScreenshot(&window, kShots / "theme-dusk.png");
    platform::ui::testing::expectReadable(&window, dark, "theme-dusk.png");
    EXPECT_LT(dark.pixelColor(120, 110).lightnessF(), 0.25);

    store.selectedTheme.set(Theme::chestnut);
    EXPECT_GT(window.palette().color(QPalette::Window).lightnessF(), 0.8);
}

TEST_F(SettingsBound, BoundToggleAndSettingStayInStepWithoutALoop) {
    platform::ui::ToggleRow row("Hide menu bar icon");
    platform::ui::bindToggle(row.toggle(), settingProperty(store.hideMenuBarIcon));
    int changes = 0;
    auto counter = store.hideMenuBarIcon.stream().dropFirst().subscribe([&](const bool&) { ++changes; });
    const int writesBefore = defaults.writeCount();
    EXPECT_EQ(row.toggle()->isChecked(), store.hideMenuBarIcon.get());

    row.toggle()->click();
    EXPECT_TRUE(store.hideMenuBarIcon.get());
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(defaults.writeCount(), writesBefore + 1) << "one write to the user defaults per click";

    store.hideMenuBarIcon.set(false);
    EXPECT_FALSE(row.toggle()->isChecked());
    EXPECT_EQ(changes, 2) << "the toggle did not write the store's value back";
    EXPECT_EQ(defaults.writeCount(), writesBefore + 2);
}

}  // namespace
}  // namespace parlowen
