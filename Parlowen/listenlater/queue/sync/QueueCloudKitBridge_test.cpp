#include <gtest/gtest.h>

#include <clocale>
#include <fstream>

#include "Parlowen/listenlater/queue/sync/QueueCloudKitBridge.h"
#include "platform/clouddb/InMemoryCloudDatabase.h"
#include "platform/log/CaptureSink.h"
#include "platform/runtime/ManualExecutor.h"
#include "platform/testsupport/TempHome.h"
#include "platform/values/Bytes.h"
#include "platform/values/Files.h"

using namespace parlowen;
using namespace std::chrono_literals;
using platform::CloudErrorCode;
using platform::Date;
using platform::InMemoryCloudDatabase;
using platform::Url;
using platform::Uuid;
using Op = platform::InMemoryCloudDatabase::Operation;
namespace fs = std::filesystem;

namespace {

const Date kStart = Date::fromTimeIntervalSinceReferenceDate(700000000);
const Date kMay1 = *platform::parseIso8601("2026-05-01T09:00:00Z");
const Date kMay2 = *platform::parseIso8601("2026-05-02T09:00:00Z");

Uuid uuidNumber(int n) { return *Uuid::fromString(fmt::format("5E1F0000-0000-4000-8000-{:012d}", n)); }

QueueItem makeItem(int n, QueueItem::State state = QueueItem::State::ready) {
    return QueueItem::create({.id = uuidNumber(n),
                              .text = fmt::format("Article {} text", n),
                              .title = fmt::format("Article {}", n),
                              .sourceURL = Url::parse(fmt::format("https://example.com/{}", n)),
                              .voiceEngine = "kokoro",
                              .voiceID = "af_heart",
                              .durationSec = 60,
                              .state = state,
                              .createdAt = kStart.addingTimeInterval(n)});
}

platform::CloudRecordID recordID(const Uuid& id) {
    return {id.uuidString(), platform::CloudZoneID::defaultZone()};
}

// SHA-256 of the texts joined by NUL, first eight bytes big-endian.
std::uint64_t referenceHash(const std::vector<std::string>& parts) {
    std::string joined;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i) joined.push_back('\0');
        joined += parts[i];
    }
    const auto digest = platform::sha256(platform::asBytes(joined));
    std::uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v = (v << 8) | digest[static_cast<std::size_t>(i)];
    return v;
}

QueueItem workedExample() {
    return QueueItem::create({.text = "abc",
                              .title = "abc",
                              .voiceEngine = "appleSpeech",
                              .voiceID = "",
                              .durationSec = 0,
                              .state = QueueItem::State::pendingRender,
                              .createdAt = Date::fromTimeIntervalSince1970(0)});
}

TEST(QueueContentHash, WorkedExampleAndTheTextsItCovers) {
    const QueueItem example = workedExample();
    EXPECT_EQ(QueueCloudKitBridge::contentHash(example), 0xA5057C0C6AF83D72ull);
    EXPECT_EQ(QueueCloudKitBridge::contentHash(example), 11891046783917768050ull);

    QueueItem files = example;
    files.audioFileURL = Url::fromFilePath("/tmp/a.caf");
    files.heroImageURL = Url::fromFilePath("/tmp/h.webp");
    files.id = Uuid::random();
    EXPECT_EQ(QueueCloudKitBridge::contentHash(files), QueueCloudKitBridge::contentHash(example));

    QueueItem full = example;
    full.durationSec = 12.5;
    full.playedThru = 0.25;
    full.sourceApp = "Safari";
    full.sourceURL = Url::parse("https://example.com/a?b=1");
    full.createdAt = Date::fromTimeIntervalSince1970(-1.5005);  // -1500.5 ms, truncated toward zero
    full.completedAt = Date::fromTimeIntervalSince1970(1.0);
    full.renderError = "timed out";
    const std::uint64_t expected = referenceHash({"abc", "abc", "Safari", "https://example.com/a?b=1", "appleSpeech", "",
                                                  "12.500000", "pendingRender", "-1500", "0.250000", "1000", "timed out"});
    EXPECT_EQ(QueueCloudKitBridge::contentHash(full), expected);

    // A locale with a decimal comma changes nothing.
    const std::string previous = std::setlocale(LC_ALL, nullptr);
    if (std::setlocale(LC_ALL, "de_DE.UTF-8") || std::setlocale(LC_ALL, "de_DE.utf8")) {
        EXPECT_EQ(QueueCloudKitBridge::contentHash(full), expected);
        std::setlocale(LC_ALL, previous.c_str());
    }
}

