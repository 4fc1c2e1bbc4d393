// What every cloud database must do, run against the in-memory double and the
// SQLite store alike (the SQLite work runs on the manual executor here).
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <fstream>

#include "platform/clouddb/InMemoryCloudDatabase.h"
#include "platform/clouddb/SqliteCloudDatabase.h"
#include "platform/runtime/ManualExecutor.h"
#include "platform/testsupport/TempHome.h"
#include "platform/values/Files.h"

using namespace platform;
namespace fs = std::filesystem;

namespace {

CloudRecordID idOf(const std::string& name) { return CloudRecordID{name, CloudZoneID::defaultZone()}; }

CloudRecord item(const std::string& name, const std::string& state, double created) {
    CloudRecord r("QueueItem", idOf(name));
    r.set("state", state);
    r.set("createdAt", Date::fromTimeIntervalSinceReferenceDate(created));
    r.set("text", std::string("t-") + name);
    return r;
}

std::vector<std::string> names(const CloudQueryResult& r) {
    std::vector<std::string> out;
    for (const auto& m : r.matchResults) out.push_back(m.recordID.recordName);
    return out;
}

std::string contentOf(const CloudAsset& asset) {
    auto bytes = readFile(asset.fileURL.filePath());
    return bytes ? toString(*bytes) : std::string("<unreadable>");
}

enum class Backing { inMemory, sqlite };
const char* nameOf(Backing b) { return b == Backing::inMemory ? "InMemory" : "Sqlite"; }
// Test names and their printed parameter stay the same from run to run.
void PrintTo(Backing b, std::ostream* os) { *os << nameOf(b); }

class CloudDatabaseContract : public ::testing::TestWithParam<Backing> {
protected:
    ManualExecutor ex;
    testsupport::TempDir dir;

    std::unique_ptr<CloudDatabase> make(std::size_t batchSize = 100) {
        if (GetParam() == Backing::inMemory) {
            auto db = std::make_unique<InMemoryCloudDatabase>();
            db->setBatchSize(batchSize);
            return db;
        }
        return std::make_unique<SqliteCloudDatabase>(ex, dir / "container", batchSize);
    }

    template <class T>
    T run(Task<T> task) {
        auto h = spawn(ex, std::move(task));
        ex.runUntilIdle();
        ex.advanceUntilIdle();
        EXPECT_TRUE(h.done());
        return h.value();
    }

    std::optional<CloudRecord> fetchOne(CloudDatabase& db, const std::string& name) {
        auto r = run(db.fetchRecords({idOf(name)}, std::nullopt));
        if (!r || r->size() != 1 || !(*r)[0].result) return std::nullopt;
        return *(*r)[0].result;
    }
};

TEST_P(CloudDatabaseContract, SaveOverwritesSentKeysKeepsTheOthersAndAnswersWithTheStoredRecord) {
    auto db = make();
    CloudRecord first = item("A", "rendering", 1);
    first.set("renderError", std::string("old"));
    first.set("playedThru", 12.5);
    first.set("count", std::int64_t{-3});
    ASSERT_TRUE(run(db->saveRecords({first})));

    CloudRecord second("QueueItem", idOf("A"));
    second.set("state", std::string("ready"));
    auto saved = run(db->saveRecords({second, item("B", "ready", 2)}));
    ASSERT_TRUE(saved);
    ASSERT_EQ(saved->size(), 2u);
    EXPECT_EQ((*saved)[0].recordID.recordName, "A");
    EXPECT_EQ((*saved)[1].recordID.recordName, "B");
    ASSERT_TRUE((*saved)[0].result);

    auto stored = fetchOne(*db, "A");
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->string("state"), "ready");
    EXPECT_EQ(stored->string("renderError"), "old");
    EXPECT_EQ(stored->string("text"), "t-A");
    EXPECT_EQ(stored->number("playedThru"), 12.5);
    EXPECT_EQ(stored->int64("count"), -3);
    EXPECT_EQ(stored->date("createdAt"), Date::fromTimeIntervalSinceReferenceDate(1));
    EXPECT_EQ(*(*saved)[0].result, *stored);
}

TEST_P(CloudDatabaseContract, FetchGivesTheDesiredKeysAndUnknownItemPerMissingRecord) {
    auto db = make();
    CloudRecord r = item("A", "ready", 1);
    r.set("playedThru", 30.0);
    ASSERT_TRUE(run(db->saveRecords({r})));

    auto fetched = run(db->fetchRecords({idOf("B"), idOf("A")}, std::vector<std::string>{"playedThru", "completedAt"}));
    ASSERT_TRUE(fetched);
    ASSERT_EQ(fetched->size(), 2u);
    ASSERT_FALSE((*fetched)[0].result);
    EXPECT_EQ((*fetched)[0].result.error().code, 11);
    ASSERT_TRUE((*fetched)[1].result);
    EXPECT_EQ((*fetched)[1].result->allKeys(), std::vector<std::string>{"playedThru"});
    EXPECT_EQ((*fetched)[1].result->recordType(), "QueueItem");
}

