#include <gtest/gtest.h>

#include <fstream>

#include "platform/clouddb/InMemoryCloudDatabase.h"
#include "platform/runtime/ManualExecutor.h"
#include "platform/testsupport/TempHome.h"

using namespace platform;
using namespace std::chrono_literals;

namespace {

CloudRecord item(const std::string& name, const std::string& state, double created) {
    CloudRecord r("QueueItem", CloudRecordID{name, CloudZoneID::defaultZone()});
    r.set("state", state);
    r.set("createdAt", Date::fromTimeIntervalSinceReferenceDate(created));
    r.set("text", std::string("t-") + name);
    return r;
}

CloudRecordID idOf(const std::string& name) { return CloudRecordID{name, CloudZoneID::defaultZone()}; }

// Runs a task to completion on a manual executor (moving virtual time as needed).
template <class T>
T run(ManualExecutor& ex, Task<T> task) {
    auto h = spawn(ex, std::move(task));
    ex.runUntilIdle();
    ex.advanceUntilIdle();
    EXPECT_TRUE(h.done());
    return h.value();
}

TEST(CloudRecord, TypedReadersGiveNothingForAbsentOrOtherTypes) {
    CloudRecord r("QueueItem", idOf("A"));
    r.set("title", std::string("Hello"));
    r.set("durationSec", 12.5);
    r.set("count", std::int64_t{3});
    r.set("createdAt", Date::fromTimeIntervalSinceReferenceDate(10));

    EXPECT_EQ(r.string("title"), "Hello");
    EXPECT_EQ(r.string("durationSec"), std::nullopt);
    EXPECT_EQ(r.number("durationSec"), 12.5);
    EXPECT_EQ(r.number("count"), 3.0);  // integers are numbers too
    EXPECT_EQ(r.number("title"), std::nullopt);
    EXPECT_EQ(r.int64("durationSec"), std::nullopt);
    EXPECT_EQ(r.date("createdAt"), Date::fromTimeIntervalSinceReferenceDate(10));
    EXPECT_EQ(r.date("missing"), std::nullopt);
    EXPECT_EQ(r.asset("title"), std::nullopt);
    EXPECT_EQ(r.allKeys(), (std::vector<std::string>{"count", "createdAt", "durationSec", "title"}));
}

TEST(InMemoryCloudDatabase, ScriptedFailuresChangeNothingAndAreRecorded) {
    ManualExecutor ex;
    InMemoryCloudDatabase db;
    db.failNext(InMemoryCloudDatabase::Operation::save, cloudError(CloudErrorCode::networkUnavailable));
    auto failed = run(ex, db.saveRecords({item("A", "ready", 1)}));
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error().description, "The Internet connection appears to be offline.");
    EXPECT_TRUE(db.storedRecords().empty());

    db.failRecord("B", cloudError(CloudErrorCode::quotaExceeded));
    auto partial = run(ex, db.saveRecords({item("A", "ready", 1), item("B", "ready", 2)}));
    ASSERT_TRUE(partial);
    EXPECT_TRUE((*partial)[0].result);
    ASSERT_FALSE((*partial)[1].result);
    EXPECT_TRUE(isCloudError((*partial)[1].result.error(), CloudErrorCode::quotaExceeded));
    EXPECT_TRUE(db.stored(idOf("A")));
    EXPECT_FALSE(db.stored(idOf("B")));

    db.failNext(InMemoryCloudDatabase::Operation::query, cloudError(CloudErrorCode::unknownItem));
    auto q = run(ex, db.queryRecords({"QueueItem", std::nullopt, {}}, std::nullopt, std::nullopt, 0));
    ASSERT_FALSE(q);
    EXPECT_TRUE(isCloudError(q.error(), CloudErrorCode::unknownItem));

    auto calls = db.calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[1].operation, InMemoryCloudDatabase::Operation::save);
    EXPECT_EQ(calls[1].recordNames, (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(calls[2].operation, InMemoryCloudDatabase::Operation::query);
}

TEST(InMemoryCloudDatabase, LatencyRunsInVirtualTimeAndCancellationEndsTheWait) {
    ManualExecutor ex;
    InMemoryCloudDatabase db;
    db.setLatency(2s);
    auto h = spawn(ex, db.saveRecords({item("A", "ready", 1)}));
    ex.runUntilIdle();
    ex.advance(1999ms);
    EXPECT_FALSE(h.done());
    EXPECT_FALSE(db.stored(idOf("A")));
    ex.advance(1ms);
    ASSERT_TRUE(h.done());
    EXPECT_TRUE(db.stored(idOf("A")));

    auto del = spawn(ex, db.deleteRecord(idOf("A")));
    ex.advance(1s);
    del.cancel();
    ex.runUntilIdle();
    ASSERT_TRUE(del.done());
    EXPECT_TRUE(del.value().error().isCancellation());
    EXPECT_TRUE(db.stored(idOf("A")));  // a cancelled request does not reach the store
}

}  // namespace