TEST(QueueContentHash, EveryHashedFieldChangesIt) {
    const QueueItem base = makeItem(1);
    const std::uint64_t h = QueueCloudKitBridge::contentHash(base);
    const std::vector<std::pair<const char*, std::function<void(QueueItem&)>>> changes = {
        {"text", [](QueueItem& i) { i.text += "!"; }},
        {"title", [](QueueItem& i) { i.title += "!"; }},
        {"sourceApp", [](QueueItem& i) { i.sourceApp = "Safari"; }},
        {"sourceURL", [](QueueItem& i) { i.sourceURL.reset(); }},
        {"voiceEngine", [](QueueItem& i) { i.voiceEngine = "apple"; }},
        {"voiceID", [](QueueItem& i) { i.voiceID = "x"; }},
        {"durationSec", [](QueueItem& i) { i.durationSec += 0.000001; }},
        {"state", [](QueueItem& i) { i.state = QueueItem::State::archived; }},
        {"createdAt", [](QueueItem& i) { i.createdAt = i.createdAt.addingTimeInterval(0.001); }},
        {"playedThru", [](QueueItem& i) { i.playedThru = 30; }},
        {"completedAt", [](QueueItem& i) { i.completedAt = kMay1; }},
        {"renderError", [](QueueItem& i) { i.renderError = "x"; }},
    };
    QueueItem emptyApp = base;
    emptyApp.sourceApp = "";  // absent and empty are the same text
    EXPECT_EQ(QueueCloudKitBridge::contentHash(emptyApp), h);
    for (const auto& [name, change] : changes) {
        QueueItem changed = base;
        change(changed);
        EXPECT_NE(QueueCloudKitBridge::contentHash(changed), h) << name;
    }
}

TEST(QueueCloudKitBridgeRules, IsUpgradable) {
    QueueItem ready = makeItem(1);
    ready.voiceEngine = "apple";
    ready.audioFileURL = Url::fromFilePath("/a.caf");
    struct Case {
        const char* name;
        std::function<void(QueueItem&)> change;
        std::string preferred;
        bool expected;
    };
    const Case cases[] = {
        {"apple against appleSpeech", [](QueueItem&) {}, "appleSpeech", false},
        {"apple against APPLESPEECH", [](QueueItem&) {}, "APPLESPEECH", false},
        {"apple against kokoro", [](QueueItem&) {}, "kokoro", true},
        {"Kokoro against kokoro", [](QueueItem& i) { i.voiceEngine = "Kokoro"; }, "kokoro", false},
        {"played a little", [](QueueItem& i) { i.playedThru = 0.1; }, "kokoro", false},
        {"empty text", [](QueueItem& i) { i.text.clear(); }, "kokoro", false},
        {"no audio", [](QueueItem& i) { i.audioFileURL.reset(); }, "kokoro", false},
        {"not ready", [](QueueItem& i) { i.state = QueueItem::State::archived; }, "kokoro", false},
    };
    for (const Case& c : cases) {
        QueueItem item = ready;
        c.change(item);
        EXPECT_EQ(QueueCloudKitBridge::isUpgradable(item, c.preferred), c.expected) << c.name;
    }
}

class QueueCloudKitBridgeTest : public ::testing::Test {
protected:
    platform::ManualExecutor main;
    platform::FixedClock clock{kStart};
    RenderProgressStore progress{main};
    testsupport::TempDir home;
    ListenLaterCache cache{home / "caches"};
    platform::ScopedLogCapture logs;
    fs::path queueFile = home / "support" / "listen-later-queue.json";
    fs::path indexFile = home / "support" / "queue-dedup-index.json";
    std::shared_ptr<InMemoryCloudDatabase> db = std::make_shared<InMemoryCloudDatabase>();
    platform::Environment env;
    int databasesOpened = 0;
    std::string preferredEngine = "kokoro";
    std::vector<QueueItem> pending, upgradable;
    // What the pending callback does besides recording (an intake, say).
    std::function<void(const QueueItem&)> onPending;

    std::unique_ptr<QueueService> store = makeStore();
    std::unique_ptr<QueueDedupIndex> index = std::make_unique<QueueDedupIndex>(main, indexFile);
    std::unique_ptr<QueueCloudKitBridge> bridge;