TEST_P(CloudDatabaseContract, DeleteRemovesTheRecordAndAMissingOneIsUnknownItem) {
    auto db = make();
    ASSERT_TRUE(run(db->saveRecords({item("A", "ready", 1)})));
    EXPECT_TRUE(run(db->deleteRecord(idOf("A"))));
    EXPECT_FALSE(fetchOne(*db, "A"));
    auto again = run(db->deleteRecord(idOf("A")));
    ASSERT_FALSE(again);
    EXPECT_TRUE(isCloudError(again.error(), CloudErrorCode::unknownItem));
}

TEST_P(CloudDatabaseContract, QueryFiltersByTypeStateAndZoneSortsAndCutsTheFirstBatch) {
    auto db = make(2);
    CloudRecord other("Other", idOf("other"));
    other.set("state", std::string("pendingRender"));
    CloudRecord elsewhere("QueueItem", CloudRecordID{"elsewhere", CloudZoneID{"zone2", "__defaultOwner__"}});
    elsewhere.set("state", std::string("pendingRender"));
    CloudRecord numeric = item("numeric", "x", 50);
    numeric.set("state", 1.0);  // another type under the predicate key never matches a text
    ASSERT_TRUE(run(db->saveRecords({item("old", "pendingRender", 100), item("new", "pendingRender", 300),
                                     item("mid", "pendingRender", 200), item("ready", "ready", 400), other,
                                     elsewhere, numeric})));

    CloudQuery q{"QueueItem", CloudQuery::Equals{"state", std::string("pendingRender")}, {{"createdAt", false}}};
    auto batch = run(db->queryRecords(q, std::nullopt, std::nullopt, kCloudMaximumResults));
    ASSERT_TRUE(batch);
    EXPECT_EQ(names(*batch), (std::vector<std::string>{"new", "mid"}));
    EXPECT_TRUE(batch->moreComing);
    EXPECT_EQ(batch->matchResults[0].result->string("text"), "t-new");  // whole records without a key list

    auto limited = run(db->queryRecords(q, std::nullopt, std::vector<std::string>{"state"}, 1));
    ASSERT_TRUE(limited);
    ASSERT_EQ(names(*limited), std::vector<std::string>{"new"});
    EXPECT_EQ(limited->matchResults[0].result->allKeys(), std::vector<std::string>{"state"});

    q.sortDescriptors = {{"createdAt", true}};
    auto ascending = run(db->queryRecords(q, std::nullopt, std::nullopt, 5));
    ASSERT_TRUE(ascending);
    EXPECT_EQ(names(*ascending), (std::vector<std::string>{"old", "mid"}));

    auto zone2 = run(db->queryRecords(q, CloudZoneID{"zone2", "__defaultOwner__"}, std::nullopt, 5));
    ASSERT_TRUE(zone2);
    EXPECT_EQ(names(*zone2), std::vector<std::string>{"elsewhere"});
    EXPECT_FALSE(zone2->moreComing);

    auto byNumber = run(db->queryRecords({"QueueItem", CloudQuery::Equals{"state", std::int64_t{1}}, {}},
                                         std::nullopt, std::nullopt, kCloudMaximumResults));
    ASSERT_TRUE(byNumber);
    EXPECT_EQ(names(*byNumber), std::vector<std::string>{"numeric"});  // 1 and 1.0 are one number
}

TEST_P(CloudDatabaseContract, AssetsComeBackAsReadableLocalFilesAndAGoneFileFailsThatRecord) {
    auto db = make();
    const auto present = dir / "present.caf";
    std::ofstream(present) << "audio bytes";
    CloudRecord good = item("A", "ready", 1);
    good.set("audio", CloudAsset{Url::fromFilePath(present)});
    CloudRecord bad = item("B", "ready", 1);
    bad.set("audio", CloudAsset{Url::fromFilePath(dir / "gone.caf")});

    auto saved = run(db->saveRecords({bad, good}));
    ASSERT_TRUE(saved);
    ASSERT_FALSE((*saved)[0].result);
    EXPECT_TRUE(isCloudError((*saved)[0].result.error(), CloudErrorCode::assetFileNotFound));
    ASSERT_TRUE((*saved)[1].result);
    EXPECT_FALSE(fetchOne(*db, "B"));

    auto stored = fetchOne(*db, "A");
    ASSERT_TRUE(stored && stored->asset("audio"));
    EXPECT_TRUE(stored->asset("audio")->fileURL.isFileURL());
    EXPECT_EQ(contentOf(*stored->asset("audio")), "audio bytes");
}

