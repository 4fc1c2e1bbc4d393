#include "Parlowen/brand/UsageLog.h"

#include <algorithm>
#include <functional>
#include <mutex>

#include <nlohmann/json.hpp>

#include "platform/runtime/Error.h"
#include "platform/text/Unicode.h"
#include "platform/values/Files.h"

namespace parlowen {

namespace {

using Json = nlohmann::ordered_json;

// A decoding failure, described for the load error line.
using Decoded = std::expected<UsageLog::Days, std::string>;

std::expected<std::int64_t, std::string> integerMember(const Json& object, const char* key, std::string_view where) {
    auto it = object.find(key);
    if (it == object.end()) return std::unexpected(fmt::format("{}: missing \"{}\"", where, key));
    if (!it->is_number_integer()) return std::unexpected(fmt::format("{}: \"{}\" is not an integer", where, key));
    return it->get<std::int64_t>();
}

std::expected<StreamStats, std::string> decodeStats(const Json& object, const char* key, std::string_view day) {
    auto it = object.find(key);
    const auto where = fmt::format("day {}", day);
    if (it == object.end()) return std::unexpected(fmt::format("{}: missing \"{}\"", where, key));
    if (!it->is_object()) return std::unexpected(fmt::format("{}: \"{}\" is not an object", where, key));
    const auto inner = fmt::format("{} {}", where, key);
    auto sessions = integerMember(*it, "sessionCount", inner);
    if (!sessions) return std::unexpected(sessions.error());
    auto words = integerMember(*it, "wordCount", inner);
    if (!words) return std::unexpected(words.error());
    return StreamStats{*sessions, *words};
}

Decoded decodeDays(const Json& json) {
    if (!json.is_object()) return std::unexpected(std::string("the days are not a JSON object"));
    UsageLog::Days days;
    for (const auto& [key, value] : json.items()) {
        if (!value.is_object()) return std::unexpected(fmt::format("day {}: not an object", key));
        auto dictation = decodeStats(value, "dictation", key);
        if (!dictation) return std::unexpected(dictation.error());
        auto readAloud = decodeStats(value, "readAloud", key);
        if (!readAloud) return std::unexpected(readAloud.error());
        days.emplace(key, DayBucket{*dictation, *readAloud});
    }
    return days;
}

struct Snapshot {
    UsageLog::Days days;
    std::optional<UsageLog::HourlyActivity> hourly;  // none when the stored list was not 24 long
};

std::expected<Snapshot, std::string> decodeSnapshot(const Json& json) {
    if (!json.is_object()) return std::unexpected(std::string("the snapshot is not a JSON object"));
    auto daysIt = json.find("days");
    if (daysIt == json.end()) return std::unexpected(std::string("missing \"days\""));
    auto hourlyIt = json.find("hourlyActivity");
    if (hourlyIt == json.end()) return std::unexpected(std::string("missing \"hourlyActivity\""));
    if (!hourlyIt->is_array()) return std::unexpected(std::string("\"hourlyActivity\" is not an array"));
    std::vector<std::int64_t> hours;
    for (const auto& v : *hourlyIt) {
        if (!v.is_number_integer()) return std::unexpected(std::string("\"hourlyActivity\" holds a non-integer"));
        hours.push_back(v.get<std::int64_t>());
    }
    auto days = decodeDays(*daysIt);
    if (!days) return std::unexpected(days.error());
    Snapshot snapshot{std::move(*days), std::nullopt};
    if (hours.size() == 24) {
        snapshot.hourly.emplace();
        std::copy(hours.begin(), hours.end(), snapshot.hourly->begin());
    }
    return snapshot;
}

std::string encodeSnapshot(const UsageLog::Days& days, const UsageLog::HourlyActivity& hourly) {
    Json daysJson = Json::object();
    for (const auto& [key, bucket] : days) {
        daysJson[key] = {
            {"dictation", {{"sessionCount", bucket.dictation.sessionCount}, {"wordCount", bucket.dictation.wordCount}}},
            {"readAloud", {{"sessionCount", bucket.readAloud.sessionCount}, {"wordCount", bucket.readAloud.wordCount}}},
        };
    }
    Json root = Json::object();
    root["days"] = std::move(daysJson);
    root["hourlyActivity"] = hourly;
    return root.dump();
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
        const auto text = encodeSnapshot(days, hourly);
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
        const Json json = Json::parse(text, nullptr, /*allow_exceptions=*/false);
        if (json.is_discarded()) {
            failure = "the file is not valid JSON";
        } else if (auto snapshot = decodeSnapshot(json)) {
            days_ = std::move(snapshot->days);
            if (snapshot->hourly) hourlyActivity_ = *snapshot->hourly;
            return;
        } else if (auto older = decodeDays(json)) {
            days_ = std::move(*older);
            return;
        } else {
            failure = older.error();
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
