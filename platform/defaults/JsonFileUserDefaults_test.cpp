#include "platform/defaults/JsonFileUserDefaults.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <limits>
#include <thread>

#include <nlohmann/json.hpp>

#include "platform/log/CaptureSink.h"
#include "platform/testsupport/TempHome.h"
#include "platform/values/Files.h"

namespace {

namespace fs = std::filesystem;
using platform::Bytes;
using platform::Date;
using platform::DefaultsArray;
using platform::DefaultsChange;
using platform::DefaultsDictionary;
using platform::DefaultsValue;
using platform::JsonFileUserDefaults;

std::string readText(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeText(const fs::path& p, std::string_view text) { ASSERT_TRUE(platform::writeFileAtomically(p, text)); }

std::vector<std::string> folderEntries(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class JsonFileUserDefaultsTest : public ::testing::Test {
protected:
    testsupport::TempDir dir;
    fs::path file = dir / "com.kelvatrum.Parlowen" / "defaults.json";
    platform::ScopedLogCapture logs;
};

TEST_F(JsonFileUserDefaultsTest, EveryTypeSurvivesAReopen) {
    const DefaultsDictionary values{
        {"flag", true},
        {"off", false},
        {"count", std::int64_t{-3}},
        {"int64 max", std::numeric_limits<std::int64_t>::max()},
        {"int64 min", std::numeric_limits<std::int64_t>::min()},
        {"rate", 0.1f},  // stays a float, and the same float
        {"ratio", 0.1},  // stays a double
        {"tiny float", std::numeric_limits<float>::denorm_min()},
        {"nan", std::numeric_limits<double>::quiet_NaN()},
        {"minus infinity", -std::numeric_limits<float>::infinity()},
        {"text", "Grüße \"quoted\"\nnew line"},
        {"empty text", ""},
        {"seen", Date::fromTimeIntervalSinceReferenceDate(760123456.789)},
        {"before 2001", Date::fromTimeIntervalSinceReferenceDate(-86400.5)},
        {"blob", Bytes{0x22, 0x68, 0x75, 0x64, 0x22, 0x00, 0xff}},
        {"empty blob", Bytes{}},
        {"list", DefaultsArray{"a", 1, 2.5f, DefaultsArray{}, DefaultsDictionary{{"deep", Bytes{1}}}}},
        {"map", DefaultsDictionary{{"when", Date::fromTimeIntervalSinceReferenceDate(1)}, {"n", 0.0}}},
    };
    {
        JsonFileUserDefaults store(file);
        for (const auto& [key, value] : values) store.set(key, value);
    }
    JsonFileUserDefaults reopened(file);
    EXPECT_EQ(reopened.keys().size(), values.size());
    for (const auto& [key, value] : values) {
        auto read = reopened.object(key);
        ASSERT_TRUE(read.has_value()) << key;
        EXPECT_EQ(read->type(), value.type()) << key;
        EXPECT_TRUE(*read == value) << key;
    }
    EXPECT_EQ(reopened.readFloat("rate").value(), 0.1f);
    EXPECT_TRUE(reopened.readFloat("ratio").isWrongType());
    EXPECT_EQ(reopened.readDouble("ratio").value(), 0.1);
    EXPECT_TRUE(logs->lines().empty());
}

TEST_F(JsonFileUserDefaultsTest, FileHoldsOneTypeTaggedEntryPerKey) {
    JsonFileUserDefaults store(file);
    store.set("hasCompletedFirstRun", true);
    store.set("readAloudRate", 0.5f);
    store.set("lastQuonReportOpenedAt", Date::fromTimeIntervalSinceReferenceDate(760000000));
    store.set("liveDisplayMode", Bytes{0x22, 0x68, 0x75, 0x64, 0x22});
    store.set("launches", 3);
    store.set("nan", std::numeric_limits<double>::quiet_NaN());

    auto json = nlohmann::json::parse(readText(file));
    EXPECT_EQ(json, nlohmann::json::parse(R"({
        "hasCompletedFirstRun": {"bool": true},
        "readAloudRate": {"float": 0.5},
        "lastQuonReportOpenedAt": {"date": 760000000.0},
        "liveDisplayMode": {"data": "Imh1ZCI="},
        "launches": {"integer": 3},
        "nan": {"double": "nan"}
    })"));
}

TEST_F(JsonFileUserDefaultsTest, RemoveDomainRemovesTheFile) {
    {
        JsonFileUserDefaults store(file);
        store.set("a", 1);
        store.set("b", "x");
        store.remove("a");
        EXPECT_EQ(nlohmann::json::parse(readText(file)), nlohmann::json::parse(R"({"b":{"string":"x"}})"));
        store.removeDomain();
        EXPECT_FALSE(std::filesystem::exists(file));
        EXPECT_TRUE(store.keys().empty());
        store.removeDomain();  // already gone
        EXPECT_FALSE(std::filesystem::exists(file));
        store.set("after", true);
        EXPECT_EQ(nlohmann::json::parse(readText(file)), nlohmann::json::parse(R"({"after":{"bool":true}})"));
        store.removeDomain();
    }
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_TRUE(JsonFileUserDefaults(file).keys().empty());
}

TEST_F(JsonFileUserDefaultsTest, WritesLeaveNoTemporaryFiles) {
    JsonFileUserDefaults store(file);
    for (int i = 0; i < 20; ++i) store.set(fmt::format("k{}", i), i);
    store.remove("k3");
    store.removeDomain();
    store.set("last", true);
    EXPECT_EQ(folderEntries(file.parent_path()), std::vector<std::string>{"defaults.json"});
}

TEST_F(JsonFileUserDefaultsTest, ChangesMadeByAnotherProcessArePickedUpAndNotified) {
    JsonFileUserDefaults store(file);
    store.set("kept", 1);
    store.set("changed", "old");
    store.set("gone", true);
    std::vector<DefaultsChange> seen;
    auto token = store.onChange([&](const DefaultsChange& c) { seen.push_back(c); });

    // Another process (here a second store on the same file) rewrites it.
    {
        JsonFileUserDefaults other(file);
        other.set("changed", "new");
        other.remove("gone");
        other.set("added", 2.5f);
    }
    EXPECT_EQ(store.stringForKey("changed"), "new");
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_TRUE(seen[0].external);
    EXPECT_EQ(seen[0].keys, (std::vector<std::string>{"added", "changed", "gone"}));
    EXPECT_EQ(store.readFloat("added").value(), 2.5f);

    // A write of ours after someone else's change keeps their change.
    writeText(file, R"({"kept":{"integer":1},"changed":{"string":"new"},"theirs":{"bool":true}})");
    store.set("ours", 7);
    EXPECT_TRUE(JsonFileUserDefaults(file).readBool("theirs").valueOr(false));
    EXPECT_EQ(JsonFileUserDefaults(file).integerForKey("ours"), 7);
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_TRUE(seen[1].external);
    EXPECT_EQ(seen[1].keys, (std::vector<std::string>{"added", "theirs"}));
    EXPECT_FALSE(seen[2].external);
    EXPECT_EQ(seen[2].keys, std::vector<std::string>{"ours"});

    // The file deleted from outside: the domain is empty.
    fs::remove(file);
    store.reload();
    EXPECT_TRUE(store.keys().empty());
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[3].keys, (std::vector<std::string>{"changed", "kept", "ours", "theirs"}));
    EXPECT_TRUE(logs->lines().empty());
}

TEST_F(JsonFileUserDefaultsTest, InPlaceEditOfTheSameFileIsNoticed) {
    JsonFileUserDefaults store(file);
    store.set("n", 1);
    // Same inode, same size: only the times differ (and the content).
    {
        std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
        std::string text((std::istreambuf_iterator<char>(f)), {});
        auto pos = text.find("1");
        f.seekp(static_cast<std::streamoff>(pos));
        f << "2";
    }
    EXPECT_EQ(store.integerForKey("n"), 2);
}

TEST_F(JsonFileUserDefaultsTest, AnUnreadableFileIsMovedAsideNotOverwritten) {
    const std::string garbage = "{\"hasCompletedFirstRun\": {\"bool\": tru";
    writeText(file, garbage);
    JsonFileUserDefaults store(file);
    EXPECT_TRUE(store.keys().empty());

    auto entries = folderEntries(file.parent_path());
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_TRUE(entries[0].starts_with("defaults.json.corrupt-")) << entries[0];
    fs::path aside = file.parent_path() / entries[0];
    EXPECT_EQ(readText(aside), garbage);
    EXPECT_TRUE(logs->contains("defaults file unreadable", platform::LogLevel::error));

    store.set("fresh", true);
    EXPECT_EQ(readText(aside), garbage);
    EXPECT_TRUE(JsonFileUserDefaults(file).boolForKey("fresh"));
}

TEST_F(JsonFileUserDefaultsTest, UnreadableContentOfEveryKind) {
    const std::pair<std::string, std::string> cases[] = {
        {"not an object", "[1,2]"},
        {"empty file", ""},
        {"invalid UTF-8", "{\"a\":{\"string\":\"\xff\"}}"},
    };
    for (const auto& [name, content] : cases) {
        testsupport::TempDir local;
        fs::path f = local / "defaults.json";
        writeText(f, content);
        JsonFileUserDefaults store(f);
        EXPECT_TRUE(store.keys().empty()) << name;
        EXPECT_FALSE(fs::exists(f)) << name;
        EXPECT_EQ(folderEntries(local.path()).size(), 1u) << name;
    }
}

TEST_F(JsonFileUserDefaultsTest, BadEntriesAreDroppedOnlyAfterTheFileIsKept) {
    const std::string content = R"({"good":{"bool":true},"unknown":{"colour":"red"},"badData":{"data":"!!"},)"
                                R"("tooBig":{"integer":18446744073709551615},"nested":{"array":[{"integer":"x"}]},)"
                                R"("alsoGood":{"integer":5.0}})";
    writeText(file, content);
    JsonFileUserDefaults store(file);
    EXPECT_EQ(store.keys(), (std::vector<std::string>{"alsoGood", "good"}));
    EXPECT_EQ(store.readInteger("alsoGood").value(), 5);

    auto entries = folderEntries(file.parent_path());
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(readText(file.parent_path() / entries[1]), content);
    EXPECT_EQ(nlohmann::json::parse(readText(file)),
              nlohmann::json::parse(R"({"alsoGood":{"integer":5},"good":{"bool":true}})"));
    auto line = logs->find("defaults file unreadable");
    ASSERT_TRUE(line.has_value());
    for (const char* key : {"unknown", "badData", "tooBig", "nested"})
        EXPECT_NE(line->message.find(key), std::string::npos) << key;
}

TEST_F(JsonFileUserDefaultsTest, CorruptionWhileRunningKeepsTheValuesHeld) {
    JsonFileUserDefaults store(file);
    store.set("kept", 1);
    std::vector<DefaultsChange> seen;
    auto token = store.onChange([&](const DefaultsChange& c) { seen.push_back(c); });
    writeText(file, "garbage");
    EXPECT_EQ(store.integerForKey("kept"), 1);
    EXPECT_TRUE(seen.empty());
    // The held values are back on disk; the garbage is kept beside them.
    EXPECT_EQ(JsonFileUserDefaults(file).integerForKey("kept"), 1);
    EXPECT_EQ(folderEntries(file.parent_path()).size(), 2u);
}

TEST_F(JsonFileUserDefaultsTest, ConcurrentWritersLoseNoKey) {
    JsonFileUserDefaults store(file);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 25; ++i) store.set(fmt::format("t{}-{}", t, i), i);
        });
    for (auto& th : threads) th.join();
    EXPECT_EQ(JsonFileUserDefaults(file).keys().size(), 100u);
}

