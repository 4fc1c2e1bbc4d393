// The bridge on the real SQLite database, with a second process writing the
// same file (the way the share extension does).
#include <gtest/gtest.h>

#include <fstream>

#include <nlohmann/json.hpp>

#include "Parlowen/listenlater/queue/sync/QueueSyncTestSupport.h"
#include "platform/log/CaptureSink.h"
#include "platform/testsupport/Process.h"

using namespace parlowen;
using namespace std::chrono_literals;
using platform::Date;
using platform::Url;
using platform::Uuid;
namespace fs = std::filesystem;

namespace {

class QueueSyncTwoProcessTest : public ::testing::Test, protected queuesynctest::ApplicationSide {
protected:
    platform::ScopedLogCapture logs;

    testsupport::RunResult peer(std::vector<std::string> args) {
        args.insert(args.begin(), QUEUE_SYNC_PEER);
        return testsupport::runProcess(args, env, {.timeout = 60s});
    }
};

TEST_F(QueueSyncTwoProcessTest, ALinkSavedByTheOtherProcessIsHandedOverOnce) {
    bridge.start();
    ASSERT_TRUE(main.runUntil([&] { return logs->contains("started observing"); }));
    const Uuid id = Uuid::random();
    const auto saved = peer({"save-pending", container.string(), id.uuidString(), "https://example.com/shared"});
    ASSERT_TRUE(saved.ok()) << saved.describe();

    runToEnd(bridge.refreshPendingItems());
    ASSERT_EQ(pending.size(), 1u);
    EXPECT_EQ(pending[0].id, id);
    EXPECT_EQ(pending[0].sourceURL->absoluteString(), "https://example.com/shared");
    EXPECT_EQ(pending[0].state, QueueItem::State::pendingRender);
    EXPECT_TRUE(logs->contains("pulled 1 pendingRender items"));

    runToEnd(bridge.refreshPendingItems());
    EXPECT_EQ(pending.size(), 1u);
}

TEST_F(QueueSyncTwoProcessTest, AQueueChangeIsReadBackByTheOtherProcessWithItsAudio) {
    const fs::path audio = home / "caches" / "rendered.caf";
    fs::create_directories(audio.parent_path());
    std::ofstream(audio) << "rendered audio";
    QueueItem item = QueueItem::create({.text = "An article",
                                        .title = "Title",
                                        .voiceEngine = "kokoro",
                                        .voiceID = "af_heart",
                                        .audioFileURL = Url::fromFilePath(audio),
                                        .durationSec = 42,
                                        .state = QueueItem::State::ready,
                                        .createdAt = clock.now(),
                                        .playedThru = 3.5});
    store.ingest(item);
    bridge.start();
    main.advance(QueueCloudKitBridge::kDebounce);
    const std::string pushed = "pushed " + item.id.uuidString() + " state=ready";
    ASSERT_TRUE(main.runUntil([&] { return logs->contains(pushed); }, 20s)) << ::testing::PrintToString(logs->messages());

    const auto read = peer({"read", container.string(), item.id.uuidString()});
    ASSERT_TRUE(read.ok()) << read.describe();
    const auto json = nlohmann::json::parse(read.out);
    EXPECT_EQ(json["state"], "ready");
    EXPECT_EQ(json["text"], "An article");
    EXPECT_EQ(json["playedThru"], 3.5);
    EXPECT_EQ(json["audioContent"], "rendered audio");
}

TEST_F(QueueSyncTwoProcessTest, ConcurrentWritesFromBothProcessesNeverFailAsLocked) {
    auto other = testsupport::Process::spawn({QUEUE_SYNC_PEER, "hammer", container.string(), "1", "150"}, env,
                                             {.outputFile = home / "peer.log"});
    ASSERT_TRUE(other) << other.error().description;
    platform::SqliteCloudDatabase db(pool, container);
    std::vector<std::string> failures;
    for (int i = 1000; i < 1150; ++i) {
        platform::CloudRecord record("QueueItem", {fmt::format("0000BBBB-0000-4000-8000-{:012d}", i),
                                                   platform::CloudZoneID::defaultZone()});
        record.set("state", std::string("pendingRender"));
        record.set("createdAt", Date::now());
        std::vector<platform::CloudRecord> records{record};
        auto h = platform::spawn(main, db.saveRecords(std::move(records)));
        ASSERT_TRUE(main.runUntil([&] { return h.done(); }, 30s));
        const auto& saved = h.value();
        if (!saved) failures.push_back(saved.error().description);
        else if (!(*saved)[0].result) failures.push_back((*saved)[0].result.error().description);
    }
    ASSERT_TRUE(other->waitForExit(60s));
    EXPECT_EQ(other->exitStatus()->code, 0) << other->output();
    EXPECT_TRUE(failures.empty()) << failures.front();

    // Every record of both writers is there.
    std::vector<platform::CloudRecordID> ids;
    for (int i = 1; i <= 150; ++i)
        ids.push_back({fmt::format("0000AAAA-0000-4000-8000-{:012d}", i), platform::CloudZoneID::defaultZone()});
    for (int i = 1000; i < 1150; ++i)
        ids.push_back({fmt::format("0000BBBB-0000-4000-8000-{:012d}", i), platform::CloudZoneID::defaultZone()});
    auto h = platform::spawn(main, db.fetchRecords(ids, std::vector<std::string>{"state"}));
    ASSERT_TRUE(main.runUntil([&] { return h.done(); }));
    ASSERT_TRUE(h.value());
    int found = 0;
    for (const auto& r : *h.value()) found += r.result.has_value();
    EXPECT_EQ(found, 300);
}

}  // namespace
