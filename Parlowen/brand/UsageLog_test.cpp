#include "Parlowen/brand/UsageLog.h"

#include <filesystem>
#include <fstream>
#include <set>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "platform/log/CaptureSink.h"
#include "platform/runtime/ManualExecutor.h"
#include "platform/testsupport/TempHome.h"
#include "platform/values/Files.h"

namespace parlowen {
namespace {

using platform::Date;
using platform::text::Calendar;
using platform::text::TimeZone;

std::string readText(const std::filesystem::path& path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), {}};
}

void writeText(const std::filesystem::path& path, std::string_view text) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path) << text;
}

class UsageLogTest : public ::testing::Test {
protected:
    Date local(int y, int mo, int d, int h = 12, int mi = 0, int s = 0) const {
        return *calendar.date(y, mo, d, h, mi, s);
    }
    std::unique_ptr<UsageLog> makeLog() {
        return std::make_unique<UsageLog>(UsageLog::Dependencies{executor, pool, clock, zone}, file);
    }
    // Lets the debounce expire, the write run and its report come back.
    void settle() {
        executor.advance(std::chrono::seconds(1));
        pool.runUntilIdle();
        executor.runUntilIdle();
    }
    // Records one dictation of `words` words on the given local day at noon.
    void dictateOn(UsageLog& log, int y, int mo, int d, int words = 1) {
        clock.set(local(y, mo, d));
        std::string text;
        for (int i = 0; i < words; ++i) text += "w ";
        log.recordDictation(text);
    }

    testsupport::TempDir dir;
    std::filesystem::path file = dir / "Parlowen" / "usage.json";
    TimeZone zone = *TimeZone::named("Europe/Berlin");
    Calendar calendar{zone};
    platform::FixedClock clock{*calendar.date(2025, 6, 9, 12)};
    platform::ManualExecutor executor;  // the main thread
    platform::ManualExecutor pool;      // the background the writes run on
};

TEST(UsageLogWordCount, SplitsOnEveryWhiteSpaceCharacterOnly) {
    struct Case {
        std::string text;
        std::int64_t words;
    } cases[] = {
        {"Hello, world!", 2},
        {"a  b\tc\nd", 4},
        {"", 0},
        {"   \n\t ", 0},
        {"\u00A0\u00A0", 0},                     // no-break spaces only
        {"one\u2028two\u0085three\r\nfour", 4},  // line separator, next line, CRLF
        {"well-known word", 2},                  // hyphenated compound is one word
        {"a - b", 3},                            // a lone dash counts
        {"caf\u00E9 \u0301x", 2},                 // a combining mark on a space stays blank
    };
    for (const auto& c : cases) EXPECT_EQ(UsageLog::wordCount(c.text), c.words) << c.text;
}

TEST(UsageLogHours, BucketsCoverEachHourOnce) {
    std::multiset<int> all;
    for (auto b : kAllTimeOfDayBuckets)
        for (int h : UsageLog::hours(b)) all.insert(h);
    ASSERT_EQ(all.size(), 24u);
    for (int h = 0; h < 24; ++h) EXPECT_EQ(all.count(h), 1u) << h;
}

TEST(UsageLogMilestone, RawValues) {
    EXPECT_EQ(wordMilestoneFromRawValue(1000), WordMilestone::thousand);
    EXPECT_EQ(wordMilestoneFromRawValue(1001), std::nullopt);
    EXPECT_EQ(rawValue(TimeOfDayBucket::night), "night");
}

TEST_F(UsageLogTest, RecordsSessionsWordsAndHours) {
    auto log = makeLog();
    int daysChanges = 0, hourChanges = 0;
    auto s1 = log->daysChanges().subscribe([&](const UsageLog::Days& next) {
        ++daysChanges;
        EXPECT_NE(next, log->days());  // told before the change lands
    });
    auto s2 = log->hourlyActivityChanges().subscribe([&](const auto&) { ++hourChanges; });

    clock.set(local(2025, 6, 9, 14, 30));
    log->recordDictation("Hello, world!");
    log->recordReadAloud("a  b\tc\nd");
    const auto& b = log->days().at("2025-06-09");
    EXPECT_EQ(b.dictation, (StreamStats{1, 2}));
    EXPECT_EQ(b.readAloud, (StreamStats{1, 4}));
    EXPECT_EQ(log->hourlyActivity()[14], 2);
    EXPECT_EQ(daysChanges, 2);
    EXPECT_EQ(hourChanges, 2);

    // Texts without words change nothing and schedule nothing.
    executor.advance(std::chrono::seconds(5));
    ASSERT_FALSE(log->persistPending());
    for (const char* blank : {"", "  \n ", "\u00A0"}) log->recordDictation(blank);
    EXPECT_EQ(daysChanges, 2);
    EXPECT_FALSE(log->persistPending());
}

