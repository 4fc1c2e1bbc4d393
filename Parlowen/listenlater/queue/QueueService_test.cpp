#include <gtest/gtest.h>

#include <fstream>

#include <nlohmann/json.hpp>

#include "Parlowen/listenlater/queue/QueueService.h"
#include "platform/log/CaptureSink.h"
#include "platform/runtime/ManualExecutor.h"
#include "platform/testsupport/TempHome.h"
#include "platform/values/Files.h"

using namespace parlowen;
using namespace std::chrono_literals;
using platform::Date;
using platform::Url;
using platform::Uuid;
namespace fs = std::filesystem;

namespace {

const Date kStart = Date::fromTimeIntervalSinceReferenceDate(700000000);

class QueueServiceTest : public ::testing::Test {
protected:
    platform::ManualExecutor main;
    platform::FixedClock clock{kStart};
    RenderProgressStore progress{main};
    testsupport::TempDir home;
    ListenLaterCache cache{home / "caches"};
    std::vector<Uuid> podcastRemovals;
    platform::ScopedLogCapture logs;
    fs::path file = home / "support" / "com.kelvatrum.Parlowen" / "listen-later-queue.json";

    std::unique_ptr<QueueService> makeStore(fs::path at) {
        return std::make_unique<QueueService>(
            QueueService::Dependencies{main, clock, progress, cache,
                                       [this](const Uuid& id) { podcastRemovals.push_back(id); }},
            std::move(at));
    }
    std::unique_ptr<QueueService> makeStore() { return makeStore(file); }

    std::string fileText() const {
        auto bytes = platform::readFile(file);
        return bytes ? platform::toString(*bytes) : std::string("<no file>");
    }
    nlohmann::json fileJson() const { return nlohmann::json::parse(fileText()); }

    QueueItem itemAt(const QueueService& store, const Uuid& id) const {
        for (const auto& item : store.items())
            if (item.id == id) return item;
        ADD_FAILURE() << "no item " << id.uuidString();
        return {};
    }

