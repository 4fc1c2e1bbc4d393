#include "Parlowen/dictation/DictationCoordinator.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <map>

#include "Parlowen/dictation/AudioCapture.h"
#include "Parlowen/shell/KeychainStore.h"
#include "Parlowen/shell/settings/PreferencesStore.h"
#include "platform/accessibility/ScriptedAccessibility.h"
#include "platform/audio/AudioHardware.h"
#include "platform/audio/AudioInputEngine.h"
#include "platform/defaults/InMemoryUserDefaults.h"
#include "platform/keychain/SecretStore.h"
#include "platform/log/CaptureSink.h"
#include "platform/permissions/PermissionSource.h"
#include "platform/runtime/ManualExecutor.h"
#include "platform/x11/Workspace.h"

namespace parlowen {
namespace {

using namespace std::chrono_literals;
using platform::LogLevel;
using ::testing::ElementsAre;

using Events = std::vector<std::string>;

// A transcription engine whose start and finish answer after delays a test
// sets, in virtual time on the executor that awaits them.
class FakeEngine : public TranscriptionEngine {
public:
    FakeEngine(std::string name, Events& events) : name_(std::move(name)), events_(events) {}

    std::string name() const override { return name_; }
    PartialCallback onPartial() const override {
        std::lock_guard lock(mutex_);
        return onPartial_;
    }
    void setOnPartial(PartialCallback callback) override {
        std::lock_guard lock(mutex_);
        onPartial_ = std::move(callback);
    }
    void prepare(const platform::PcmFormat& format) override { prepared = format; }
    platform::Task<platform::Status> start() override {
        ++starts;
        events_.push_back(name_ + ".start");
        return startImpl(this);
    }
    void append(const platform::PcmBuffer&) override {
        appends.fetch_add(1);
        if (onAppend) onAppend();
    }
    platform::Task<platform::Result<std::string>> finish() override {
        ++finishes;
        events_.push_back(name_ + ".finish");
        return finishImpl(this);
    }
    void cancel() override {
        ++cancels;
        events_.push_back(name_ + ".cancel");
    }

    // Sends a partial result the way an engine does: through its callback.
    void emitPartial(const std::string& text) const {
        if (auto cb = onPartial()) cb(text);
    }

    platform::Duration startDelay{0};
    platform::Status startResult = platform::ok();
    platform::Duration finishDelay{0};
    platform::Result<std::string> finishResult = std::string();
    std::function<void()> onAppend;  // audio thread

    int starts = 0, finishes = 0, cancels = 0;
    std::atomic<int> appends{0};
    std::optional<platform::PcmFormat> prepared;

private:
    static platform::Task<platform::Status> startImpl(FakeEngine* self) {
        if (self->startDelay > platform::Duration{0})
            if (auto slept = co_await platform::sleepFor(self->startDelay); !slept) co_return slept;
        co_return self->startResult;
    }
    static platform::Task<platform::Result<std::string>> finishImpl(FakeEngine* self) {
        if (self->finishDelay > platform::Duration{0})
            if (auto slept = co_await platform::sleepFor(self->finishDelay); !slept)
                co_return platform::fail(slept.error());
        co_return self->finishResult;
    }

    std::string name_;
    Events& events_;
    mutable std::mutex mutex_;
    PartialCallback onPartial_;
};

class FakeEngineFactory : public DictationEngineFactory {
public:
    explicit FakeEngineFactory(Events& events) : events_(events) {}

    platform::Result<std::shared_ptr<TranscriptionEngine>> makeSystemEngine(const std::string& locale) override {
        locales.push_back(locale);
        if (systemFailure) return platform::fail(*systemFailure);
        auto engine = std::make_shared<FakeEngine>("Apple Speech", events_);
        if (configure) configure(*engine);
        systemMade.push_back(engine);
        return std::shared_ptr<TranscriptionEngine>(engine);
    }
    std::shared_ptr<TranscriptionEngine> makeCloudEngine(const std::string& apiKey,
                                                         GroqTranscriptionModel model) override {
        cloudArgs.emplace_back(apiKey, model);
        auto engine = std::make_shared<FakeEngine>("Groq", events_);
        if (configure) configure(*engine);
        cloudMade.push_back(engine);
        return engine;
    }
    void setContextualStrings(TranscriptionEngine& engine, std::vector<std::string> strings) override {
        hints[&engine] = std::move(strings);
    }

    std::optional<platform::Error> systemFailure;
    std::function<void(FakeEngine&)> configure;
    std::vector<std::string> locales;
    std::vector<std::shared_ptr<FakeEngine>> systemMade, cloudMade;
    std::vector<std::pair<std::string, GroqTranscriptionModel>> cloudArgs;
    std::map<TranscriptionEngine*, std::vector<std::string>> hints;

private:
    Events& events_;
};

// Records what a session does to the panel.
class RecordingHUD : public DictationHUD {
public:
    explicit RecordingHUD(Events& events) : events_(events) {}
    void show(std::string engineName) override { events_.push_back("hud.show " + engineName); }
    void updatePartial(std::string partial) override { partials.push_back(std::move(partial)); }
    void pushAmplitude(float level) override { levels.push_back(level); }
    void showThrottleNotice(std::string_view appName) override { throttleNotices.emplace_back(appName); }
    void setSessionRemainingSeconds(std::optional<int> seconds) override { countdown.push_back(seconds); }
    void hide() override { events_.push_back("hud.hide"); }

