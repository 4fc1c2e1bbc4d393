#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Parlowen/readaloud/PronunciationOverrideStore.h"
#include "Parlowen/readaloud/RespellingToIPA.h"
#include "platform/defaults/InMemoryUserDefaults.h"
#include "platform/log/CaptureSink.h"
#include "platform/text/Unicode.h"

namespace parlowen {
namespace {

using platform::Uuid;

const Uuid kA = *Uuid::fromString("11111111-2222-3333-4444-555555555555");
const Uuid kB = *Uuid::fromString("AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE");

class PronunciationStoreTest : public ::testing::Test {
protected:
    std::unique_ptr<PronunciationOverrideStore> makeStore() {
        auto store = std::make_unique<PronunciationOverrideStore>(
            defaults_, [this](const PronunciationIPAMap& map) {
                phonemizerMap_ = map;
                ++handOvers_;
            });
        return store;
    }

    void storeRaw(const std::string& json) {
        defaults_.set(PronunciationOverrideStore::kDefaultsKey, platform::toBytes(json));
    }
    std::string storedJson() const {
        auto data = defaults_.readData(PronunciationOverrideStore::kDefaultsKey);
        return data ? platform::toString(data.value()) : std::string("<none>");
    }
    // What the stored data decodes to (the same format the phonemizer reads).
    std::vector<PronunciationOverride> storedEntries() const {
        auto data = defaults_.readData(PronunciationOverrideStore::kDefaultsKey);
        if (!data) return {};
        auto decoded = decodePronunciationOverrides(data.value());
        return decoded ? decoded->entries : std::vector<PronunciationOverride>{};
    }
    // The invariants that hold after every operation.
    void expectConsistent(const PronunciationOverrideStore& store) {
        EXPECT_EQ(phonemizerMap_, store.ipaCache());
        EXPECT_EQ(storedEntries(), store.entries());
    }