TEST_F(UsageLogTest, MidnightSplitsDaysAndHours) {
    auto log = makeLog();
    clock.set(local(2025, 6, 9, 23, 59, 59));
    log->recordDictation("late");
    clock.set(local(2025, 6, 10, 0, 0, 1));
    log->recordDictation("early");
    EXPECT_EQ(log->days().size(), 2u);
    EXPECT_TRUE(log->days().contains("2025-06-09"));
    EXPECT_TRUE(log->days().contains("2025-06-10"));
    EXPECT_EQ(log->hourlyActivity()[23], 1);
    EXPECT_EQ(log->hourlyActivity()[0], 1);
}

TEST_F(UsageLogTest, BurstIsWrittenOnceHalfASecondAfterTheLast) {
    auto log = makeLog();
    log->recordDictation("one two");
    executor.advance(std::chrono::milliseconds(200));
    log->recordReadAloud("three");
    executor.advance(std::chrono::milliseconds(499));
    EXPECT_FALSE(std::filesystem::exists(file));
    executor.advance(std::chrono::milliseconds(1));
    pool.runUntilIdle();
    ASSERT_TRUE(std::filesystem::exists(file));
    const auto json = nlohmann::json::parse(readText(file));
    EXPECT_EQ(json["days"]["2025-06-09"]["dictation"]["wordCount"], 2);
    EXPECT_EQ(json["days"]["2025-06-09"]["readAloud"]["sessionCount"], 1);
    EXPECT_EQ(json["hourlyActivity"].size(), 24u);
    EXPECT_EQ(json["hourlyActivity"][12], 2);
    EXPECT_EQ(readText(file).find('\n'), std::string::npos);  // compact

    // A fresh log reads back the same state.
    auto again = makeLog();
    EXPECT_EQ(again->days(), log->days());
    EXPECT_EQ(again->hourlyActivity(), log->hourlyActivity());
}

TEST_F(UsageLogTest, FlushWritesThePendingStateAndLaterQueuedWritesNeverOverwriteIt) {
    auto log = makeLog();
    log->recordDictation("first");
    executor.advance(std::chrono::milliseconds(500));  // write queued on the strand, not yet run
    log->recordDictation("second");
    log->flush();  // quit: the newest state lands at once
    EXPECT_FALSE(log->persistPending());
    EXPECT_EQ(nlohmann::json::parse(readText(file))["days"]["2025-06-09"]["dictation"]["sessionCount"], 2);

    settle();  // the older queued snapshot must not land after it
    EXPECT_EQ(nlohmann::json::parse(readText(file))["days"]["2025-06-09"]["dictation"]["sessionCount"], 2);

    log->flush();  // nothing pending: no write
}

TEST_F(UsageLogTest, OlderDaysOnlyFormLoadsAndIsRewrittenInTheNewForm) {
    writeText(file, R"({"2025-06-01":{"dictation":{"sessionCount":3,"wordCount":30},)"
                    R"("readAloud":{"sessionCount":0,"wordCount":0}}})");
    auto log = makeLog();
    EXPECT_EQ(log->days().at("2025-06-01").dictation, (StreamStats{3, 30}));
    EXPECT_EQ(log->hourlyActivity(), UsageLog::HourlyActivity{});
    EXPECT_EQ(readText(file).find("hourlyActivity"), std::string::npos);  // loading never writes

    log->recordDictation("hi");
    settle();
    const auto json = nlohmann::json::parse(readText(file));
    EXPECT_EQ(json["days"]["2025-06-01"]["dictation"]["wordCount"], 30);
    EXPECT_EQ(json["hourlyActivity"].size(), 24u);
}

TEST_F(UsageLogTest, HourlyListOfWrongLengthKeepsDaysAndResetsHours) {
    for (int length : {23, 25}) {
        nlohmann::json hours = nlohmann::json::array();
        for (int i = 0; i < length; ++i) hours.push_back(7);
        writeText(file, nlohmann::json{{"days", {{"2025-06-01", {{"dictation", {{"sessionCount", 1}, {"wordCount", 5}}},
                                                                  {"readAloud", {{"sessionCount", 0}, {"wordCount", 0}}}}}}},
                                       {"hourlyActivity", hours}}
                                .dump());
        platform::ScopedLogCapture capture;
        auto log = makeLog();
        EXPECT_EQ(log->days().size(), 1u) << length;
        EXPECT_EQ(log->hourlyActivity(), UsageLog::HourlyActivity{}) << length;
        EXPECT_TRUE(capture->messages().empty()) << length;
    }
}

