#include "Parlowen/brand/UsageLog.h"

#include <algorithm>
#include <functional>
#include <mutex>

#include <nlohmann/json.hpp>

#include "platform/runtime/Error.h"
#include "platform/text/Unicode.h"
#include "platform/values/Files.h"
#include "platform/values/Json.h"
#include "platform/values/JsonKept.h"

namespace parlowen {

namespace {

using platform::Json;
using platform::Result;

Result<StreamStats> decodeStats(const Json& day, std::string_view key) {
    auto stats = platform::requireObject(day, key);
    if (!stats) return platform::fail(stats.error());
    auto sessions = platform::requireInt64(**stats, "sessionCount");
    if (!sessions) return platform::fail(sessions.error());
    auto words = platform::requireInt64(**stats, "wordCount");
    if (!words) return platform::fail(words.error());
    return StreamStats{*sessions, *words};
}

Result<DayBucket> decodeDay(const Json& day) {
    if (!day.is_object()) return platform::fail(platform::jsonError(platform::JsonErrorCode::notAnObject, "not an object"));
    auto dictation = decodeStats(day, "dictation");
    if (!dictation) return platform::fail(dictation.error());
    auto readAloud = decodeStats(day, "readAloud");
    if (!readAloud) return platform::fail(readAloud.error());
    return DayBucket{*dictation, *readAloud};
}

struct Snapshot {
    UsageLog::Days days;
    // Days whose counts are numbers no 64-bit count holds: kept as stored.
    platform::KeptJsonEntries keptDays;
    std::optional<UsageLog::HourlyActivity> hourly;  // none when the stored list was not usable
};

// The days object as written; a day whose counts do not fit is kept, never wrapped.
Result<Snapshot> decodeDays(std::string_view text, const platform::Logger& log) {
    auto members = platform::jsonObjectMemberTexts(text);
    if (!members) return platform::fail(members.error());
    Snapshot snapshot;
    for (const auto& member : *members) {
        auto json = platform::decodeJson(member.valueText);
        if (!json) return platform::fail(json.error());
        auto day = decodeDay(*json);
        if (day) {
            snapshot.days.emplace(member.key, *day);
        } else if (day.error().is(platform::kJsonErrorDomain, static_cast<int>(platform::JsonErrorCode::invalidValue))) {
            log.error("usage log: day {} kept as stored, its counts are unusable: {}", member.key,
                      day.error().description);
            snapshot.keptDays.keepMember(member);
        } else {
            return platform::fail(platform::jsonError(platform::JsonErrorCode::typeMismatch,
                                                      fmt::format("day {}: {}", member.key, day.error().description)));
        }
    }
    return snapshot;
}

Result<Snapshot> decodeSnapshot(std::string_view text, const Json& json, const platform::Logger& log) {
    auto hourly = platform::requireArray(json, "hourlyActivity");
    if (!hourly) return platform::fail(hourly.error());
    std::vector<std::int64_t> hours;
    bool usable = true;
    for (const auto& v : **hourly) {
        auto count = platform::int64Value(v, "An element of \"hourlyActivity\"");
        if (count) {
            hours.push_back(*count);
        } else if (count.error().code == static_cast<int>(platform::JsonErrorCode::invalidValue)) {
            log.error("usage log: hourly activity reset, {}", count.error().description);
            usable = false;
        } else {
            return platform::fail(count.error());
        }
    }
    auto days = platform::requireObject(json, "days");
    if (!days) return platform::fail(days.error());
    auto members = platform::jsonObjectMemberTexts(text);
    if (!members) return platform::fail(members.error());
    std::string_view daysText;
    for (const auto& m : *members)
        if (m.key == "days") daysText = m.valueText;
    auto snapshot = decodeDays(daysText, log);
    if (!snapshot) return platform::fail(snapshot.error());
    if (usable && hours.size() == 24) {
        snapshot->hourly.emplace();
        std::copy(hours.begin(), hours.end(), snapshot->hourly->begin());
    }
    return snapshot;
}

std::string encodeSnapshot(const UsageLog::Days& days, const UsageLog::HourlyActivity& hourly,
                           const platform::KeptJsonEntries& keptDays) {
    std::vector<std::pair<std::string, std::string>> members;
    for (const auto& [key, bucket] : days) {
        Json day = {
            {"dictation", {{"sessionCount", bucket.dictation.sessionCount}, {"wordCount", bucket.dictation.wordCount}}},
            {"readAloud", {{"sessionCount", bucket.readAloud.sessionCount}, {"wordCount", bucket.readAloud.wordCount}}},
        };
        members.emplace_back(key, day.dump());
    }
    return R"({"days":)" + keptDays.writeObject(members) + R"(,"hourlyActivity":)" + Json(hourly).dump() + "}";
}

DayBucket& operator+=(DayBucket& a, const DayBucket& b) {
    a.dictation.sessionCount += b.dictation.sessionCount;
    a.dictation.wordCount += b.dictation.wordCount;
    a.readAloud.sessionCount += b.readAloud.sessionCount;
    a.readAloud.wordCount += b.readAloud.wordCount;
    return a;
}

}  // namespace

std::string_view rawValue(TimeOfDayBucket bucket) {
    switch (bucket) {
        case TimeOfDayBucket::morning: return "morning";
        case TimeOfDayBucket::afternoon: return "afternoon";
        case TimeOfDayBucket::evening: return "evening";
        case TimeOfDayBucket::night: return "night";
    }
    return "";
}

std::optional<WordMilestone> wordMilestoneFromRawValue(std::int64_t raw) {
    for (auto m : kAllWordMilestones)
        if (static_cast<std::int64_t>(m) == raw) return m;
    return std::nullopt;
}

// The file side, shared with the write jobs. Writes are queued on one strand, and
// each carries a sequence number so that a write started by flush() on the main
// thread is never followed by an older queued snapshot.
struct UsageLog::Writer {
    std::mutex mutex;
    std::filesystem::path path;
    // The file on disk could not be read: keep it under another name before the
    // first write, and never replace it while that fails.
    bool moveAsideFirst = false;
    // Days read from the file that this version keeps as they were; set at load.
    platform::KeptJsonEntries keptDays;
    std::uint64_t lastWritten = 0;
    std::uint64_t lastIssued = 0;  // main thread only

