#include "Parlowen/brand/QuonReportWindow.h"

#include <QLabel>

#include <gtest/gtest.h>

#include "Parlowen/brand/BrandColors.h"
#include "Parlowen/shell/settings/PreferencesStore.h"
#include "Parlowen/shell/views/ThemePalette.h"
#include "platform/defaults/InMemoryUserDefaults.h"
#include "platform/runtime/ManualExecutor.h"
#include "platform/testsupport/TempHome.h"
#include "platform/ui/Animations.h"
#include "platform/ui/Contrast.h"
#include "platform/ui/IconRegistry.h"
#include "platform/ui/ScreenshotTesting.h"
#include "platform/ui/ThemeScope.h"

namespace parlowen {
namespace {

using platform::text::Calendar;
using platform::text::TimeZone;

const std::filesystem::path kShots = PARLOWEN_SCREENSHOT_DIR;

class QuonReportWindowTest : public ::testing::Test {
protected:
    QuonReportDependencies deps() { return {executor, clock, "en_US"}; }
    void dictate(int y, int mo, int d, int words) {
        clock.set(*calendar.date(y, mo, d, 12));
        std::string text;
        for (int i = 0; i < words; ++i) text += "w ";
        log.recordDictation(text);
    }
    void record(int d, int hour, int words, bool readAloud = false) {
        clock.set(*calendar.date(2025, 6, d, hour));
        std::string text;
        for (int i = 0; i < words; ++i) text += "w ";
        if (readAloud)
            log.recordReadAloud(text);
        else
            log.recordDictation(text);
    }
    QColor colour(QWidget* root, const char* name) {
        return root->findChild<QLabel*>(name)->palette().color(QPalette::WindowText);
    }
    QString text(QWidget* root, const char* name) {
        auto* l = root->findChild<QLabel*>(name);
        return l ? l->text() : QString("<absent>");
    }
    bool has(QWidget* root, const char* name) { return root->findChild<QWidget*>(name) != nullptr; }

