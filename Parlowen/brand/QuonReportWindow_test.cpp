#include "Parlowen/brand/QuonReportWindow.h"

#include <QLabel>

#include <gtest/gtest.h>

#include "Parlowen/shell/settings/PreferencesStore.h"
#include "platform/defaults/InMemoryUserDefaults.h"
#include "platform/runtime/ManualExecutor.h"
#include "platform/testsupport/TempHome.h"

namespace parlowen {
namespace {

using platform::text::Calendar;
using platform::text::TimeZone;

class QuonReportWindowTest : public ::testing::Test {
protected:
    QuonReportDependencies deps() { return {executor, clock, "en_US"}; }
    void dictate(int y, int mo, int d, int words) {
        clock.set(*calendar.date(y, mo, d, 12));
        std::string text;
        for (int i = 0; i < words; ++i) text += "w ";
        log.recordDictation(text);
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
