#include "Parlowen/brand/QuonReportCopy.h"

#include <gtest/gtest.h>

namespace parlowen {
namespace {

using platform::text::Calendar;
using platform::text::TimeZone;

QuonReportCopy copyOf(DayBucket weekly, std::string locale = "en_US") {
    Calendar calendar(TimeZone::utc());
    return QuonReportCopy{weekly, *calendar.date(2025, 6, 9, 12), calendar, std::move(locale)};
}

DayBucket week(std::int64_t dictSessions, std::int64_t dictWords, std::int64_t readSessions, std::int64_t readWords) {
    return DayBucket{{dictSessions, dictWords}, {readSessions, readWords}};
}

TEST(QuonReportCopy, FormatMinutes) {
    struct Case {
        double minutes;
        const char* text;
    } cases[] = {
        {0, "Less than a minute"}, {0.99, "Less than a minute"}, {1, "~1 minute"},     {1.49, "~1 minute"},
        {1.5, "~2 minutes"},       {2.5, "~3 minutes"},          {59.4, "~59 minutes"}, {59.5, "~60 minutes"},
        {60, "~1.0 hours"},        {90, "~1.5 hours"},           {125, "~2.1 hours"},
    };
    for (const auto& c : cases) EXPECT_EQ(QuonReportCopy::formatMinutes(c.minutes), c.text) << c.minutes;
}

TEST(QuonReportCopy, TimeReclaimedAndAudioListened) {
    struct Case {
        std::int64_t words;
        const char* text;
    } reclaimed[] = {{0, "Less than a minute"}, {54, "Less than a minute"}, {55, "~1 minute"},
                     {600, "~11 minutes"},      {3272, "~60 minutes"},      {3273, "~1.0 hours"},
                     {6000, "~1.8 hours"}},
      listened[] = {{174, "Less than a minute"}, {175, "~1 minute"}, {10413, "~60 minutes"}, {10500, "~1.0 hours"}};
    for (const auto& c : reclaimed) EXPECT_EQ(copyOf(week(1, c.words, 0, 0)).timeReclaimedText(), c.text) << c.words;
    for (const auto& c : listened) EXPECT_EQ(copyOf(week(0, 0, 1, c.words)).audioListenedText(), c.text) << c.words;
}

TEST(QuonReportCopy, SessionsAndTotals) {
    struct Case {
        std::int64_t dictations, readAlouds;
        const char* text;
    } cases[] = {
        {0, 0, "No sessions yet"},
        {1, 0, "1 dictation"},
        {2, 0, "2 dictations"},
        {0, 1, "1 read-aloud session"},
        {3, 2, "3 dictations \u00B7 2 read-aloud sessions"},
        {1234, 0, "1,234 dictations"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(copyOf(week(c.dictations, 0, c.readAlouds, 0)).sessionsText(), c.text) << c.text;

    EXPECT_EQ(copyOf(week(1, 1234567, 0, 0), "en_US").totalWordsText(), "1,234,567");
    EXPECT_EQ(copyOf(week(1, 1234000, 1, 567), "de_DE").totalWordsText(), "1.234.567");
    EXPECT_EQ(copyOf(week(1234, 0, 0, 0), "de_DE").sessionsText(), "1.234 dictations");
}

TEST(QuonReportCopy, ActivityDependsOnWordsOnly) {
    EXPECT_FALSE(copyOf(week(5, 0, 3, 0)).hasActivity());
    EXPECT_EQ(copyOf(week(5, 0, 3, 0)).tailText(), "Quon's tail is still.");
    EXPECT_TRUE(copyOf(week(0, 0, 1, 1)).hasActivity());
    EXPECT_EQ(copyOf(week(10, 2000, 0, 0)).tailText(), "Quon's tail is wagging.");
}

TEST(QuonReportCopy, DateRangeAcrossAYearEnd) {
    Calendar calendar(*TimeZone::named("America/New_York"));
    QuonReportCopy june{{}, *calendar.date(2025, 6, 9, 12), calendar, "en_US"};
    EXPECT_EQ(june.dateRangeText(), "Jun 3 \u2013 Jun 9, 2025");
    QuonReportCopy january{{}, *calendar.date(2026, 1, 2, 0, 30), calendar, "en_US"};
    EXPECT_EQ(january.dateRangeText(), "Dec 27 \u2013 Jan 2, 2026");
}

TEST(QuonReportCards, Milestones) {
    struct Case {
        std::int64_t words;
        std::optional<std::string_view> line;
        std::optional<std::string> next;
    } cases[] = {
        {99, std::nullopt, std::nullopt},
        {100, "A hundred words with Quon.", "900 to go until 1,000"},
        {1234, "A thousand words with Quon.", "8,766 to go until 10,000"},
        {999999, "Half a million words with Quon.", "1 to go until 1,000,000"},
        {1000000, "A million words with Quon. You write more than most novelists.", std::nullopt},
        {2500000, "A million words with Quon. You write more than most novelists.", std::nullopt},
    };
    for (const auto& c : cases) {
        const auto reached = reachedMilestone(c.words);
        EXPECT_EQ(reached ? std::optional(milestoneLine(*reached)) : std::nullopt, c.line) << c.words;
        EXPECT_EQ(milestoneRemainingText(c.words, "en_US"), c.next) << c.words;
    }
    EXPECT_EQ(milestoneLine(WordMilestone::hundredThousand), "A hundred thousand words with Quon \u2014 a novella's worth.");
    // The separator is "," whatever the locale uses.
    EXPECT_EQ(milestoneRemainingText(1234, "de_DE"), "8,766 to go until 10,000");
    EXPECT_EQ(formatMilestoneNumber(1234567, "fr_FR"), "1,234,567");
}

TEST(QuonReportCards, StreakAndTimeOfDayTexts) {
    EXPECT_EQ(streakText(5), "5-day streak");
    EXPECT_EQ(longestStreakText(3, 3), std::nullopt);
    EXPECT_EQ(longestStreakText(3, 7), "\u00B7 longest 7 days");
    EXPECT_EQ(timeOfDaySentence(TimeOfDayBucket::evening), "You reach for Quon most in the evening.");
    EXPECT_EQ(timeOfDaySymbol(TimeOfDayBucket::evening), "sunset");
    EXPECT_EQ(timeOfDaySymbol(TimeOfDayBucket::night), "moon.stars");
    EXPECT_TRUE(timeOfDaySentence(TimeOfDayBucket::night).starts_with("You reach for Quon most in the "));
    EXPECT_TRUE(timeOfDaySentence(TimeOfDayBucket::night).ends_with("late at night."));
}

}  // namespace
}  // namespace parlowen
