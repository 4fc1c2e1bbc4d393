#include "Parlowen/readaloud/ReadAloudCoordinator.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <deque>
#include <map>

#include "Parlowen/notepad/ModelChoice.h"
#include "Parlowen/readaloud/FakeSpeechEngine.h"
#include "Parlowen/notepad/Summarizer.h"
#include "Parlowen/readaloud/ReadAloudCostGuard.h"
#include "Parlowen/shell/KeychainStore.h"
#include "Parlowen/shell/settings/PreferencesStore.h"
#include "platform/defaults/InMemoryUserDefaults.h"
#include "platform/http/FakeHttpClient.h"
#include "platform/keychain/SecretStore.h"
#include "platform/languagemodel/ScriptedLanguageModel.h"
#include "platform/log/CaptureSink.h"
#include "platform/permissions/PermissionSource.h"
#include "platform/runtime/ManualExecutor.h"
#include "platform/x11/Workspace.h"

namespace parlowen {
namespace {

using namespace std::chrono_literals;
using platform::LogLevel;
using ::testing::ElementsAre;
using Kind = ReadAloudEngineKind;
using Mode = ReadAloudUIState::Mode;
using State = ReadAloudCoordinator::State;
using Events = std::vector<std::string>;

std::string kindName(Kind kind) { return std::string(rawValue(kind)); }

// Plain words, at least `n` characters (a long run of one letter would be read as an opaque token).
std::string words(std::size_t n) {
    std::string out;
    while (out.size() < n) out += "Word ";
    return out;
}

using FakeEngine = FakeSpeechEngine;

// The on-device voice as this build has it, with its status settable.
class TestKokoroEngine : public KokoroEngine {
public:
    using KokoroEngine::KokoroEngine;
    using KokoroEngine::setInitializationStatus;
};

class FakeEngineFactory : public ReadAloudEngineFactory {
public:
    FakeEngineFactory(platform::Executor& main, Events& events) : main_(main), events_(events) {}

    std::unique_ptr<SpeechSynthesisEngine> makeEngine(Kind kind) override {
        made.push_back(kind);
        if (kind == Kind::kokoro) return std::make_unique<TestKokoroEngine>(main_);
        return std::make_unique<FakeEngine>(kindName(kind), &events_);
    }
    platform::Task<void> warmUpConnection(Kind kind) override {
        warmUps.push_back(kind);
        return nothing();
    }
    std::vector<platform::SpeechVoice> systemVoices() override {
        ++voiceListings;
        return voices;
    }

    std::vector<Kind> made, warmUps;
    int voiceListings = 0;
    std::vector<platform::SpeechVoice> voices{{"gmw/en-US", "English (America)", "en-US", "default"},
                                              {"roa/fr", "French", "fr-FR", "default"}};

private:
    static platform::Task<void> nothing() { co_return; }
    platform::Executor& main_;
    Events& events_;
};

// Answers the cost alerts from a script and notes the reading's state while one is open.
class ObservingAlerts : public platform::ui::AlertPresenter {
public:
    int run(const platform::ui::Alert& alert) override {
        shown.push_back(alert);
        if (whileOpen) whileOpen();
        if (answers.empty()) return 1;
        int a = answers.front();
        answers.pop_front();
        return a;
    }
    std::deque<int> answers;
    std::function<void()> whileOpen;
    std::vector<platform::ui::Alert> shown;
};

struct Recorded {
    LookoutClient::Category category;
    std::string message;
    platform::ReportData data;
};

std::string text(const platform::ReportValue& v) { return std::get<std::string>(v); }

class ReadAloudCoordinatorTest : public ::testing::Test {
protected:
    ReadAloudCoordinatorTest() {
        workspace.addApplication({.processIdentifier = 10, .bundleIdentifier = "org.gnome.TextEditor",
                                  .localizedName = "Text Editor"});
        workspace.addApplication({.processIdentifier = 20, .bundleIdentifier = "org.example.Mail",
                                  .localizedName = "Mail"});
        workspace.setFrontmost(10);
        preferences.perAppRules.set({});
        preferences.readAloudEngine.set(Kind::appleSpeech);
        preferences.readAloudRate.set(0.5f);
    }

    void build() {
        coordinator = std::make_unique<ReadAloudCoordinator>(ReadAloudCoordinator::Dependencies{
            .preferences = preferences, .permissions = permissions, .engines = factory, .keychain = keychain,
            .workspace = workspace, .costGuard = guard,
            .record = [this](LookoutClient::Category c, const std::string& m,
                             platform::ReportData d) { recorded.push_back({c, m, std::move(d)}); },
            .main = ex, .background = ex,
            .captureSelection = [this] { return capture(this); },
            .onDeviceClient = [this] { return onDeviceClient(RefinementServices{lm, keychain, http}); },
            .presentPermissionPreScreen = [this](PermissionKind k) { preScreens.push_back(k); },
            .openReadAloudPreferences = [this] { ++preferencesOpened; }});
        coordinator->onUIStateChange = [this](const ReadAloudUIState& s) { snapshots.push_back(s); };
        coordinator->onSpeakStarted = [this](const std::string& t) { started.push_back(t); };
        coordinator->onNoSelection = [this] { events.push_back("noSelection"); };
        coordinator->onSummarizeFallback = [this](const std::string& m) { toasts.push_back(m); };
    }