    std::unique_ptr<QueueService> makeStore() {
        return std::make_unique<QueueService>(QueueService::Dependencies{main, clock, progress, cache, {}}, queueFile);
    }

    QueueCloudKitBridge& makeBridge() {
        bridge = std::make_unique<QueueCloudKitBridge>(
            QueueCloudKitBridge::Dependencies{main, env,
                                              [this](const std::string& container) {
                                                  EXPECT_EQ(container, "iCloud.com.kelvatrum.Parlowen");
                                                  ++databasesOpened;
                                                  return db;
                                              }},
            *store, QueueCloudKitBridge::kDefaultContainerIdentifier,
            [this](QueueItem item) {
                pending.push_back(item);
                if (onPending) onPending(item);
            },
            [this](QueueItem item) { upgradable.push_back(std::move(item)); }, [this] { return preferredEngine; },
            *index);
        return *bridge;
    }

    // Starts the bridge and lets the first pull and the first push pass finish.
    void startAndSettle() {
        if (!bridge) makeBridge();
        bridge->start();
        settle();
    }
    void settle() {
        main.runUntilIdle();
        main.advance(QueueCloudKitBridge::kDebounce);
        main.advanceUntilIdle(std::chrono::minutes(1));
    }
    template <class T>
    T run(platform::Task<T> task) {
        auto h = platform::spawn(main, std::move(task));
        main.runUntilIdle();
        main.advanceUntilIdle(std::chrono::minutes(1));
        EXPECT_TRUE(h.done());
        if constexpr (!std::is_void_v<T>) return h.value();
    }

    std::vector<std::string> callsOf(Op op) const {
        std::vector<std::string> out;
        for (const auto& c : db->calls())
            if (c.operation == op)
                for (const auto& n : c.recordNames) out.push_back(n);
        return out;
    }
    std::size_t queryCount() const {
        std::size_t n = 0;
        for (const auto& c : db->calls()) n += c.operation == Op::query;
        return n;
    }
    std::optional<std::uint64_t> indexed(const Uuid& id) { return run(index->hash(id)); }
    std::vector<std::string> bridgeLines() {
        std::vector<std::string> out;
        for (const auto& l : logs->linesOfCategory("cloudkit-bridge")) out.push_back(l.message);
        return out;
    }
    // A record as another writer of the database would store it.
    void putOnServer(const QueueItem& item) { db->insert(item.makeRecord(platform::CloudZoneID::defaultZone())); }
};

// ---- Push

TEST_F(QueueCloudKitBridgeTest, AFirstRunPushesEveryEntry250msAfterStartAndARelaunchPushesNothing) {
    const QueueItem a = makeItem(1), b = makeItem(2);
    store->ingest(a);
    store->ingest(b);
    makeBridge().start();
    main.runUntilIdle();
    EXPECT_EQ(queryCount(), 3u);  // the first pull ran at once
    main.advance(249ms);
    EXPECT_TRUE(callsOf(Op::save).empty());
    main.advance(1ms);
    main.advanceUntilIdle();
    EXPECT_EQ(callsOf(Op::save).size(), 2u);
    EXPECT_EQ(db->stored(recordID(a.id))->string("state"), "ready");
    EXPECT_EQ(indexed(a.id), QueueCloudKitBridge::contentHash(a));
    EXPECT_EQ(indexed(b.id), QueueCloudKitBridge::contentHash(b));
    EXPECT_TRUE(logs->contains("started observing QueueService for CloudKit push", platform::LogLevel::info));
    EXPECT_TRUE(logs->contains("pushed " + a.id.uuidString() + " state=ready", platform::LogLevel::info));

    // Relaunch: the index file is read back and nothing has changed.
    bridge.reset();
    store = makeStore();
    index = std::make_unique<QueueDedupIndex>(main, indexFile);
    db = std::make_shared<InMemoryCloudDatabase>();
    startAndSettle();
    EXPECT_TRUE(callsOf(Op::save).empty());
    EXPECT_TRUE(callsOf(Op::fetch).empty());
    EXPECT_TRUE(callsOf(Op::deleteRecord).empty());
}