    std::vector<std::string> partials, throttleNotices;
    std::vector<float> levels;
    std::vector<std::optional<int>> countdown;

private:
    Events& events_;
};

class RecordingInserter : public DictationTextInsertion {
public:
    explicit RecordingInserter(Events& events) : events_(events) {}
    void insert(const std::string& text, std::optional<FocusSnapshot> focus) override {
        events_.push_back("insert " + text);
        inserted.emplace_back(text, std::move(focus));
    }
    std::vector<std::pair<std::string, std::optional<FocusSnapshot>>> inserted;

private:
    Events& events_;
};

platform::PcmBuffer toneBuffer(float amplitude) {
    platform::PcmBuffer buffer(platform::PcmFormat::float32(48000, 1), AudioCapture::kTapBufferFrames);
    buffer.setFrameLength(AudioCapture::kTapBufferFrames);
    for (std::uint32_t i = 0; i < buffer.frameLength(); ++i) buffer.setSample(0, i, i % 2 ? amplitude : -amplitude);
    return buffer;
}

class DictationCoordinatorTest : public ::testing::Test {
protected:
    DictationCoordinatorTest() {
        auto inputOwner = std::make_unique<platform::FakeAudioInputEngine>();
        input = inputOwner.get();
        audio = std::make_unique<AudioCapture>(std::move(inputOwner), hardware, defaults, ex);
        element->pid = 4242;
        ax.focused = std::shared_ptr<platform::AccessibleElement>(element);
        workspace.addApplication(
            {.processIdentifier = 4242, .bundleIdentifier = "org.gnome.TextEditor", .localizedName = "Text Editor"});
        workspace.setFrontmost(4242);
        preferences.dictationGesture.set(Gesture::hold(Hotkey::rightOption));
        preferences.dictationContextualPhrases.set({});
        rebuildCoordinator();
    }

    // A fresh coordinator (an empty engine cache) with the recording callbacks.
    void rebuildCoordinator() {
        coordinator = nullptr;
        coordinator = std::make_unique<DictationCoordinator>(DictationCoordinator::Dependencies{
            .permissions = permissions, .preferences = preferences, .hud = hud, .audio = *audio,
            .inserter = inserter, .engines = factory, .keychain = keychain, .accessibility = ax,
            .workspace = workspace, .main = ex, .locale = "en-US", .applicationIsActive = {},
            .keyWindowClassName = {},
            .presentPermissionPreScreen = [this](PermissionKind kind) { presented.push_back(kind); }});
        coordinator->onActiveStateChange = [this](bool on) { events.push_back(on ? "active" : "inactive"); };
        coordinator->onStartError = [this](const std::string& m) { events.push_back("startError " + m); };
        coordinator->onSessionFinalizedWithText = [this](const std::string& t) { events.push_back("text " + t); };
        coordinator->onFinalizeError = [this](const std::string& m) { events.push_back("finalizeError " + m); };
        coordinator->onSessionFinalized = [this] { events.push_back("finalized"); };
        coordinator->onNotepadRequested = [this] { events.push_back("notepad"); };
        coordinator->bindAudioCallbacks();
    }

    FakeEngine& systemEngine(std::size_t i = 0) { return *factory.systemMade.at(i); }
    void storeGroqKey(const std::string& key) { ASSERT_TRUE(keychain.write(KeychainStore::Key::groq, key)); }
    void clearEvents() { events.clear(); }
    // Presses the hold key, lets the engine and the microphone start.
    void pressAndStart(Hotkey key = Hotkey::rightOption) {
        coordinator->handleHotkeyPress(key);
        ex.runUntilIdle();
    }
    void deliverLevel(float amplitude) {
        input->deliver(toneBuffer(amplitude));
        ex.runUntilIdle();
    }