// Counts beyond a 64-bit count in an edited file are never wrapped: the day is
// left out of the statistics and written back exactly as it was.
TEST_F(UsageLogTest, ADayWithCountsBeyond64BitsIsKeptAsStored) {
    const std::string huge =
        R"({"dictation":{"sessionCount":18446744073709551616,"wordCount":1},"readAloud":{"sessionCount":0,"wordCount":0}})";
    const std::string fraction =
        R"({ "dictation" : {"sessionCount":1.5,"wordCount":1}, "readAloud":{"sessionCount":0,"wordCount":0} })";
    std::string hours = "[9223372036854775808";
    for (int i = 1; i < 24; ++i) hours += ",1";
    hours += "]";
    writeText(file, R"({"days":{"2025-06-01":)" + huge + R"(,"2025-06-02":{"dictation":{"sessionCount":2,"wordCount":7},)"
                    R"("readAloud":{"sessionCount":0,"wordCount":0}},"2025-06-03":)" + fraction +
                    R"(},"hourlyActivity":)" + hours + "}");
    platform::ScopedLogCapture capture;
    auto log = makeLog();
    EXPECT_EQ(log->days().size(), 1u);
    EXPECT_EQ(log->lifetimeTotals().dictation, (StreamStats{2, 7}));
    EXPECT_EQ(log->hourlyActivity(), UsageLog::HourlyActivity{}) << "an unusable hour count resets the hours";
    EXPECT_TRUE(capture->contains("day 2025-06-01 kept as stored", platform::LogLevel::error));
    EXPECT_TRUE(capture->contains("hourly activity reset", platform::LogLevel::error));

    log->recordDictation("fresh words");
    settle();
    const auto text = readText(file);
    EXPECT_NE(text.find(R"("2025-06-01":)" + huge + ","), std::string::npos) << text;
    EXPECT_NE(text.find(R"("2025-06-03":)" + fraction + ","), std::string::npos) << text;
    EXPECT_FALSE(std::filesystem::exists(dir / "Parlowen" / "usage.json.corrupt-20250609T100000Z"));
    const auto json = nlohmann::json::parse(text);
    EXPECT_EQ(json["days"]["2025-06-02"]["dictation"]["wordCount"], 7);
    EXPECT_EQ(json["days"]["2025-06-09"]["dictation"]["wordCount"], 2);
    EXPECT_EQ(json["days"].size(), 4u);
}

TEST_F(UsageLogTest, UnreadableFileGivesEmptyStatsAndIsMovedAsideBeforeTheFirstWrite) {
    const char* bad[] = {
        "[1,2]",
        "{not json",
        R"({"2025-06-01":{"dictation":{"sessionCount":1,"wordCount":1}}})",  // no readAloud
        R"({"days":{}})",                                                    // no hourlyActivity
    };
    for (const char* content : bad) {
        std::filesystem::remove_all(dir.path());
        writeText(file, content);
        platform::ScopedLogCapture capture;
        auto log = makeLog();
        EXPECT_TRUE(log->days().empty()) << content;
        EXPECT_TRUE(capture->contains("usage log load failed: ", platform::LogLevel::error)) << content;
        EXPECT_EQ(readText(file), content);  // untouched until a write

        clock.set(Date::fromTimeIntervalSince1970(1749470400));  // 2025-06-09T12:00:00Z
        log->recordDictation("fresh start");
        settle();
        EXPECT_EQ(readText(dir / "Parlowen" / "usage.json.corrupt-20250609T120000Z"), content) << content;
        EXPECT_EQ(nlohmann::json::parse(readText(file))["days"].size(), 1u);

        // Only the first write moves anything aside.
        log->recordDictation("again");
        settle();
        std::size_t files = 0;
        for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir / "Parlowen")) ++files;
        EXPECT_EQ(files, 2u) << content;
    }
}

TEST_F(UsageLogTest, FailedWriteIsLoggedOnTheMainExecutor) {
    std::filesystem::create_directories(dir / "blocker");
    writeText(dir / "blocker" / "file", "");
    UsageLog log({executor, pool, clock, zone}, dir / "blocker" / "file" / "usage.json");
    platform::ScopedLogCapture capture;
    log.recordDictation("words here");
    executor.advance(std::chrono::seconds(1));
    pool.runUntilIdle();
    EXPECT_FALSE(capture->contains("usage log persist failed: "));  // reported on the main executor
    executor.runUntilIdle();
    EXPECT_TRUE(capture->contains("usage log persist failed: ", platform::LogLevel::error));
}

TEST_F(UsageLogTest, TotalsOverCalendarDays) {
    auto log = makeLog();
    dictateOn(*log, 2025, 6, 1, 10);  // eight days before the 9th
    dictateOn(*log, 2025, 6, 3, 5);
    dictateOn(*log, 2025, 6, 9, 2);
    EXPECT_EQ(log->totals(7, local(2025, 6, 9)).dictation, (StreamStats{2, 7}));
    EXPECT_EQ(log->totals(7, local(2025, 6, 8)).dictation, (StreamStats{1, 5}));
    EXPECT_EQ(log->totals(7, local(2025, 6, 17)), DayBucket{});  // the latest session lies eight days back
    EXPECT_EQ(log->totals(0, local(2025, 6, 9)), DayBucket{});
    EXPECT_EQ(log->lifetimeTotals().dictation, (StreamStats{3, 17}));
}

