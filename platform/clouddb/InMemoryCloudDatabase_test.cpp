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

std::vector<std::string> names(const CloudQueryResult& r) {
    std::vector<std::string> out;
    for (const auto& m : r.matchResults) out.push_back(m.recordID.recordName);
    return out;
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

TEST(InMemoryCloudDatabase, SaveOverwritesSentKeysAndKeepsTheOthers) {
    ManualExecutor ex;
    InMemoryCloudDatabase db;
    CloudRecord first = item("A", "rendering", 1);
    first.set("renderError", std::string("old"));
    ASSERT_TRUE(run(ex, db.saveRecords({first})));

    CloudRecord second("QueueItem", idOf("A"));
    second.set("state", std::string("ready"));
    auto saved = run(ex, db.saveRecords({second}));
    ASSERT_TRUE(saved);
    ASSERT_EQ(saved->size(), 1u);
    ASSERT_TRUE((*saved)[0].result);

    auto stored = db.stored(idOf("A"));
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->string("state"), "ready");
    EXPECT_EQ(stored->string("renderError"), "old");
    EXPECT_EQ(stored->string("text"), "t-A");
    EXPECT_EQ(*(*saved)[0].result, *stored);  // the result is the server's copy
}

TEST(InMemoryCloudDatabase, FetchWithDesiredKeysAndMissingRecords) {
    ManualExecutor ex;
    InMemoryCloudDatabase db;
    CloudRecord r = item("A", "ready", 1);
    r.set("playedThru", 30.0);
    db.insert(r);

    auto fetched = run(ex, db.fetchRecords({idOf("A"), idOf("B")}, std::vector<std::string>{"playedThru", "completedAt"}));
    ASSERT_TRUE(fetched);
    ASSERT_EQ(fetched->size(), 2u);
    ASSERT_TRUE((*fetched)[0].result);
    EXPECT_EQ((*fetched)[0].result->allKeys(), std::vector<std::string>{"playedThru"});
    ASSERT_FALSE((*fetched)[1].result);
    EXPECT_TRUE(isCloudError((*fetched)[1].result.error(), CloudErrorCode::unknownItem));
    EXPECT_EQ((*fetched)[1].result.error().code, 11);
}

TEST(InMemoryCloudDatabase, DeleteOfAMissingRecordIsUnknownItem) {
    ManualExecutor ex;
    InMemoryCloudDatabase db;
    db.insert(item("A", "ready", 1));
    EXPECT_TRUE(run(ex, db.deleteRecord(idOf("A"))));
    EXPECT_FALSE(db.stored(idOf("A")));
    auto again = run(ex, db.deleteRecord(idOf("A")));
    ASSERT_FALSE(again);
    EXPECT_TRUE(isCloudError(again.error(), CloudErrorCode::unknownItem));
}

TEST(InMemoryCloudDatabase, QueryFiltersByTypeStateAndZoneSortsAndCutsTheFirstBatch) {
    ManualExecutor ex;
    InMemoryCloudDatabase db;
    db.insert(item("old", "pendingRender", 100));
    db.insert(item("new", "pendingRender", 300));
    db.insert(item("mid", "pendingRender", 200));
    db.insert(item("ready", "ready", 400));
    CloudRecord other("Other", idOf("other"));
    other.set("state", std::string("pendingRender"));
    db.insert(other);
    CloudRecord elsewhere("QueueItem", CloudRecordID{"elsewhere", CloudZoneID{"zone2", "__defaultOwner__"}});
    elsewhere.set("state", std::string("pendingRender"));
    db.insert(elsewhere);

    CloudQuery q{"QueueItem", CloudQuery::Equals{"state", std::string("pendingRender")}, {{"createdAt", false}}};
    auto all = run(ex, db.queryRecords(q, std::nullopt, std::nullopt, kCloudMaximumResults));
    ASSERT_TRUE(all);
    EXPECT_EQ(names(*all), (std::vector<std::string>{"new", "mid", "old"}));
    EXPECT_FALSE(all->moreComing);

    db.setBatchSize(2);
    auto batch = run(ex, db.queryRecords(q, std::nullopt, std::nullopt, kCloudMaximumResults));
    ASSERT_TRUE(batch);
    EXPECT_EQ(names(*batch), (std::vector<std::string>{"new", "mid"}));
    EXPECT_TRUE(batch->moreComing);

    auto limited = run(ex, db.queryRecords(q, std::nullopt, std::vector<std::string>{"state"}, 1));
    ASSERT_TRUE(limited);
    ASSERT_EQ(names(*limited), std::vector<std::string>{"new"});
    EXPECT_EQ(limited->matchResults[0].result->allKeys(), std::vector<std::string>{"state"});
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

TEST(InMemoryCloudDatabase, AnAssetWhoseFileIsGoneFailsThatRecord) {
    ManualExecutor ex;
    InMemoryCloudDatabase db;
    testsupport::TempDir dir;
    const auto present = dir / "present.caf";
    std::ofstream(present) << "audio";
    CloudRecord good = item("A", "ready", 1);
    good.set("audio", CloudAsset{Url::fromFilePath(present)});
    CloudRecord bad = item("B", "ready", 1);
    bad.set("audio", CloudAsset{Url::fromFilePath(dir / "gone.caf")});

    auto saved = run(ex, db.saveRecords({good, bad}));
    ASSERT_TRUE(saved);
    ASSERT_TRUE((*saved)[0].result);
    EXPECT_EQ((*saved)[0].result->asset("audio")->fileURL, Url::fromFilePath(present));
    ASSERT_FALSE((*saved)[1].result);
    EXPECT_TRUE(isCloudError((*saved)[1].result.error(), CloudErrorCode::assetFileNotFound));
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