    platform::InMemoryUserDefaults defaults_;
    PronunciationIPAMap phonemizerMap_;
    int handOvers_ = 0;
};

TEST_F(PronunciationStoreTest, CaseInsensitiveUpsertKeepsTheIdAndWritesExactJson) {
    auto store = makeStore();
    EXPECT_EQ(handOvers_, 1) << "the map is handed over at start";
    store->addOrUpdate("Kubernetes", "koo-ber-NET-eez");
    ASSERT_EQ(store->entries().size(), 1u);
    Uuid id = store->entries()[0].id;
    expectConsistent(*store);

    store->addOrUpdate("KUBERNETES", "koo-ber-NAY-teez");
    ASSERT_EQ(store->entries().size(), 1u);
    EXPECT_EQ(store->entries()[0], (PronunciationOverride{id, "KUBERNETES", "koo-ber-NAY-teez"}));
    EXPECT_EQ(store->ipaCache(),
              (PronunciationIPAMap{{"kubernetes", respellingToIPA("koo-ber-NAY-teez")}}));
    EXPECT_EQ(storedJson(), "[{\"id\":\"" + id.uuidString() +
                                "\",\"word\":\"KUBERNETES\",\"respelling\":\"koo-ber-NAY-teez\"}]");
    EXPECT_EQ(id.uuidString(), platform::text::uppercased(id.uuidString()));
    expectConsistent(*store);
    EXPECT_EQ(handOvers_, 3);
}

TEST_F(PronunciationStoreTest, TheMapFollowsEveryOperation) {
    auto store = makeStore();
    store->addOrUpdate("Nginx", "EN-jin-ex");
    store->addOrUpdate("dash", "---");  // converts to nothing: listed, but not in the map
    expectConsistent(*store);
    EXPECT_EQ(store->entries().size(), 2u);
    EXPECT_FALSE(store->ipaCache().contains("dash"));
    EXPECT_TRUE(store->ipaCache().contains("nginx"));

    store->addOrUpdate("dash", "DASH");
    expectConsistent(*store);
    EXPECT_EQ(store->ipaCache().at("dash"), "\u02C8d\u00E6\u0283");
    store->addOrUpdate("nginx", "-");  // updated to an empty IPA: leaves the map
    expectConsistent(*store);
    EXPECT_FALSE(store->ipaCache().contains("nginx"));

    store->remove(store->entries()[1].id);
    expectConsistent(*store);
    EXPECT_EQ(store->entries().size(), 1u);
    EXPECT_TRUE(store->ipaCache().empty());

    store->setEntries({{kA, "Zoe", "ZOH-ee"}, {kB, "ZOE", "zoh"}});
    expectConsistent(*store);
    EXPECT_EQ(store->ipaCache(), (PronunciationIPAMap{{"zoe", "zo\u028A"}})) << "the later entry wins";
}

TEST_F(PronunciationStoreTest, RemovingAnUnknownIdWritesNothing) {
    auto store = makeStore();
    store->addOrUpdate("a", "AY");
    int writes = defaults_.writeCount();
    int handOvers = handOvers_;
    store->remove(kB);
    EXPECT_EQ(defaults_.writeCount(), writes);
    EXPECT_EQ(handOvers_, handOvers);
    EXPECT_EQ(store->entries().size(), 1u);
}

TEST_F(PronunciationStoreTest, RemoveDropsTheWordUntilTheNextFullRebuild) {
    // Two entries with one word in different case can only come from elsewhere.
    storeRaw("[{\"id\":\"" + kA.uuidString() + "\",\"word\":\"Zoe\",\"respelling\":\"ZOH-ee\"},"
             "{\"id\":\"" + kB.uuidString() + "\",\"word\":\"zoe\",\"respelling\":\"zoh\"}]");
    auto store = makeStore();
    EXPECT_EQ(store->ipaCache().at("zoe"), "zo\u028A");
    store->remove(kA);
    EXPECT_FALSE(store->ipaCache().contains("zoe"));
    expectConsistent(*store);
    store->setEntries(store->entries());
    EXPECT_EQ(store->ipaCache().at("zoe"), "zo\u028A");
    expectConsistent(*store);
}

TEST_F(PronunciationStoreTest, LoadingWritesNothingAndAcceptsLowerCaseIds) {
    std::string json = "[{\"id\":\"aaaaaaaa-bbbb-cccc-dddd-eeeeeeeeeeee\",\"word\":\"Zoe\",\"respelling\":\"ZOH-ee\"}]";
    storeRaw(json);
    int writes = defaults_.writeCount();
    auto store = makeStore();
    EXPECT_EQ(defaults_.writeCount(), writes);
    EXPECT_EQ(storedJson(), json);
    ASSERT_EQ(store->entries().size(), 1u);
    EXPECT_EQ(store->entries()[0].id, kB);
    EXPECT_EQ(phonemizerMap_, (PronunciationIPAMap{{"zoe", "\u02C8zo\u028Ai"}}));
}

TEST_F(PronunciationStoreTest, OneMalformedEntryCostsOnlyItself) {
    platform::ScopedLogCapture capture;
    storeRaw("[{\"id\":\"" + kA.uuidString() + "\",\"word\":\"Zoe\",\"respelling\":\"ZOH-ee\"},"
             "{\"id\":\"" + kB.uuidString() + "\",\"word\":\"nginx\"},"
             "{\"id\":\"not-a-uuid\",\"word\":\"x\",\"respelling\":\"x\"},"
             "{\"id\":\"" + kB.uuidString() + "\",\"word\":7,\"respelling\":\"x\"},"
             "\"stray\","
             "{\"id\":\"" + kB.uuidString() + "\",\"word\":\"Linux\",\"respelling\":\"LIN-ux\",\"extra\":1}]");
    auto store = makeStore();
    ASSERT_EQ(store->entries().size(), 2u);
    EXPECT_EQ(store->entries()[0].word, "Zoe");
    EXPECT_EQ(store->entries()[1].word, "Linux");
    EXPECT_TRUE(capture->contains("count=4", platform::LogLevel::error));

    store->addOrUpdate("Debian", "DEB-ee-an");
    auto stored = storedEntries();
    ASSERT_EQ(stored.size(), 3u) << "the next add keeps the readable entries";
    EXPECT_EQ(stored[0].word, "Zoe");
    EXPECT_EQ(stored[2].word, "Debian");
    expectConsistent(*store);
}

TEST_F(PronunciationStoreTest, UnreadableEntriesAreWrittenBackUnchangedInTheirPlaces) {
    const std::string future = "{ \"id\" : \"" + kB.uuidString() + "\", \"word\" : \"nginx\", \"ipa\" : \"x\" }";
    storeRaw("[{\"id\":\"" + kA.uuidString() + "\",\"word\":\"Zoe\",\"respelling\":\"ZOH-ee\"}," + future +
             ",\"stray\"]");
    auto store = makeStore();
    ASSERT_EQ(store->entries().size(), 1u);
    store->addOrUpdate("zoe", "ZOH-ee");
    const std::string zoe = "{\"id\":\"" + kA.uuidString() + "\",\"word\":\"zoe\",\"respelling\":\"ZOH-ee\"}";
    EXPECT_EQ(storedJson(), "[" + zoe + "," + future + ",\"stray\"]");
    store->addOrUpdate("Debian", "DEB-ee-an");
    store->remove(kA);
    auto again = makeStore();
    ASSERT_EQ(again->entries().size(), 1u);
    EXPECT_EQ(again->entries()[0].word, "Debian");
    again->addOrUpdate("Linux", "LIN-ux");
    const std::string text = storedJson();
    // Debian took the first readable place once Zoe was gone; Linux comes at the end.
    EXPECT_NE(text.find("\"Debian\",\"respelling\":\"DEB-ee-an\"}," + future + ",\"stray\",{"), std::string::npos)
        << text;
}

TEST_F(PronunciationStoreTest, UnreadableDataStartsEmptyAndStaysUntilTheNextChange) {
    for (platform::DefaultsValue bad :
         {platform::DefaultsValue(platform::toBytes("{\"id\":1}")), platform::DefaultsValue(platform::toBytes("[{")),
          platform::DefaultsValue("[]")}) {
        platform::InMemoryUserDefaults defaults;
        defaults.set(PronunciationOverrideStore::kDefaultsKey, bad);
        PronunciationIPAMap map{{"stale", "x"}};
        PronunciationOverrideStore store(defaults, [&](const PronunciationIPAMap& m) { map = m; });
        EXPECT_TRUE(store.entries().empty());
        EXPECT_TRUE(map.empty());
        EXPECT_EQ(defaults.object(PronunciationOverrideStore::kDefaultsKey), bad);

        // The first change keeps it aside rather than writing over it.
        store.addOrUpdate("Zoe", "ZOH-ee");
        std::vector<std::string> aside;
        for (const auto& key : defaults.keys())
            if (key.starts_with(std::string(PronunciationOverrideStore::kDefaultsKey) + ".corrupt-")) aside.push_back(key);
        ASSERT_EQ(aside.size(), 1u);
        EXPECT_EQ(defaults.object(aside[0]), bad);
        EXPECT_EQ(store.entries().size(), 1u);
    }
}

TEST_F(PronunciationStoreTest, ObserversSeeEveryChange) {
    auto store = makeStore();
    std::vector<std::size_t> sizes;
    auto sub = store->entriesStream().subscribe([&](const auto& list) { sizes.push_back(list.size()); });
    store->addOrUpdate("a", "AY");
    store->addOrUpdate("b", "BEE");
    store->remove(store->entries()[0].id);
    EXPECT_EQ(sizes, (std::vector<std::size_t>{0, 1, 2, 1}));
}

}  // namespace
}  // namespace parlowen