TEST_F(QueueCloudKitBridgeTest, OnlyHashedChangesArePushed) {
    const QueueItem a = makeItem(1, QueueItem::State::rendering);
    store->ingest(a);
    startAndSettle();
    ASSERT_EQ(callsOf(Op::save).size(), 1u);

    store->setHeroImage(a.id, Url::fromFilePath(home / "hero.webp"));  // a file path alone
    settle();
    EXPECT_EQ(callsOf(Op::save).size(), 1u);

    store->updatePlayedThru(a.id, 12);
    settle();
    EXPECT_EQ(callsOf(Op::save).size(), 2u);
    EXPECT_EQ(db->stored(recordID(a.id))->number("playedThru"), 12);
}

TEST_F(QueueCloudKitBridgeTest, ABurstOfChangesIsOnePass) {
    startAndSettle();
    for (int i = 1; i <= 5; ++i) {
        store->ingest(makeItem(i));
        main.advance(100ms);
    }
    EXPECT_TRUE(callsOf(Op::save).empty());
    settle();
    EXPECT_EQ(callsOf(Op::save).size(), 5u);
    EXPECT_EQ(callsOf(Op::fetch).size(), 5u);
}

TEST_F(QueueCloudKitBridgeTest, TheSavedRecordTakesTheFurthestPositionAndTheEarliestCompletion) {
    struct Case {
        const char* name;
        std::optional<Date> local, server, expected;
    };
    const Case cases[] = {
        {"local later", kMay2, kMay1, kMay1},
        {"local earlier", kMay1, kMay2, kMay1},
        {"server only", std::nullopt, kMay1, kMay1},
        {"local only", kMay2, std::nullopt, kMay2},
        {"neither", std::nullopt, std::nullopt, std::nullopt},
    };
    int n = 0;
    makeBridge();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QueueItem local = makeItem(++n);
        local.playedThru = 30;
        local.completedAt = c.local;
        platform::CloudRecord server = makeItem(n).makeRecord(platform::CloudZoneID::defaultZone());
        server.set("playedThru", std::int64_t{120});
        if (c.server) server.set("completedAt", *c.server);
        else server.remove("completedAt");
        db->insert(server);

        run(bridge->pushItem(local));
        auto saved = db->stored(recordID(local.id));
        ASSERT_TRUE(saved);
        EXPECT_EQ(saved->number("playedThru"), 120);
        EXPECT_EQ(saved->date("completedAt"), c.expected);
    }
    // The fetch asks only for the two merged keys.
    const auto calls = db->calls();
    ASSERT_EQ(calls[0].operation, Op::fetch);
    EXPECT_EQ(calls[0].desiredKeys, (std::vector<std::string>{"playedThru", "completedAt"}));
}

TEST_F(QueueCloudKitBridgeTest, TheMergeChangesOnlyTheSentRecord) {
    QueueItem local = makeItem(1);
    local.playedThru = 30;
    store->ingest(local);
    platform::CloudRecord server = local.makeRecord(platform::CloudZoneID::defaultZone());
    server.set("playedThru", 120.0);
    db->insert(server);
    startAndSettle();
    EXPECT_EQ(db->stored(recordID(local.id))->number("playedThru"), 120);
    EXPECT_EQ(store->items()[0].playedThru, 30);
    EXPECT_EQ(indexed(local.id), QueueCloudKitBridge::contentHash(local));
}

TEST_F(QueueCloudKitBridgeTest, AFailedSaveIsPushedAgainByTheNextChange) {
    const QueueItem a = makeItem(1);
    store->ingest(a);
    db->failNext(Op::save, platform::cloudError(CloudErrorCode::networkFailure));
    startAndSettle();
    EXPECT_TRUE(logs->contains("push failed for " + a.id.uuidString() + ": The network connection was lost.",
                               platform::LogLevel::error));
    EXPECT_FALSE(indexed(a.id));
    EXPECT_FALSE(db->stored(recordID(a.id)));

    store->ingest(makeItem(2));  // any change of the queue
    settle();
    EXPECT_TRUE(db->stored(recordID(a.id)));
    EXPECT_EQ(indexed(a.id), QueueCloudKitBridge::contentHash(a));
}

TEST_F(QueueCloudKitBridgeTest, AFailedRecordInASuccessfulSaveCountsAsAFailedPush) {
    const QueueItem a = makeItem(1);
    store->ingest(a);
    db->failRecord(a.id.uuidString(), platform::cloudError(CloudErrorCode::quotaExceeded));
    startAndSettle();
    EXPECT_TRUE(logs->contains("push failed for " + a.id.uuidString() + ": The cloud storage quota is exceeded."));
    EXPECT_FALSE(indexed(a.id));
}