    testsupport::TempDir dir;
    TimeZone zone = TimeZone::utc();
    Calendar calendar{zone};
    platform::FixedClock clock{*calendar.date(2025, 6, 9, 12)};
    platform::ui::AnimationsOff noAnimations;
    platform::ManualExecutor executor;
    platform::ManualExecutor pool;
    UsageLog log{{executor, pool, clock, zone}, dir / "usage.json"};
    platform::InMemoryUserDefaults defaults;
    PreferencesStore preferences{defaults, PreferencesStore::Dependencies{}};
};

TEST_F(QuonReportWindowTest, WeekOfDictationShowsTheCards) {
    for (int i = 0; i < 10; ++i) dictate(2025, 6, 9, 200);
    QuonReportView view(log, preferences, deps());
    EXPECT_EQ(text(&view, "quonReportTitle"), "Your week with Quon");
    EXPECT_EQ(text(&view, "quonReportDateRange"), QString::fromUtf8("Jun 3 \u2013 Jun 9, 2025"));
    EXPECT_EQ(text(&view, "quonReportHeadlineValue"), "2,000");
    EXPECT_EQ(text(&view, "quonReportSessions"), "10 dictations");
    EXPECT_EQ(text(&view, "quonReportTail"), "Quon's tail is wagging.");
    auto* reclaimed = view.findChild<QWidget*>("quonReportTimeReclaimed");
    ASSERT_NE(reclaimed, nullptr);
    EXPECT_EQ(text(reclaimed, "tileTitle"), "TIME RECLAIMED");
    EXPECT_EQ(text(reclaimed, "tileValue"), "~37 minutes");
    EXPECT_EQ(text(view.findChild<QWidget*>("quonReportAudioListened"), "tileValue"), "Less than a minute");
    EXPECT_EQ(text(&view, "quonReportMilestoneLine"), "A thousand words with Quon.");
    EXPECT_EQ(text(&view, "quonReportMilestoneNext"), "8,000 to go until 10,000");
    EXPECT_FALSE(has(&view, "quonReportStreak"));  // one day only
    EXPECT_FALSE(has(&view, "quonReportTimeOfDayRow"));
    EXPECT_FALSE(has(&view, "quonReportEmptyState"));
}

TEST_F(QuonReportWindowTest, QuietWeekShowsTheEmptyStateWhateverTheHistory) {
    for (int d = 1; d <= 5; ++d) dictate(2025, 5, d, 5000);  // long streak, big lifetime, 5 weeks back
    clock.set(*calendar.date(2025, 6, 9, 12));
    QuonReportView view(log, preferences, deps());
    EXPECT_TRUE(has(&view, "quonReportEmptyState"));
    EXPECT_TRUE(has(&view, "quonReportHeader"));
    EXPECT_FALSE(has(&view, "quonReportCards"));
    EXPECT_FALSE(has(&view, "quonReportMilestone"));
}

TEST_F(QuonReportWindowTest, StreakRowAndRedrawOnChange) {
    for (int d : {1, 2, 3, 4, 5, 6, 7}) dictate(2025, 6, d, 1);  // longest 7
    for (int d : {9, 10}) dictate(2025, 6, d, 1);
    clock.set(*calendar.date(2025, 6, 10, 12));
    QuonReportView view(log, preferences, deps());
    EXPECT_FALSE(has(&view, "quonReportStreak"));  // 2 days

    dictate(2025, 6, 11, 1);
    EXPECT_FALSE(has(&view, "quonReportStreak"));  // redrawn in a later turn
    executor.runUntilIdle();
    EXPECT_EQ(text(&view, "quonReportStreakCurrent"), "3-day streak");
    EXPECT_EQ(text(&view, "quonReportStreakLongest"), QString::fromUtf8("\u00B7 longest 7 days"));
}

// Pixels of a widget's rectangle in a grab that are strongly coloured and
// bright: a colour emoji has many, a missing-glyph box drawn in the text
// colour has none.
int vividPixels(const QImage& shot, QWidget* root, QWidget* w) {
    const QRect r(w->mapTo(root, QPoint(0, 0)), w->size());
    int vivid = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x) {
            const QColor c = shot.pixelColor(x, y).toHsv();
            vivid += c.hsvSaturationF() > 0.6 && c.valueF() > 0.6;
        }
    return vivid;
}

TEST_F(QuonReportWindowTest, EveryThemeIsReadableWithRealSymbolsAndTheFireEmoji) {
    // A longest run of seven days, a current one of three, evenings mostly,
    // and some reading aloud: every card shows.
    for (int d = 1; d <= 7; ++d)
        for (int i = 0; i < 4; ++i) record(d, 19, 50);
    for (int d : {9, 10, 11})
        for (int i = 0; i < 3; ++i) record(d, 20, 80);
    record(11, 21, 400, true);
    for (int hour : {9, 10, 14, 15}) record(1, hour, 20);  // a few daytime sessions, outnumbered
    clock.set(*calendar.date(2025, 6, 11, 22));

    for (Theme theme : allCases<Theme>()) {
        const std::string name(rawValue(theme));
        preferences.selectedTheme.set(theme);
        QuonReportView view(log, preferences, deps());
        view.resize(520, 980);
        platform::ui::testing::expectScreenshot(
            &view, kShots / ("weekly-report-" + name + ".png"),
            {"quonReportTitle", "quonReportDateRange", "quonReportHeadline", "quonReportStreakFire",
             "quonReportStreakCurrent", "quonReportStreakLongest", "quonReportTimeReclaimed", "quonReportAudioListened",
             "quonReportMilestone", "quonReportSessionsSymbol", "quonReportTimeOfDaySymbol", "quonReportTail"});
        const QImage shot = view.grab().toImage();
        EXPECT_GT(vividPixels(shot, &view, view.findChild<QWidget*>("quonReportStreakFire")), 12)
            << name << ": the fire is drawn as a colour emoji";
        auto* symbol = view.findChild<QLabel*>("quonReportTimeOfDaySymbol");
        ASSERT_NE(symbol, nullptr);
        EXPECT_EQ(symbol->property("symbolName").toString(), "sunset");
        EXPECT_EQ(platform::ui::IconRegistry::shared().sourceOf("sunset"), platform::ui::IconRegistry::Source::theme);
        EXPECT_NE(platform::ui::IconRegistry::shared().sourceOf("waveform"),
                  platform::ui::IconRegistry::Source::placeholder);
    }
}

TEST_F(QuonReportWindowTest, DarkThemesDrawThePalettesTextAndLightThemesTheBrandInk) {
    dictate(2025, 6, 9, 200);
    QuonReportView view(log, preferences, deps());
    const QColor ink = platform::ui::toQColor(brandInk());
    EXPECT_EQ(colour(&view, "quonReportTitle"), ink) << "hearth: the brand ink as it is";

    preferences.selectedTheme.set(Theme::dusk);
    executor.runUntilIdle();
    const QColor title = colour(&view, "quonReportTitle");
    EXPECT_GT(title.lightnessF(), 0.8) << "dusk: light text on the dark backdrop";
    EXPECT_EQ(colour(&view, "quonReportHeadlineValue"), ink) << "the brand card stays linen, so its ink stays";
    EXPECT_GE(platform::ui::contrastRatio(platform::ui::fromQColor(colour(&view, "quonReportDateRange")),
                                          duskPalette().dimSurface),
              4.5);
}

TEST_F(QuonReportWindowTest, OpeningTwiceKeepsOneWindowAndStampsEachTime) {
    QuonReportOpener opener(log, preferences, deps());
    EXPECT_FALSE(opener.isBuilt());
    opener.openQuonReport();
    auto* window = opener.quonReportWindowController().window();
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->windowTitle(), "Your week with Quon");
    EXPECT_EQ(window->minimumSize(), QSize(480, 480));
    EXPECT_EQ(window->size(), QSize(520, 720));
    EXPECT_TRUE(window->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_FALSE(window->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_EQ(preferences.lastQuonReportOpenedAt.get(), clock.now());

    window->close();  // closing only hides
    clock.advance(60);
    opener.openQuonReport();
    EXPECT_EQ(opener.quonReportWindowController().window(), window);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(preferences.lastQuonReportOpenedAt.get(), clock.now());
}

}  // namespace
}  // namespace parlowen
