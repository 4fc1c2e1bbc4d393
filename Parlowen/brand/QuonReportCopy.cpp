#include "Parlowen/brand/QuonReportCopy.h"

#include <cmath>
#include <vector>

#include <fmt/format.h>

namespace parlowen {

namespace {
constexpr double kMinutesSavedPerDictatedWord = 0.018333333333333333;  // 11/600
constexpr double kListeningWordsPerMinute = 175.0;
}  // namespace

QuonReportCopy QuonReportCopy::make(const UsageLog& log, platform::Date now, std::string locale) {
    return QuonReportCopy{log.totals(7, now), now, log.calendar(), std::move(locale)};
}

std::string QuonReportCopy::dateRangeText() const {
    const auto start = calendar.addingDays(now, -6);
    const auto& zone = calendar.timeZone();
    return platform::text::formatDate(start, "MMM d", "en_US", zone) + " \u2013 " +
           platform::text::formatDate(now, "MMM d, yyyy", "en_US", zone);
}

bool QuonReportCopy::hasActivity() const { return weekly.dictation.wordCount != 0 || weekly.readAloud.wordCount != 0; }

std::int64_t QuonReportCopy::totalWords() const { return weekly.dictation.wordCount + weekly.readAloud.wordCount; }

std::string QuonReportCopy::totalWordsText() const { return platform::text::formatInteger(totalWords(), locale); }

std::string QuonReportCopy::timeReclaimedText() const {
    return formatMinutes(static_cast<double>(weekly.dictation.wordCount) * kMinutesSavedPerDictatedWord);
}

std::string QuonReportCopy::audioListenedText() const {
    return formatMinutes(static_cast<double>(weekly.readAloud.wordCount) / kListeningWordsPerMinute);
}

std::string QuonReportCopy::sessionsText() const {
    std::vector<std::string> parts;
    if (const auto n = weekly.dictation.sessionCount; n >= 1)
        parts.push_back(platform::text::formatInteger(n, locale) + (n == 1 ? " dictation" : " dictations"));
    if (const auto n = weekly.readAloud.sessionCount; n >= 1)
        parts.push_back(platform::text::formatInteger(n, locale) + " read-aloud " + (n == 1 ? "session" : "sessions"));
    if (parts.empty()) return "No sessions yet";
    return fmt::format("{}", fmt::join(parts, " \u00B7 "));
}

std::string QuonReportCopy::tailText() const {
    return hasActivity() ? "Quon's tail is wagging." : "Quon's tail is still.";
}

std::string QuonReportCopy::formatMinutes(double minutes) {
    if (!(minutes >= 1)) return "Less than a minute";
    if (minutes < 60) {
        const auto whole = static_cast<long long>(std::round(minutes));  // halves away from zero
        return fmt::format("~{} {}", whole, whole == 1 ? "minute" : "minutes");
    }
    return fmt::format("~{:.1f} hours", minutes / 60.0);
}

std::optional<WordMilestone> reachedMilestone(std::int64_t lifetimeWords) {
    std::optional<WordMilestone> reached;
    for (auto m : kAllWordMilestones)
        if (static_cast<std::int64_t>(m) <= lifetimeWords) reached = m;
    return reached;
}

std::optional<WordMilestone> nextMilestone(WordMilestone milestone) {
    for (std::size_t i = 0; i + 1 < kAllWordMilestones.size(); ++i)
        if (kAllWordMilestones[i] == milestone) return kAllWordMilestones[i + 1];
    return std::nullopt;
}

std::string_view milestoneLine(WordMilestone milestone) {
    switch (milestone) {
        case WordMilestone::hundred: return "A hundred words with Quon.";
        case WordMilestone::thousand: return "A thousand words with Quon.";
        case WordMilestone::tenThousand: return "Ten thousand words with Quon.";
        case WordMilestone::hundredThousand: return "A hundred thousand words with Quon \u2014 a novella's worth.";
        case WordMilestone::halfMillion: return "Half a million words with Quon.";
        case WordMilestone::million: return "A million words with Quon. You write more than most novelists.";
    }
    return "";
}

std::string formatMilestoneNumber(std::int64_t value, std::string_view locale) {
    auto text = platform::text::formatInteger(value, locale);
    if (text.empty()) return std::to_string(value);
    // The locale's separator is whatever stands between "1" and "000" in one thousand.
    const auto sample = platform::text::formatInteger(1000, locale);
    if (sample.size() > 4 && sample.front() == '1' && sample.ends_with("000")) {
        const auto separator = sample.substr(1, sample.size() - 4);
        if (separator != ",") {
            std::string out;
            for (std::size_t i = 0; i < text.size();) {
                if (text.compare(i, separator.size(), separator) == 0) {
                    out += ',';
                    i += separator.size();
                } else {
                    out += text[i++];
                }
            }
            return out;
        }
    }
    return text;
}

std::optional<std::string> milestoneRemainingText(std::int64_t lifetimeWords, std::string_view locale) {
    const auto reached = reachedMilestone(lifetimeWords);
    if (!reached) return std::nullopt;
    const auto next = nextMilestone(*reached);
    if (!next) return std::nullopt;
    const auto target = static_cast<std::int64_t>(*next);
    return formatMilestoneNumber(target - lifetimeWords, locale) + " to go until " +
           formatMilestoneNumber(target, locale);
}

std::string_view timeOfDaySymbol(TimeOfDayBucket bucket) {
    switch (bucket) {
        case TimeOfDayBucket::morning: return "sunrise";
        case TimeOfDayBucket::afternoon: return "sun.max";
        case TimeOfDayBucket::evening: return "sunset";
        case TimeOfDayBucket::night: return "moon.stars";
    }
    return "";
}

std::string_view timeOfDayPhrase(TimeOfDayBucket bucket) {
    return bucket == TimeOfDayBucket::night ? "late at night" : rawValue(bucket);
}

std::string timeOfDaySentence(TimeOfDayBucket bucket) {
    constexpr std::string_view lead = "You reach for Quon most in the ";
    // "in the late at night" is no sentence: the night line names the small hours first.
    if (bucket == TimeOfDayBucket::night) return fmt::format("{}small hours, {}.", lead, timeOfDayPhrase(bucket));
    return fmt::format("{}{}.", lead, timeOfDayPhrase(bucket));
}

std::string streakText(int currentStreak) { return fmt::format("{}-day streak", currentStreak); }

std::optional<std::string> longestStreakText(int currentStreak, int longestStreak) {
    if (currentStreak >= longestStreak) return std::nullopt;
    return fmt::format("\u00B7 longest {} days", longestStreak);
}

}  // namespace parlowen
