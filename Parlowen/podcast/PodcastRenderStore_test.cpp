#include "Parlowen/podcast/PodcastRenderStore.h"

#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "Parlowen/podcast/PodcastTestSupport.h"
#include "platform/runtime/ManualExecutor.h"
#include "platform/testsupport/TempHome.h"
#include "platform/values/Files.h"

namespace parlowen {
namespace {

namespace fs = std::filesystem;
using platform::Json;
using platform::Uuid;
using State = PodcastRender::State;

const Uuid kItem = *Uuid::fromString("0A1B2C3D-4E5F-4061-8273-849506172839");
const Uuid kOther = *Uuid::fromString("11111111-2222-4333-8444-555555555555");
const Uuid kThird = *Uuid::fromString("99999999-8888-4777-8666-555555555555");

struct StoreFixture : ::testing::Test {
    testsupport::TempDir dir;
    platform::ManualExecutor main;
    platform::FixedClock clock{platform::Date::fromTimeIntervalSinceReferenceDate(800'000'000)};
    fs::path file = dir / "data" / "podcast-renders.json";

    std::unique_ptr<PodcastRenderStore> open() { return std::make_unique<PodcastRenderStore>(main, clock, file); }
    void writeFile(const std::string& text) {
        fs::create_directories(file.parent_path());
        std::ofstream(file) << text;
    }
    Json readFile() const {
        auto bytes = platform::readFile(file);
        return *platform::decodeJson(platform::ByteView(*bytes));
    }
    fs::file_time_type stamp() const { return fs::last_write_time(file); }
};

PodcastRender readyRender() {
    PodcastRender r;
    r.state = State::ready;
    r.scriptText = "QUON: Hi\n\nNELL: Hello";
    r.audioURL = platform::Url::fromFilePath("/tmp/cache/x-podcast.caf");
    r.durationSec = 12.5;
    r.hostAVoiceID = "Puck";
    r.hostBVoiceID = "Charon";
    r.renderedAt = platform::Date::fromTimeIntervalSinceReferenceDate(781'234'567.125);
    r.playedThru = 3.25;
    return r;
}

TEST(PodcastRenderStoreDefaults, FileUnderTheApplicationDataFolder) {
    platform::XdgDirs dirs(platform::Environment(std::map<std::string, std::string>{{"XDG_DATA_HOME", "/data"}, {"HOME", "/home/u"}}));
    EXPECT_EQ(PodcastRenderStore::defaultStorageURL(dirs), fs::path("/data/com.kelvatrum.Parlowen/podcast-renders.json"));
}

TEST_F(StoreFixture, NoFileMeansEmptyAndNothingWritten) {
    auto store = open();
    EXPECT_TRUE(store->renders().empty());
    EXPECT_FALSE(fs::exists(file));
}

TEST_F(StoreFixture, RecordsRoundTripWithAbsentOptionalsOmitted) {
    {
        auto store = open();
        store->set(readyRender(), kItem);
        PodcastRender fresh;
        fresh.state = State::generatingScript;
        store->set(fresh, kOther);
    }
    auto json = readFile();
    EXPECT_EQ(json[kItem.uuidString()]["renderedAt"].get<double>(), 781'234'567.125);
    EXPECT_EQ(json[kItem.uuidString()]["audioURL"], "file:///tmp/cache/x-podcast.caf");
    EXPECT_EQ(json[kOther.uuidString()], (Json{{"state", "generatingScript"}, {"playedThru", 0.0}}));

    auto reopened = open();
    EXPECT_EQ(reopened->render(kItem), readyRender());
    // The interrupted request is recovered as an error.
    EXPECT_EQ(reopened->render(kOther)->state, State::error);
}

TEST_F(StoreFixture, NullReadsAsMissingAndPlayedThruDefaultsToZero) {
    writeFile(R"({"0a1b2c3d-4e5f-4061-8273-849506172839":{"state":"ready","scriptText":null,"error":null,"durationSec":4}})");
    auto store = open();
    auto render = store->render(kItem);
    ASSERT_TRUE(render);
    EXPECT_EQ(render->scriptText, std::nullopt);
    EXPECT_EQ(render->error, std::nullopt);
    EXPECT_EQ(render->durationSec, 4.0);
    EXPECT_EQ(render->playedThru, 0.0);
}

TEST_F(StoreFixture, TransitionSetsAndClearsTheError) {
    auto store = open();
    store->set(readyRender(), kItem);
    store->transition(kItem, State::error, "boom");
    EXPECT_EQ(store->render(kItem)->error, "boom");
    store->transition(kItem, State::ready);
    auto render = store->render(kItem);
    EXPECT_EQ(render->error, std::nullopt);
    EXPECT_EQ(render->scriptText, readyRender().scriptText);
    store->transition(kItem, State::error);
    EXPECT_EQ(store->render(kItem)->state, State::error);
    EXPECT_EQ(store->render(kItem)->error, std::nullopt);
    EXPECT_FALSE(readFile()[kItem.uuidString()].contains("error"));
}

TEST_F(StoreFixture, OperationsWithoutARecordWriteNothing) {
    platform::ScopedLogCapture log;
    auto store = open();
    store->transition(kItem, State::error, "x");
    store->updatePlayedThru(kItem, 5);
    store->remove(kItem);
    EXPECT_TRUE(store->renders().empty());
    EXPECT_FALSE(fs::exists(file));
    EXPECT_TRUE(podcasttest::messagesOf(log, "podcast-store").empty());
}

TEST_F(StoreFixture, ChangesAreAnnouncedWrittenAndLogged) {
    platform::ScopedLogCapture log;
    auto store = open();
    std::vector<std::size_t> seen;
    auto sub = store->rendersStream().subscribe([&](const PodcastRenderStore::Renders& r) { seen.push_back(r.size()); });
    store->set(readyRender(), kItem);
    store->updatePlayedThru(kItem, 42);
    EXPECT_EQ(readFile()[kItem.uuidString()]["playedThru"], 42.0);
    store->transition(kItem, State::error, "x");
    store->remove(kItem);
    EXPECT_EQ(readFile(), Json::object());
    EXPECT_EQ(seen, (std::vector<std::size_t>{0, 1, 1, 1, 0}));
    const auto id = kItem.uuidString();
    EXPECT_EQ(podcasttest::messagesOf(log, "podcast-store"),
              (std::vector<std::string>{"set: " + id + " state=ready", "state: " + id + " \u2192 error",
                                        "remove: " + id}));
}

TEST_F(StoreFixture, RecoveryRewritesOnceAndLeavesSettledRecords) {
    Json json = Json::object();
    const auto states = {std::pair{"generatingScript", kItem}, std::pair{"rendering", kOther}};
    for (auto [state, id] : states) json[id.uuidString()] = Json{{"state", state}, {"scriptText", "s"}, {"playedThru", 1}};
    json["22222222-2222-4222-8222-222222222222"] = Json{{"state", "ready"}, {"playedThru", 2}};
    json["33333333-3333-4333-8333-333333333333"] = Json{{"state", "error"}, {"error", "old"}, {"playedThru", 0}};
    json["44444444-4444-4444-8444-444444444444"] = Json{{"state", "none"}, {"playedThru", 0}};
    writeFile(json.dump());

    platform::ScopedLogCapture log;
    auto store = open();
    auto renders = store->renders();
    for (auto id : {kItem, kOther}) {
        EXPECT_EQ(renders[id.uuidString()].state, State::error);
        EXPECT_EQ(renders[id.uuidString()].error, "Render interrupted \u2014 tap to retry.");
        EXPECT_EQ(renders[id.uuidString()].scriptText, "s");
    }
    EXPECT_EQ(renders["22222222-2222-4222-8222-222222222222"].state, State::ready);
    EXPECT_EQ(renders["33333333-3333-4333-8333-333333333333"].error, "old");
    EXPECT_EQ(renders["44444444-4444-4444-8444-444444444444"].state, State::none);
    EXPECT_EQ(readFile()[kOther.uuidString()]["state"], "error");
    EXPECT_EQ(podcasttest::messagesOf(log, "podcast-store"),
              (std::vector<std::string>{"loaded 5 records from disk", "recovered 2 stuck render(s) from prior session"}));

    // A settled file is not rewritten.
    const auto before = stamp();
    log->clear();
    auto again = open();
    EXPECT_EQ(stamp(), before);
    EXPECT_EQ(podcasttest::messagesOf(log, "podcast-store"), std::vector<std::string>{"loaded 5 records from disk"});
}

TEST_F(StoreFixture, ABadRecordIsSkippedAndTheFileKeptBesideBeforeTheFirstWrite) {
    for (const char* bad : {R"({"playedThru":1})", R"({"state":"Ready"})", R"({"state":"ready","durationSec":"long"})"}) {
        SCOPED_TRACE(bad);
        fs::remove_all(dir / "data");
        const std::string original = "{\"" + kItem.uuidString() + "\":{\"state\":\"ready\",\"playedThru\":7}," + "\"" +
                                     kOther.uuidString() + "\":" + bad + ",\"" + kThird.uuidString() +
                                     "\":{\"state\":\"error\",\"error\":\"e\",\"playedThru\":0}}";
        writeFile(original);
        platform::ScopedLogCapture log;
        auto store = open();
        EXPECT_EQ(store->renders().size(), 2u);
        EXPECT_EQ(store->render(kItem)->playedThru, 7);
        EXPECT_TRUE(log->contains("load failed: record " + kOther.uuidString(), platform::LogLevel::error));
        // Nothing is written until a change.
        EXPECT_EQ(fs::directory_iterator(dir / "data") == fs::directory_iterator(), false);
        EXPECT_FALSE(store->movedAsideFile());

        store->updatePlayedThru(kItem, 8);
        ASSERT_TRUE(store->movedAsideFile());
        EXPECT_EQ(store->movedAsideFile()->filename().string(), "podcast-renders.json.corrupt-20260509T061320Z");
        auto kept = platform::readFile(*store->movedAsideFile());
        EXPECT_EQ(std::string(kept->begin(), kept->end()), original);
        EXPECT_EQ(readFile().size(), 2u);
        EXPECT_EQ(readFile()[kItem.uuidString()]["playedThru"], 8.0);
    }
}

TEST_F(StoreFixture, AnUndecodableFileIsKeptBesideBeforeTheFirstWrite) {
    writeFile("[not json");
    auto store = open();
    EXPECT_TRUE(store->renders().empty());
    store->set(readyRender(), kItem);
    ASSERT_TRUE(store->movedAsideFile());
    auto kept = platform::readFile(*store->movedAsideFile());
    EXPECT_EQ(std::string(kept->begin(), kept->end()), "[not json");
    EXPECT_EQ(readFile().size(), 1u);
}

TEST(PodcastRenderRecord, MapsToACloudRecordWithoutThePlayPosition) {
    testsupport::TempDir dir;
    auto render = readyRender();
    const auto zone = platform::CloudZoneID{"Podcasts", "__defaultOwner__"};
    auto withoutFile = render.toRecord(kItem, zone);
    EXPECT_EQ(withoutFile.recordType(), "PodcastRender");
    EXPECT_EQ(withoutFile.recordID(), (platform::CloudRecordID{kItem.uuidString(), zone}));
    EXPECT_EQ(withoutFile.allKeys(), (std::vector<std::string>{"durationSec", "hostAVoiceID", "hostBVoiceID",
                                                               "itemID", "renderedAt", "scriptText", "state"}));

    std::ofstream(dir / "a.caf") << "audio";
    render.audioURL = platform::Url::fromFilePath(dir / "a.caf");
    auto record = render.toRecord(kItem, zone);
    ASSERT_TRUE(record.asset("audio"));
    auto back = PodcastRender::fromRecord(record);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->first, kItem);
    render.playedThru = 0;
    EXPECT_EQ(back->second, render);
}

TEST(PodcastRenderRecord, RejectsForeignRecords) {
    auto good = readyRender().toRecord(kItem, platform::CloudZoneID::defaultZone());
    auto otherType = platform::CloudRecord("QueueItem", good.recordID());
    for (const auto& [key, value] : good.values()) otherType.set(key, value);
    auto badName = platform::CloudRecord("PodcastRender", {"not-a-uuid", {}});
    badName.set("state", std::string("ready"));
    auto badState = good;
    badState.set("state", std::string("done"));
    auto numericState = good;
    numericState.set("state", 3.0);
    for (const auto* record : {&otherType, &badName, &badState, &numericState})
        EXPECT_FALSE(PodcastRender::fromRecord(*record)) << record->recordType() << " " << record->recordName();
    EXPECT_TRUE(PodcastRender::fromRecord(good));
}

}  // namespace
}  // namespace parlowen
