#include "Parlowen/shell/settings/PreferencesStore.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <limits>

#include <nlohmann/json.hpp>

#include "Parlowen/shell/settings/SettingsTestSupport.h"
#include "platform/defaults/JsonFileUserDefaults.h"
#include "platform/testsupport/TempHome.h"

namespace {

using namespace parlowen;
using platform::Bytes;
using platform::Date;
using platform::DefaultsValue;
using settingstest::jsonData;
using settingstest::storedJson;
using settingstest::StoreTest;

std::string readText(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// ---- First launch ----------------------------------------------------------------------

TEST_F(StoreTest, FirstLaunchYieldsEveryDefaultAndWritesOnlyTheSeededValues) {
    testsupport::TempDir dir;
    const auto file = dir / "com.kelvatrum.Parlowen" / "defaults.json";
    fullName = "Ada Lovelace";
    computerName = "Analytical Engine";
    std::vector<PerAppRule> seededRules;
    {
        platform::JsonFileUserDefaults store(file);
        auto prefs = open(store);
        const PreferencesStore& p = *prefs;

        EXPECT_FALSE(p.hasCompletedFirstRun());
        EXPECT_EQ(p.liveDisplayMode(), LiveDisplayMode::hud);
        EXPECT_EQ(p.dictationGesture(), Gesture::combo(2, 0x120000));
        EXPECT_EQ(p.readAloudGesture(), Gesture::combo(1, 0x60000));
        EXPECT_EQ(p.notepadGesture(), Gesture::combo(45, 0x120000));
        EXPECT_EQ(p.summarizeReadAloudGesture(), Gesture::combo(1, 0xE0000));
        EXPECT_EQ(p.readAloudRate(), 0.5f);
        EXPECT_EQ(p.readAloudVoiceIdentifier(), "com.apple.voice.premium.en-US.Zoe");
        EXPECT_EQ(p.readAloudEngine(), ReadAloudEngineKind::kokoro);
        EXPECT_EQ(p.podcastHostAVoiceID(), "af_heart");
        EXPECT_EQ(p.podcastHostBVoiceID(), "am_puck");
        EXPECT_EQ(p.podcastEngine(), PodcastEngineKind::kokoro);
        EXPECT_EQ(p.podcastGeminiHostAVoiceName(), std::nullopt);
        EXPECT_EQ(p.podcastGeminiHostBVoiceName(), std::nullopt);
        EXPECT_EQ(p.dictationEngineMode(), DictationEngineMode::speed);
        EXPECT_EQ(p.groqModel(), GroqTranscriptionModel::largeV3Turbo);
        EXPECT_TRUE(p.enabledVoiceCommands().empty());
        EXPECT_EQ(p.perAppRules().size(), 4u);
        EXPECT_TRUE(p.hasSeededPerAppRules());
        EXPECT_EQ(p.openAIVoice(), OpenAITTSVoice::coral);
        EXPECT_EQ(p.cartesiaVoiceId(), std::nullopt);
        EXPECT_EQ(p.elevenLabsVoiceId(), std::nullopt);
        EXPECT_EQ(p.kokoroVoiceIdentifier(), std::nullopt);
        EXPECT_FALSE(p.aiRefinementEnabled());
        EXPECT_FALSE(p.polishPunctuationEnabled());
        EXPECT_EQ(p.defaultToneID(), "email");
        EXPECT_TRUE(p.customTones().empty());
        EXPECT_EQ(p.cleanUpModel(), CleanUpModel::sonnet46);
        EXPECT_EQ(p.dictationContextualPhrases(),
                  (std::vector<std::string>{"Ada", "Ada Lovelace", "Analytical", "Lovelace", "Parlowen", "Quon",
                                            "Vant and Quon", "VoiceVant"}));
        EXPECT_TRUE(p.hasSeededContextualPhrases());
        EXPECT_TRUE(p.learnFromDictation());
        EXPECT_TRUE(p.learnedVocabulary().empty());
        EXPECT_FALSE(p.hasAutoSelectedInputDevice());
        EXPECT_EQ(p.preferredInputDeviceUID(), std::nullopt);
        EXPECT_EQ(p.preferredOutputDeviceUID(), std::nullopt);
        EXPECT_TRUE(p.autoDowngradeForLargeReads());
        EXPECT_TRUE(p.acknowledgedCloudProviders().empty());
        EXPECT_TRUE(p.autoUpdateEnabled());
        EXPECT_FALSE(p.hideMenuBarIcon());
        EXPECT_EQ(p.lastQuonReportOpenedAt(), std::nullopt);
        EXPECT_FALSE(p.sendCrashReports());
        EXPECT_TRUE(p.rememberDictationHistory());
        EXPECT_FALSE(p.enableListenLater());
        EXPECT_EQ(p.selectedTheme(), Theme::hearth);
        EXPECT_EQ(p.activeVoiceIdentifier(), std::nullopt);  // kokoro with no voice chosen
        seededRules = p.perAppRules();
        EXPECT_EQ(seededRules, PerAppRule::defaultRules());
    }

    // The file holds exactly what the load wrote, with its types.
    const auto fileJson = nlohmann::ordered_json::parse(readText(file));
    std::vector<std::string> keys;
    for (auto it = fileJson.begin(); it != fileJson.end(); ++it) keys.push_back(it.key());
    std::sort(keys.begin(), keys.end());
    EXPECT_EQ(keys, (std::vector<std::string>{"dictationContextualPhrases", "dictationGesture",
                                              "hasSeededContextualPhrases", "hasSeededPerAppRules", "notepadGesture",
                                              "perAppRules", "readAloudGesture", "summarizeReadAloudGesture"}));
    EXPECT_EQ(fileJson["hasSeededContextualPhrases"], nlohmann::ordered_json::parse(R"({"bool":true})"));
    EXPECT_EQ(fileJson["hasSeededPerAppRules"], nlohmann::ordered_json::parse(R"({"bool":true})"));

    const std::string before = readText(file);
    platform::JsonFileUserDefaults reopened(file);
    EXPECT_EQ(storedJson(reopened, "dictationGesture"), R"({"combo":{"_0":{"keyCode":2,"modifiers":1179648}}})");
    EXPECT_EQ(storedJson(reopened, "readAloudGesture"), R"({"combo":{"_0":{"keyCode":1,"modifiers":393216}}})");
    EXPECT_EQ(storedJson(reopened, "notepadGesture"), R"({"combo":{"_0":{"keyCode":45,"modifiers":1179648}}})");
    EXPECT_EQ(storedJson(reopened, "summarizeReadAloudGesture"),
              R"({"combo":{"_0":{"keyCode":1,"modifiers":917504}}})");
    EXPECT_EQ(storedJson(reopened, "dictationContextualPhrases"),
              R"(["Ada","Ada Lovelace","Analytical","Lovelace","Parlowen","Quon","Vant and Quon","VoiceVant"])");
    const std::string rules = storedJson(reopened, "perAppRules");
    EXPECT_EQ(rules.substr(0, 8), R"([{"id":")");
    EXPECT_NE(rules.find(R"(","bundleId":"com.apple.Notes","appName":"Notes","extraContextualPhrases":[],)"
                         R"("disableCleanUpPill":true}])"),
              std::string::npos);

    // The second launch reads everything back and writes nothing.
    auto again = open(reopened);
    EXPECT_EQ(again->perAppRules(), seededRules);
    EXPECT_EQ(again->dictationContextualPhrases().size(), 8u);
    EXPECT_EQ(readText(file), before);
}

// ---- Reading ---------------------------------------------------------------------------

TEST_F(StoreTest, ReaderTable) {
    struct Row {
        const char* what;
        std::function<void(platform::InMemoryUserDefaults&)> stored;
        std::function<void(const PreferencesStore&)> check;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Row rows[] = {
        {"rate 0 gives the default", [](auto& d) { d.set("readAloudRate", 0.0f); },
         [](auto& p) { EXPECT_EQ(p.readAloudRate(), 0.5f); }},
        {"negative rate", [](auto& d) { d.set("readAloudRate", -1.0f); },
         [](auto& p) { EXPECT_EQ(p.readAloudRate(), 0.5f); }},
        {"NaN rate", [nan](auto& d) { d.set("readAloudRate", nan); },
         [](auto& p) { EXPECT_EQ(p.readAloudRate(), 0.5f); }},
        {"rate 1.5", [](auto& d) { d.set("readAloudRate", 1.5f); },
         [](auto& p) { EXPECT_EQ(p.readAloudRate(), 1.5f); }},
        {"rate as an integer", [](auto& d) {
             d.set("readAloudRate", 2);
         },
         [](auto& p) { EXPECT_EQ(p.readAloudRate(), 2.0f); }},
        {"empty voice stays empty", [](auto& d) { d.set("readAloudVoiceIdentifier", ""); },
         [](auto& p) { EXPECT_EQ(p.readAloudVoiceIdentifier(), ""); }},
        {"live display as text, not data", [](auto& d) { d.set("liveDisplayMode", "off"); },
         [](auto& p) { EXPECT_EQ(p.liveDisplayMode(), LiveDisplayMode::hud); }},
        {"live display as JSON data", [](auto& d) { d.set("liveDisplayMode", jsonData(R"("off")")); },
         [](auto& p) { EXPECT_EQ(p.liveDisplayMode(), LiveDisplayMode::off); }},
        {"live display data that is not JSON", [](auto& d) { d.set("liveDisplayMode", jsonData("off")); },
         [](auto& p) { EXPECT_EQ(p.liveDisplayMode(), LiveDisplayMode::hud); }},
        {"unknown theme", [](auto& d) { d.set("selectedTheme", jsonData(R"("Dusk")")); },
         [](auto& p) { EXPECT_EQ(p.selectedTheme(), Theme::hearth); }},
        {"known theme", [](auto& d) { d.set("selectedTheme", jsonData(R"("dusk")")); },
         [](auto& p) { EXPECT_EQ(p.selectedTheme(), Theme::dusk); }},
        {"history switch holding text", [](auto& d) { d.set("rememberDictationHistory", "false"); },
         [](auto& p) { EXPECT_TRUE(p.rememberDictationHistory()); }},
        {"history switch holding 0", [](auto& d) { d.set("rememberDictationHistory", 0); },
         [](auto& p) { EXPECT_TRUE(p.rememberDictationHistory()); }},
        {"history switch false", [](auto& d) { d.set("rememberDictationHistory", false); },
         [](auto& p) { EXPECT_FALSE(p.rememberDictationHistory()); }},
        {"true-when-absent switches stored false",
         [](auto& d) {
             d.set("learnFromDictation", false);
             d.set("autoDowngradeForLargeReads", false);
             d.set("autoUpdateEnabled", 0);
         },
         [](auto& p) {
             EXPECT_FALSE(p.learnFromDictation());
             EXPECT_FALSE(p.autoDowngradeForLargeReads());
             EXPECT_FALSE(p.autoUpdateEnabled());
         }},
        {"Boolean switches read through the coercing reader",
         [](auto& d) {
             d.set("enableListenLater", "YES");
             d.set("sendCrashReports", 1);
             d.set("hideMenuBarIcon", "no");
         },
         [](auto& p) {
             EXPECT_TRUE(p.enableListenLater());
             EXPECT_TRUE(p.sendCrashReports());
             EXPECT_FALSE(p.hideMenuBarIcon());
         }},
        {"read-aloud engine after the first run", [](auto& d) { d.set("hasCompletedFirstRun", true); },
         [](auto& p) { EXPECT_EQ(p.readAloudEngine(), ReadAloudEngineKind::appleSpeech); }},
        {"read-aloud engine, first run not complete", [](auto& d) { d.set("hasCompletedFirstRun", false); },
         [](auto& p) { EXPECT_EQ(p.readAloudEngine(), ReadAloudEngineKind::kokoro); }},
        {"stored read-aloud engine wins",
         [](auto& d) {
             d.set("hasCompletedFirstRun", true);
             d.set("readAloudEngine", jsonData(R"("kokoro")"));
         },
         [](auto& p) { EXPECT_EQ(p.readAloudEngine(), ReadAloudEngineKind::kokoro); }},
        {"clean-up model stored", [](auto& d) { d.set("cleanUpModel", "claude-opus-4-7"); },
         [](auto& p) { EXPECT_EQ(p.cleanUpModel(), CleanUpModel::opus47); }},
        {"clean-up model unknown", [](auto& d) { d.set("cleanUpModel", "Claude-Opus-4-7"); },
         [](auto& p) { EXPECT_EQ(p.cleanUpModel(), CleanUpModel::sonnet46); }},
        {"clean-up model as JSON data", [](auto& d) { d.set("cleanUpModel", jsonData(R"("claude-opus-4-7")")); },
         [](auto& p) { EXPECT_EQ(p.cleanUpModel(), CleanUpModel::sonnet46); }},
        {"cloud model as JSON", [](auto& d) { d.set("groqModel", jsonData(R"("whisper-large-v3")")); },
         [](auto& p) { EXPECT_EQ(p.groqModel(), GroqTranscriptionModel::largeV3); }},
        {"cloud model as plain text", [](auto& d) { d.set("groqModel", "whisper-large-v3"); },
         [](auto& p) { EXPECT_EQ(p.groqModel(), GroqTranscriptionModel::largeV3Turbo); }},
        {"voice commands collapse",
         [](auto& d) { d.set("enabledVoiceCommands", jsonData(R"(["scratchThat","scratchThat"])")); },
         [](auto& p) { EXPECT_EQ(p.enabledVoiceCommands(), std::set<VoiceCommand>{VoiceCommand::scratchThat}); }},
        {"voice commands with an unknown one keep the known ones",
         [](auto& d) { d.set("enabledVoiceCommands", jsonData(R"(["scratchThat","undo"])")); },
         [](auto& p) { EXPECT_EQ(p.enabledVoiceCommands(), std::set<VoiceCommand>{VoiceCommand::scratchThat}); }},
        {"providers with a non-text one keep the others",
         [](auto& d) { d.set("acknowledgedCloudProviders", jsonData(R"(["openai",7,"cartesia"])")); },
         [](auto& p) {
             EXPECT_EQ(p.acknowledgedCloudProviders(), (std::set<std::string>{"cartesia", "openai"}));
         }},
        {"report date", [](auto& d) { d.set("lastQuonReportOpenedAt", Date::fromTimeIntervalSinceReferenceDate(7)); },
         [](auto& p) { EXPECT_EQ(p.lastQuonReportOpenedAt(), Date::fromTimeIntervalSinceReferenceDate(7)); }},
        {"report date holding text", [](auto& d) { d.set("lastQuonReportOpenedAt", "yesterday"); },
         [](auto& p) { EXPECT_EQ(p.lastQuonReportOpenedAt(), std::nullopt); }},
        {"podcast voices", [](auto& d) {
             d.set("podcastHostAVoiceID", "bf_emma");
             d.set("podcastGeminiHostBVoiceName", "Puck");
         },
         [](auto& p) {
             EXPECT_EQ(p.podcastHostAVoiceID(), "bf_emma");
             EXPECT_EQ(p.podcastHostBVoiceID(), "am_puck");
             EXPECT_EQ(p.podcastGeminiHostBVoiceName(), "Puck");
         }},
        {"a JSON value of the wrong shape", [](auto& d) { d.set("customTones", jsonData(R"({"id":"x"})")); },
         [](auto& p) { EXPECT_TRUE(p.customTones().empty()); }},
        {"default tone", [](auto& d) { d.set("defaultToneID", "casual"); },
         [](auto& p) { EXPECT_EQ(p.defaultToneID(), "casual"); }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        platform::InMemoryUserDefaults store;
        row.stored(store);
        auto prefs = open(store);
        row.check(*prefs);
    }
}

TEST_F(StoreTest, CleanUpModelDefaultFollowsTheOnDeviceModel) {
    modelAvailable = true;
    EXPECT_EQ(open()->cleanUpModel(), CleanUpModel::appleIntelligence);
    modelAvailable = false;
    EXPECT_EQ(open()->cleanUpModel(), CleanUpModel::sonnet46);
    // No query at all counts as unavailable.
    platform::InMemoryUserDefaults empty;
    PreferencesStore bare(empty, {});
    EXPECT_EQ(bare.cleanUpModel(), CleanUpModel::sonnet46);
    EXPECT_EQ(bare.dictationContextualPhrases(),
              (std::vector<std::string>{"Parlowen", "Quon", "Vant and Quon", "VoiceVant"}));
}

TEST_F(StoreTest, UndecodableValuesStayStoredUntilWritten) {
    defaults.set("liveDisplayMode", "off");
    auto prefs = open();
    EXPECT_EQ(prefs->liveDisplayMode(), LiveDisplayMode::hud);
    EXPECT_EQ(storedJson(defaults, "liveDisplayMode"), "<string>");
    prefs->liveDisplayMode.set(LiveDisplayMode::off);
    EXPECT_EQ(storedJson(defaults, "liveDisplayMode"), R"("off")");
}

// ---- Writing ---------------------------------------------------------------------------

TEST_F(StoreTest, EveryKindIsWrittenInItsForm) {
    auto prefs = open();
    PreferencesStore& p = *prefs;

    p.liveDisplayMode.set(LiveDisplayMode::hud);
    EXPECT_EQ(*defaults.object("liveDisplayMode"), DefaultsValue(Bytes{0x22, 0x68, 0x75, 0x64, 0x22}));

    p.readAloudRate.set(-2.0f);  // stored unchanged
    EXPECT_EQ(*defaults.object("readAloudRate"), DefaultsValue(-2.0f));
    p.enableListenLater.set(true);
    EXPECT_EQ(*defaults.object("enableListenLater"), DefaultsValue(true));
    p.defaultToneID.set("slack");
    EXPECT_EQ(*defaults.object("defaultToneID"), DefaultsValue("slack"));
    p.cleanUpModel.set(CleanUpModel::appleIntelligence);
    EXPECT_EQ(*defaults.object("cleanUpModel"), DefaultsValue("apple-intelligence"));
    p.lastQuonReportOpenedAt.set(Date::fromTimeIntervalSinceReferenceDate(42));
    EXPECT_EQ(*defaults.object("lastQuonReportOpenedAt"), DefaultsValue(Date::fromTimeIntervalSinceReferenceDate(42)));
    p.lastQuonReportOpenedAt.set(std::nullopt);
    EXPECT_FALSE(defaults.object("lastQuonReportOpenedAt"));

    p.preferredOutputDeviceUID.set("alsa_output.usb-headset");
    EXPECT_EQ(*defaults.object("preferredOutputDeviceUID"), DefaultsValue("alsa_output.usb-headset"));
    p.preferredOutputDeviceUID.set(std::nullopt);
    EXPECT_FALSE(defaults.object("preferredOutputDeviceUID"));

    p.enabledVoiceCommands.set({VoiceCommand::deleteThat, VoiceCommand::scratchThat});
    EXPECT_EQ(storedJson(defaults, "enabledVoiceCommands"), R"(["scratchThat","deleteThat"])");
    p.learnedVocabulary.set({{"Kubernetes", 3}, {"Zig", 1}});
    EXPECT_EQ(storedJson(defaults, "learnedVocabulary"), R"({"Kubernetes":3,"Zig":1})");
    p.acknowledgedCloudProviders.set({"openai", "dictation-groq"});
    EXPECT_EQ(storedJson(defaults, "acknowledgedCloudProviders"), R"(["dictation-groq","openai"])");
    p.customTones.set({Tone{"pirate", "Pirate", std::nullopt, "Arr.", false}});
    EXPECT_EQ(storedJson(defaults, "customTones"),
              R"([{"id":"pirate","displayName":"Pirate","systemPrompt":"Arr.","isBuiltIn":false}])");
    p.readAloudGesture.set(Gesture::hold(Hotkey::rightOption));
    EXPECT_EQ(storedJson(defaults, "readAloudGesture"), R"({"hold":{"_0":{"rightOption":{}}}})");

    // Everything reads back after a relaunch; a rate of 0 or less becomes 0.5 only then.
    auto again = open();
    EXPECT_EQ(again->readAloudRate(), 0.5f);
    EXPECT_EQ(again->enabledVoiceCommands(), p.enabledVoiceCommands());
    EXPECT_EQ(again->learnedVocabulary(), p.learnedVocabulary());
    EXPECT_EQ(again->customTones(), p.customTones());
    EXPECT_EQ(again->readAloudGesture(), Gesture::hold(Hotkey::rightOption));
    EXPECT_EQ(again->preferredOutputDeviceUID(), std::nullopt);
    EXPECT_EQ(again->cleanUpModel(), CleanUpModel::appleIntelligence);
    p.readAloudRate.set(1.5f);
    EXPECT_EQ(open()->readAloudRate(), 1.5f);
}

TEST_F(StoreTest, AValueThatCannotBeEncodedIsKeptInMemoryOnly) {
    auto prefs = open();
    const auto stored = storedJson(defaults, "dictationContextualPhrases");
    const std::vector<std::string> invalid{"ok", std::string("\xC3\x28")};  // not UTF-8
    prefs->dictationContextualPhrases.set(invalid);
    EXPECT_EQ(prefs->dictationContextualPhrases(), invalid);
    EXPECT_EQ(storedJson(defaults, "dictationContextualPhrases"), stored);
    prefs->persistJSON(std::vector<std::string>{"direct"}, "dictationContextualPhrases");
    EXPECT_EQ(storedJson(defaults, "dictationContextualPhrases"), R"(["direct"])");
}

// ---- Change streams --------------------------------------------------------------------

TEST_F(StoreTest, ChangeStreamsDeliverBeforeTheStoreHoldsTheValue) {
    auto prefs = open();
    PreferencesStore& p = *prefs;
    struct Seen {
        ReadAloudEngineKind handed;
        ReadAloudEngineKind inStore;
        std::string inDefaults;
    };
    std::vector<Seen> seen;
    std::vector<std::string> events;
    auto whole = p.objectWillChange().subscribe([&](const std::string& key) { events.push_back("will " + key); });
    auto sub = p.readAloudEngine.subscribe([&](const ReadAloudEngineKind& kind) {
        seen.push_back({kind, p.readAloudEngine(), storedJson(defaults, "readAloudEngine")});
        events.push_back(std::string("engine ") + std::string(rawValue(kind)));
    });
    ASSERT_EQ(seen.size(), 1u);  // the current value at once
    EXPECT_EQ(seen[0].handed, ReadAloudEngineKind::kokoro);

    p.readAloudEngine.set(ReadAloudEngineKind::appleSpeech);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1].handed, ReadAloudEngineKind::appleSpeech);
    EXPECT_EQ(seen[1].inStore, ReadAloudEngineKind::kokoro);
    EXPECT_EQ(seen[1].inDefaults, "<absent>");
    EXPECT_EQ(p.readAloudEngine(), ReadAloudEngineKind::appleSpeech);
    EXPECT_EQ(storedJson(defaults, "readAloudEngine"), R"("appleSpeech")");

    // Equal values are delivered (and written) again.
    const int writes = defaults.writeCount();
    p.readAloudEngine.set(ReadAloudEngineKind::appleSpeech);
    EXPECT_EQ(seen.size(), 3u);
    EXPECT_EQ(defaults.writeCount(), writes + 1);
    EXPECT_EQ(events, (std::vector<std::string>{"engine kokoro", "will readAloudEngine", "engine appleSpeech",
                                                "will readAloudEngine", "engine appleSpeech"}));

    sub.reset();
    p.readAloudEngine.set(ReadAloudEngineKind::openai);
    EXPECT_EQ(seen.size(), 3u);
}

TEST_F(StoreTest, TurningHistoryOffClearsIt) {
    auto prefs = open();
    history.record("one");
    history.record("two");
    prefs->rememberDictationHistory.set(true);
    EXPECT_EQ(history.entries().get().size(), 2u);
    prefs->rememberDictationHistory.set(false);
    EXPECT_TRUE(history.entries().get().empty());
    EXPECT_EQ(*defaults.object("rememberDictationHistory"), DefaultsValue(false));
    prefs->rememberDictationHistory.set(true);
    EXPECT_TRUE(history.entries().get().empty());
    EXPECT_EQ(open()->rememberDictationHistory(), true);
}

TEST_F(StoreTest, ActiveVoiceIdentifierFollowsTheEngine) {
    auto prefs = open();
    PreferencesStore& p = *prefs;
    p.kokoroVoiceIdentifier.set("af_heart");
    p.cartesiaVoiceId.set("c-1");
    p.openAIVoice.set(OpenAITTSVoice::sage);
    const std::pair<ReadAloudEngineKind, std::optional<std::string>> rows[] = {
        {ReadAloudEngineKind::appleSpeech, "com.apple.voice.premium.en-US.Zoe"},
        {ReadAloudEngineKind::kokoro, "af_heart"},
        {ReadAloudEngineKind::openai, "sage"},
        {ReadAloudEngineKind::cartesia, "c-1"},
        {ReadAloudEngineKind::elevenlabs, std::nullopt},
    };
    for (const auto& [engine, voice] : rows) {
        p.readAloudEngine.set(engine);
        EXPECT_EQ(p.activeVoiceIdentifier(), voice) << rawValue(engine);
    }
}

// ---- Bad entries in stored lists -------------------------------------------------------

TEST_F(StoreTest, OneBadRuleOrToneLeavesOnlyThatEntryOut) {
    defaults.set("hasSeededPerAppRules", true);
    defaults.set("perAppRules",
                 jsonData(R"([{"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","bundleId":"com.apple.mail","appName":"Mail"},)"
                          R"({"bundleId":"com.example.future","engineMode":"whisperLocal"},)"
                          R"({"id":"0F4C6F56-7A1B-4E0E-9B7C-1B1F3E6F2A10","bundleId":"com.apple.Notes"}])"));
    defaults.set("customTones",
                 jsonData(R"([{"id":"a","displayName":"A","systemPrompt":"p","isBuiltIn":false},)"
                          R"({"id":"b","displayName":"B"},)"
                          R"({"id":"c","displayName":"C","systemPrompt":"q","isBuiltIn":false}])"));
    defaults.set("dictationContextualPhrases", jsonData(R"(["Zig",7,"Kubernetes"])"));
    defaults.set("learnedVocabulary", jsonData(R"({"gRPC":4,"bad":"x","Rust":2.0,"half":1.5})"));

    auto prefs = open();
    ASSERT_EQ(prefs->perAppRules().size(), 2u);
    EXPECT_EQ(prefs->perAppRules()[0].bundleId, "com.apple.mail");
    EXPECT_EQ(prefs->perAppRules()[1].bundleId, "com.apple.Notes");
    ASSERT_EQ(prefs->customTones().size(), 2u);
    EXPECT_EQ(prefs->customTones()[1].id, "c");
    EXPECT_EQ(prefs->dictationContextualPhrases(), (std::vector<std::string>{"Zig", "Kubernetes"}));
    EXPECT_EQ(prefs->learnedVocabulary(), (std::map<std::string, std::int64_t>{{"Rust", 2}, {"gRPC", 4}}));
    EXPECT_TRUE(logs->contains("perAppRules: entry 1 does not decode and is kept as stored", platform::LogLevel::error));
    EXPECT_TRUE(logs->contains("customTones: entry 1 does not decode and is kept as stored", platform::LogLevel::error));

    // The next write keeps the good entries.
    auto rules = prefs->perAppRules();
    rules[0].toneID = "email";
    prefs->perAppRules.set(rules);
    auto again = open();
    ASSERT_EQ(again->perAppRules().size(), 2u);
    EXPECT_EQ(again->perAppRules()[0].toneID, "email");
    EXPECT_EQ(again->perAppRules()[1].id, *platform::Uuid::fromString("0F4C6F56-7A1B-4E0E-9B7C-1B1F3E6F2A10"));
}

// Stored lists with entries this version cannot read: load, change one readable
// entry, and the unreadable ones are written back byte for byte in their places.
TEST_F(StoreTest, UnreadableEntriesSurviveEveryWriteInTheirPlaces) {
    const std::string futureRule = R"({ "bundleId" : "com.example.future", "engineMode" : "whisperLocal" })";
    const std::string toneWithoutPrompt = R"({"id":"b","displayName":"B"})";
    struct Row {
        const char* key;
        std::string stored;
        std::function<void(PreferencesStore&)> change;
        std::string written;
    };
    const Row rows[] = {
        {"perAppRules",
         R"([{"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","bundleId":"com.apple.mail","appName":"Mail"},)" +
             futureRule + R"(,{"id":"0F4C6F56-7A1B-4E0E-9B7C-1B1F3E6F2A10","bundleId":"com.apple.Notes"}])",
         [](PreferencesStore& p) {
             auto rules = p.perAppRules();
             rules[1].appName = "Notes";
             p.perAppRules.set(rules);
         },
         R"([{"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","bundleId":"com.apple.mail","appName":"Mail",)"
         R"("extraContextualPhrases":[],"disableCleanUpPill":false},)" +
             futureRule +
             R"(,{"id":"0F4C6F56-7A1B-4E0E-9B7C-1B1F3E6F2A10","bundleId":"com.apple.Notes","appName":"Notes",)"
             R"("extraContextualPhrases":[],"disableCleanUpPill":false}])"},
        {"customTones",
         R"([{"id":"a","displayName":"A","systemPrompt":"p","isBuiltIn":false},)" + toneWithoutPrompt + "]",
         [](PreferencesStore& p) {
             auto tones = p.customTones();
             tones[0].systemPrompt = "changed";
             p.customTones.set(tones);
         },
         R"([{"id":"a","displayName":"A","systemPrompt":"changed","isBuiltIn":false},)" + toneWithoutPrompt + "]"},
        {"dictationContextualPhrases", R"([7, "Zig",{"newer":true}])",
         [](PreferencesStore& p) { p.dictationContextualPhrases.set({"Zag", "Kubernetes"}); },
         R"([7,"Zag",{"newer":true},"Kubernetes"])"},
        {"learnedVocabulary", R"({"Rust":2,"big":18446744073709551616,"gRPC":4,"half":1.50})",
         [](PreferencesStore& p) {
             auto words = p.learnedVocabulary();
             words["gRPC"] = 5;
             p.learnedVocabulary.set(words);
         },
         R"({"Rust":2,"big":18446744073709551616,"gRPC":5,"half":1.50})"},
        {"acknowledgedCloudProviders", R"(["openai",{"provider":"future"}])",
         [](PreferencesStore& p) { p.acknowledgedCloudProviders.set({"cartesia", "openai"}); },
         R"(["cartesia",{"provider":"future"},"openai"])"},
        {"enabledVoiceCommands", R"(["undo","scratchThat"])",
         [](PreferencesStore& p) { p.enabledVoiceCommands.set({VoiceCommand::scratchThat, VoiceCommand::deleteThat}); },
         R"(["undo","scratchThat","deleteThat"])"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.key);
        platform::InMemoryUserDefaults store;
        store.set("hasSeededPerAppRules", true);
        store.set("hasSeededContextualPhrases", true);
        store.set(row.key, jsonData(row.stored));
        auto prefs = open(store);
        EXPECT_EQ(storedJson(store, row.key), row.stored) << "loading writes nothing";
        row.change(*prefs);
        EXPECT_EQ(storedJson(store, row.key), row.written);
        // And again, after a relaunch: still there, still in place.
        auto again = open(store);
        row.change(*again);
        EXPECT_EQ(storedJson(store, row.key), row.written);
    }
}

TEST_F(StoreTest, UnreadableEntriesSurviveInTheDefaultsFile) {
    testsupport::TempDir dir;
    const auto path = dir.path() / "defaults.json";
    const std::string future = R"({"bundleId":"com.example.future","engineMode":"whisperLocal","extra":1.0e2})";
    {
        platform::JsonFileUserDefaults file(path);
        file.set("hasSeededPerAppRules", true);
        file.set("perAppRules", jsonData("[" + future + "]"));
    }
    for (int launch = 0; launch < 3; ++launch) {
        platform::JsonFileUserDefaults file(path);
        auto prefs = open(file);
        EXPECT_EQ(prefs->perAppRules().size(), launch == 0 ? 0u : 1u) << "the future rule is not shown";
        auto rules = prefs->perAppRules();
        if (launch == 0) rules.push_back(PerAppRule{});
        rules.at(0).appName = "launch " + std::to_string(launch);
        prefs->perAppRules.set(rules);
        EXPECT_EQ(storedJson(file, "perAppRules").substr(0, future.size() + 2), "[" + future + ",");
    }
}

TEST_F(StoreTest, AStoredValueThatIsNoListIsKeptAsideBeforeItIsReplaced) {
    struct Row {
        const char* what;
        DefaultsValue stored;
    };
    const Row rows[] = {
        {"an object", DefaultsValue(jsonData(R"({"id":"x"})"))},
        {"not JSON", DefaultsValue(jsonData("[{"))},
        {"text instead of data", DefaultsValue("[]")},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        platform::InMemoryUserDefaults store;
        store.set("hasSeededContextualPhrases", true);
        store.set("customTones", row.stored);
        auto prefs = open(store);
        EXPECT_TRUE(prefs->customTones().empty());
        EXPECT_EQ(store.object("customTones"), row.stored) << "loading writes nothing";
        prefs->customTones.set({Tone{"pirate", "Pirate", std::nullopt, "Arr.", false}});
        auto keysAside = [&] {
            std::vector<std::string> out;
            for (const auto& key : store.keys())
                if (key.starts_with("customTones.corrupt-")) out.push_back(key);
            return out;
        };
        const auto aside = keysAside();
        ASSERT_EQ(aside.size(), 1u);
        EXPECT_EQ(store.object(aside[0]), row.stored);
        EXPECT_EQ(storedJson(store, "customTones"),
                  R"([{"id":"pirate","displayName":"Pirate","systemPrompt":"Arr.","isBuiltIn":false}])");
        prefs->customTones.set({});
        EXPECT_EQ(keysAside(), aside) << "kept aside once";
    }
}

}  // namespace
