#pragma once

// The texts of the weekly report, built from the usage log's seven-day sums.
// A fresh value is made for each section whenever the report is drawn; nothing
// here has side effects. Numbers follow the given locale ("en_US", "de_DE").

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "Parlowen/brand/UsageLog.h"
#include "platform/text/Format.h"
#include "platform/values/Date.h"

namespace parlowen {

struct QuonReportCopy {
    DayBucket weekly;
    platform::Date now;
    platform::text::Calendar calendar;
    std::string locale;

    // weekly = the log's totals over the 7 days ending at `now`, in the log's calendar.
    static QuonReportCopy make(const UsageLog& log, platform::Date now, std::string locale);

    // "Jun 3 – Jun 9, 2025": the day six days back and today; only the end shows the year.
    std::string dateRangeText() const;
    // Words this week in either stream; session counts play no part.
    bool hasActivity() const;
    std::int64_t totalWords() const;
    std::string totalWordsText() const;
    // Dictated words at 11/600 minutes saved per word.
    std::string timeReclaimedText() const;
    // Read-aloud words at 175 words per minute.
    std::string audioListenedText() const;
    std::string sessionsText() const;
    std::string tailText() const;

    static std::string formatMinutes(double minutes);
};

// ---- What the report cards say -------------------------------------------------

// The last milestone whose value is at most `lifetimeWords`; nothing below 100.
std::optional<WordMilestone> reachedMilestone(std::int64_t lifetimeWords);
std::optional<WordMilestone> nextMilestone(WordMilestone milestone);
std::string_view milestoneLine(WordMilestone milestone);
// "8,766 to go until 10,000", with "," as the grouping separator whatever the
// locale's own; nothing when the reached milestone is the last one.
std::optional<std::string> milestoneRemainingText(std::int64_t lifetimeWords, std::string_view locale);
// The integer with the locale's grouping rules but "," as the separator.
std::string formatMilestoneNumber(std::int64_t value, std::string_view locale);

std::string_view timeOfDaySymbol(TimeOfDayBucket bucket);
std::string_view timeOfDayPhrase(TimeOfDayBucket bucket);
std::string timeOfDaySentence(TimeOfDayBucket bucket);

// The streak row is shown from a three-day streak on.
inline constexpr int kMinimumShownStreak = 3;
// "5-day streak".
std::string streakText(int currentStreak);
// "· longest 12 days" when the current streak is below the longest, else nothing.
std::optional<std::string> longestStreakText(int currentStreak, int longestStreak);

}  // namespace parlowen