TEST_F(QueueCloudKitBridgeTest, ALocallyDeletedEntryIsDeletedOnTheServerOnce) {
    const QueueItem a = makeItem(1), b = makeItem(2);
    store->ingest(a);
    store->ingest(b);
    startAndSettle();
    logs->clear();

    store->remove(a.id);
    settle();
    EXPECT_EQ(callsOf(Op::deleteRecord), std::vector<std::string>{a.id.uuidString()});
    EXPECT_FALSE(db->stored(recordID(a.id)));
    EXPECT_FALSE(indexed(a.id));
    EXPECT_EQ(bridgeLines(), std::vector<std::string>{"pushed delete " + a.id.uuidString()});

    // Gone from the server already: unknownItem is silent.
    store->remove(b.id);
    db->insert(platform::CloudRecord("Other", recordID(Uuid::random())));
    ASSERT_TRUE(run(db->deleteRecord(recordID(b.id))));
    logs->clear();
    settle();
    EXPECT_TRUE(bridgeLines().empty());
    EXPECT_FALSE(indexed(b.id));
    store->ingest(makeItem(3));
    settle();
    EXPECT_EQ(callsOf(Op::deleteRecord).size(), 3u);  // a, b by the test, b by the bridge; no repeat
}

TEST_F(QueueCloudKitBridgeTest, IdsTheIndexKnowsButACleanQueueLacksAreDeleted) {
    const QueueItem gone = makeItem(9);
    putOnServer(gone);
    run(index->setHash(1, gone.id));
    startAndSettle();
    EXPECT_FALSE(db->stored(recordID(gone.id)));
    EXPECT_FALSE(indexed(gone.id));
}

TEST_F(QueueCloudKitBridgeTest, UnderTheTestHarnessNothingReachesADatabaseButHashesAreKept) {
    env = env.with("XCTestConfigurationFilePath", "/tmp/x.xctestconfiguration");
    const QueueItem a = makeItem(1);
    store->ingest(a);
    startAndSettle();
    EXPECT_EQ(databasesOpened, 0);
    EXPECT_FALSE(bridge->database());
    EXPECT_TRUE(db->calls().empty());
    EXPECT_EQ(indexed(a.id), QueueCloudKitBridge::contentHash(a));
    EXPECT_EQ(bridgeLines(), (std::vector<std::string>{"XCTest environment detected — skipping CKContainer init",
                                                      "started observing QueueService for CloudKit push"}));
    store->remove(a.id);
    settle();
    EXPECT_FALSE(indexed(a.id));
}

// ---- Mended faults

TEST_F(QueueCloudKitBridgeTest, AnUncleanQueueLoadKeepsTheServerRecords) {
    const QueueItem a = makeItem(1), b = makeItem(2);
    putOnServer(a);
    putOnServer(b);
    run(index->setHash(1, a.id));
    run(index->setHash(2, b.id));
    ASSERT_TRUE(platform::writeFileAtomically(queueFile, std::string_view("not json")));
    store = makeStore();
    ASSERT_FALSE(store->lastLoadWasClean());

    startAndSettle();
    EXPECT_TRUE(callsOf(Op::deleteRecord).empty());
    EXPECT_TRUE(db->stored(recordID(a.id)) && db->stored(recordID(b.id)));
    EXPECT_TRUE(run(index->knownIDs()).empty());

    // Later passes of this run and the next run delete nothing either.
    store->ingest(makeItem(3));
    settle();
    bridge.reset();
    store = makeStore();
    ASSERT_TRUE(store->lastLoadWasClean());
    index = std::make_unique<QueueDedupIndex>(main, indexFile);
    startAndSettle();
    EXPECT_TRUE(callsOf(Op::deleteRecord).empty());
    EXPECT_TRUE(db->stored(recordID(a.id)) && db->stored(recordID(b.id)));
}

