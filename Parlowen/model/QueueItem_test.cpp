#include <gtest/gtest.h>

#include <fstream>
#include <unordered_set>

#include <nlohmann/json.hpp>

#include "Parlowen/model/QueueItem.h"
#include "platform/testsupport/TempHome.h"
#include "platform/text/Unicode.h"

using namespace parlowen;
using platform::Date;
using platform::Json;
using platform::Url;
using platform::Uuid;

namespace {

const Date kNow = Date::fromTimeIntervalSinceReferenceDate(760000000.5);

std::string repeat(std::string_view s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

QueueItem minimalItem() {
    return QueueItem::create({.id = *Uuid::fromString("E621E1F8-C36C-495A-93FC-0C247A3E6E5F"),
                              .text = "Some text",
                              .title = "A title",
                              .voiceEngine = "kokoro",
                              .voiceID = "af_heart",
                              .durationSec = 12.5,
                              .state = QueueItem::State::ready,
                              .createdAt = Date::fromTimeIntervalSinceReferenceDate(1234.25),
                              .playedThru = 3});
}

QueueItem fullItem(const Url& audio, const Url& hero) {
    QueueItem item = minimalItem();
    item.sourceApp = "The Paper";
    item.sourceURL = *Url::parse("https://example.com/story?id=1");
    item.audioFileURL = audio;
    item.heroImageURL = hero;
    item.completedAt = Date::fromTimeIntervalSinceReferenceDate(2000);
    item.renderError = "old failure";
    return item;
}

TEST(QueueItemDeriveTitle, CollapsesSpacesLineFeedsAndTabsOnly) {
    struct Case {
        std::string text;
        std::string title;
    };
    const Case cases[] = {
        {"  first\n\n\tsecond  ", "first second"},
        {"", ""},
        {" \n\t ", ""},
        {"a\rb", "a\rb"},                         // carriage return is left alone
        {"a\u00A0\u00A0b", "a\u00A0\u00A0b"},     // so is the no-break space
        {"a \u0301b", "a \u0301b"},               // a space with a combining mark is no separator
        {"one   two\nthree", "one two three"},
    };
    for (const auto& c : cases) EXPECT_EQ(QueueItem::deriveTitle(c.text), c.title) << c.text;
}

TEST(QueueItemDeriveTitle, CutsAfterEightyCharactersCountedAsGraphemes) {
    const std::string eighty = repeat("x", 80);
    EXPECT_EQ(QueueItem::deriveTitle(eighty), eighty);

    const std::string cut = QueueItem::deriveTitle(repeat("x", 81));
    EXPECT_EQ(cut, repeat("x", 78) + "\u2026");
    EXPECT_EQ(platform::text::graphemeCount(cut), 79u);

    // A family emoji is several code points but one character.
    const std::string family = "\U0001F468\u200D\U0001F469\u200D\U0001F467";
    EXPECT_EQ(QueueItem::deriveTitle(repeat(family, 80)), repeat(family, 80));
    EXPECT_EQ(QueueItem::deriveTitle(repeat(family, 81)), repeat(family, 78) + "\u2026");
    // Collapsing happens before counting.
    EXPECT_EQ(QueueItem::deriveTitle("   " + eighty + "   "), eighty);
}

TEST(QueueItemCanonicalEngine, Table) {
    const std::pair<std::string, std::string> cases[] = {
        {"apple", "appleSpeech"},   {"APPLE", "appleSpeech"},      {"applespeech", "appleSpeech"},
        {"appleSpeech", "appleSpeech"}, {"AppleSPEECH", "appleSpeech"}, {"KoKoRo", "kokoro"},
        {"ElevenLabs", "elevenlabs"}, {"OpenAI", "openai"},         {"Cartesia", "cartesia"},
        {"SomeOther", "someother"}, {"", ""},                       {" kokoro", " kokoro"},
        {" Apple", " apple"},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(QueueItem::canonicalEngine(in), out) << in;
}

TEST(QueueItem, CreationDerivesOnlyAnAbsentTitle) {
    auto derived = QueueItem::create({.text = "Hello\nworld"});
    EXPECT_EQ(derived.title, "Hello world");
    auto empty = QueueItem::create({.text = "Hello\nworld", .title = ""});
    EXPECT_EQ(empty.title, "");
}

TEST(QueueItemJson, OnlyTextDecodesWithTheDefaults) {
    auto item = QueueItem::fromJson(Json::parse(R"({"text":"Hello\tthere"})"), kNow);
    ASSERT_TRUE(item) << item.error().description;
    EXPECT_FALSE(item->id.isNil());
    EXPECT_EQ(item->text, "Hello\tthere");
    EXPECT_EQ(item->title, "Hello there");
    EXPECT_EQ(item->voiceEngine, "");
    EXPECT_EQ(item->voiceID, "");
    EXPECT_EQ(item->state, QueueItem::State::rendering);
    EXPECT_EQ(item->durationSec, 0);
    EXPECT_EQ(item->playedThru, 0);
    EXPECT_EQ(item->createdAt, kNow);
    EXPECT_FALSE(item->sourceApp || item->sourceURL || item->audioFileURL || item->heroImageURL ||
                 item->completedAt || item->renderError);

    auto other = QueueItem::fromJson(Json::parse(R"({"text":"Hello"})"), kNow);
    EXPECT_NE(other->id, item->id);  // each decode invents its own identifier
}

TEST(QueueItemJson, NullMembersReadAsAbsentAndUnknownMembersAreIgnored) {
    auto item = QueueItem::fromJson(
        Json::parse(R"({"text":"t","title":null,"sourceURL":null,"state":null,"createdAt":null,"extra":[1,2]})"), kNow);
    ASSERT_TRUE(item) << item.error().description;
    EXPECT_EQ(item->title, "t");
    EXPECT_EQ(item->state, QueueItem::State::rendering);
    EXPECT_EQ(item->createdAt, kNow);
}

TEST(QueueItemJson, AMinimalItemEncodesToNineMembersAndRoundTrips) {
    const QueueItem item = minimalItem();
    const Json j = item.toJson();
    std::vector<std::string> keys;
    for (const auto& [k, v] : j.items()) keys.push_back(k);
    EXPECT_EQ(keys, (std::vector<std::string>{"id", "text", "title", "voiceEngine", "voiceID", "durationSec", "state",
                                              "createdAt", "playedThru"}));
    EXPECT_EQ(j["id"], "E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
    EXPECT_EQ(j["state"], "ready");
    EXPECT_EQ(j["createdAt"], 1234.25);

    auto back = QueueItem::fromJson(Json::parse(j.dump()), kNow);
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, item);
    EXPECT_EQ(std::hash<QueueItem>{}(*back), std::hash<QueueItem>{}(item));
}

TEST(QueueItemJson, AFullItemRoundTripsEveryField) {
    const QueueItem item = fullItem(Url::fromFilePath("/tmp/a b.caf"), Url::fromFilePath("/tmp/h.webp"));
    const Json j = item.toJson();
    EXPECT_EQ(j.size(), 15u);
    EXPECT_EQ(j["sourceURL"], "https://example.com/story?id=1");
    auto back = QueueItem::fromJson(Json::parse(j.dump()), kNow);
    ASSERT_TRUE(back) << back.error().description;
    EXPECT_EQ(*back, item);

    QueueItem changed = item;
    changed.renderError.reset();
    EXPECT_NE(changed, item);
    std::unordered_set<QueueItem> set{item, *back, changed};
    EXPECT_EQ(set.size(), 2u);
}

TEST(QueueItemJson, CreatedAtCountsFromTheReferenceDate) {
    auto item = QueueItem::fromJson(Json::parse(R"({"text":"t","createdAt":0,"completedAt":-978307200})"), kNow);
    ASSERT_TRUE(item);
    EXPECT_EQ(platform::formatIso8601(item->createdAt), "2001-01-01T00:00:00Z");
    EXPECT_EQ(platform::formatIso8601(*item->completedAt), "1970-01-01T00:00:00Z");
    QueueItem atReference = minimalItem();
    atReference.createdAt = Date();
    EXPECT_EQ(atReference.toJson()["createdAt"], 0);
}

TEST(QueueItemJson, LowerCaseIdentifiersAreReadAndWrittenUpperCase) {
    auto item = QueueItem::fromJson(Json::parse(R"({"id":"e621e1f8-c36c-495a-93fc-0c247a3e6e5f"})"), kNow);
    ASSERT_TRUE(item);
    EXPECT_EQ(item->toJson()["id"], "E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
}

TEST(QueueItemJson, RejectsWrongTypesStatesIdentifiersAndUrls) {
    const char* bad[] = {
        R"({"text":"t","state":"READY"})",
        R"({"text":"t","state":"Ready"})",
        R"({"text":"t","durationSec":"12"})",
        R"({"text":"t","id":"not-a-uuid"})",
        R"({"text":"t","id":"{E621E1F8-C36C-495A-93FC-0C247A3E6E5F}"})",
        R"({"text":"t","sourceURL":"not a url"})",
        R"({"text":"t","audioFileURL":"relative/path.caf"})",
        R"({"text":5})",
        R"({"text":"t","createdAt":"2001-01-01T00:00:00Z"})",
        R"({"text":"t","playedThru":true})",
        R"(["text"])",
    };
    for (const char* text : bad) EXPECT_FALSE(QueueItem::fromJson(Json::parse(text), kNow)) << text;
}

class QueueItemRecord : public ::testing::Test {
protected:
    void SetUp() override {
        std::ofstream(dir / "audio.caf") << "caf";
        std::ofstream(dir / "hero.webp") << "webp";
    }
    testsupport::TempDir dir;
    Url audio() const { return Url::fromFilePath(dir / "audio.caf"); }
    Url hero() const { return Url::fromFilePath(dir / "hero.webp"); }
    platform::CloudZoneID zone = platform::CloudZoneID::defaultZone();
};

TEST_F(QueueItemRecord, RoundTripsThroughTheCloudRecord) {
    const QueueItem item = fullItem(audio(), hero());
    const platform::CloudRecord record = item.makeRecord(zone);
    EXPECT_EQ(record.recordType(), "QueueItem");
    EXPECT_EQ(record.recordName(), "E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
    EXPECT_EQ(record.recordID().zoneID, zone);
    EXPECT_EQ(record.allKeys(),
              (std::vector<std::string>{"audio", "completedAt", "createdAt", "durationSec", "heroImage", "playedThru",
                                        "renderError", "sourceApp", "sourceURL", "state", "text", "title",
                                        "voiceEngine", "voiceID"}));
    EXPECT_EQ(record.asset("audio")->fileURL, audio());
    EXPECT_EQ(record.string("state"), "ready");
    EXPECT_EQ(record.date("createdAt"), item.createdAt);

    auto back = QueueItem::fromRecord(record);
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, item);
}

TEST_F(QueueItemRecord, LeavesOutAssetsWhoseFilesAreGone) {
    QueueItem item = fullItem(audio(), hero());
    std::filesystem::remove(dir / "audio.caf");
    const platform::CloudRecord record = item.makeRecord(zone);
    EXPECT_FALSE(record.contains("audio"));
    EXPECT_TRUE(record.contains("heroImage"));
    EXPECT_EQ(record.allKeys().size(), 13u);

    QueueItem minimal = minimalItem();
    EXPECT_EQ(minimal.makeRecord(zone).allKeys(),
              (std::vector<std::string>{"createdAt", "durationSec", "playedThru", "state", "text", "title",
                                        "voiceEngine", "voiceID"}));
}

TEST_F(QueueItemRecord, MalformedRecordsGiveNothing) {
    const platform::CloudRecord good = minimalItem().makeRecord(zone);
    ASSERT_TRUE(QueueItem::fromRecord(good));

    auto without = [&](const char* key) {
        platform::CloudRecord r = good;
        r.remove(key);
        return r;
    };
    auto with = [&](const char* key, platform::CloudValue v) {
        platform::CloudRecord r = good;
        r.set(key, std::move(v));
        return r;
    };
    platform::CloudRecord otherType("Other", good.recordID());
    for (const auto& [k, v] : good.values()) otherType.set(k, v);
    platform::CloudRecord badName("QueueItem", platform::CloudRecordID{"not-a-uuid", zone});
    for (const auto& [k, v] : good.values()) badName.set(k, v);

    const std::pair<const char*, platform::CloudRecord> cases[] = {
        {"missing title", without("title")},
        {"missing text", without("text")},
        {"missing voiceEngine", without("voiceEngine")},
        {"missing voiceID", without("voiceID")},
        {"missing state", without("state")},
        {"missing createdAt", without("createdAt")},
        {"title not a string", with("title", 3.0)},
        {"unknown state", with("state", std::string("READY"))},
        {"createdAt not a date", with("createdAt", 10.0)},
        {"other record type", otherType},
        {"record name not a UUID", badName},
    };
    for (const auto& [what, record] : cases) EXPECT_FALSE(QueueItem::fromRecord(record)) << what;
}

TEST_F(QueueItemRecord, OptionalKeysFallBackWithoutFailing) {
    platform::CloudRecord r = minimalItem().makeRecord(zone);
    r.remove("durationSec");
    r.set("playedThru", std::int64_t{7});  // any number will do
    r.set("sourceURL", std::string("not a url"));
    r.set("sourceApp", 1.0);
    r.set("completedAt", std::string("yesterday"));
    r.set("renderError", std::int64_t{1});
    r.set("audio", std::string("/tmp/x.caf"));
    auto item = QueueItem::fromRecord(r);
    ASSERT_TRUE(item);
    EXPECT_EQ(item->durationSec, 0);
    EXPECT_EQ(item->playedThru, 7);
    EXPECT_FALSE(item->sourceURL || item->sourceApp || item->completedAt || item->renderError || item->audioFileURL);
}

}  // namespace