TEST_F(UsageLogTest, StreaksFollowCalendarDays) {
    auto log = makeLog();
    for (int d : {1, 2, 3, 5}) dictateOn(*log, 2025, 6, d);
    EXPECT_EQ(log->currentStreak(local(2025, 6, 3)), 3);
    EXPECT_EQ(log->currentStreak(local(2025, 6, 4)), 0);
    EXPECT_EQ(log->currentStreak(local(2025, 6, 5)), 1);
    EXPECT_EQ(log->longestStreak(), 3);
}

TEST_F(UsageLogTest, StreaksAcrossDaylightSavingChanges) {
    auto log = makeLog();
    // Berlin moves to summer time on 30 March and back on 26 October 2025.
    for (int d = 28; d <= 31; ++d) dictateOn(*log, 2025, 3, d);
    for (int d = 25; d <= 27; ++d) dictateOn(*log, 2025, 10, d);
    EXPECT_EQ(log->currentStreak(local(2025, 3, 31, 0, 30)), 4);
    EXPECT_EQ(log->currentStreak(local(2025, 10, 27, 23, 30)), 3);
    EXPECT_EQ(log->longestStreak(), 4);
    EXPECT_EQ(log->totals(3, local(2025, 3, 31, 1)).dictation.sessionCount, 3);
}

TEST_F(UsageLogTest, DayWithoutSessionsBreaksAStreak) {
    writeText(file, R"({"days":{)"
                    R"("2025-06-01":{"dictation":{"sessionCount":1,"wordCount":1},"readAloud":{"sessionCount":0,"wordCount":0}},)"
                    R"("2025-06-02":{"dictation":{"sessionCount":0,"wordCount":9},"readAloud":{"sessionCount":0,"wordCount":0}},)"
                    R"("2025-06-03":{"dictation":{"sessionCount":0,"wordCount":0},"readAloud":{"sessionCount":2,"wordCount":0}},)"
                    R"("2025-06-04":{"dictation":{"sessionCount":1,"wordCount":1},"readAloud":{"sessionCount":0,"wordCount":0}},)"
                    R"("garbage":{"dictation":{"sessionCount":1,"wordCount":1},"readAloud":{"sessionCount":0,"wordCount":0}}},)"
                    R"("hourlyActivity":[0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0]})");
    auto log = makeLog();
    EXPECT_FALSE(log->isActiveDay(local(2025, 6, 2)));
    EXPECT_TRUE(log->isActiveDay(local(2025, 6, 3)));  // sessions count, words do not
    EXPECT_EQ(log->currentStreak(local(2025, 6, 4)), 2);
    EXPECT_EQ(log->longestStreak(), 2);
}

TEST_F(UsageLogTest, DominantTimeOfDay) {
    struct Case {
        std::int64_t morning, afternoon, evening, night;
        std::optional<std::pair<TimeOfDayBucket, std::int64_t>> expected;
    } cases[] = {
        {40, 10, 10, 0, std::pair{TimeOfDayBucket::morning, std::int64_t{40}}},
        {19, 10, 10, 0, std::nullopt},
        {20, 5, 4, 0, std::nullopt},  // 29 in all
        {0, 0, 35, 0, std::nullopt},  // one bucket only: nothing to compare with
        {2, 4, 4, 30, std::pair{TimeOfDayBucket::night, std::int64_t{30}}},
    };
    for (const auto& c : cases) {
        std::filesystem::remove_all(dir.path());
        nlohmann::json hours = nlohmann::json::array();
        for (int h = 0; h < 24; ++h) hours.push_back(0);
        hours[8] = c.morning;
        hours[13] = c.afternoon;
        hours[20] = c.evening;
        hours[2] = c.night;
        writeText(file, nlohmann::json{{"days", nlohmann::json::object()}, {"hourlyActivity", hours}}.dump());
        auto log = makeLog();
        EXPECT_EQ(log->dominantTimeOfDay(30, 2.0), c.expected) << c.morning << "/" << c.afternoon << "/" << c.evening;
    }
}

TEST(UsageLogPaths, DefaultStorageUnderApplicationSupport) {
    platform::XdgDirs dirs(platform::Environment(std::map<std::string, std::string>{
        {"HOME", "/home/u"}, {"XDG_DATA_HOME", "/data"}}));
    EXPECT_EQ(UsageLog::defaultStorageURL(dirs), std::filesystem::path("/data/Parlowen/usage.json"));
}

}  // namespace
}  // namespace parlowen