    // An error text on failure.
    std::optional<std::string> write(std::uint64_t sequence, const Days& days, const HourlyActivity& hourly,
                                     platform::Date now) {
        std::lock_guard lock(mutex);
        if (sequence <= lastWritten) return std::nullopt;  // a newer snapshot is already on disk
        if (moveAsideFirst) {
            std::error_code ec;
            if (std::filesystem::exists(path, ec) || std::filesystem::is_symlink(path, ec)) {
                auto moved = platform::moveAside(path, platform::corruptSuffix(now));
                if (!moved)
                    return fmt::format("the unreadable file is kept and not replaced: {}", moved.error().description);
            }
            moveAsideFirst = false;
        }
        const auto text = encodeSnapshot(days, hourly, keptDays);
        if (auto written = platform::writeFileAtomically(path, text); !written) return written.error().description;
        lastWritten = sequence;
        return std::nullopt;
    }
};

std::filesystem::path UsageLog::defaultStorageURL(const platform::XdgDirs& dirs) {
    return dirs.dataHome() / kAppFolder / kFileName;
}

UsageLog::UsageLog(Dependencies deps, std::filesystem::path storageURL)
    : main_(deps.main),
      clock_(deps.clock),
      storageURL_(std::move(storageURL)),
      calendar_(deps.timeZone),
      dateFormatter_(platform::text::DateFormatter::withPattern("yyyy-MM-dd", "en_US_POSIX", deps.timeZone)),
      writeStrand_(deps.background),
      writer_(std::make_shared<Writer>()) {
    writer_->path = storageURL_;
    load();
}

UsageLog::~UsageLog() = default;

void UsageLog::load() {
    auto bytes = platform::readFile(storageURL_);
    if (!bytes && bytes.error().code == static_cast<int>(platform::FileErrorCode::notFound)) return;
    std::string failure;
    if (!bytes) {
        failure = bytes.error().description;
    } else {
        const std::string_view text(reinterpret_cast<const char*>(bytes->data()), bytes->size());
        auto json = platform::decodeJson(text);
        if (!json) {
            failure = json.error().description;
        } else if (!json->is_object()) {
            failure = "the file is not a JSON object";
        } else {
            // The current form, or the older one that held only the days.
            auto snapshot = json->contains("days") || json->contains("hourlyActivity") ? decodeSnapshot(text, *json, log_)
                                                                                    : decodeDays(text, log_);
            if (snapshot) {
                days_ = std::move(snapshot->days);
                if (snapshot->hourly) hourlyActivity_ = *snapshot->hourly;
                writer_->keptDays = std::move(snapshot->keptDays);
                return;
            }
            failure = snapshot.error().description;
        }
    }
    log_.error("usage log load failed: {}", failure);
    writer_->moveAsideFirst = true;
}

std::int64_t UsageLog::wordCount(std::string_view text) {
    return static_cast<std::int64_t>(platform::text::whiteSpaceSeparatedWords(text).size());
}

std::string UsageLog::dayKey(platform::Date date) const { return dateFormatter_.format(date); }

void UsageLog::recordDictation(std::string_view text) { record(text, true); }
void UsageLog::recordReadAloud(std::string_view text) { record(text, false); }

void UsageLog::record(std::string_view text, bool dictation) {
    PARLOWEN_ASSERT_ON(main_);
    const auto words = wordCount(text);
    if (words == 0) return;
    const auto now = clock_.now();
    Days next = days_;
    auto& bucket = next[dayKey(now)];
    auto& stats = dictation ? bucket.dictation : bucket.readAloud;
    stats.sessionCount += 1;
    stats.wordCount += words;
    daysChanged_.send(next);
    days_ = std::move(next);
    recordHourActivity(now, false);
    schedulePersist();
}

void UsageLog::recordHourActivity(platform::Date at, bool persist) {
    PARLOWEN_ASSERT_ON(main_);
    HourlyActivity next = hourlyActivity_;
    next[static_cast<std::size_t>(std::clamp(calendar_.hour(at), 0, 23))] += 1;
    hourlyChanged_.send(next);
    hourlyActivity_ = next;
    if (persist) schedulePersist();
}

void UsageLog::schedulePersist() {
    pendingPersist_ = main_.postAfter(kPersistDelay, lifetime_.guard([this] {
        pendingPersist_ = platform::ScopedTimer();
        const auto sequence = ++writer_->lastIssued;
        platform::Executor* main = &main_;
        writeStrand_.post([writer = writer_, sequence, days = days_, hourly = hourlyActivity_, now = clock_.now(),
                           main, report = lifetime_.guard([this](const std::string& message) {
                               log_.error("usage log persist failed: {}", message);
                           })]() mutable {
            if (auto failure = writer->write(sequence, days, hourly, now))
                main->post([report = std::move(report), message = std::move(*failure)]() mutable { report(message); });
        });
    }));
}

void UsageLog::flush() {
    PARLOWEN_ASSERT_ON(main_);
    if (!persistPending()) return;
    pendingPersist_ = platform::ScopedTimer();
    if (auto failure = writer_->write(++writer_->lastIssued, days_, hourlyActivity_, clock_.now()))
        log_.error("usage log persist failed: {}", *failure);
}

std::optional<DayBucket> UsageLog::bucket(platform::Date date) const {
    auto it = days_.find(dayKey(date));
    if (it == days_.end()) return std::nullopt;
    return it->second;
}

DayBucket UsageLog::totals(int days, platform::Date endingAt) const {
    DayBucket sum;
    for (int i = 0; i < days; ++i)
        if (auto b = bucket(calendar_.addingDays(endingAt, -i))) sum += *b;
    return sum;
}

DayBucket UsageLog::lifetimeTotals() const {
    DayBucket sum;
    for (const auto& [key, b] : days_) sum += b;
    return sum;
}

bool UsageLog::isActiveDay(platform::Date date) const {
    auto b = bucket(date);
    return b && b->hasSession();
}

int UsageLog::currentStreak(platform::Date endingAt) const {
    if (!isActiveDay(endingAt)) return 0;
    int streak = 1;
    for (auto day = calendar_.addingDays(endingAt, -1); isActiveDay(day); day = calendar_.addingDays(day, -1))
        ++streak;
    return streak;
}

int UsageLog::longestStreak() const {
    int longest = 0, run = 0;
    std::optional<platform::Date> previous;
    for (const auto& [key, b] : days_) {  // keys sort in date order
        auto date = dateFormatter_.parse(key);
        if (!date || !b.hasSession()) continue;
        if (previous && calendar_.isDateInSameDay(calendar_.addingDays(*previous, 1), *date))
            ++run;
        else
            run = 1;
        longest = std::max(longest, run);
        previous = date;
    }
    return longest;
}

std::vector<int> UsageLog::hours(TimeOfDayBucket bucket) {
    switch (bucket) {
        case TimeOfDayBucket::morning: return {5, 6, 7, 8, 9, 10, 11};
        case TimeOfDayBucket::afternoon: return {12, 13, 14, 15, 16, 17};
        case TimeOfDayBucket::evening: return {18, 19, 20, 21, 22};
        case TimeOfDayBucket::night: return {23, 0, 1, 2, 3, 4};
    }
    return {};
}

std::optional<std::pair<TimeOfDayBucket, std::int64_t>> UsageLog::dominantTimeOfDay(std::int64_t minimumTotal,
                                                                                  double dominanceRatio) const {
    std::int64_t total = 0;
    for (auto n : hourlyActivity_) total += n;
    if (total < minimumTotal) return std::nullopt;

    std::array<std::int64_t, 4> counts{};
    for (std::size_t i = 0; i < kAllTimeOfDayBuckets.size(); ++i)
        for (int h : hours(kAllTimeOfDayBuckets[i])) counts[i] += hourlyActivity_[static_cast<std::size_t>(h)];
    // On a tie the earlier bucket in case order wins.
    const auto top = static_cast<std::size_t>(std::max_element(counts.begin(), counts.end()) - counts.begin());
    if (counts[top] < 1) return std::nullopt;

    auto sorted = counts;
    std::sort(sorted.begin(), sorted.end(), std::greater<>());
    const double m = static_cast<double>(sorted[1] + sorted[2]) * 0.5;
    if (m > 0 && static_cast<double>(counts[top]) >= dominanceRatio * m)
        return std::pair{kAllTimeOfDayBuckets[top], counts[top]};
    return std::nullopt;
}

}  // namespace parlowen