    static platform::Task<std::optional<std::string>> capture(ReadAloudCoordinatorTest* self) {
        ++self->captures;
        if (self->captureDelay > 0s) (void)co_await platform::sleepFor(self->captureDelay);
        co_return self->selection;
    }

    FakeEngine& engine() { return dynamic_cast<FakeEngine&>(coordinator->engine()); }
    void storeKey(KeychainStore::Key key) { ASSERT_TRUE(keychain.write(key, "sk-test")); }
    // A press that runs until the reading has been handed to the engine (or refused).
    void press(bool summarize = false) {
        coordinator->handlePress(summarize);
        ex.runUntilIdle();
    }
    std::vector<std::string> swaps() const {
        std::vector<std::string> out;
        for (const auto& r : recorded)
            if (r.category == LookoutClient::Category::engineSelected)
                out.push_back(text(r.data.at("previous_engine")) + "→" + text(r.data.at("engine")));
        return out;
    }
    std::size_t count(const std::string& event) const { return std::count(events.begin(), events.end(), event); }

    platform::ScopedLogCapture log;
    platform::ManualExecutor ex;
    Events events;
    platform::InMemoryUserDefaults defaults;
    PreferencesStore preferences{defaults, {}};
    platform::ScriptedPermissionSource micSource{3}, speechSource{3}, axSource{1}, inputSource{0};
    PermissionsManager permissions{PermissionSources{micSource, speechSource, axSource, inputSource}, ex};
    FakeEngineFactory factory{ex, events};
    platform::InMemorySecretStore secrets;
    KeychainStore keychain{secrets, ex};
    platform::ScriptedWorkspace workspace;
    ObservingAlerts alerts;
    ReadAloudCostGuard guard{alerts, "en_US"};
    platform::ScriptedLanguageModel lm;
    platform::FakeHttpClient http;
    std::vector<Recorded> recorded;
    std::vector<PermissionKind> preScreens;
    int preferencesOpened = 0;
    std::optional<std::string> selection = std::string("Hello there. This is a test.");
    platform::Duration captureDelay{0};
    int captures = 0;
    std::vector<ReadAloudUIState> snapshots;
    std::vector<std::string> started, toasts;
    std::unique_ptr<ReadAloudCoordinator> coordinator;
};

// ---- A reading

TEST_F(ReadAloudCoordinatorTest, APressReadsTheNormalisedSelectionWithTheStoredVoiceAndRateUntilItFinishes) {
    preferences.readAloudVoiceIdentifier.set("gmw/en-GB");
    preferences.readAloudRate.set(0.75f);
    selection = "See https://example.com/docs now. Bye.";
    build();
    press();
    EXPECT_EQ(coordinator->state(), State::speaking);
    ASSERT_EQ(engine().spoken.size(), 1u);
    EXPECT_EQ(engine().spoken[0].text, "See example.com slash docs now. Bye.");
    EXPECT_EQ(engine().spoken[0].voice, "gmw/en-GB");
    EXPECT_EQ(engine().spoken[0].rate, 0.75f);  // unchanged: the engine maps it
    EXPECT_THAT(started, ElementsAre("See example.com slash docs now. Bye."));
    ASSERT_EQ(coordinator->spokenMarks().size(), 1u);
    EXPECT_TRUE(log->contains("read-aloud start: capturing selection"));
    EXPECT_TRUE(log->contains("read-aloud: speaking 36 chars via appleSpeech"));
    EXPECT_TRUE(factory.warmUps.empty());

    engine().report(SpeechSynthesisState::speaking(0, 2, "See example.com slash docs now."));
    EXPECT_EQ(snapshots.back().mode, Mode::speaking);
    EXPECT_EQ(snapshots.back().currentMarks.size(), 1u);
    engine().report(SpeechSynthesisState::finished());
    EXPECT_EQ(coordinator->state(), State::idle);
    EXPECT_FALSE(coordinator->lastSpeakText());
    EXPECT_TRUE(coordinator->spokenMarks().empty());
    EXPECT_EQ(snapshots.back().mode, Mode::hidden);
    EXPECT_TRUE(log->contains("read-aloud finished naturally"));
}

TEST_F(ReadAloudCoordinatorTest, APressPerStateIgnoresStopsOrStarts) {
    build();
    // capturing: ignored
    captureDelay = 1s;
    coordinator->handlePress(false);
    ex.runUntilIdle();
    EXPECT_EQ(coordinator->state(), State::capturing);
    coordinator->handlePress(false);
    EXPECT_TRUE(log->contains("press ignored: capture in flight", LogLevel::debug));
    ex.advanceUntilIdle();
    EXPECT_EQ(captures, 1);
    EXPECT_EQ(coordinator->state(), State::speaking);

    // userPaused and pausedForArbitration: a press stops, never resumes
    for (auto pauseIt : {+[](ReadAloudCoordinator& c) { c.togglePause(); },
                         +[](ReadAloudCoordinator& c) { c.pauseForArbitration(); }}) {
        if (coordinator->state() == State::idle) {
            coordinator->handlePress(false);
            ex.advanceUntilIdle();
        }
        pauseIt(*coordinator);
        EXPECT_NE(coordinator->state(), State::speaking);
        const auto resumes = count("appleSpeech.resume");
        coordinator->handlePress(false);
        EXPECT_EQ(coordinator->state(), State::idle);
        EXPECT_EQ(count("appleSpeech.resume"), resumes);
        EXPECT_EQ(snapshots.back().mode, Mode::hidden);
    }
    EXPECT_EQ(count("appleSpeech.stop"), 2u);
}

TEST_F(ReadAloudCoordinatorTest, PauseAndArbitrationMoveOnlyFromTheirStates) {
    build();
    press();
    coordinator->resumeAfterArbitration();  // not paused: nothing
    coordinator->togglePause();
    EXPECT_EQ(coordinator->state(), State::userPaused);
    coordinator->pauseForArbitration();  // only from speaking
    EXPECT_EQ(coordinator->state(), State::userPaused);
    coordinator->togglePause();
    EXPECT_EQ(coordinator->state(), State::speaking);
    coordinator->pauseForArbitration();
    EXPECT_EQ(coordinator->state(), State::pausedForArbitration);
    coordinator->togglePause();  // nothing in this state
    coordinator->resumeAfterArbitration();
    EXPECT_EQ(coordinator->state(), State::speaking);
    EXPECT_THAT(std::vector<std::string>(events.begin() + 1, events.end()),
                ElementsAre("appleSpeech.pause", "appleSpeech.resume", "appleSpeech.pause", "appleSpeech.resume"));
    for (auto line : {"read-aloud user-paused", "read-aloud user-resumed", "read-aloud paused for arbitration",
                      "read-aloud resumed from arbitration"})
        EXPECT_TRUE(log->contains(line)) << line;
}

TEST_F(ReadAloudCoordinatorTest, AMissingPermissionPresentsThePreScreenForTheFirstMissingKind) {
    speechSource.setRawStatus(1);
    inputSource.setRawStatus(1);
    build();
    press();
    EXPECT_EQ(coordinator->state(), State::idle);
    EXPECT_THAT(preScreens, ElementsAre(PermissionKind::speech));
    EXPECT_EQ(captures, 0);
    EXPECT_TRUE(log->contains(
        "read-aloud pressed but permissions incomplete: speech=denied, inputMonitoring=denied; presenting pre-screen",
        LogLevel::error));
}

TEST_F(ReadAloudCoordinatorTest, AMissingCloudKeyOrVoiceIdOpensTheReadAloudPreferencesInsteadOfReading) {
    struct Case {
        Kind kind;
        bool storeKey;
        std::string line;
    };
    for (const auto& c : {Case{Kind::openai, false, "read-aloud pressed but openai is missing its credential; opening prefs"},
                          Case{Kind::cartesia, false, "read-aloud pressed but cartesia is missing its credential; opening prefs"},
                          Case{Kind::cartesia, true, "read-aloud pressed but cartesia is missing its voice id; opening prefs"},
                          Case{Kind::elevenlabs, true, "read-aloud pressed but elevenlabs is missing its voice id; opening prefs"}}) {
        SCOPED_TRACE(c.line);
        preferencesOpened = 0;
        captures = 0;
        preferences.readAloudEngine.set(c.kind);
        if (c.storeKey) {
            storeKey(KeychainStore::Key::cartesia);
            storeKey(KeychainStore::Key::elevenLabs);
        }
        build();
        press();
        EXPECT_EQ(coordinator->state(), State::idle);
        EXPECT_EQ(preferencesOpened, 1);
        EXPECT_EQ(captures, 0);
        EXPECT_TRUE(log->contains(c.line, LogLevel::error));
    }
}

TEST_F(ReadAloudCoordinatorTest, ACloudReadingWithItsKeyWarmsTheConnectionUpAndReads) {
    preferences.readAloudEngine.set(Kind::openai);
    preferences.openAIVoice.set(OpenAITTSVoice::coral);
    storeKey(KeychainStore::Key::openAI);
    build();
    press();
    EXPECT_THAT(factory.warmUps, ElementsAre(Kind::openai));
    ASSERT_EQ(engine().spoken.size(), 1u);
    EXPECT_EQ(engine().spoken[0].voice, "coral");
}

TEST_F(ReadAloudCoordinatorTest, NothingToReadShowsTheNoSelectionToast) {
    struct Case {
        std::optional<std::string> selection;
        std::string line;
    };
    build();
    for (const auto& c : {Case{std::nullopt, "read-aloud: no selection captured"},
                          Case{std::string(), "read-aloud: no selection captured"},
                          Case{std::string("  \n\t "), "read-aloud: nothing to speak after normalization"},
                          Case{std::string("---"), "read-aloud: nothing to speak after normalization"}}) {
        SCOPED_TRACE(c.line);
        events.clear();
        selection = c.selection;
        press();
        EXPECT_EQ(coordinator->state(), State::idle);
        EXPECT_THAT(events, ElementsAre("noSelection"));
        EXPECT_TRUE(log->contains(c.line));
        EXPECT_EQ(snapshots.back().mode, Mode::hidden);
    }
}

TEST_F(ReadAloudCoordinatorTest, ACaptureThatReturnsAfterACancelIsDiscarded) {
    build();
    captureDelay = 2s;
    coordinator->handlePress(false);
    ex.runUntilIdle();
    coordinator->cancel();
    EXPECT_TRUE(log->contains("read-aloud cancelled"));
    ex.advanceUntilIdle();
    EXPECT_EQ(coordinator->state(), State::idle);
    EXPECT_TRUE(engine().spoken.empty());
    EXPECT_TRUE(started.empty());
    EXPECT_TRUE(log->contains("read-aloud: state changed during capture; discarding"));
}

// ---- Summaries

TEST_F(ReadAloudCoordinatorTest, WithoutTheOnDeviceModelTheFullTextIsReadWithItsMarksAfterTheToast) {
    lm.setAvailability(platform::LanguageModelAvailability::deviceNotEligible);
    selection = "Read https://example.com/a please.";
    build();
    press(true);
    EXPECT_THAT(toasts, ElementsAre("Summarize & Read needs Apple Intelligence — reading the full selection."));
    EXPECT_TRUE(log->contains("summarize-read: Apple Intelligence unavailable; reading full text"));
    ASSERT_EQ(engine().spoken.size(), 1u);
    EXPECT_EQ(engine().spoken[0].text, "Read example.com slash a please.");
    EXPECT_EQ(coordinator->spokenMarks().size(), 1u);
    EXPECT_TRUE(snapshots.back().isSummary);
}

TEST_F(ReadAloudCoordinatorTest, ASummarisedReadingAsksForAShortSummaryAndHasNoMarks) {
    lm.setAvailability(platform::LanguageModelAvailability::available);
    lm.replyNext(platform::ScriptedReply::text("A short summary.", 59s));
    selection = "Read https://example.com/a please.";
    build();
    coordinator->handlePress(true);
    ex.runUntilIdle();
    EXPECT_EQ(coordinator->state(), State::summarizing);
    EXPECT_EQ(snapshots.back().mode, Mode::summarizing);
    ex.advanceUntilIdle();
    ASSERT_EQ(lm.calls().size(), 1u);
    EXPECT_EQ(lm.calls()[0].instructions, systemPrompt(SummaryLength::short_));
    ASSERT_EQ(engine().spoken.size(), 1u);
    EXPECT_EQ(engine().spoken[0].text, "A short summary.");
    EXPECT_TRUE(coordinator->spokenMarks().empty());
    EXPECT_TRUE(toasts.empty());
    EXPECT_TRUE(log->contains("summarize-read: 32 → 16 chars on-device"));
}

TEST_F(ReadAloudCoordinatorTest, ASummaryFailsPastSixtySecondsPerRequestAndTheFullTextIsRead) {
    lm.setAvailability(platform::LanguageModelAvailability::available);
    lm.replyNext(platform::ScriptedReply::text("Too late.", 61s));
    build();
    press(true);
    ex.advanceUntilIdle();
    EXPECT_THAT(toasts, ElementsAre("Couldn't summarize that — reading the full selection."));
    ASSERT_EQ(engine().spoken.size(), 1u);
    EXPECT_EQ(engine().spoken[0].text, "Hello there. This is a test.");
    EXPECT_TRUE(log->contains("reading full text", LogLevel::error));
}

TEST_F(ReadAloudCoordinatorTest, TextsOverSixThousandCharactersAreSummarisedInChunks) {
    lm.setAvailability(platform::LanguageModelAvailability::available);
    lm.setDefaultReply(platform::ScriptedReply::text("Part."));
    std::string paragraph;
    while (paragraph.size() < 4000) paragraph += "This sentence is about nothing at all. ";
    selection = paragraph + "\n\n" + paragraph;
    build();
    press(true);
    ex.advanceUntilIdle();
    EXPECT_EQ(lm.calls().size(), 3u);  // two chunks, then the joined summaries
    EXPECT_EQ(engine().spoken.at(0).text, "Part.");
}

TEST_F(ReadAloudCoordinatorTest, APressWhileSummarisingStopsAndTheLateSummaryIsDiscarded) {
    lm.setAvailability(platform::LanguageModelAvailability::available);
    lm.replyNext(platform::ScriptedReply::text("Summary.", 5s));
    build();
    press(true);
    coordinator->handlePress(true);
    EXPECT_EQ(coordinator->state(), State::idle);
    ex.advanceUntilIdle();
    EXPECT_TRUE(log->contains("read-aloud: cancelled during summarize; discarding"));
    EXPECT_TRUE(engine().spoken.empty());
    EXPECT_FALSE(coordinator->summarizeThisSession());
}

// ---- The cost guard

TEST_F(ReadAloudCoordinatorTest, RefusedOrCancelledReadingsEndIdleWithOneSnapshot) {
    struct Case {
        std::string name;
        std::size_t length;
    };
    preferences.readAloudEngine.set(Kind::openai);
    storeKey(KeychainStore::Key::openAI);
    alerts.answers = {2};  // the cost question: cancel
    build();
    for (const auto& c : {Case{"cancelled", 6000}, Case{"too large", 500'010}}) {
        SCOPED_TRACE(c.name);
        selection = words(c.length);
        snapshots.clear();
        press();
        EXPECT_EQ(coordinator->state(), State::idle);
        EXPECT_EQ(snapshots.size(), 1u);
        EXPECT_TRUE(engine().spoken.empty());
    }
    EXPECT_EQ(alerts.shown.back().messageText, "That's a lot of text");
}

TEST_F(ReadAloudCoordinatorTest, TheCostAlertIsAnsweredWhileTheReadingIsStillCapturing) {
    preferences.readAloudEngine.set(Kind::openai);
    storeKey(KeychainStore::Key::openAI);
    std::vector<State> whileOpen;
    alerts.whileOpen = [&] { whileOpen.push_back(coordinator->state()); };
    alerts.answers = {1};  // keep the chosen voice
    selection = words(6000);
    build();
    press();
    EXPECT_THAT(whileOpen, ElementsAre(State::capturing));
    EXPECT_EQ(coordinator->activeEngineKind(), Kind::openai);
    EXPECT_EQ(engine().spoken.size(), 1u);
}

TEST_F(ReadAloudCoordinatorTest, ALargeCloudReadMovesToTheSystemVoiceWithTheConvertedRateAndComesBackAtTheEnd) {
    preferences.readAloudEngine.set(Kind::openai);
    preferences.autoDowngradeForLargeReads.set(true);
    preferences.readAloudRate.set(1.0f);
    storeKey(KeychainStore::Key::openAI);
    selection = words(30'010);
    build();
    snapshots.clear();
    press();
    EXPECT_EQ(coordinator->activeEngineKind(), Kind::appleSpeech);
    ASSERT_EQ(engine().spoken.size(), 1u);
    EXPECT_EQ(engine().spoken[0].voice, "com.apple.voice.premium.en-US.Zoe");
    EXPECT_FLOAT_EQ(engine().spoken[0].rate, 0.57f);
    EXPECT_EQ(started.size(), 1u);
    // The swap's snapshot first (hidden), then the system voice's own.
    ASSERT_FALSE(snapshots.empty());
    EXPECT_EQ(snapshots.front().mode, Mode::hidden);
    EXPECT_EQ(snapshots.front().activeEngine, Kind::appleSpeech);
    engine().report(SpeechSynthesisState::speaking(0, 1, "Word Word"));
    EXPECT_EQ(snapshots.back().mode, Mode::speaking);
    EXPECT_EQ(snapshots.back().downgradedFromEngine, Kind::openai);
    engine().report(SpeechSynthesisState::finished());
    ex.runUntilIdle();
    EXPECT_EQ(coordinator->activeEngineKind(), Kind::openai);
    EXPECT_FALSE(coordinator->downgradedFromUserEngine());
    EXPECT_THAT(swaps(), ElementsAre("openai→appleSpeech", "appleSpeech→openai"));
}

// ---- Fallback after an engine error

TEST_F(ReadAloudCoordinatorTest, ACloudErrorFallsBackOnceToTheSystemVoiceAndASecondErrorEndsTheReading) {
    preferences.readAloudEngine.set(Kind::openai);
    preferences.readAloudRate.set(0.75f);
    storeKey(KeychainStore::Key::openAI);
    build();
    press();
    engine().report(SpeechSynthesisState::speaking(1, 2, "This is a test."));
    engine().fail("HTTP 500: boom");

    EXPECT_EQ(coordinator->activeEngineKind(), Kind::appleSpeech);
    EXPECT_EQ(coordinator->state(), State::speaking);
    ASSERT_EQ(engine().spoken.size(), 1u);
    EXPECT_EQ(engine().spoken[0].text, "Hello there. This is a test.");  // from its first sentence
    EXPECT_EQ(engine().spoken[0].voice, "com.apple.voice.premium.en-US.Zoe");
    EXPECT_FLOAT_EQ(engine().spoken[0].rate, 0.535f);
    EXPECT_EQ(started.size(), 2u);
    EXPECT_TRUE(coordinator->didFallbackThisSession());
    EXPECT_TRUE(log->contains("read-aloud engine error: HTTP 500: boom — engine=openai didFallback=false",
                              LogLevel::error));
    EXPECT_TRUE(log->contains("read-aloud auto-fallback: openai → appleSpeech after engine error; re-speaking 28 chars"));
    // The failed engine outlived the callback that replaced it.
    auto returned = std::find(events.begin(), events.end(), "openai.errorReturned");
    auto destroyed = std::find(events.begin(), events.end(), "openai.destroyed");
    EXPECT_LT(returned, destroyed);
    ex.runUntilIdle();
    EXPECT_NE(std::find(events.begin(), events.end(), "openai.destroyed"), events.end());

    engine().fail("no audio output");
    EXPECT_EQ(coordinator->state(), State::idle);
    EXPECT_EQ(coordinator->activeEngineKind(), Kind::appleSpeech);
    EXPECT_FALSE(coordinator->lastSpeakText());
    EXPECT_EQ(started.size(), 2u);

    std::vector<std::tuple<std::string, std::string, std::string>> errors;
    for (const auto& r : recorded)
        if (r.category == LookoutClient::Category::readAloudError) {
            EXPECT_EQ(r.message, "engine error");
            errors.emplace_back(text(r.data.at("engine")), text(r.data.at("did_fallback")), text(r.data.at("error")));
        }
    EXPECT_THAT(errors, ElementsAre(std::tuple("openai", "false", "HTTP 500: boom"),
                                    std::tuple("appleSpeech", "true", "no audio output")));
    // The undo waits for the end of the reading.
    EXPECT_EQ(coordinator->downgradedFromUserEngine(), Kind::openai);
}

TEST_F(ReadAloudCoordinatorTest, AnErrorDuringAPreviewNeverFallsBack) {
    preferences.readAloudEngine.set(Kind::openai);
    build();
    coordinator->previewVoice();
    EXPECT_EQ(coordinator->state(), State::speaking);
    ASSERT_EQ(engine().spoken.size(), 1u);
    EXPECT_EQ(engine().spoken[0].text, "Hello. This is what I sound like reading text aloud.");
    EXPECT_EQ(engine().spoken[0].voice, "coral");
    EXPECT_TRUE(started.empty());
    EXPECT_TRUE(log->contains("read-aloud preview via openai"));
    engine().fail("HTTP 401: nope");
    EXPECT_EQ(coordinator->state(), State::idle);
    EXPECT_EQ(coordinator->activeEngineKind(), Kind::openai);
}

TEST_F(ReadAloudCoordinatorTest, APreviewStopsTheReadingInProgressFirst) {
    build();
    press();
    coordinator->previewVoice();
    EXPECT_EQ(count("appleSpeech.stop"), 1u);
    EXPECT_EQ(engine().spoken.back().text, ReadAloudCoordinator::kPreviewText);
    EXPECT_EQ(started.size(), 1u);
    EXPECT_FALSE(coordinator->lastSpeakText());
}

// ---- Per-application overrides

TEST_F(ReadAloudCoordinatorTest, AnOverrideAndADowngradeAreUndoneInOrderEndingOnTheUsersEngine) {
    preferences.readAloudEngine.set(Kind::cartesia);
    preferences.autoDowngradeForLargeReads.set(true);
    PerAppRule rule;
    rule.bundleId = "org.example.Mail";
    rule.appName = "Mail";
    rule.readAloudEngine = Kind::openai;
    preferences.perAppRules.set({rule});
    storeKey(KeychainStore::Key::openAI);
    workspace.setFrontmost(20);
    selection = words(30'010);
    build();
    press();
    EXPECT_EQ(coordinator->activeEngineKind(), Kind::appleSpeech);
    EXPECT_EQ(coordinator->perAppOverriddenFromUserEngine(), Kind::cartesia);
    EXPECT_TRUE(log->contains("read-aloud per-app override: Mail wants engine openai (saved is cartesia)"));
    coordinator->stop();
    EXPECT_EQ(coordinator->activeEngineKind(), Kind::cartesia);
    EXPECT_THAT(swaps(), ElementsAre("cartesia→openai", "openai→appleSpeech", "appleSpeech→openai", "openai→cartesia"));
}

TEST_F(ReadAloudCoordinatorTest, ARuleNamingTheActiveEngineAppliesOnlyItsVoiceWhichWinsOverSetVoiceUntilTheEnd) {
    PerAppRule rule;
    rule.bundleId = "org.gnome.TextEditor";
    rule.appName = "Text Editor";
    rule.readAloudEngine = Kind::appleSpeech;
    rule.readAloudVoiceIdentifier = "gmw/en-GB";
    preferences.perAppRules.set({rule});
    build();
    press();
    EXPECT_TRUE(swaps().empty());
    EXPECT_EQ(engine().spoken.at(0).voice, "gmw/en-GB");
    EXPECT_TRUE(log->contains("read-aloud per-app override: Text Editor wants voice gmw/en-GB"));
    coordinator->setVoice("gmw/en-US");
    EXPECT_EQ(preferences.readAloudVoiceIdentifier(), "gmw/en-US");
    EXPECT_EQ(coordinator->currentVoiceIdentifier(), "gmw/en-GB");
    EXPECT_EQ(snapshots.back().voiceIdentifier, "gmw/en-GB");
    engine().report(SpeechSynthesisState::finished());
    EXPECT_EQ(coordinator->currentVoiceIdentifier(), "gmw/en-US");
}

TEST_F(ReadAloudCoordinatorTest, AnOverrideLeftByARefusedReadingIsUndoneAtTheNextStart) {
    PerAppRule rule;
    rule.bundleId = "org.example.Mail";
    rule.appName = "Mail";
    rule.readAloudEngine = Kind::openai;  // no key stored
    preferences.perAppRules.set({rule});
    build();
    workspace.setFrontmost(20);
    press();
    EXPECT_EQ(preferencesOpened, 1);
    EXPECT_EQ(coordinator->activeEngineKind(), Kind::openai);  // stays until the next reading

    // Another application's rule: the user's own engine is still the one to return to.
    PerAppRule editorRule;
    editorRule.bundleId = "org.gnome.TextEditor";
    editorRule.appName = "Text Editor";
    editorRule.readAloudEngine = Kind::elevenlabs;  // no key either
    preferences.perAppRules.set({rule, editorRule});
    workspace.setFrontmost(10);
    press();
    EXPECT_EQ(preferencesOpened, 2);
    EXPECT_EQ(coordinator->activeEngineKind(), Kind::elevenlabs);
    EXPECT_EQ(coordinator->perAppOverriddenFromUserEngine(), Kind::appleSpeech);

    // An application without a rule: the user's engine reads.
    workspace.addApplication({.processIdentifier = 30, .bundleIdentifier = "org.example.Notes", .localizedName = "Notes"});
    workspace.setFrontmost(30);
    press();
    EXPECT_EQ(coordinator->activeEngineKind(), Kind::appleSpeech);
    EXPECT_EQ(engine().spoken.size(), 1u);
}

// ---- Engine setting and the on-device voice

TEST_F(ReadAloudCoordinatorTest, ChangingTheEngineSettingStopsTheReadingAndTheSameValueDoesNothing) {
    build();
    press();
    preferences.readAloudEngine.set(Kind::appleSpeech);
    EXPECT_EQ(coordinator->state(), State::speaking);
    EXPECT_TRUE(swaps().empty());
    preferences.readAloudEngine.set(Kind::openai);
    EXPECT_EQ(coordinator->state(), State::idle);
    EXPECT_EQ(coordinator->activeEngineKind(), Kind::openai);
    EXPECT_EQ(count("appleSpeech.stop"), 1u);
    EXPECT_THAT(swaps(), ElementsAre("appleSpeech→openai"));
    EXPECT_TRUE(log->contains("read-aloud engine swap: appleSpeech → openai"));
    EXPECT_EQ(snapshots.back().mode, Mode::hidden);
}

TEST_F(ReadAloudCoordinatorTest, ANewInstallsOnDeviceVoiceFailsOnceAndReadingsMoveToTheSystemVoice) {
    preferences.readAloudEngine.set(Kind::kokoro);
    build();
    EXPECT_TRUE(coordinator->makeUIState().kokoroInitializing);
    ex.runUntilIdle();
    EXPECT_EQ(coordinator->activeEngineKind(), Kind::appleSpeech);
    EXPECT_EQ(preferences.readAloudEngine(), Kind::kokoro);  // retried at the next launch
    EXPECT_THAT(swaps(), ElementsAre("kokoro→appleSpeech"));
    auto failure = std::find_if(recorded.begin(), recorded.end(), [](const Recorded& r) {
        return r.category == LookoutClient::Category::kokoroDownloadFailed;
    });
    ASSERT_NE(failure, recorded.end());
    EXPECT_EQ(failure->message, "kokoro initialization failed; auto-fallback to Apple Speech");
    EXPECT_EQ(text(failure->data.at("failure_reason")), "huggingface_unreachable");
    EXPECT_TRUE(log->contains("read-aloud: kokoro init failed; auto-falling back to Apple Speech for this session "
                              "(preference unchanged, retries next launch)",
                              LogLevel::error));
    press();
    EXPECT_EQ(engine().spoken.size(), 1u);
}

TEST_F(ReadAloudCoordinatorTest, AnOnDeviceFailureWhileAnotherEngineIsActiveOnlyPublishes) {
    preferences.readAloudEngine.set(Kind::kokoro);
    build();
    preferences.readAloudEngine.set(Kind::openai);  // before the preparation runs
    snapshots.clear();
    ex.runUntilIdle();
    EXPECT_EQ(coordinator->activeEngineKind(), Kind::openai);
    EXPECT_THAT(swaps(), ElementsAre("kokoro→openai"));
    EXPECT_EQ(snapshots.size(), 1u);
    EXPECT_EQ(snapshots[0].activeEngine, Kind::openai);
}

// ---- Voices

TEST_F(ReadAloudCoordinatorTest, SetVoiceStoresPerKindAndPublishesOnlyForPickerKinds) {
    struct Case {
        Kind kind;
        std::string id;
        bool publishes;
    };
    for (const auto& c : {Case{Kind::appleSpeech, "gmw/en-GB", true}, Case{Kind::kokoro, "bf_emma", true},
                          Case{Kind::openai, "sage", true}, Case{Kind::openai, "robot", true},
                          Case{Kind::cartesia, "c-123", false}, Case{Kind::elevenlabs, "e-456", false}}) {
        SCOPED_TRACE(c.id);
        preferences.readAloudEngine.set(c.kind);
        recorded.clear();
        build();
        snapshots.clear();
        coordinator->setVoice(c.id);
        ASSERT_EQ(recorded.size(), 1u);
        EXPECT_EQ(recorded[0].category, LookoutClient::Category::voiceChanged);
        EXPECT_EQ(text(recorded[0].data.at("engine")), kindName(c.kind));
        EXPECT_EQ(text(recorded[0].data.at("voice")), c.id);
        EXPECT_EQ(snapshots.size(), c.publishes ? 1u : 0u);
    }
    EXPECT_EQ(preferences.readAloudVoiceIdentifier(), "gmw/en-GB");
    EXPECT_EQ(preferences.kokoroVoiceIdentifier(), "bf_emma");
    EXPECT_EQ(preferences.openAIVoice(), OpenAITTSVoice::sage);  // "robot" stored nothing
    EXPECT_EQ(preferences.cartesiaVoiceId(), std::nullopt);
}

TEST_F(ReadAloudCoordinatorTest, TheOnDeviceVoiceTakesANewVoiceAtOnce) {
    preferences.readAloudEngine.set(Kind::kokoro);
    build();
    coordinator->setVoice("bm_lewis");
    auto& kokoro = dynamic_cast<KokoroEngine&>(coordinator->engine());
    EXPECT_EQ(kokoro.voiceIdentifier, "bm_lewis");
    auto entries = coordinator->voicePickerEntries();
    ASSERT_EQ(entries.size(), 28u);
    EXPECT_EQ(entries.front(), (VoicePickerEntry{"af_heart", "Heart (Recommended)"}));
    EXPECT_EQ(entries.back(), (VoicePickerEntry{"bm_lewis", "Lewis (UK)"}));
}

TEST_F(ReadAloudCoordinatorTest, TheSystemVoiceListIsEnglishNotExcludedBestQualityFirstThenByName) {
    std::vector<platform::SpeechVoice> voices{
        {"v1", "Samantha", "en-US", "default"}, {"v2", "Ava", "en-US", "enhanced"},
        {"v3", "Zoe", "en-US", "premium"},      {"v4", "Amélie", "fr-CA", "premium"},
        {"v5", "Zarvox", "en-US", "default"},   {"v6", "Bad News", "en-US", "default"},
        {"v7", "Daniel", "en-GB", "default"},   {"v8", "Whisper", "en-US", "default"},
        {"v9", "Allison", "en-US", "enhanced"},
    };
    EXPECT_THAT(ReadAloudCoordinator::systemVoiceEntries(voices),
                ElementsAre(VoicePickerEntry{"v3", "Zoe (Premium)"}, VoicePickerEntry{"v9", "Allison (Enhanced)"},
                            VoicePickerEntry{"v2", "Ava (Enhanced)"}, VoicePickerEntry{"v7", "Daniel"},
                            VoicePickerEntry{"v1", "Samantha"}));
    EXPECT_EQ(ReadAloudCoordinator::excludedSystemVoiceNames().size(), 25u);

    build();
    EXPECT_THAT(coordinator->voicePickerEntries(), ElementsAre(VoicePickerEntry{"gmw/en-US", "English (America)"}));
    (void)coordinator->voicePickerEntries();
    EXPECT_EQ(factory.voiceListings, 1);  // built once and kept
}

TEST_F(ReadAloudCoordinatorTest, TheOpenAIPickerListsTheElevenVoicesAndCloudIdVoicesNone) {
    preferences.readAloudEngine.set(Kind::openai);
    build();
    auto entries = coordinator->voicePickerEntries();
    ASSERT_EQ(entries.size(), 11u);
    EXPECT_EQ(entries[0].id, "alloy");
    EXPECT_EQ(entries[0].displayName, std::string(displayLabel(OpenAITTSVoice::alloy)));
    preferences.readAloudEngine.set(Kind::cartesia);
    EXPECT_TRUE(coordinator->voicePickerEntries().empty());
}

TEST(ReadAloudRates, AppleRateFollowsTheSpeedMultipleWithinTheSynthesiserRange) {
    const float d = platform::kSpeechDefaultRate;
    struct Case {
        float user;
        float expected;
    };
    for (auto c : {Case{0.25f, d * 0.5f}, Case{0.1f, d * 0.5f}, Case{0.5f, d}, Case{0.75f, d + 0.035f},
                   Case{1.0f, d + 0.07f}, Case{1.5f, d + 0.07f}, Case{std::nanf(""), d * 0.5f}}) {
        SCOPED_TRACE(c.user);
        EXPECT_NEAR(ReadAloudCoordinator::appleRate(c.user), c.expected, 1e-6);
    }
}

// ---- Snapshots

TEST(ReadAloudMarks, ASentenceThatOccursTwiceTakesItsMarksFromTheFirstOccurrence) {
    auto mark = [](std::int64_t lo, std::int64_t hi) {
        return SpeechMark{SpeechMark::Kind::link, "x", "y", {lo, hi}};
    };
    // "Go é.com now. Go é.com now." — graphemes: the second sentence starts at 14.
    const std::string text = "Go é.com now. Go é.com now.";
    const std::vector<SpeechMark> marks{mark(3, 8), mark(17, 22)};
    EXPECT_THAT(ReadAloudCoordinator::marksOfSentence(marks, text, "Go é.com now."), ElementsAre(mark(3, 8)));
    EXPECT_THAT(ReadAloudCoordinator::marksOfSentence(marks, text, "é.com now."), ElementsAre(mark(3, 8)));
    EXPECT_TRUE(ReadAloudCoordinator::marksOfSentence(marks, text, "absent").empty());
    EXPECT_TRUE(ReadAloudCoordinator::marksOfSentence(marks, text, "").empty());
    EXPECT_TRUE(ReadAloudCoordinator::marksOfSentence({}, text, "Go é.com now.").empty());
}

TEST_F(ReadAloudCoordinatorTest, TheSnapshotModeFollowsTheStateAndTheEngineState) {
    build();
    auto ui = [&] { return coordinator->makeUIState(); };
    EXPECT_EQ(ui().mode, Mode::hidden);
    EXPECT_EQ(ui().voiceName, "appleSpeech:com.apple.voice.premium.en-US.Zoe");
    press();
    EXPECT_EQ(ui().mode, Mode::speaking);
    engine().report(SpeechSynthesisState::loading(1, 3, "This is a test."));
    EXPECT_EQ(ui().mode, Mode::loading);
    EXPECT_EQ(ui().sentenceIndex, 1);
    EXPECT_EQ(ui().totalSentences, 3);
    EXPECT_EQ(ui().currentText, "This is a test.");
    engine().report(SpeechSynthesisState::paused(1, 3, "This is a test."));
    coordinator->togglePause();
    EXPECT_EQ(ui().mode, Mode::paused);
    coordinator->togglePause();
    coordinator->pauseForArbitration();
    EXPECT_EQ(ui().mode, Mode::paused);
    EXPECT_EQ(ui().rate, 0.5f);
    EXPECT_EQ(ui().activeEngine, Kind::appleSpeech);
    EXPECT_FALSE(ui().kokoroInitializing);
    EXPECT_FALSE(ui().isSummary);
    engine().report(SpeechSynthesisState::finished());
    EXPECT_EQ(ui().mode, Mode::hidden);
    EXPECT_EQ(ui().sentenceIndex, 0);
    EXPECT_EQ(ui().currentText, "");
}

TEST_F(ReadAloudCoordinatorTest, DestroyingTheCoordinatorDuringACaptureLeavesTheCaptureHarmless) {
    build();
    captureDelay = 1s;
    coordinator->handlePress(false);
    ex.runUntilIdle();
    coordinator.reset();
    ex.advanceUntilIdle();
    EXPECT_TRUE(started.empty());
}

}  // namespace
}  // namespace parlowen
