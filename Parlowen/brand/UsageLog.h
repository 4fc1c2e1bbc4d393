#pragma once

// Local usage statistics behind the weekly report: per calendar day, how many
// dictation and read-aloud sessions ran and how many words they carried, plus
// a 24-slot count of sessions by hour of day. No text is ever stored. One
// instance, owned by the composition root; main thread only, except for the
// file write, which runs on a background strand with copies of the state.

#include <array>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/log/Log.h"
#include "platform/runtime/Executor.h"
#include "platform/runtime/Observable.h"
#include "platform/runtime/Strand.h"
#include "platform/text/Format.h"
#include "platform/values/Date.h"
#include "platform/values/XdgDirs.h"

namespace parlowen {

struct StreamStats {
    std::int64_t sessionCount = 0;
    std::int64_t wordCount = 0;
    friend bool operator==(const StreamStats&, const StreamStats&) = default;
};

struct DayBucket {
    StreamStats dictation;
    StreamStats readAloud;
    bool hasSession() const { return dictation.sessionCount > 0 || readAloud.sessionCount > 0; }
    friend bool operator==(const DayBucket&, const DayBucket&) = default;
};

enum class TimeOfDayBucket { morning, afternoon, evening, night };
inline constexpr std::array<TimeOfDayBucket, 4> kAllTimeOfDayBuckets{
    TimeOfDayBucket::morning, TimeOfDayBucket::afternoon, TimeOfDayBucket::evening, TimeOfDayBucket::night};
// "morning", "afternoon", "evening", "night".
std::string_view rawValue(TimeOfDayBucket bucket);

enum class WordMilestone : std::int64_t {
    hundred = 100,
    thousand = 1000,
    tenThousand = 10000,
    hundredThousand = 100000,
    halfMillion = 500000,
    million = 1000000,
};
inline constexpr std::array<WordMilestone, 6> kAllWordMilestones{
    WordMilestone::hundred,         WordMilestone::thousand,    WordMilestone::tenThousand,
    WordMilestone::hundredThousand, WordMilestone::halfMillion, WordMilestone::million};
// Nothing for a number that is not one of the raw values.
std::optional<WordMilestone> wordMilestoneFromRawValue(std::int64_t raw);

class UsageLog {
public:
    using Days = std::map<std::string, DayBucket>;
    using HourlyActivity = std::array<std::int64_t, 24>;

    static constexpr const char* kFileName = "usage.json";
    static constexpr const char* kAppFolder = "Parlowen";
    static constexpr platform::Duration kPersistDelay = std::chrono::milliseconds(500);

    struct Dependencies {
        platform::Executor& main;
        // Where the file write runs (a worker pool); writes are queued on a strand over it.
        platform::Executor& background;
        const platform::Clock& clock;
        // The zone for day keys and hours, fixed for the life of the log.
        platform::text::TimeZone timeZone;
    };

    // <Application Support>/Parlowen/usage.json.
    static std::filesystem::path defaultStorageURL(const platform::XdgDirs& dirs);

    // Reads the file before returning; never fails. A file that cannot be read or
    // decoded gives empty statistics and is moved aside before the first write.
    UsageLog(Dependencies deps, std::filesystem::path storageURL);
    ~UsageLog();
    UsageLog(const UsageLog&) = delete;
    UsageLog& operator=(const UsageLog&) = delete;

    const Days& days() const { return days_; }
    const HourlyActivity& hourlyActivity() const { return hourlyActivity_; }
    // Each change, delivered before the log holds it.
    platform::Stream<Days> daysChanges() const { return daysChanged_.stream(); }
    platform::Stream<HourlyActivity> hourlyActivityChanges() const { return hourlyChanged_.stream(); }
    const std::filesystem::path& storageURL() const { return storageURL_; }
    const platform::text::Calendar& calendar() const { return calendar_; }
    const platform::Clock& clock() const { return clock_; }

    // Texts without a word are ignored.
    void recordDictation(std::string_view text);
    void recordReadAloud(std::string_view text);
    void recordHourActivity(platform::Date at, bool persist);

    // Field-by-field sum over the `days` calendar days ending with the day of `endingAt`.
    DayBucket totals(int days, platform::Date endingAt) const;
    DayBucket lifetimeTotals() const;
    bool isActiveDay(platform::Date date) const;
    int currentStreak(platform::Date endingAt) const;
    int longestStreak() const;
    std::optional<std::pair<TimeOfDayBucket, std::int64_t>> dominantTimeOfDay(std::int64_t minimumTotal,
                                                                            double dominanceRatio) const;
    static std::vector<int> hours(TimeOfDayBucket bucket);
    // Runs of characters between white space (any character whose first code
    // point has the White_Space property); punctuation belongs to the word.
    static std::int64_t wordCount(std::string_view text);

    std::string dayKey(platform::Date date) const;

    bool persistPending() const { return pendingPersist_.active(); }
    // Writes a waiting delayed write now, on the calling thread (for the quit path).
    void flush();

private:
    struct Writer;
    void record(std::string_view text, bool dictation);
    void load();
    void schedulePersist();
    std::optional<DayBucket> bucket(platform::Date date) const;

    platform::Executor& main_;
    const platform::Clock& clock_;
    std::filesystem::path storageURL_;
    platform::text::Calendar calendar_;
    platform::text::DateFormatter dateFormatter_;
    Days days_;
    HourlyActivity hourlyActivity_{};
    platform::Signal<Days> daysChanged_;
    platform::Signal<HourlyActivity> hourlyChanged_;
    platform::ScopedTimer pendingPersist_;
    platform::Strand writeStrand_;
    std::shared_ptr<Writer> writer_;
    platform::Logger log_{"com.kelvatrum.Parlowen", "usage"};
    platform::Lifetime lifetime_;
};

}  // namespace parlowen