TEST_F(QueueCloudKitBridgeTest, AFailedDeleteIsRetriedAndTheRecordIsNotPulledBackMeanwhile) {
    const QueueItem gone = makeItem(1, QueueItem::State::pendingRender);
    putOnServer(gone);
    run(index->setHash(1, gone.id));
    db->failNext(Op::deleteRecord, platform::cloudError(CloudErrorCode::networkUnavailable));
    startAndSettle();
    EXPECT_TRUE(logs->contains("delete failed for " + gone.id.uuidString() +
                                   ": The Internet connection appears to be offline.",
                               platform::LogLevel::error));
    EXPECT_EQ(indexed(gone.id), 1u);
    EXPECT_TRUE(db->stored(recordID(gone.id)));

    run(bridge->refreshPendingItems());
    EXPECT_TRUE(pending.empty());

    store->ingest(makeItem(2));
    settle();
    EXPECT_EQ(callsOf(Op::deleteRecord).size(), 2u);
    EXPECT_FALSE(db->stored(recordID(gone.id)));
    EXPECT_FALSE(indexed(gone.id));
}

TEST_F(QueueCloudKitBridgeTest, SnapshotsArrivingDuringAPassWaitAndTheLatestWins) {
    db->setLatency(1s);
    QueueItem a = makeItem(1, QueueItem::State::rendering);
    store->ingest(a);
    makeBridge().start();
    main.runUntilIdle();
    main.advance(5s);  // the first pull and the first pass are done
    ASSERT_EQ(callsOf(Op::save).size(), 1u);

    store->setState(a.id, QueueItem::State::ready);
    main.advance(300ms);  // pass 2 is fetching
    ASSERT_EQ(callsOf(Op::fetch).size(), 2u);
    store->updatePlayedThru(a.id, 5);
    main.advance(300ms);
    store->updatePlayedThru(a.id, 9);
    main.advance(300ms);
    EXPECT_EQ(callsOf(Op::fetch).size(), 2u);  // both snapshots wait for pass 2
    main.advanceUntilIdle();
    EXPECT_EQ(callsOf(Op::save).size(), 3u);  // pass 2, then one pass with the latest snapshot
    auto stored = db->stored(recordID(a.id));
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->string("state"), "ready");
    EXPECT_EQ(stored->number("playedThru"), 9);
    EXPECT_EQ(indexed(a.id), QueueCloudKitBridge::contentHash(store->items()[0]));
}

TEST_F(QueueCloudKitBridgeTest, AHeldFirstSaveDelaysTheSecondPassUntilItEnds) {
    db->setLatency(2s);
    QueueItem a = makeItem(1, QueueItem::State::rendering);
    store->ingest(a);
    makeBridge().start();
    main.runUntilIdle();
    main.advanceUntilIdle();  // pulls and the first pass done
    ASSERT_EQ(callsOf(Op::save).size(), 1u);
    db->setLatency(10s);
    store->setState(a.id, QueueItem::State::ready);  // pass 2: fetch then save, each 10 s
    main.advance(250ms);
    main.runUntilIdle();
    ASSERT_EQ(callsOf(Op::fetch).size(), 2u);
    store->updatePlayedThru(a.id, 7);  // pass 3 waits for pass 2
    main.advance(5s);
    EXPECT_EQ(callsOf(Op::fetch).size(), 2u);
    main.advance(15s);  // pass 2's save landed at 20 s; pass 3's fetch starts
    EXPECT_EQ(callsOf(Op::save).size(), 2u);
    EXPECT_EQ(callsOf(Op::fetch).size(), 3u);
    main.advanceUntilIdle();
    EXPECT_EQ(db->stored(recordID(a.id))->number("playedThru"), 7);
}

TEST_F(QueueCloudKitBridgeTest, AFailedFetchSkipsTheSaveAndRemovesTheHash) {
    QueueItem a = makeItem(1);
    putOnServer(a);
    platform::CloudRecord server = a.makeRecord(platform::CloudZoneID::defaultZone());
    server.set("playedThru", 200.0);
    db->insert(server);
    store->ingest(a);
    db->failNext(Op::fetch, platform::cloudError(CloudErrorCode::serviceUnavailable));
    startAndSettle();
    EXPECT_TRUE(callsOf(Op::save).empty());
    EXPECT_FALSE(indexed(a.id));
    EXPECT_TRUE(logs->contains("push failed for " + a.id.uuidString() + ": The cloud service is unavailable."));

    // A failed record in the fetch answer counts the same, unless it is "not found".
    store->ingest(makeItem(2));
    db->failRecord(a.id.uuidString(), platform::cloudError(CloudErrorCode::permissionFailure));
    settle();
    EXPECT_TRUE(callsOf(Op::save).size() == 1u);  // item 2 only
    EXPECT_EQ(db->stored(recordID(a.id))->number("playedThru"), 200);
}