    QueueItem addItem(QueueService& store, std::string text = "Some article text") {
        return store.add({.text = std::move(text), .voiceEngine = "kokoro", .voiceID = "af_heart"});
    }
};

TEST_F(QueueServiceTest, StartsEmptyWithoutAFileAndTheFirstAddCreatesIt) {
    auto store = makeStore();
    EXPECT_TRUE(store->items().empty());
    EXPECT_TRUE(store->lastLoadWasClean());
    EXPECT_TRUE(logs->lines().empty());
    EXPECT_FALSE(fs::exists(file.parent_path()));

    const QueueItem item = addItem(*store, "Hello\n\nworld");
    const auto j = fileJson();
    ASSERT_TRUE(j.is_array());
    ASSERT_EQ(j.size(), 1u);
    EXPECT_EQ(j[0]["id"], item.id.uuidString());
    EXPECT_EQ(item.title, "Hello world");
    EXPECT_EQ(item.state, QueueItem::State::rendering);
    EXPECT_EQ(item.durationSec, 0);
    EXPECT_EQ(item.playedThru, 0);
    EXPECT_EQ(item.createdAt, kStart);
    EXPECT_EQ(logs->messages(), std::vector<std::string>{"add: " + item.id.uuidString() +
                                                         " chars=12 engine=kokoro hero=<none>"});
}

TEST_F(QueueServiceTest, AddsGoToTheFrontAndReloadInFileOrder) {
    auto store = makeStore();
    const QueueItem first = addItem(*store);
    clock.advance(10);
    const QueueItem second = store->add({.text = "x",
                                         .title = "",
                                         .voiceEngine = "appleSpeech",
                                         .heroImageURL = Url::fromFilePath("/c/ID-hero.webp")});
    EXPECT_EQ(second.title, "");  // an empty title stays empty
    EXPECT_TRUE(logs->contains("engine=appleSpeech hero=ID-hero.webp"));
    ASSERT_EQ(store->items().size(), 2u);
    EXPECT_EQ(store->items()[0].id, second.id);
    EXPECT_EQ(store->items()[1].id, first.id);
    EXPECT_EQ(store->activeItems()[0].id, second.id);

    store.reset();
    logs->clear();
    auto reloaded = makeStore();
    EXPECT_EQ(reloaded->items(), (std::vector<QueueItem>{second, first}));
    EXPECT_EQ(logs->messages(), std::vector<std::string>{"loaded 2 items from disk"});
}

TEST_F(QueueServiceTest, IngestRefusesKnownIdentifiersAndActiveItemsOrderByCreation) {
    auto store = makeStore();
    const QueueItem recent = addItem(*store);
    QueueItem old = QueueItem::create({.id = Uuid::random(),
                                       .text = "pulled",
                                       .state = QueueItem::State::pendingRender,
                                       .createdAt = kStart.addingTimeInterval(-3600)});
    EXPECT_TRUE(store->ingest(old));
    EXPECT_TRUE(logs->contains("ingest: " + old.id.uuidString() + " chars=6 state=pendingRender"));
    EXPECT_EQ(store->items()[0], old);  // inserted unchanged at the front
    EXPECT_EQ(store->activeItems()[0].id, recent.id);
    EXPECT_EQ(store->activeItems()[1].id, old.id);

    fs::remove(file);
    logs->clear();
    QueueItem again = old;
    again.text = "changed";
    EXPECT_FALSE(store->ingest(again));
    EXPECT_FALSE(fs::exists(file));  // nothing written
    EXPECT_TRUE(logs->lines().empty());
    EXPECT_EQ(itemAt(*store, old.id).text, "pulled");
}

TEST_F(QueueServiceTest, ActiveItemsHideFailedAndArchivedAndKeepEqualTimesInListOrder) {
    auto store = makeStore();
    std::vector<Uuid> ids;
    for (auto state : {QueueItem::State::pendingRender, QueueItem::State::rendering, QueueItem::State::ready,
                       QueueItem::State::error, QueueItem::State::archived}) {
        QueueItem item = QueueItem::create({.id = Uuid::random(), .text = "t", .state = state, .createdAt = kStart});
        ASSERT_TRUE(store->ingest(item));
        ids.push_back(item.id);
    }
    const auto active = store->activeItems();
    ASSERT_EQ(active.size(), 3u);
    EXPECT_EQ(active[0].id, ids[2]);
    EXPECT_EQ(active[1].id, ids[1]);
    EXPECT_EQ(active[2].id, ids[0]);
}

TEST_F(QueueServiceTest, HeroImageIsWrittenOnlyWhenItChanges) {
    auto store = makeStore();
    const QueueItem item = addItem(*store);
    const Url hero = Url::fromFilePath("/cache/" + item.id.uuidString() + "-hero.png");
    store->setHeroImage(item.id, hero);
    EXPECT_EQ(itemAt(*store, item.id).heroImageURL, hero);
    EXPECT_TRUE(logs->contains("hero-image: " + item.id.uuidString() + " " + item.id.uuidString() + "-hero.png"));

    fs::remove(file);
    store->setHeroImage(item.id, hero);
    store->setHeroImage(Uuid::random(), hero);
    EXPECT_FALSE(fs::exists(file));
}

TEST_F(QueueServiceTest, MarkAudioReadyClearsTheErrorAndProgressAndAnnouncesEachField) {
    auto store = makeStore();
    const QueueItem item = addItem(*store);
    store->setState(item.id, QueueItem::State::error, "Synthesis failed: x");
    progress.update(item.id, 0.4);

    int announcements = 0;
    auto sub = store->itemsStream().subscribe([&](const std::vector<QueueItem>&) { ++announcements; });
    const Url audio = Url::fromFilePath("/cache/" + item.id.uuidString() + ".caf");
    store->markAudioReady(item.id, audio, 42.5);

    EXPECT_EQ(announcements, 1 + 4);  // the current value, then one per field
    const QueueItem ready = itemAt(*store, item.id);
    EXPECT_EQ(ready.state, QueueItem::State::ready);
    EXPECT_EQ(ready.renderError, std::nullopt);
    EXPECT_EQ(ready.audioFileURL, audio);
    EXPECT_EQ(ready.durationSec, 42.5);
    EXPECT_EQ(progress.progress().count(item.id), 0u);
    EXPECT_EQ(fileJson()[0]["state"], "ready");
    EXPECT_TRUE(logs->contains("audio-ready: " + item.id.uuidString() + " duration=42.500000s"));
}

TEST_F(QueueServiceTest, SetStateStoresTheErrorOnlyForError) {
    auto store = makeStore();
    const QueueItem item = addItem(*store);
    progress.update(item.id, 0.5);
    store->setState(item.id, QueueItem::State::error, "Engine unavailable: gone");
    EXPECT_EQ(itemAt(*store, item.id).renderError, "Engine unavailable: gone");
    EXPECT_TRUE(progress.progress().empty());
    EXPECT_TRUE(logs->contains("state: " + item.id.uuidString() + " \u2192 error"));

    progress.update(item.id, 0.1);
    store->setState(item.id, QueueItem::State::rendering, "ignored");
    EXPECT_EQ(itemAt(*store, item.id).state, QueueItem::State::rendering);
    EXPECT_EQ(itemAt(*store, item.id).renderError, "Engine unavailable: gone");
    EXPECT_EQ(progress.progress().at(item.id), 0.1);
    EXPECT_EQ(fileJson()[0]["state"], "rendering");

    store->setState(item.id, QueueItem::State::error);
    EXPECT_EQ(itemAt(*store, item.id).renderError, std::nullopt);
}

TEST_F(QueueServiceTest, CompletionAtNinetyFivePercentIsSetOnceAndWrittenAtOnce) {
    auto store = makeStore();
    const QueueItem item = addItem(*store);
    store->markAudioReady(item.id, Url::fromFilePath("/a.caf"), 100);
    const std::string before = fileText();

    store->updatePlayedThru(item.id, 94.9);
    EXPECT_EQ(itemAt(*store, item.id).completedAt, std::nullopt);
    EXPECT_TRUE(store->persistPending());
    EXPECT_EQ(fileText(), before);

    clock.advance(5);
    store->updatePlayedThru(item.id, 95);
    const Date completed = kStart.addingTimeInterval(5);
    EXPECT_EQ(itemAt(*store, item.id).completedAt, completed);
    EXPECT_FALSE(store->persistPending());  // the waiting write was folded into this one
    EXPECT_EQ(fileJson()[0]["completedAt"], completed.timeIntervalSinceReferenceDate());
    EXPECT_EQ(fileJson()[0]["playedThru"], 95);

    clock.advance(5);
    store->updatePlayedThru(item.id, 10);
    EXPECT_EQ(itemAt(*store, item.id).completedAt, completed);
    EXPECT_TRUE(store->persistPending());
    main.advance(500ms);
    EXPECT_EQ(fileJson()[0]["playedThru"], 10);
    EXPECT_EQ(fileJson()[0]["completedAt"], completed.timeIntervalSinceReferenceDate());
    EXPECT_FALSE(store->persistPending());
}

TEST_F(QueueServiceTest, WithoutADurationNoPositionCompletes) {
    auto store = makeStore();
    const QueueItem item = addItem(*store);
    for (double position : {0.0, 1.0, 1e9}) store->updatePlayedThru(item.id, position);
    EXPECT_EQ(itemAt(*store, item.id).completedAt, std::nullopt);
    EXPECT_EQ(itemAt(*store, item.id).playedThru, 1e9);
}

TEST_F(QueueServiceTest, ABurstOfPositionsIsWrittenOnceHalfASecondAfterTheLast) {
    auto store = makeStore();
    const QueueItem item = addItem(*store);
    store->markAudioReady(item.id, Url::fromFilePath("/a.caf"), 600);
    const std::string before = fileText();

    for (int i = 1; i <= 10; ++i) {
        store->updatePlayedThru(item.id, i);
        if (i < 10) main.advance(100ms);
        EXPECT_EQ(fileText(), before) << "written early, after update " << i;
    }
    main.advance(499ms);
    EXPECT_EQ(fileText(), before);
    main.advance(1ms);
    EXPECT_EQ(fileJson()[0]["playedThru"], 10);
    EXPECT_EQ(main.pendingTimers(), 0u);
}

TEST_F(QueueServiceTest, ADelayedWriteDiesWithTheStoreOrIsFlushed) {
    auto store = makeStore();
    const QueueItem item = addItem(*store);
    store->updatePlayedThru(item.id, 3);
    store->flushPendingPersist();
    EXPECT_EQ(fileJson()[0]["playedThru"], 3);
    EXPECT_FALSE(store->persistPending());

    store->updatePlayedThru(item.id, 4);
    store.reset();
    main.advance(1s);  // the cancelled write does not run into a destroyed store
    EXPECT_EQ(fileJson()[0]["playedThru"], 3);
}

TEST_F(QueueServiceTest, DeleteRemovesFilesAndPodcastRecordAndWritesEvenForUnknownIds) {
    auto store = makeStore();
    const QueueItem keep = addItem(*store);
    const QueueItem gone = addItem(*store);
    for (const Url& u : {cache.audioFileURL(gone.id, "caf"), cache.heroImageURL(gone.id, "jpg"),
                         cache.podcastAudioFileURL(gone.id), cache.audioFileURL(keep.id, "caf")})
        std::ofstream(u.filePath()) << "x";

    store->remove(gone.id);
    ASSERT_EQ(store->items().size(), 1u);
    EXPECT_EQ(store->items()[0].id, keep.id);
    EXPECT_EQ(fileJson().size(), 1u);
    EXPECT_FALSE(fs::exists(cache.audioFileURL(gone.id, "caf").filePath()));
    EXPECT_FALSE(fs::exists(cache.podcastAudioFileURL(gone.id).filePath()));
    EXPECT_TRUE(fs::exists(cache.audioFileURL(keep.id, "caf").filePath()));
    EXPECT_EQ(podcastRemovals, std::vector<Uuid>{gone.id});

    fs::remove(file);
    const Uuid unknown = Uuid::random();
    store->remove(unknown);
    EXPECT_EQ(fileJson().size(), 1u);  // rewritten all the same
    EXPECT_TRUE(logs->contains("delete: " + unknown.uuidString()));
    EXPECT_EQ(podcastRemovals.back(), unknown);
}

TEST_F(QueueServiceTest, AnUnreadableQueueFileIsMovedAsideNotOverwritten) {
    const std::string bad = R"([{"text":"kept","state":"ready"},{"text":"bad","state":"READY"}])";
    ASSERT_TRUE(platform::writeFileAtomically(file, bad));
    clock.set(Date::fromTimeIntervalSince1970(1741515300));  // 2025-03-09T10:15:00Z

    auto store = makeStore();
    EXPECT_TRUE(store->items().empty());
    EXPECT_FALSE(store->lastLoadWasClean());
    EXPECT_TRUE(logs->contains("load failed: ", platform::LogLevel::error));
    const fs::path aside = file.parent_path() / "listen-later-queue.json.corrupt-20250309T101500Z";
    EXPECT_EQ(store->movedAsideFile(), aside);
    EXPECT_FALSE(fs::exists(file));

    addItem(*store);
    EXPECT_EQ(fileJson().size(), 1u);
    EXPECT_EQ(platform::toString(*platform::readFile(aside)), bad);  // the user's data is still there
}

TEST_F(QueueServiceTest, PruningRemovesOnlyOrphansAndNothingAfterAnUnreadableQueueFile) {
    const Uuid orphan = Uuid::random();
    auto touch = [](const Url& u) { std::ofstream(u.filePath()) << "x"; };
    {
        auto store = makeStore();
        const QueueItem kept = addItem(*store);
        touch(cache.audioFileURL(kept.id, "caf"));
        touch(cache.audioFileURL(orphan, "caf"));
        touch(cache.heroImageURL(orphan, "jpg"));
        EXPECT_EQ(pruneOrphanedRenders(*store, cache), 2u);
        EXPECT_TRUE(fs::exists(cache.audioFileURL(kept.id, "caf").filePath()));
        EXPECT_FALSE(fs::exists(cache.audioFileURL(orphan, "caf").filePath()));
    }
    // The queue file is unreadable: the empty queue is no reason to delete audio.
    ASSERT_TRUE(platform::writeFileAtomically(file, std::string_view("[{\"text\":")));
    touch(cache.audioFileURL(orphan, "caf"));
    auto store = makeStore();
    ASSERT_FALSE(store->lastLoadWasClean());
    EXPECT_EQ(pruneOrphanedRenders(*store, cache), 0u);
    EXPECT_TRUE(fs::exists(cache.audioFileURL(orphan, "caf").filePath()));
    EXPECT_TRUE(logs->contains("queue did not load cleanly; render cache left as it is"));
}

TEST_F(QueueServiceTest, InvalidJsonAndWrongShapesAreUnreadableToo) {
    for (const char* text : {"[{\"text\":", "{\"text\":\"t\"}", "[{\"durationSec\":\"12\"}]", ""}) {
        fs::remove_all(file.parent_path());
        ASSERT_TRUE(platform::writeFileAtomically(file, std::string_view(text)));
        auto store = makeStore();
        EXPECT_TRUE(store->items().empty()) << text;
        EXPECT_FALSE(store->lastLoadWasClean()) << text;
        EXPECT_TRUE(store->movedAsideFile()) << text;
    }
}

TEST_F(QueueServiceTest, AWriteThatFailsIsLoggedAndTheListKept) {
    std::ofstream(home / "blocker") << "a file where a folder should be";
    auto store = makeStore(home / "blocker" / "sub" / "listen-later-queue.json");
    const QueueItem item = addItem(*store);
    EXPECT_TRUE(logs->contains("persist failed: ", platform::LogLevel::error));
    ASSERT_EQ(store->items().size(), 1u);
    EXPECT_EQ(store->items()[0].id, item.id);
    EXPECT_TRUE(logs->contains("add: "));  // the operation still completes and logs
}

TEST_F(QueueServiceTest, NonFiniteNumbersNeverReachTheFile) {
    auto store = makeStore();
    const QueueItem item = addItem(*store);
    store->markAudioReady(item.id, Url::fromFilePath("/a.caf"), std::nan(""));
    EXPECT_EQ(itemAt(*store, item.id).durationSec, 0);
    store->updatePlayedThru(item.id, std::numeric_limits<double>::infinity());
    EXPECT_EQ(itemAt(*store, item.id).playedThru, 0);
    main.advance(1s);
    EXPECT_FALSE(logs->contains("persist failed"));
    EXPECT_EQ(fileJson()[0]["durationSec"], 0);
}

TEST_F(QueueServiceTest, DefaultLocationIsUnderApplicationSupport) {
    platform::XdgDirs dirs(platform::Environment({{"HOME", "/home/u"}, {"XDG_DATA_HOME", "/data"}}));
    EXPECT_EQ(QueueService::defaultStorageURL(dirs), fs::path("/data/com.kelvatrum.Parlowen/listen-later-queue.json"));
}

}  // namespace