TEST(JsonFileUserDefaultsPaths, DomainsMapToFilesInTheApplicationFolder) {
    using Vars = std::map<std::string, std::string>;
    platform::XdgDirs dirs(platform::Environment(Vars{{"HOME", "/home/ann"}, {"XDG_CONFIG_HOME", "/cfg"}}));
    EXPECT_EQ(JsonFileUserDefaults::pathForDomain(dirs, "com.kelvatrum.Parlowen"),
              fs::path("/cfg/com.kelvatrum.Parlowen/defaults.json"));
    EXPECT_EQ(JsonFileUserDefaults::pathForDomain(dirs, "com.kelvatrum.Parlowen.MacShareExtension"),
              fs::path("/cfg/com.kelvatrum.Parlowen/com.kelvatrum.Parlowen.MacShareExtension.json"));
    EXPECT_EQ(JsonFileUserDefaults::pathForDomain(dirs, "../../etc/passwd"),
              fs::path("/cfg/com.kelvatrum.Parlowen/.._.._etc_passwd.json"));
    platform::XdgDirs noConfig(platform::Environment(Vars{{"HOME", "/home/ann"}}));
    EXPECT_EQ(JsonFileUserDefaults::pathForDomain(noConfig, "com.kelvatrum.Parlowen"),
              fs::path("/home/ann/.config/com.kelvatrum.Parlowen/defaults.json"));
}

TEST(JsonFileUserDefaultsPaths, FactoryStoreWritesUnderTheConfigHome) {
    testsupport::TempDir root;
    platform::XdgDirs dirs(platform::Environment(std::map<std::string, std::string>{
        {"HOME", root.path().string()}, {"XDG_CONFIG_HOME", (root / "config").string()}}));
    auto store = JsonFileUserDefaults::forDomain(dirs, "com.kelvatrum.Parlowen");
    store->set("hideMenuBarIcon", false);
    EXPECT_TRUE(fs::exists(root / "config/com.kelvatrum.Parlowen/defaults.json"));
}

}  // namespace