// ---- Pulls

TEST_F(QueueCloudKitBridgeTest, PendingRecordsAreHandedOverNewestFirstUnlessQueued) {
    const Date ten = *platform::parseIso8601("2026-05-01T10:00:00Z");
    QueueItem r1 = makeItem(1, QueueItem::State::pendingRender), r2 = makeItem(2, QueueItem::State::pendingRender),
              r3 = makeItem(3, QueueItem::State::pendingRender), queued = makeItem(4, QueueItem::State::pendingRender);
    r1.createdAt = ten;
    r2.createdAt = ten.addingTimeInterval(300);
    r3.createdAt = ten.addingTimeInterval(600);
    for (const auto& r : {r1, r2, r3, queued}) putOnServer(r);
    putOnServer(makeItem(5, QueueItem::State::ready));
    platform::CloudRecord malformed("QueueItem", recordID(uuidNumber(6)));
    malformed.set("state", std::string("pendingRender"));
    db->insert(malformed);
    store->ingest(queued);
    makeBridge();

    run(bridge->pullPendingItems());
    ASSERT_EQ(pending.size(), 3u);
    EXPECT_EQ(pending[0], r3);
    EXPECT_EQ(pending[1].id, r2.id);
    EXPECT_EQ(pending[2].id, r1.id);
    EXPECT_EQ(bridgeLines(), std::vector<std::string>{"pulled 3 pendingRender items"});
    const auto query = db->calls().back().query;
    ASSERT_TRUE(query);
    EXPECT_EQ(query->recordType, "QueueItem");
    EXPECT_EQ(std::get<std::string>(query->predicate->value), "pendingRender");
    EXPECT_EQ(query->sortDescriptors.size(), 1u);
    EXPECT_FALSE(query->sortDescriptors[0].ascending);
    EXPECT_EQ(db->calls().back().resultsLimit, platform::kCloudMaximumResults);

    // Everything already queued: nothing handed over, nothing logged.
    for (const auto& r : {r1, r2, r3}) store->ingest(r);
    pending.clear();
    logs->clear();
    run(bridge->pullPendingItems());
    EXPECT_TRUE(pending.empty());
    EXPECT_TRUE(bridgeLines().empty());
}

TEST_F(QueueCloudKitBridgeTest, AnEntryQueuedByTheCallbackIsSeenByLaterRecordsOfTheWalk) {
    QueueItem item = makeItem(1, QueueItem::State::pendingRender);
    putOnServer(item);
    // The same id under its lower-case name, older: the walk meets it second.
    QueueItem older = item;
    older.createdAt = item.createdAt.addingTimeInterval(-60);
    platform::CloudRecord lower = older.makeRecord(platform::CloudZoneID::defaultZone());
    platform::CloudRecord renamed("QueueItem", {fmt::format("{}", [&] {
                                      std::string s = item.id.uuidString();
                                      for (char& c : s) c = static_cast<char>(std::tolower(c));
                                      return s;
                                  }()), platform::CloudZoneID::defaultZone()});
    for (const auto& [k, v] : lower.values()) renamed.set(k, v);
    db->insert(renamed);
    onPending = [this](const QueueItem& i) { store->ingest(i); };
    makeBridge();
    run(bridge->pullPendingItems());
    ASSERT_EQ(pending.size(), 1u);
    EXPECT_EQ(pending[0].createdAt, item.createdAt);
}

TEST_F(QueueCloudKitBridgeTest, UpgradableRecordsAreOfferedForThePreferredEngine) {
    QueueItem apple = makeItem(1), played = makeItem(2), kokoro = makeItem(3);
    std::ofstream(home / "a.caf") << "audio";
    for (QueueItem* i : {&apple, &played, &kokoro}) i->audioFileURL = Url::fromFilePath(home / "a.caf");
    apple.voiceEngine = "apple";
    played.voiceEngine = "apple";
    played.playedThru = 0.5;
    for (const auto& i : {apple, played, kokoro}) putOnServer(i);
    makeBridge();

    preferredEngine = "appleSpeech";
    run(bridge->pullUpgradableItems());
    EXPECT_EQ(upgradable.size(), 1u);  // only the kokoro one
    EXPECT_EQ(bridgeLines(), std::vector<std::string>{"offered 1 upgradable items (preferred=appleSpeech)"});

    upgradable.clear();
    logs->clear();
    preferredEngine = "kokoro";
    run(bridge->pullUpgradableItems());
    ASSERT_EQ(upgradable.size(), 1u);
    EXPECT_EQ(upgradable[0].id, apple.id);
    EXPECT_TRUE(upgradable[0].audioFileURL);
    EXPECT_EQ(bridgeLines(), std::vector<std::string>{"offered 1 upgradable items (preferred=kokoro)"});

    // No preference: no query, no line.
    const std::size_t queries = queryCount();
    logs->clear();
    preferredEngine.clear();
    run(bridge->pullUpgradableItems());
    EXPECT_EQ(queryCount(), queries);
    EXPECT_TRUE(bridgeLines().empty());
}