    platform::ScopedLogCapture log;
    platform::ManualExecutor ex;
    Events events;
    platform::ScriptedPermissionSource micSource{3}, speechSource{3}, axSource{1}, inputSource{0};
    PermissionsManager permissions{PermissionSources{micSource, speechSource, axSource, inputSource}, ex};
    platform::InMemoryUserDefaults defaults;
    PreferencesStore preferences{defaults, {}};
    platform::FakeAudioHardware hardware;
    platform::FakeAudioInputEngine* input = nullptr;
    std::unique_ptr<AudioCapture> audio;
    RecordingHUD hud{events};
    RecordingInserter inserter{events};
    FakeEngineFactory factory{events};
    platform::InMemorySecretStore secrets;
    KeychainStore keychain{secrets, ex};
    std::shared_ptr<platform::ScriptedAccessibleElement> element = std::make_shared<platform::ScriptedAccessibleElement>();
    platform::ScriptedAccessibility ax;
    platform::ScriptedWorkspace workspace;
    std::vector<PermissionKind> presented;
    std::unique_ptr<DictationCoordinator> coordinator;
};

// ---- Gestures

TEST_F(DictationCoordinatorTest, AReleaseAtMost600MsAfterThePressIsAShortTapAndLaterOneStops) {
    struct Case {
        std::chrono::milliseconds held;
        bool pending;
    };
    for (auto c : {Case{600ms, true}, Case{601ms, false}, Case{0ms, true}}) {
        SCOPED_TRACE(c.held.count());
        pressAndStart();
        ex.advance(c.held);
        coordinator->handleHotkeyRelease(Hotkey::rightOption);
        EXPECT_EQ(coordinator->isPendingFinalize(), c.pending);
        EXPECT_EQ(coordinator->isFinishing() || coordinator->isIdle(), !c.pending);
        ex.advance(400ms);
        EXPECT_TRUE(coordinator->isIdle());
    }
}

TEST_F(DictationCoordinatorTest, ASilentShortTapWaits400MsBeforeItStopsWhileTheMicrophoneKeepsRunning) {
    pressAndStart();
    ex.advance(100ms);
    coordinator->handleHotkeyRelease(Hotkey::rightOption);
    EXPECT_TRUE(log->contains("short tap (100ms) silent — waiting 400ms for double-tap", LogLevel::debug));
    ex.advance(399ms);
    EXPECT_TRUE(coordinator->isPendingFinalize());
    EXPECT_TRUE(audio->isRunning());
    EXPECT_EQ(coordinator->feedTarget(), &systemEngine());
    deliverLevel(0.5f);
    EXPECT_EQ(hud.levels.size(), 1u);  // the meter keeps moving
    ex.advance(1ms);
    EXPECT_EQ(systemEngine().finishes, 1);
    EXPECT_FALSE(audio->isRunning());
    EXPECT_EQ(coordinator->feedTarget(), nullptr);
}

TEST_F(DictationCoordinatorTest, TheSameKeyInsideTheWindowStopsAndRequestsTheNotepadAnythingElseIsIgnored) {
    pressAndStart();
    coordinator->handleHotkeyRelease(Hotkey::rightOption);
    // Another key, a release and a partial result change nothing in the window.
    coordinator->handleHotkeyPress(Hotkey::leftOption);
    coordinator->handleHotkeyRelease(Hotkey::rightOption);
    systemEngine().emitPartial("hello");
    ex.runUntilIdle();
    EXPECT_TRUE(coordinator->isPendingFinalize());
    EXPECT_EQ(coordinator->partialsThisSession(), 0);
    EXPECT_TRUE(hud.partials.empty());

    coordinator->handleHotkeyPress(Hotkey::rightOption);
    EXPECT_TRUE(coordinator->isFinishing());
    EXPECT_EQ(events.back(), "notepad");
    EXPECT_TRUE(log->contains("double-tap detected (key=rightOption); opening notepad", LogLevel::info));
    ex.advanceUntilIdle();
    EXPECT_TRUE(coordinator->isIdle());
    EXPECT_EQ(systemEngine().finishes, 1);  // the 400 ms item never stopped a second time
}

TEST_F(DictationCoordinatorTest, AShortTapWithAPartialResultStopsAtOnce) {
    pressAndStart();
    systemEngine().emitPartial("hello");
    systemEngine().emitPartial("hello");  // a repeat does not count
    ex.runUntilIdle();
    EXPECT_EQ(coordinator->partialsThisSession(), 1);
    EXPECT_THAT(hud.partials, ElementsAre("hello"));
    ex.advance(200ms);
    coordinator->handleHotkeyRelease(Hotkey::rightOption);
    EXPECT_TRUE(coordinator->isFinishing());
    EXPECT_TRUE(log->contains("short tap (200ms) with speech — eager paste, skipping double-tap window"));
}

TEST_F(DictationCoordinatorTest, ACombinationSessionIgnoresReleasesAndPressesAndEndsAtTheNextTrigger) {
    coordinator->toggle();
    ex.runUntilIdle();
    ASSERT_TRUE(coordinator->isRecording());
    ex.advance(2s);
    for (Hotkey key : {Hotkey::rightOption, Hotkey::leftCommand}) {
        coordinator->handleHotkeyRelease(key);
        coordinator->handleHotkeyPress(key);
    }
    EXPECT_TRUE(coordinator->isRecording());
    coordinator->toggle();
    EXPECT_TRUE(coordinator->isFinishing());
    EXPECT_TRUE(log->contains("toggle: finalizing active session", LogLevel::debug));
    // While finishing, every gesture is ignored.
    systemEngine().finishDelay = 1s;
    coordinator->toggle();
    coordinator->handleHotkeyPress(Hotkey::rightOption);
    coordinator->finalizeForModeArbitration();
    EXPECT_TRUE(coordinator->isFinishing());
    EXPECT_EQ(systemEngine().starts, 1);
}

TEST_F(DictationCoordinatorTest, APressOfAnotherHoldKeyThanTheDictationGestureDoesNothing) {
    coordinator->handleHotkeyPress(Hotkey::leftControl);
    ex.runUntilIdle();
    EXPECT_TRUE(coordinator->isIdle());
    EXPECT_TRUE(events.empty());
    EXPECT_TRUE(factory.systemMade.empty());
    // A combination gesture takes a press of any key.
    preferences.dictationGesture.set(Gesture::combo(2, ModifierFlags::command | ModifierFlags::shift));
    pressAndStart(Hotkey::leftControl);
    EXPECT_TRUE(coordinator->isRecording());
}

TEST_F(DictationCoordinatorTest, ModeArbitrationFinalisesAnActiveSessionNormally) {
    coordinator->finalizeForModeArbitration();
    EXPECT_TRUE(coordinator->isIdle());
    pressAndStart();
    systemEngine().finishResult = std::string("kept");
    coordinator->finalizeForModeArbitration();
    EXPECT_TRUE(coordinator->isFinishing());
    EXPECT_TRUE(log->contains("dictation cancelled by mode arbitration; finalizing", LogLevel::info));
    ex.advanceUntilIdle();
    ASSERT_EQ(inserter.inserted.size(), 1u);
    EXPECT_EQ(inserter.inserted[0].first, "kept");
}

// ---- Start

TEST_F(DictationCoordinatorTest, AMissingPermissionPresentsThePreScreenForTheFirstMissingKindOnly) {
    speechSource.setRawStatus(1);
    inputSource.setRawStatus(1);
    pressAndStart();
    EXPECT_TRUE(coordinator->isIdle());
    EXPECT_THAT(presented, ElementsAre(PermissionKind::speech));
    EXPECT_TRUE(events.empty());
    EXPECT_TRUE(factory.systemMade.empty());
    EXPECT_TRUE(log->contains(
        "hotkey pressed but permissions incomplete: speech=denied, inputMonitoring=denied; presenting pre-screen",
        LogLevel::error));
}

TEST_F(DictationCoordinatorTest, CloudModeWithoutAKeyRecordsOnAFreshUncachedSystemEngineWithoutACap) {
    preferences.dictationEngineMode.set(DictationEngineMode::groq);
    ex.runUntilIdle();  // the warm-up finds no key
    EXPECT_TRUE(log->contains("engine prewarm failed: ", LogLevel::error));
    clearEvents();
    pressAndStart();
    ASSERT_TRUE(coordinator->isRecording());
    EXPECT_EQ(events.at(0), std::string("startError ") + DictationCoordinator::kGroqKeyMissingNotice);
    EXPECT_TRUE(log->contains("groq selected but no API key in Keychain; falling back to Apple Speech for this press",
                              LogLevel::error));
    EXPECT_EQ(factory.systemMade.size(), 1u);
    EXPECT_EQ(coordinator->cachedEngine(), nullptr);
    EXPECT_EQ(coordinator->feedTarget(), &systemEngine());
    EXPECT_TRUE(log->contains("engine=Apple Speech, mode=groq"));
    ex.advance(61s);
    EXPECT_TRUE(hud.countdown.empty());
    EXPECT_TRUE(coordinator->isRecording());
    // The next press builds another fresh one.
    coordinator->toggle();
    ex.advanceUntilIdle();
    pressAndStart();
    EXPECT_EQ(factory.systemMade.size(), 2u);
}

TEST_F(DictationCoordinatorTest, EngineCreationFailuresReportTheirTextAndStartNothing) {
    const auto unavailable = platform::Error::make("AppleSpeechEngine.AppleSpeechError", 0, "recognizerUnavailable",
                                                   "The operation couldn’t be completed. (x error 0.)");
    struct Case {
        DictationEngineMode mode;
        std::string message;
    };
    for (const auto& c : {Case{DictationEngineMode::groq, DictationCoordinator::kFallbackFailedMessage},
                          Case{DictationEngineMode::speed, DictationCoordinator::kResolveFailedPrefix +
                                                               unavailable.description}}) {
        SCOPED_TRACE(rawValue(c.mode));
        clearEvents();
        factory.systemFailure = unavailable;
        preferences.dictationEngineMode.set(c.mode);
        ex.runUntilIdle();
        clearEvents();
        pressAndStart();
        EXPECT_TRUE(coordinator->isIdle());
        EXPECT_EQ(events.back(), "startError " + c.message);
        EXPECT_EQ(coordinator->capturedFocus(), std::nullopt);
        EXPECT_EQ(coordinator->cachedEngine(), nullptr);
        EXPECT_EQ(input->startCount(), 0);
    }
    EXPECT_TRUE(log->contains("fallback AppleSpeechEngine also failed: The operation", LogLevel::error));
    EXPECT_TRUE(log->contains("failed to resolve engine: The operation", LogLevel::error));
}

TEST_F(DictationCoordinatorTest, AnEngineOrMicrophoneStartFailureTearsTheSessionDownInOrder) {
    const auto failure = platform::Error::make("test", 1, "busy", "device busy");
    for (bool engineFails : {true, false}) {
        SCOPED_TRACE(engineFails);
        factory.systemMade.clear();
        rebuildCoordinator();
        factory.configure = [&](FakeEngine& e) {
            if (engineFails) e.startResult = platform::fail(failure);
        };
        input->failStartWith(engineFails ? std::nullopt : std::optional(failure));
        clearEvents();
        pressAndStart();
        EXPECT_THAT(events, ElementsAre("active", "hud.show Apple Speech", "Apple Speech.start", "Apple Speech.cancel",
                                        "hud.hide", "inactive",
                                        std::string("startError ") + DictationCoordinator::kMicrophoneStartFailedMessage));
        EXPECT_TRUE(coordinator->isIdle());
        EXPECT_EQ(coordinator->feedTarget(), nullptr);
        EXPECT_EQ(coordinator->capturedFocus(), std::nullopt);
        EXPECT_FALSE(audio->isRunning());
        EXPECT_TRUE(log->contains("failed to start recording: device busy", LogLevel::error));
        // The failed engine stays cached; the cap is gone.
        EXPECT_NE(coordinator->cachedEngine(), nullptr);
        const auto published = hud.countdown.size();
        ex.advance(2s);
        EXPECT_EQ(hud.countdown.size(), published);
        factory.configure = {};
    }
    input->failStartWith(std::nullopt);
}

TEST_F(DictationCoordinatorTest, AStopBeforeTheEngineStartedNeverStartsTheMicrophoneAndCancelsTheEngine) {
    factory.configure = [](FakeEngine& e) { e.startDelay = 1s; };
    coordinator->toggle();
    ex.advance(100ms);
    coordinator->toggle();
    EXPECT_TRUE(coordinator->isFinishing());
    ex.advanceUntilIdle();
    EXPECT_EQ(input->startCount(), 0);
    EXPECT_EQ(systemEngine().cancels, 1);
    EXPECT_TRUE(log->contains("session 1 ended during engine warm-up; not starting audio", LogLevel::info));
}

TEST_F(DictationCoordinatorTest, AnEngineStartThatFailsAfterTheSessionEndedTearsNothingDown) {
    factory.configure = [](FakeEngine& e) {
        e.startDelay = 1s;
        e.startResult = platform::fail(platform::Error::make("test", 1, "busy", "busy"));
        e.finishDelay = 2s;
    };
    coordinator->toggle();
    ex.advance(100ms);
    coordinator->toggle();
    clearEvents();
    ex.advance(1s);  // the start fails while the session is finishing
    EXPECT_TRUE(log->contains("failed to start recording: busy", LogLevel::error));
    EXPECT_TRUE(coordinator->isFinishing());
    EXPECT_THAT(events, ElementsAre("Apple Speech.finish"));
    ex.advanceUntilIdle();
    EXPECT_THAT(events, ElementsAre("Apple Speech.finish", "hud.hide", "inactive", "finalized"));
}

TEST_F(DictationCoordinatorTest, WithTheLivePanelOffNothingIsShownNoThrottleRunsAndLevelsStillArrive) {
    preferences.liveDisplayMode.set(LiveDisplayMode::off);
    pressAndStart();
    deliverLevel(0.5f);
    systemEngine().emitPartial("hi");
    ex.runUntilIdle();
    ex.advance(2s);
    EXPECT_EQ(hud.levels.size(), 1u);
    EXPECT_TRUE(coordinator->audibleAudioDetected());
    EXPECT_TRUE(hud.partials.empty());
    EXPECT_TRUE(hud.throttleNotices.empty());
    EXPECT_EQ(std::count(events.begin(), events.end(), "hud.show Apple Speech"), 0);
    EXPECT_TRUE(log->contains("liveMode=off"));
}

TEST_F(DictationCoordinatorTest, ContextualStringsAreTheHintsThenTheRulesPhrasesWithoutExactRepeats) {
    preferences.dictationContextualPhrases.set({"Parlowen", "Quon", "quon"});
    PerAppRule rule;
    rule.bundleId = "org.gnome.TextEditor";
    rule.appName = "Text Editor";
    rule.extraContextualPhrases = {"Quon", "Kelvatrum", "Parlowen", "Kelvatrum"};
    preferences.perAppRules.set({rule});
    pressAndStart();
    EXPECT_THAT(factory.hints[&systemEngine()], ElementsAre("Parlowen", "Quon", "quon", "Kelvatrum"));
    EXPECT_TRUE(log->contains("perAppRule=Text Editor) frontmost=org.gnome.TextEditor"));
}

TEST_F(DictationCoordinatorTest, TheRecordingStartLineNamesATapComboNoRuleAndNoFrontmostApplication) {
    workspace.setFrontmost(std::nullopt);
    coordinator->toggle();
    ex.runUntilIdle();
    EXPECT_TRUE(log->contains("recording start session=1 (key=tap-combo, engine=Apple Speech, mode=speed, "
                              "liveMode=hud, perAppRule=none) frontmost=nil appActive=false",
                              LogLevel::info));
    EXPECT_EQ(systemEngine().prepared, platform::PcmFormat::float32(48000, 1));
    EXPECT_EQ(coordinator->capturedFocus()->processIdentifier, 4242);
}

TEST_F(DictationCoordinatorTest, APerApplicationRuleChoosesTheEngineMode) {
    storeGroqKey("gsk-1");
    PerAppRule rule;
    rule.bundleId = "org.gnome.TextEditor";
    rule.appName = "Text Editor";
    rule.engineMode = DictationEngineMode::groq;
    preferences.perAppRules.set({rule});
    pressAndStart();
    ASSERT_EQ(factory.cloudMade.size(), 1u);
    EXPECT_EQ(coordinator->feedTarget(), factory.cloudMade[0].get());
    EXPECT_TRUE(factory.hints.empty());
    EXPECT_TRUE(log->contains("engine=Groq, mode=groq"));
}

// ---- Finalisation

TEST_F(DictationCoordinatorTest, AFinishedTextIsCleanedInsertedLearnedAndReportedInOrder) {
    preferences.learnFromDictation.set(true);
    pressAndStart();
    systemEngine().finishResult = std::string("  hello   world period ");
    ex.advance(1s);
    clearEvents();
    coordinator->handleHotkeyRelease(Hotkey::rightOption);
    ex.advanceUntilIdle();
    EXPECT_THAT(events, ElementsAre("Apple Speech.finish", "insert hello world.", "text hello world.", "hud.hide",
                                    "inactive", "finalized"));
    ASSERT_EQ(inserter.inserted.size(), 1u);
    EXPECT_EQ(inserter.inserted[0].second->processIdentifier, 4242);
    EXPECT_TRUE(log->contains("recording stop — finalizing (engine=Apple Speech)", LogLevel::info));
    EXPECT_TRUE(log->contains("transcribed 12 chars (partials=0)", LogLevel::info));
    EXPECT_TRUE(log->contains(
        "pre-insert session=1 ax=true frontmost=org.gnome.TextEditor keyWindow=nil appActive=false", LogLevel::info));
    EXPECT_EQ(coordinator->capturedFocus(), std::nullopt);
    EXPECT_FALSE(coordinator->vocabularyLearner().suggestions(10).empty());
}

TEST_F(DictationCoordinatorTest, FinalisationOutcomesTable) {
    struct Case {
        std::string name;
        platform::Result<std::string> finished;
        bool secure;
        Events expected;
        std::string logLine;
    };
    const std::string failed = std::string("finalizeError ") + DictationCoordinator::kFinalizeFailedMessage;
    std::vector<Case> cases = {
        {"commands empty the text", std::string("hello scratch that"), false,
         {"hud.hide", "inactive", "finalized"}, "no speech recognized (partials=0)"},
        {"silence", std::string(""), false, {"hud.hide", "inactive", "finalized"}, "no speech recognized (partials=0)"},
        {"secure field", std::string("hunter two"), true, {"insert hunter two", "hud.hide", "inactive", "finalized"},
         "secure field — skipping vocab + history persistence for dictated text"},
        {"finish fails", platform::fail(platform::Error::make("Groq", 1, "api", "Groq error 500: down")), false,
         {failed, "hud.hide", "inactive", "finalized"}, "finalize failed: Groq error 500: down"},
    };
    preferences.enabledVoiceCommands.set({VoiceCommand::scratchThat});
    preferences.learnFromDictation.set(true);
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        element->role = std::string(c.secure ? platform::kPasswordTextRole : "text");
        factory.configure = [&](FakeEngine& e) { e.finishResult = c.finished; };
        factory.systemMade.clear();
        coordinator->cancel();
        rebuildCoordinator();  // a fresh cache, so the engine takes this case's result
        pressAndStart();
        ex.advance(1s);
        coordinator->handleHotkeyRelease(Hotkey::rightOption);
        clearEvents();
        ex.advanceUntilIdle();
        std::erase_if(events, [](const std::string& e) { return e.ends_with(".finish"); });
        EXPECT_EQ(events, c.expected);
        EXPECT_TRUE(log->contains(c.logLine));
    }
    EXPECT_TRUE(coordinator->vocabularyLearner().suggestions(10).empty());  // the password was not learned
}

TEST_F(DictationCoordinatorTest, CancelCallsNothingWhenIdleAndStopsAWaitingDoubleTapItem) {
    coordinator->cancel();
    EXPECT_TRUE(events.empty());
    EXPECT_THAT(hud.countdown, ElementsAre(std::nullopt));

    pressAndStart();
    coordinator->handleHotkeyRelease(Hotkey::rightOption);
    ASSERT_TRUE(coordinator->isPendingFinalize());
    clearEvents();
    coordinator->cancel();
    EXPECT_THAT(events, ElementsAre("Apple Speech.cancel", "inactive"));
    EXPECT_EQ(coordinator->feedTarget(), nullptr);
    EXPECT_FALSE(audio->isRunning());
    ex.advance(1s);
    EXPECT_EQ(systemEngine().finishes, 0);
    EXPECT_THAT(events, ElementsAre("Apple Speech.cancel", "inactive"));  // no hide, no finalised
}

TEST_F(DictationCoordinatorTest, CancelWhileFinishingStillInsertsAndLeavesANewerSessionAlone) {
    storeGroqKey("gsk-1");
    preferences.dictationEngineMode.set(DictationEngineMode::groq);
    ex.runUntilIdle();
    factory.cloudMade.at(0)->finishDelay = 3s;
    factory.cloudMade.at(0)->finishResult = std::string("first text");
    pressAndStart();
    ex.advance(1s);
    coordinator->handleHotkeyRelease(Hotkey::rightOption);
    ASSERT_TRUE(coordinator->isFinishing());
    coordinator->cancel();
    EXPECT_TRUE(coordinator->isIdle());

    // A newer session begins while the first is still being transcribed.
    pressAndStart();
    ASSERT_TRUE(coordinator->isRecording());
    EXPECT_EQ(coordinator->sessionNumber(), 2);
    clearEvents();
    ex.advance(3s);
    EXPECT_THAT(events, ElementsAre("insert first text", "text first text"));
    EXPECT_TRUE(coordinator->isRecording());
    EXPECT_NE(coordinator->capturedFocus(), std::nullopt);
    EXPECT_NE(coordinator->feedTarget(), nullptr);
}

TEST_F(DictationCoordinatorTest, CancelWhileFinishingWithNoNewerSessionStillEndsTheFirst) {
    pressAndStart();
    systemEngine().finishDelay = 1s;
    systemEngine().finishResult = std::string("kept");
    coordinator->toggle();
    coordinator->cancel();
    clearEvents();
    ex.advanceUntilIdle();
    EXPECT_THAT(events,
                ElementsAre("Apple Speech.finish", "insert kept", "text kept", "hud.hide", "inactive", "finalized"));
}

// ---- Engine cache and warm-up

TEST_F(DictationCoordinatorTest, TheCachedEngineServesSessionAfterSession) {
    for (int i = 0; i < 3; ++i) {
        pressAndStart();
        ex.advance(1s);
        coordinator->handleHotkeyRelease(Hotkey::rightOption);
        ex.advanceUntilIdle();
    }
    EXPECT_EQ(factory.systemMade.size(), 1u);
    EXPECT_EQ(systemEngine().starts, 3);
}

TEST_F(DictationCoordinatorTest, SwitchingTheModeWarmsTheNewEngineUpAndCancelsTheOld) {
    storeGroqKey("gsk-1");
    preferences.dictationEngineMode.set(DictationEngineMode::speed);  // equal to the current value
    ex.runUntilIdle();
    EXPECT_TRUE(factory.systemMade.empty());
    EXPECT_FALSE(log->contains("prewarmed engine"));

    coordinator->prewarmEngine();
    ex.runUntilIdle();
    EXPECT_TRUE(log->contains("prewarmed engine (Apple Speech)", LogLevel::info));
    clearEvents();
    preferences.dictationEngineMode.set(DictationEngineMode::groq);
    ex.runUntilIdle();
    EXPECT_THAT(events, ElementsAre("Apple Speech.cancel", "Groq.start", "Groq.cancel"));
    EXPECT_EQ(coordinator->cachedEngineKind(), EngineKind::groq);
    ASSERT_EQ(factory.cloudArgs.size(), 1u);
    EXPECT_EQ(factory.cloudArgs[0].first, "gsk-1");
    EXPECT_TRUE(log->contains("prewarmed engine (Groq)"));
    EXPECT_FALSE(log->contains("gsk-1"));
    clearEvents();
    preferences.dictationEngineMode.set(DictationEngineMode::speed);
    ex.runUntilIdle();
    EXPECT_THAT(events, ElementsAre("Groq.cancel", "Apple Speech.start", "Apple Speech.cancel"));
    EXPECT_EQ(factory.systemMade.size(), 2u);
}

TEST_F(DictationCoordinatorTest, AWarmUpIsSkippedDuringASessionAndAFailedOneKeepsOrEmptiesTheCache) {
    pressAndStart();
    coordinator->prewarmEngine();
    EXPECT_TRUE(log->contains("prewarmEngine skipped — session active", LogLevel::debug));
    coordinator->cancel();

    // A failed start keeps the engine; a failed resolution leaves the cache empty.
    systemEngine().startResult = platform::fail(platform::Error::make("test", 1, "busy", "busy"));
    coordinator->prewarmEngine();
    ex.runUntilIdle();
    EXPECT_TRUE(log->contains("engine prewarm failed: busy", LogLevel::error));
    EXPECT_EQ(coordinator->cachedEngine().get(), &systemEngine());
    preferences.dictationEngineMode.set(DictationEngineMode::groq);  // no key stored
    ex.runUntilIdle();
    EXPECT_EQ(coordinator->cachedEngine(), nullptr);
    EXPECT_EQ(coordinator->cachedEngineKind(), std::nullopt);
}

TEST_F(DictationCoordinatorTest, AWarmUpInFlightDoesNotCancelTheEngineASessionRecordsWith) {
    factory.configure = [](FakeEngine& e) { e.startDelay = 500ms; };
    coordinator->prewarmEngine();
    ex.runUntilIdle();
    pressAndStart();
    ex.advance(2s);
    EXPECT_EQ(systemEngine().cancels, 0);
    EXPECT_TRUE(coordinator->isRecording());
    EXPECT_TRUE(audio->isRunning());
    EXPECT_TRUE(log->contains("prewarmed engine (Apple Speech)"));
}

// The warm-up reads the cloud key off the main thread; a session that began
// meanwhile, on another engine, keeps recording with it.
TEST_F(DictationCoordinatorTest, AWarmUpWhoseKeyReadEndsAfterASessionBeganLeavesTheSessionsEngineAlone) {
    storeGroqKey("gsk-1");
    preferences.dictationEngineMode.set(DictationEngineMode::groq);
    ex.runUntilIdle();
    ASSERT_EQ(factory.cloudMade.size(), 1u);
    PerAppRule rule;
    rule.bundleId = "org.gnome.TextEditor";
    rule.appName = "Text Editor";
    rule.engineMode = DictationEngineMode::speed;
    preferences.perAppRules.set({rule});
    coordinator->prewarmEngine();
    pressAndStart();
    EXPECT_TRUE(log->contains("prewarmEngine skipped — session active", LogLevel::debug));
    EXPECT_EQ(systemEngine().cancels, 0);
    EXPECT_EQ(factory.cloudMade.size(), 1u);
    EXPECT_EQ(coordinator->cachedEngine().get(), &systemEngine());
    EXPECT_TRUE(coordinator->isRecording());
    EXPECT_TRUE(audio->isRunning());
}

TEST_F(DictationCoordinatorTest, AStaleStartTaskDoesNotCancelTheEngineOfANewerSession) {
    factory.configure = [](FakeEngine& e) { e.startDelay = 1s; };
    pressAndStart();
    ex.advance(300ms);
    coordinator->cancel();
    pressAndStart();
    const int cancels = systemEngine().cancels;
    ex.advance(800ms);  // the first start completes: its session is gone
    EXPECT_TRUE(log->contains("session 1 ended during engine warm-up; not starting audio"));
    EXPECT_EQ(systemEngine().cancels, cancels);
    ex.advance(1s);
    EXPECT_TRUE(audio->isRunning());
    EXPECT_TRUE(coordinator->isRecording());
}

TEST_F(DictationCoordinatorTest, AChangedKeyOrModelRebuildsTheCloudEngine) {
    storeGroqKey("gsk-1");
    preferences.dictationEngineMode.set(DictationEngineMode::groq);
    ex.runUntilIdle();
    ASSERT_EQ(factory.cloudMade.size(), 1u);
    coordinator->prewarmEngine();
    ex.runUntilIdle();
    EXPECT_EQ(factory.cloudMade.size(), 1u);  // same key and model: reused
    storeGroqKey("gsk-2");
    pressAndStart();
    ASSERT_EQ(factory.cloudMade.size(), 2u);
    EXPECT_EQ(factory.cloudArgs[1].first, "gsk-2");
    EXPECT_EQ(factory.cloudMade[0]->cancels, 3);  // two warm-ups', then the rebuild's
    EXPECT_EQ(coordinator->feedTarget(), factory.cloudMade[1].get());
    coordinator->cancel();
    preferences.groqModel.set(GroqTranscriptionModel::largeV3);
    ex.runUntilIdle();
    pressAndStart();
    ASSERT_EQ(factory.cloudMade.size(), 3u);
    EXPECT_EQ(factory.cloudArgs[2].second, GroqTranscriptionModel::largeV3);
}

// ---- Watchdogs

TEST_F(DictationCoordinatorTest, TheSessionCapCountsDownAndEndsASystemSessionAt59Seconds) {
    pressAndStart();
    systemEngine().finishResult = std::string("a long dictation");
    ASSERT_FALSE(hud.countdown.empty());
    EXPECT_EQ(hud.countdown.front(), 60);
    ex.advance(250ms);
    EXPECT_EQ(hud.countdown.back(), 60);  // ceil(59.75)
    ex.advance(750ms);
    EXPECT_EQ(hud.countdown.back(), 59);
    ex.advance(57750ms);  // 58.75 s
    EXPECT_TRUE(coordinator->isRecording());
    EXPECT_EQ(hud.countdown.back(), 2);
    ex.advance(250ms);
    EXPECT_EQ(hud.countdown.back(), 1);
    EXPECT_TRUE(log->contains("apple-speech cap hit at 59.000000s; force-finalizing", LogLevel::info));
    ex.advanceUntilIdle();
    EXPECT_TRUE(coordinator->isIdle());
    ASSERT_EQ(inserter.inserted.size(), 1u);
    EXPECT_EQ(inserter.inserted[0].first, "a long dictation");
    EXPECT_EQ(hud.countdown.size(), 4u * 59 + 1);
}

TEST_F(DictationCoordinatorTest, ACloudSessionHasNoCountdown) {
    storeGroqKey("gsk-1");
    preferences.dictationEngineMode.set(DictationEngineMode::groq);
    ex.runUntilIdle();
    pressAndStart();
    ex.advance(70s);
    EXPECT_TRUE(coordinator->isRecording());
    EXPECT_TRUE(hud.countdown.empty());
}

TEST_F(DictationCoordinatorTest, TheThrottleNoticeNeedsAudibleAudioAndNoPartialAfterOneAndAHalfSeconds) {
    struct Case {
        std::string name;
        float amplitude;
        std::optional<std::chrono::milliseconds> partialAt;
        bool notice;
    };
    for (const auto& c : {Case{"audible, no partial", 0.5f, std::nullopt, true},
                          Case{"partial at 1.4 s", 0.5f, 1400ms, false},
                          Case{"quiet audio", 0.004f, std::nullopt, false},
                          Case{"partial at 1.6 s", 0.5f, 1600ms, true}}) {
        SCOPED_TRACE(c.name);
        hud.throttleNotices.clear();
        pressAndStart();
        deliverLevel(c.amplitude);
        if (c.partialAt) {
            ex.advance(*c.partialAt);
            systemEngine().emitPartial("text");
            ex.runUntilIdle();
        }
        ex.advance(2s);
        if (c.notice) {
            EXPECT_THAT(hud.throttleNotices, ElementsAre("Text Editor"));
            EXPECT_TRUE(log->contains(
                "throttle detected: 0 partials in 1.5s with audible audio (frontmost=Text Editor)"));
        } else {
            EXPECT_TRUE(hud.throttleNotices.empty());
        }
        coordinator->cancel();
        ex.runUntilIdle();
    }
}

// ---- Late results of an ended session

TEST_F(DictationCoordinatorTest, PartialsAndLevelsOfAnEndedSessionAreDropped) {
    pressAndStart();
    auto firstSessionPartial = systemEngine().onPartial();
    systemEngine().emitPartial("early");  // posted, not yet run
    input->deliver(toneBuffer(0.5f));
    coordinator->cancel();
    pressAndStart();  // the posted partial and level now run in session 2
    firstSessionPartial("late");
    ex.runUntilIdle();
    EXPECT_EQ(coordinator->sessionNumber(), 2);
    EXPECT_EQ(coordinator->partialsThisSession(), 0);
    EXPECT_FALSE(coordinator->audibleAudioDetected());
    EXPECT_TRUE(hud.partials.empty());
    EXPECT_TRUE(hud.levels.empty());
    // A silent short tap of session 2 still waits for the double tap.
    coordinator->handleHotkeyRelease(Hotkey::rightOption);
    EXPECT_TRUE(coordinator->isPendingFinalize());
}

// ---- The buffer path on a real audio thread

TEST_F(DictationCoordinatorTest, NoBufferReachesTheEngineAfterStopAndTheLockIsFreeDuringAppend) {
    pressAndStart();
    FakeEngine& engine = systemEngine();
    std::atomic<bool> stopped{false};
    std::atomic<int> afterStop{0};
    engine.onAppend = [&] {
        // Would deadlock if the feed lock were held across append.
        (void)coordinator->feedTarget();
        if (stopped.load()) afterStop.fetch_add(1);
    };
    std::vector<platform::PcmBuffer> buffers(400, toneBuffer(0.2f));
    input->pushFromWorker(std::move(buffers));
    while (engine.appends.load() < 20) std::this_thread::yield();
    coordinator->stop();
    stopped.store(true);
    input->joinWorker();
    EXPECT_EQ(afterStop.load(), 0);
    EXPECT_EQ(coordinator->feedTarget(), nullptr);
    ex.runUntilIdle();
}

}  // namespace
}  // namespace parlowen