INSTANTIATE_TEST_SUITE_P(Backings, CloudDatabaseContract, ::testing::Values(Backing::inMemory, Backing::sqlite),
                         [](const auto& info) { return std::string(nameOf(info.param)); });

// ---- The SQLite store's own promises.

class SqliteCloudDatabaseTest : public ::testing::Test {
protected:
    ManualExecutor ex;
    testsupport::TempDir dir;
    fs::path folder = dir / "iCloud.com.kelvatrum.Parlowen";

    template <class T>
    T run(Task<T> task) {
        auto h = spawn(ex, std::move(task));
        ex.runUntilIdle();
        EXPECT_TRUE(h.done());
        return h.value();
    }
};

TEST_F(SqliteCloudDatabaseTest, AssetsAreCopiesThatOutliveTheSourceAndGoWithTheirRecord) {
    SqliteCloudDatabase db(ex, folder);
    EXPECT_FALSE(fs::exists(folder));  // nothing is touched before the first operation
    const auto source = dir / "audio.caf";
    std::ofstream(source) << "first";
    CloudRecord r = item("A", "ready", 1);
    r.set("audio", CloudAsset{Url::fromFilePath(source)});
    auto saved = run(db.saveRecords({r}));
    ASSERT_TRUE(saved && (*saved)[0].result);
    const fs::path firstCopy = (*saved)[0].result->asset("audio")->fileURL.filePath();
    EXPECT_EQ(firstCopy.parent_path(), folder / "Assets");
    EXPECT_EQ(firstCopy.extension(), ".caf");
    fs::remove(source);
    EXPECT_EQ(platform::toString(*readFile(firstCopy)), "first");

    std::ofstream(source) << "second";
    auto again = run(db.saveRecords({r}));
    ASSERT_TRUE(again && (*again)[0].result);
    const fs::path secondCopy = (*again)[0].result->asset("audio")->fileURL.filePath();
    EXPECT_EQ(platform::toString(*readFile(secondCopy)), "second");
    EXPECT_FALSE(fs::exists(firstCopy));  // the replaced copy goes

    ASSERT_TRUE(run(db.deleteRecord(idOf("A"))));
    EXPECT_FALSE(fs::exists(secondCopy));
}

TEST_F(SqliteCloudDatabaseTest, TwoConnectionsSeeEachOthersWritesAndTheFileKeepsThem) {
    SqliteCloudDatabase app(ex, folder);
    SqliteCloudDatabase extension(ex, folder);
    ASSERT_TRUE(run(extension.saveRecords({item("A", "pendingRender", 1)})));
    auto seen = run(app.queryRecords({"QueueItem", CloudQuery::Equals{"state", std::string("pendingRender")}, {}},
                                     std::nullopt, std::nullopt, kCloudMaximumResults));
    ASSERT_TRUE(seen);
    EXPECT_EQ(names(*seen), std::vector<std::string>{"A"});
    ASSERT_TRUE(run(app.deleteRecord(idOf("A"))));
    auto gone = run(extension.fetchRecords({idOf("A")}, std::nullopt));
    ASSERT_TRUE(gone);
    EXPECT_FALSE((*gone)[0].result);
    EXPECT_TRUE(fs::exists(folder / "CloudDatabase.sqlite"));
}

TEST_F(SqliteCloudDatabaseTest, AnAssetNameThatLeavesTheFolderIsNotHandedOut) {
    SqliteCloudDatabase db(ex, folder);
    ASSERT_TRUE(run(db.saveRecords({item("A", "ready", 1)})));
    // Another writer of the shared file stored a path instead of a file name.
    {
        SqliteCloudDatabase peer(ex, folder);
        const auto outside = dir / "secret.txt";
        std::ofstream(outside) << "x";
        CloudRecord r = item("A", "ready", 1);
        r.set("audio", CloudAsset{Url::fromFilePath(outside)});
        ASSERT_TRUE(run(peer.saveRecords({r})));
    }
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open((folder / "CloudDatabase.sqlite").c_str(), &raw), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(raw, "UPDATE record_values SET value='../../secret.txt' WHERE key='audio'", nullptr,
                           nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(raw);
    auto stored = run(db.fetchRecords({idOf("A")}, std::nullopt));
    ASSERT_TRUE(stored && (*stored)[0].result);
    EXPECT_FALSE((*stored)[0].result->contains("audio"));
    EXPECT_EQ((*stored)[0].result->string("text"), "t-A");
}

}  // namespace