TEST_F(QueueCloudKitBridgeTest, ErrorRecordsWorthARetryAreRescuedAsPending) {
    struct Case {
        const char* name;
        bool hasSourceURL;
        std::optional<std::string> renderError;
        bool rescued;
    };
    const Case cases[] = {
        {"timeout", true, "The request timed out.", true},
        {"lost connection", true, "The network connection was lost.", true},
        {"no error text", true, std::nullopt, true},
        {"no source URL", false, "The request timed out.", false},
        {"page not found", true, "HTTP 404 not found", false},
    };
    int n = 0;
    for (const Case& c : cases) {
        QueueItem item = makeItem(++n, QueueItem::State::error);
        if (!c.hasSourceURL) item.sourceURL.reset();
        item.renderError = c.renderError;
        putOnServer(item);
    }
    makeBridge();
    run(bridge->rescueErrorItems());
    std::set<Uuid> rescuedIDs;
    for (const auto& p : pending) {
        EXPECT_EQ(p.state, QueueItem::State::pendingRender);
        EXPECT_FALSE(p.renderError);
        rescuedIDs.insert(p.id);
    }
    n = 0;
    for (const Case& c : cases) EXPECT_EQ(rescuedIDs.count(uuidNumber(++n)) == 1, c.rescued) << c.name;
    EXPECT_EQ(bridgeLines(), std::vector<std::string>{"rescued 3 error items for re-render"});
    EXPECT_EQ(db->stored(recordID(uuidNumber(1)))->string("state"), "error");  // the server is left as it was
}

TEST_F(QueueCloudKitBridgeTest, QueryFailuresEndOnlyTheirPull) {
    makeBridge();
    putOnServer(makeItem(1, QueueItem::State::pendingRender));
    db->failNext(Op::query, platform::cloudError(CloudErrorCode::unknownItem));
    run(bridge->pullAll());
    EXPECT_EQ(queryCount(), 3u);
    EXPECT_TRUE(bridgeLines().empty());  // unknownItem is silent; nothing else matched

    struct Case {
        std::function<platform::Task<void>()> pull;
        std::string line;
    };
    const Case cases[] = {
        {[this] { return bridge->pullPendingItems(); }, "pendingRender fetch failed: The network connection was lost."},
        {[this] { return bridge->pullUpgradableItems(); }, "upgradable fetch failed: The network connection was lost."},
        {[this] { return bridge->rescueErrorItems(); }, "error-item rescue fetch failed: The network connection was lost."},
    };
    for (const Case& c : cases) {
        logs->clear();
        db->failNext(Op::query, platform::cloudError(CloudErrorCode::networkFailure));
        run(c.pull());
        EXPECT_EQ(bridgeLines(), std::vector<std::string>{c.line});
    }
}

TEST_F(QueueCloudKitBridgeTest, PerRecordFailuresAreSkippedAndOnlyTheFirstBatchIsUsed) {
    for (int i = 1; i <= 3; ++i) putOnServer(makeItem(i, QueueItem::State::pendingRender));
    db->failRecord(uuidNumber(3).uuidString(), platform::cloudError(CloudErrorCode::permissionFailure));
    db->setBatchSize(2);
    makeBridge();
    run(bridge->pullPendingItems());
    // Newest first: 3 (failed) and 2; 1 would need a second batch.
    ASSERT_EQ(pending.size(), 1u);
    EXPECT_EQ(pending[0].id, uuidNumber(2));
    EXPECT_EQ(queryCount(), 1u);
    EXPECT_EQ(bridgeLines(), (std::vector<std::string>{
                                 "pending fetch result failed: Permission to the cloud database was denied.",
                                 "pulled 1 pendingRender items"}));
}

}  // namespace
