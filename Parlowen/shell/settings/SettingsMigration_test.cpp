#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "Parlowen/shell/settings/PreferencesStore.h"
#include "Parlowen/shell/settings/SettingsTestSupport.h"

namespace {

using namespace parlowen;
using settingstest::jsonData;
using settingstest::storedJson;
using settingstest::StoreTest;

const Gesture kDictationDefault = Gesture::combo(2, 0x120000);   // ⌘⇧D
const Gesture kReadAloudDefault = Gesture::combo(1, 0x60000);    // ⌃⇧S
const Gesture kNotepadDefault = Gesture::combo(45, 0x120000);    // ⌘⇧N
const Gesture kSummarizeDefault = Gesture::combo(1, 0xE0000);    // ⌃⌥⇧S

std::string json(const Gesture& g) { return *platform::encodeJson(toJson(g)); }

// ---- Gesture migration -------------------------------------------------------------

TEST(GestureMigration, Table) {
    struct Row {
        const char* what;
        std::map<std::string, std::string> stored;  // key -> JSON text stored as data
        Gesture dictation, readAloud, notepad;
        bool migrated;
    };
    const std::string optionD = R"({"keyCode":2,"modifiers":1572864})";  // ⌥⌘D
    const Row rows[] = {
        {"nothing stored", {}, kDictationDefault, kReadAloudDefault, kNotepadDefault, true},
        {"all three current keys",
         {{"dictationGesture", json(Gesture::hold(Hotkey::rightCommand))},
          {"readAloudGesture", json(Gesture::hold(Hotkey::leftOption))},
          {"notepadGesture", json(kDictationDefault)},
          {"pressStyle", R"("holdToTalk")"}},
         Gesture::hold(Hotkey::rightCommand), Gesture::hold(Hotkey::leftOption), kDictationDefault, false},
        {"tap to toggle with a legacy combination",
         {{"pressStyle", R"("tapToToggle")"}, {"dictationKeyCombo", optionD},
          {"appleSpeechHotkey", R"({"leftOption":{}})"}},
         Gesture::combo(2, 0x180000), kReadAloudDefault, kNotepadDefault, true},
        {"hold to talk with a left-hand dictation key",
         {{"pressStyle", R"("holdToTalk")"}, {"appleSpeechHotkey", R"({"leftOption":{}})"}},
         Gesture::hold(Hotkey::rightOption), Gesture::hold(Hotkey::rightOption), kNotepadDefault, true},
        {"hold to talk without hold keys",
         {{"pressStyle", R"("holdToTalk")"}, {"notepadKeyCombo", R"({"keyCode":46,"modifiers":1179648})"}},
         Gesture::hold(Hotkey::rightControl), Gesture::hold(Hotkey::rightOption), Gesture::combo(46, 0x120000), true},
        {"hold to talk with both hold keys",
         {{"pressStyle", R"("holdToTalk")"}, {"appleSpeechHotkey", R"({"leftCommand":{}})"},
          {"readAloudHotkey", R"({"leftControl":{}})"}},
         Gesture::hold(Hotkey::rightCommand), Gesture::hold(Hotkey::rightControl), kNotepadDefault, true},
        {"no press style, a dictation hold key",
         {{"appleSpeechHotkey", R"({"rightCommand":{}})"}},
         Gesture::hold(Hotkey::rightCommand), Gesture::hold(Hotkey::rightOption), kNotepadDefault, true},
        {"no press style, only a read-aloud hold key",
         {{"readAloudHotkey", R"({"leftControl":{}})"}, {"readAloudKeyCombo", R"({"keyCode":3,"modifiers":262144})"}},
         kDictationDefault, Gesture::combo(3, 0x40000), kNotepadDefault, true},
        {"unreadable press style counts as none",
         {{"pressStyle", R"("hold")"}, {"appleSpeechHotkey", R"({"leftOption":{}})"}},
         Gesture::hold(Hotkey::rightOption), Gesture::hold(Hotkey::rightOption), kNotepadDefault, true},
        {"unreadable legacy values count as absent",
         {{"pressStyle", R"("tapToToggle")"}, {"dictationKeyCombo", R"({"keyCode":2})"},
          {"appleSpeechHotkey", "not json"}},
         kDictationDefault, kReadAloudDefault, kNotepadDefault, true},
        {"one current key undecodable: all three rebuilt",
         {{"dictationGesture", json(Gesture::hold(Hotkey::rightCommand))},
          {"readAloudGesture", json(Gesture::hold(Hotkey::leftOption))},
          {"notepadGesture", R"({"combo":{}})"}},
         kDictationDefault, kReadAloudDefault, kNotepadDefault, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        platform::InMemoryUserDefaults defaults;
        for (const auto& [key, text] : row.stored) defaults.set(key, jsonData(text));
        const auto got = PreferencesStore::migrateLegacyGestures(defaults);
        EXPECT_EQ(got.dictation, row.dictation) << got.dictation.displayName();
        EXPECT_EQ(got.readAloud, row.readAloud) << got.readAloud.displayName();
        EXPECT_EQ(got.notepad, row.notepad) << got.notepad.displayName();
        EXPECT_EQ(got.migrated, row.migrated);
    }
}

TEST_F(StoreTest, HoldToTalkMigrationRepairsTheCollisionAndWritesAllThree) {
    defaults.set("pressStyle", jsonData(R"("holdToTalk")"));
    defaults.set("appleSpeechHotkey", jsonData(R"({"leftOption":{}})"));
    auto prefs = open();
    EXPECT_EQ(prefs->dictationGesture(), Gesture::hold(Hotkey::rightOption));
    EXPECT_EQ(prefs->readAloudGesture(), kReadAloudDefault);
    EXPECT_EQ(prefs->notepadGesture(), kNotepadDefault);
    EXPECT_EQ(storedJson(defaults, "dictationGesture"), R"({"hold":{"_0":{"rightOption":{}}}})");
    EXPECT_EQ(storedJson(defaults, "readAloudGesture"), json(kReadAloudDefault));
    EXPECT_EQ(storedJson(defaults, "notepadGesture"), json(kNotepadDefault));
    // Legacy keys are read, never written or removed.
    EXPECT_EQ(storedJson(defaults, "pressStyle"), R"("holdToTalk")");
    EXPECT_EQ(storedJson(defaults, "appleSpeechHotkey"), R"({"leftOption":{}})");
}

TEST_F(StoreTest, RebuiltGesturesReplaceTheStoredOnes) {
    defaults.set("dictationGesture", jsonData(json(Gesture::hold(Hotkey::rightCommand))));
    defaults.set("readAloudGesture", jsonData(json(Gesture::hold(Hotkey::leftOption))));
    defaults.set("notepadGesture", jsonData("garbage"));
    auto prefs = open();
    EXPECT_EQ(storedJson(defaults, "dictationGesture"), json(kDictationDefault));
    EXPECT_EQ(storedJson(defaults, "readAloudGesture"), json(kReadAloudDefault));
    EXPECT_EQ(storedJson(defaults, "notepadGesture"), json(kNotepadDefault));
}

TEST_F(StoreTest, SummariseCollisionsAreRepairedAndOtherPairsLeftAlone) {
    const Gesture custom = Gesture::combo(3, 0x140000);
    defaults.set("dictationGesture", jsonData(json(custom)));
    defaults.set("readAloudGesture", jsonData(json(kReadAloudDefault)));
    defaults.set("notepadGesture", jsonData(json(custom)));  // equal to dictation: stays
    defaults.set("summarizeReadAloudGesture", jsonData(json(custom)));
    const int writesBefore = defaults.writeCount();
    auto prefs = open();
    EXPECT_EQ(prefs->notepadGesture(), custom);
    EXPECT_EQ(prefs->summarizeReadAloudGesture(), kSummarizeDefault);
    EXPECT_EQ(storedJson(defaults, "summarizeReadAloudGesture"), json(kSummarizeDefault));
    EXPECT_EQ(storedJson(defaults, "notepadGesture"), json(custom));
    // Only the summarise repair and the two seedings (two keys each) were written.
    EXPECT_EQ(defaults.writeCount(), writesBefore + 5);
}

TEST_F(StoreTest, ReadAloudEqualToDictationTakesItsDefault) {
    const Gesture hold = Gesture::hold(Hotkey::rightOption);
    defaults.set("dictationGesture", jsonData(json(hold)));
    defaults.set("readAloudGesture", jsonData(json(hold)));
    defaults.set("notepadGesture", jsonData(json(kNotepadDefault)));
    defaults.set("summarizeReadAloudGesture", jsonData(json(kReadAloudDefault)));
    auto prefs = open();
    EXPECT_EQ(prefs->readAloudGesture(), kReadAloudDefault);
    EXPECT_EQ(storedJson(defaults, "readAloudGesture"), json(kReadAloudDefault));
    // The summarise gesture now equals the repaired read-aloud gesture: it is repaired too.
    EXPECT_EQ(prefs->summarizeReadAloudGesture(), kSummarizeDefault);
    EXPECT_EQ(storedJson(defaults, "summarizeReadAloudGesture"), json(kSummarizeDefault));
}

// ---- Cloud acknowledgement ---------------------------------------------------------------

TEST_F(StoreTest, ACloudReadAloudEngineIsAcknowledgedAtEveryLaunch) {
    defaults.set("readAloudEngine", jsonData(R"("elevenlabs")"));
    defaults.set("acknowledgedCloudProviders", jsonData(R"(["openai"])"));
    auto prefs = open();
    EXPECT_EQ(prefs->acknowledgedCloudProviders(), (std::set<std::string>{"elevenlabs", "openai"}));
    EXPECT_EQ(storedJson(defaults, "acknowledgedCloudProviders"), R"(["elevenlabs","openai"])");
    const int writes = defaults.writeCount();
    open();
    EXPECT_EQ(defaults.writeCount(), writes + 1);  // written again though already a member

    platform::InMemoryUserDefaults local;
    local.set("readAloudEngine", jsonData(R"("appleSpeech")"));
    open(local);
    EXPECT_FALSE(local.object("acknowledgedCloudProviders").has_value());
}

// ---- Seeding -----------------------------------------------------------------------------

TEST_F(StoreTest, HintsAreSeededOnceWhenTheListIsEmpty) {
    defaults.set("dictationContextualPhrases", jsonData(R"(["Zig"])"));
    open();
    EXPECT_EQ(storedJson(defaults, "dictationContextualPhrases"), R"(["Zig"])");
    EXPECT_FALSE(defaults.object("hasSeededContextualPhrases").has_value());

    // The user empties the list: the next launch fills it and sets the marker.
    open()->dictationContextualPhrases.set({});
    auto seeded = open();
    EXPECT_EQ(seeded->dictationContextualPhrases().size(), 4u);
    EXPECT_TRUE(seeded->hasSeededContextualPhrases());

    // Emptied again, it stays empty for good.
    seeded->dictationContextualPhrases.set({});
    EXPECT_TRUE(open()->dictationContextualPhrases().empty());
}

TEST_F(StoreTest, RulesAreSeededOnceWhenTheListIsEmpty) {
    auto first = open();
    first->perAppRules.set({});
    EXPECT_TRUE(open()->perAppRules().empty());  // the marker is set: not refilled

    platform::InMemoryUserDefaults unseeded;
    unseeded.set("perAppRules", jsonData(R"([{"bundleId":"org.example.editor","appName":"Editor"}])"));
    auto prefs = open(unseeded);
    EXPECT_EQ(prefs->perAppRules().size(), 1u);
    EXPECT_FALSE(prefs->hasSeededPerAppRules());
    EXPECT_FALSE(unseeded.object("hasSeededPerAppRules").has_value());
}

TEST_F(StoreTest, SubscribersAddedAfterCreationSeeTheSeededValues) {
    // A subscriber added after creation sees the seeded values as current.
    auto prefs = open();
    std::vector<std::size_t> sizes;
    auto sub = prefs->perAppRules.subscribe([&](const auto& rules) { sizes.push_back(rules.size()); });
    EXPECT_EQ(sizes, std::vector<std::size_t>{4});
}

// ---- Default recognition hints -------------------------------------------------------------

TEST(DefaultContextualPhrases, Table) {
    const std::vector<std::string> fixed{"Parlowen", "Quon", "Vant and Quon", "VoiceVant"};
    auto with = [&](std::vector<std::string> extra) {
        extra.insert(extra.end(), fixed.begin(), fixed.end());
        std::sort(extra.begin(), extra.end());
        return extra;
    };
    struct Row {
        const char* what;
        std::string fullName;
        std::optional<std::string> computer;
        std::vector<std::string> expected;
    };
    const Row rows[] = {
        {"nothing known", "", std::nullopt, fixed},
        {"two spaces and a full stop", "Ada  Lovelace.", std::nullopt, with({"Ada  Lovelace.", "Ada", "Lovelace"})},
        {"initials and punctuation", "J. R. R. Tolkien", std::nullopt, with({"J. R. R. Tolkien", "J", "R", "Tolkien"})},
        {"line breaks and tabs separate", "Grace\nBrewster\tHopper", std::nullopt,
         with({"Grace\nBrewster\tHopper", "Grace", "Brewster", "Hopper"})},
        {"pure punctuation pieces vanish", "Ada -- Byron", std::nullopt, with({"Ada -- Byron", "Ada", "Byron"})},
        {"only spaces in the computer name", "", "   ", fixed},
        {"possessive computer name", "", "Ada's MacBook Pro", with({"Ada"})},
        {"leading spaces in the computer name", "", "  Workshop  box", with({"Workshop"})},
        {"typographic apostrophe stays", "", "Ada\u2019s laptop", with({"Ada\u2019s"})},
        {"every 's goes", "", "Bob's's", with({"Bob"})},
        {"nothing left after removing 's", "", "'s box", fixed},
        {"duplicates collapse", "Quon", "Quon's", fixed},
        {"case-sensitive order", "ada", std::nullopt, {"Parlowen", "Quon", "Vant and Quon", "VoiceVant", "ada"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        auto got = PreferencesStore::defaultContextualPhrasesFor(
            row.fullName, row.computer ? std::optional<std::string_view>(*row.computer) : std::nullopt);
        EXPECT_EQ(got, row.expected);
    }
}

TEST(DefaultContextualPhrases, CanonicallyEqualTextsCollapseAndSortAfterNormalisation) {
    // The decomposed full name and its one word are the same text; "Zoë" sorts
    // by its composed form (U+00EB), after every ASCII letter.
    auto got = PreferencesStore::defaultContextualPhrasesFor("Zoe\u0308", "Zo\u00EB");
    EXPECT_EQ(got, (std::vector<std::string>{"Parlowen", "Quon", "Vant and Quon", "VoiceVant", "Zoe\u0308"}));
}

TEST_F(StoreTest, DefaultContextualPhrasesUseTheInjectedNames) {
    fullName = "Grace Hopper";
    computerName = "Grace's Mac";
    auto prefs = open();
    EXPECT_EQ(prefs->defaultContextualPhrases(),
              (std::vector<std::string>{"Grace", "Grace Hopper", "Hopper", "Parlowen", "Quon", "Vant and Quon",
                                        "VoiceVant"}));
}

}  // namespace
