#include "Parlowen/shell/AppCoordinator.h"

#include <gtest/gtest.h>

#include "Parlowen/dictation/HotkeyManager.h"
#include "Parlowen/shell/settings/PreferencesStore.h"
#include "platform/defaults/InMemoryUserDefaults.h"
#include "platform/keyevents/KeyEventSource.h"
#include "platform/log/CaptureSink.h"
#include "platform/runtime/ManualExecutor.h"

namespace parlowen {
namespace {

using Trace = std::vector<std::string>;

struct FakeDictation : DictationMode {
    Trace& trace;
    bool recording = false, pending = false;
    explicit FakeDictation(Trace& t) : trace(t) {}
    bool isRecording() const override { return recording; }
    bool isPendingFinalize() const override { return pending; }
    void bindAudioCallbacks() override { trace.push_back("dictation.bindAudioCallbacks"); }
    void handleHotkeyPress(Hotkey k) override { trace.push_back("dictation.press " + std::string(caseName(k))); }
    void handleHotkeyRelease(Hotkey k) override { trace.push_back("dictation.release " + std::string(caseName(k))); }
    void toggle() override { trace.push_back("dictation.toggle"); }
    void finalizeForModeArbitration() override { trace.push_back("dictation.finalize"); }
    void cancel() override { trace.push_back("dictation.cancel"); }
    void setCallbacks(DictationCallbacks c) override { callbacks = std::move(c); }
    void prewarmMicrophone() override { trace.push_back("dictation.prewarmMicrophone"); }
    void prewarmEngine() override { trace.push_back("dictation.prewarmEngine"); }
    DictationCallbacks callbacks;
};

struct FakeReadAloud : ReadAloudMode {
    Trace& trace;
    ReadAloudState st = ReadAloudState::idle;
    SpeechSynthesisState engine = SpeechSynthesisState::idle;
    explicit FakeReadAloud(Trace& t) : trace(t) {}
    ReadAloudState state() const override { return st; }
    SpeechSynthesisState engineState() const override { return engine; }
    void pauseForArbitration() override { trace.push_back("readAloud.pause"); }
    void cancel() override { trace.push_back("readAloud.cancel"); }
    void handlePress(bool summarize) override {
        trace.push_back(summarize ? "readAloud.press summarize" : "readAloud.press");
    }
};

struct FakeNotepad : NotepadMode {
    Trace& trace;
    bool openFlag = false, recording = false;
    explicit FakeNotepad(Trace& t) : trace(t) {}
    bool isOpen() const override { return openFlag; }
    bool isRecording() const override { return recording; }
    void open() override { trace.push_back("notepad.open"); }
    void openWithSeedText(const std::string& text) override { trace.push_back("notepad.seed " + text); }
};

struct FakeNotepadWindow : NotepadWindow {
    Trace& trace;
    NotepadMode* owner;
    FakeNotepadWindow(Trace& t, NotepadMode* o) : trace(t), owner(o) {}
    void show() override { trace.push_back("notepadWindow.show"); }
};

struct FakeBridge : CloudBridge {
    Trace& trace;
    explicit FakeBridge(Trace& t) : trace(t) {}
    void start() override { trace.push_back("bridge.start"); }
};

struct FakePreferencesWindow : PreferencesWindow {
    Trace& trace;
    PreferencesTab tab;
    FakePreferencesWindow(Trace& t, PreferencesTab initial) : trace(t), tab(initial) {}
    void setTab(PreferencesTab t) override { tab = t; }
    void showAndActivate() override { trace.push_back("preferences.show"); }
};

struct FakeFactory : AppComponentFactory {
    Trace& trace;
    bool withReadAloud = true, withNotepad = true;
    FakeDictation* dictation = nullptr;
    FakeReadAloud* reader = nullptr;
    FakeNotepad* notepad = nullptr;
    FakeNotepadWindow* notepadWindow = nullptr;
    FakePreferencesWindow* preferences = nullptr;
    std::vector<bool> bridgeDatabases;
    int builds = 0;
    explicit FakeFactory(Trace& t) : trace(t) {}

    std::unique_ptr<DictationMode> makeDictation() override {
        ++builds;
        trace.push_back("make dictation");
        auto d = std::make_unique<FakeDictation>(trace);
        dictation = d.get();
        return d;
    }
    std::unique_ptr<ReadAloudMode> makeReadAloud() override {
        ++builds;
        if (!withReadAloud) return nullptr;
        trace.push_back("make readAloud");
        auto r = std::make_unique<FakeReadAloud>(trace);
        reader = r.get();
        return r;
    }
    std::unique_ptr<NotepadMode> makeNotepad() override {
        ++builds;
        if (!withNotepad) return nullptr;
        auto n = std::make_unique<FakeNotepad>(trace);
        notepad = n.get();
        return n;
    }
    std::unique_ptr<NotepadWindow> makeNotepadWindow(NotepadMode& owner) override {
        ++builds;
        auto w = std::make_unique<FakeNotepadWindow>(trace, &owner);
        notepadWindow = w.get();
        return w;
    }
    std::unique_ptr<CloudBridge> makeCloudBridge(bool withDatabase) override {
        ++builds;
        bridgeDatabases.push_back(withDatabase);
        return std::make_unique<FakeBridge>(trace);
    }
    std::unique_ptr<PreferencesWindow> makePreferencesWindow(PreferencesTab tab) override {
        ++builds;
        auto w = std::make_unique<FakePreferencesWindow>(trace, tab);
        preferences = w.get();
        return w;
    }
};

struct FakePanel : DictationPanel {
    std::function<void(std::optional<std::string>)> onSelect;
    std::function<void()> onCancel;
    void setOnSelectInputDevice(std::function<void(std::optional<std::string>)> f) override { onSelect = std::move(f); }
    void setOnCancel(std::function<void()> f) override { onCancel = std::move(f); }
};

class AppCoordinatorTest : public ::testing::Test {
protected:
    platform::ScopedLogCapture logs;
    platform::ManualExecutor main;
    platform::InMemoryUserDefaults defaults;
    PreferencesStore preferences{defaults, {}};
    platform::ScriptedKeyEventSource keys;
    HotkeyManager hotkey{keys, main};
    FakePanel panel;
    Trace trace;
    FakeFactory factory{trace};
    platform::Environment environment;
    std::size_t orphans = 0;
    std::optional<std::string> defaultInput;
    std::vector<InputDevice> devices;
    std::vector<bool> automaticDownloads;
    std::unique_ptr<AppCoordinator> coordinator;

    AppServices services() {
        AppServices s;
        s.startMemoryMonitor = [this] { trace.push_back("memory.start"); };
        s.stopMemoryMonitor = [this] { trace.push_back("memory.stop"); };
        s.pruneOrphanedRenders = [this] {
            trace.push_back("prune");
            return orphans;
        };
        s.flushUsageLog = [this] { trace.push_back("usageLog.flush"); };
        s.flushQueue = [this] { trace.push_back("queue.flush"); };
        s.setAutomaticDownloads = [this](bool on) { automaticDownloads.push_back(on); };
        s.systemDefaultInputUID = [this] { return defaultInput; };
        s.inputDevices = [this] { return devices; };
        s.postLaunch = [this] { trace.push_back("postLaunch"); };
        return s;
    }

    AppCoordinator& make() {
        coordinator = std::make_unique<AppCoordinator>(AppCoordinator::Dependencies{
            .preferences = preferences, .hotkey = hotkey, .hud = panel, .factory = factory,
            .environment = environment, .main = main, .services = services()});
        return *coordinator;
    }
    AppCoordinator& started() {
        make().start();
        main.runUntilIdle();
        trace.clear();
        return *coordinator;
    }
};

// ---- routing and arbitration ----

TEST(AppGestureMapping, FirstMatchInFixedOrderAndExactModifierMask) {
    const auto shiftCmd = ModifierFlags::shift | ModifierFlags::command;
    GestureSet g{Gesture::hold(Hotkey::rightOption), Gesture::hold(Hotkey::rightOption), Gesture::combo(45, shiftCmd),
                 Gesture::combo(45, shiftCmd | ModifierFlags::option)};
    EXPECT_EQ(actionForHold(g, Hotkey::rightOption), GestureAction::dictation);
    EXPECT_EQ(actionForHold(g, Hotkey::leftOption), std::nullopt);
    EXPECT_EQ(actionForCombo(g, 45, shiftCmd), GestureAction::notepad);
    EXPECT_EQ(actionForCombo(g, 45, shiftCmd | ModifierFlags::option), GestureAction::summarizeReadAloud);
    EXPECT_EQ(actionForCombo(g, 45, ModifierFlags::command), std::nullopt);
    EXPECT_EQ(actionForCombo(g, 2, shiftCmd), std::nullopt);
}

TEST_F(AppCoordinatorTest, RegistrationKeepsDuplicatesInFixedOrder) {
    preferences.dictationGesture.set(Gesture::hold(Hotkey::rightOption));
    preferences.readAloudGesture.set(Gesture::hold(Hotkey::rightOption));
    make().registerGestures();
    auto router = hotkey.routerSnapshot();
    EXPECT_EQ(router.watchedHolds, (std::vector<Hotkey>{Hotkey::rightOption, Hotkey::rightOption}));
    ASSERT_EQ(router.watchedCombos.size(), 2u);
    EXPECT_EQ(router.watchedCombos[0], *preferences.notepadGesture().keyCombo());
    EXPECT_EQ(router.watchedCombos[1], *preferences.summarizeReadAloudGesture().keyCombo());
}

TEST_F(AppCoordinatorTest, HoldKeysComboToggleAndIgnoredReleases) {
    preferences.dictationGesture.set(Gesture::hold(Hotkey::rightOption));
    preferences.readAloudGesture.set(Gesture::hold(Hotkey::rightOption));
    preferences.notepadGesture.set(Gesture::hold(Hotkey::leftControl));
    auto& c = started();
    c.handleHoldDown(Hotkey::rightOption);
    c.handleHoldUp(Hotkey::rightOption);
    c.handleHoldUp(Hotkey::leftControl);  // a non-dictation release does nothing
    c.handleHoldDown(Hotkey::leftCommand);  // no gesture
    EXPECT_EQ(trace, (Trace{"dictation.press rightOption", "dictation.release rightOption"}));

    trace.clear();
    preferences.dictationGesture.set(PreferencesStore::dictationDefaultGesture());
    const auto combo = *preferences.dictationGesture().keyCombo();
    c.handleComboTrigger(combo.keyCode, combo.modifiers);
    c.handleComboTrigger(combo.keyCode, combo.modifiers);
    EXPECT_EQ(trace, (Trace{"dictation.toggle", "dictation.toggle"}));
}

TEST_F(AppCoordinatorTest, NotepadOpenRefusesPressesWithLineAndReleasesSilently) {
    preferences.dictationGesture.set(Gesture::hold(Hotkey::rightOption));
    auto& c = started();
    c.handleHoldDown(Hotkey::rightOption);
    factory.notepad->openFlag = true;
    c.handleHoldUp(Hotkey::rightOption);  // the release after the window opened
    EXPECT_FALSE(logs->contains("hotkey ignored: notepad open"));
    c.handleHoldDown(Hotkey::rightOption);
    const auto readAloud = *preferences.readAloudGesture().keyCombo();
    c.handleComboTrigger(readAloud.keyCode, readAloud.modifiers);
    EXPECT_EQ(trace, (Trace{"dictation.press rightOption"}));
    EXPECT_TRUE(logs->contains("hotkey ignored: notepad open", platform::LogLevel::debug));
}

struct DictationPressCase {
    const char* name;
    ReadAloudState state;
    SpeechSynthesisState engine;
    bool flagBefore;
    Trace expected;
    bool flagAfter;
    const char* line;
};

TEST_F(AppCoordinatorTest, DictationPressArbitratesWithReadAloud) {
    using RS = ReadAloudState;
    using ES = SpeechSynthesisState;
    const DictationPressCase cases[] = {
        {"speaking aloud", RS::speaking, ES::speaking, false, {"readAloud.pause", "dictation.toggle"}, true,
         "mode arbitration: read-aloud pause → dictation"},
        {"capturing", RS::capturing, ES::idle, true, {"readAloud.cancel", "dictation.toggle"}, false,
         "mode arbitration: read-aloud cancel (pre-speech) → dictation"},
        {"summarizing", RS::summarizing, ES::idle, true, {"readAloud.cancel", "dictation.toggle"}, false,
         "mode arbitration: read-aloud cancel (pre-speech) → dictation"},
        {"speaking while loading", RS::speaking, ES::loading, true, {"readAloud.cancel", "dictation.toggle"}, false,
         "mode arbitration: read-aloud cancel (pre-speech) → dictation"},
        {"user paused", RS::userPaused, ES::paused, true, {"dictation.toggle"}, true, nullptr},
        {"paused for arbitration", RS::pausedForArbitration, ES::paused, true, {"dictation.toggle"}, true, nullptr},
        {"idle", RS::idle, ES::idle, false, {"dictation.toggle"}, false, nullptr},
    };
    auto& c = started();
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        trace.clear();
        logs->clear();
        factory.reader->st = k.state;
        factory.reader->engine = k.engine;
        c.readAloudShouldResumeAfterDictation = k.flagBefore;
        c.arbitrate(GestureAction::dictation, std::nullopt);
        EXPECT_EQ(trace, k.expected);
        EXPECT_EQ(c.readAloudShouldResumeAfterDictation, k.flagAfter);
        if (k.line) {
            EXPECT_TRUE(logs->contains(k.line, platform::LogLevel::info));
        }
    }
}

TEST_F(AppCoordinatorTest, NotepadRecordingIgnoresDictationPress) {
    auto& c = started();
    c.notepad();
    factory.notepad->recording = true;
    c.arbitrate(GestureAction::dictation, Hotkey::rightOption);
    EXPECT_TRUE(trace.empty());
    EXPECT_TRUE(logs->contains("mode arbitration: notepad is recording — ignoring dictation press"));
}

TEST_F(AppCoordinatorTest, RecordingDictationEndsBeforeOtherModes) {
    auto& c = started();
    for (auto [action, expected] : std::vector<std::pair<GestureAction, Trace>>{
             {GestureAction::readAloud, {"dictation.finalize", "readAloud.press"}},
             {GestureAction::summarizeReadAloud, {"dictation.finalize", "readAloud.press summarize"}},
             {GestureAction::notepad, {"dictation.finalize", "notepad.open", "notepadWindow.show"}}}) {
        trace.clear();
        factory.dictation->recording = true;
        c.readAloudShouldResumeAfterDictation = true;
        c.arbitrate(action, std::nullopt);
        EXPECT_EQ(trace, expected);
        if (action != GestureAction::notepad) {
            EXPECT_FALSE(c.readAloudShouldResumeAfterDictation);
        }
    }
    EXPECT_TRUE(logs->contains("mode arbitration: dictation → read-aloud"));
    trace.clear();
    factory.dictation->recording = false;
    factory.dictation->pending = true;
    c.arbitrate(GestureAction::readAloud, std::nullopt);
    EXPECT_EQ(trace, (Trace{"dictation.finalize", "readAloud.press"}));
}

TEST_F(AppCoordinatorTest, MissingReadAloudAndNotepadLogOnceAndDictationStillWorks) {
    factory.withReadAloud = false;
    factory.withNotepad = false;
    auto& c = started();
    const auto readAloud = *preferences.readAloudGesture().keyCombo();
    const auto notepad = *preferences.notepadGesture().keyCombo();
    const auto dictation = *preferences.dictationGesture().keyCombo();
    for (int i = 0; i < 2; ++i) {
        c.handleComboTrigger(readAloud.keyCode, readAloud.modifiers);
        c.handleComboTrigger(notepad.keyCode, notepad.modifiers);
    }
    c.handleComboTrigger(dictation.keyCode, dictation.modifiers);
    EXPECT_EQ(trace, (Trace{"dictation.toggle"}));
    int missing = 0;
    for (const auto& line : logs->lines())
        if (line.message.find("is not available") != std::string::npos) ++missing;
    EXPECT_EQ(missing, 2);  // read-aloud and notepad, once each
}

// ---- construction and start ----

TEST_F(AppCoordinatorTest, ConstructionStartsNothingAndLazyAccessorsBuildOnce) {
    auto& c = make();
    EXPECT_EQ(main.runUntilIdle(), 0u);
    EXPECT_TRUE(trace.empty());
    EXPECT_EQ(factory.builds, 0);
    EXPECT_FALSE(hotkey.isRunning());
    EXPECT_EQ(keys.openCount(), 0);
    EXPECT_TRUE(hotkey.routerSnapshot().watchedCombos.empty());

    // The Notepad window is built for the Notepad that `notepad` then returns.
    auto* window = c.notepadHUDController();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(factory.notepadWindow->owner, c.notepad());
    EXPECT_EQ(c.notepadHUDController(), window);
    EXPECT_EQ(&c.dictation(), &c.dictation());
    EXPECT_EQ(c.readAloud(), c.readAloud());
    EXPECT_EQ(c.listenLaterCloudKit(), c.listenLaterCloudKit());
    EXPECT_EQ(factory.builds, 5);
    EXPECT_EQ(factory.bridgeDatabases, (std::vector<bool>{true}));
}

TEST_F(AppCoordinatorTest, UnderTheTestVariableTheBridgeHasNoDatabase) {
    environment = environment.with(AppCoordinator::kTestHarnessVariable, "/tmp/x");
    make().listenLaterCloudKit();
    EXPECT_EQ(factory.bridgeDatabases, (std::vector<bool>{false}));
}

TEST_F(AppCoordinatorTest, OpenPreferencesTwiceKeepsOneWindowOnTheSecondTab) {
    auto& c = make();
    c.openPreferences(PreferencesTab::dictation);
    auto* first = factory.preferences;
    c.openPreferences(PreferencesTab::about);
    EXPECT_EQ(factory.preferences, first);
    EXPECT_EQ(first->tab, PreferencesTab::about);
    EXPECT_EQ(trace, (Trace{"preferences.show", "preferences.show"}));
}

TEST_F(AppCoordinatorTest, StartRunsItsStepsInOrder) {
    orphans = 3;
    make().start();
    main.runUntilIdle();
    EXPECT_EQ(trace, (Trace{"memory.start", "bridge.start", "prune", "make dictation", "dictation.bindAudioCallbacks",
                            "make readAloud", "postLaunch"}));
    EXPECT_EQ(logs->messages().front(), "Parlowen starting");
    EXPECT_TRUE(logs->contains("reclaimed 3 orphaned Listen Later cache file(s)"));
    EXPECT_TRUE(hotkey.isRunning());
    EXPECT_EQ(hotkey.routerSnapshot().watchedCombos.size(), 4u);
    EXPECT_EQ(automaticDownloads, (std::vector<bool>{preferences.autoUpdateEnabled()}));
}

TEST_F(AppCoordinatorTest, PruneThatRemovesNothingLogsNothing) {
    started();
    EXPECT_FALSE(logs->contains("orphaned Listen Later"));
}

TEST_F(AppCoordinatorTest, KeySourceFailureIsLoggedAndStartGoesOn) {
    keys.failOpen(true);
    started();
    auto line = logs->find("hotkey start failed: ", platform::LogLevel::error);
    ASSERT_TRUE(line);
    EXPECT_NE(line->message.find(" — likely missing Input Monitoring permission"), std::string::npos);
    EXPECT_FALSE(hotkey.isRunning());
    EXPECT_EQ(hotkey.routerSnapshot().watchedCombos.size(), 4u);
}

TEST_F(AppCoordinatorTest, UnderTheTestVariableNoBridgeNoPruneButGesturesStart) {
    environment = environment.with(AppCoordinator::kTestHarnessVariable, "/tmp/x");
    make().start();
    main.runUntilIdle();
    EXPECT_TRUE(factory.bridgeDatabases.empty());
    EXPECT_EQ(std::count(trace.begin(), trace.end(), "prune"), 0);
    EXPECT_TRUE(hotkey.isRunning());
    EXPECT_EQ(trace.back(), "postLaunch");
}

TEST_F(AppCoordinatorTest, ChangingOneGestureRegistersAllFourWithTheDeliveredValue) {
    started();
    preferences.readAloudGesture.set(Gesture::hold(Hotkey::rightCommand));
    auto router = hotkey.routerSnapshot();
    EXPECT_EQ(router.watchedHolds, (std::vector<Hotkey>{Hotkey::rightCommand}));
    EXPECT_EQ(router.watchedCombos.size(), 3u);
}

TEST_F(AppCoordinatorTest, AutoUpdateSettingDrivesAutomaticDownloads) {
    started();
    preferences.autoUpdateEnabled.set(false);
    preferences.autoUpdateEnabled.set(true);
    EXPECT_EQ(automaticDownloads, (std::vector<bool>{true, false, true}));
}

TEST_F(AppCoordinatorTest, PanelCallbacksPickTheDeviceAndCancelDictation) {
    started();
    preferences.hasAutoSelectedInputDevice.set(false);
    panel.onSelect(std::string("usb-mic"));
    EXPECT_EQ(preferences.preferredInputDeviceUID(), "usb-mic");
    EXPECT_TRUE(preferences.hasAutoSelectedInputDevice());
    panel.onCancel();
    EXPECT_EQ(trace, (Trace{"dictation.cancel"}));
}

TEST_F(AppCoordinatorTest, ShutdownStopsTapCancelsAndFlushesPendingWrites) {
    auto& c = started();
    c.shutdown();
    EXPECT_FALSE(hotkey.isRunning());
    EXPECT_EQ(trace, (Trace{"memory.stop", "dictation.cancel", "readAloud.cancel", "usageLog.flush", "queue.flush"}));
}

struct SmartDefaultCase {
    const char* name;
    bool flagBefore;
    std::optional<std::string> preferredBefore;
    std::optional<std::string> systemDefault;
    std::vector<InputDevice> devices;
    std::optional<std::string> preferredAfter;
    const char* line;
};

TEST_F(AppCoordinatorTest, SmartDefaultInputDevice) {
    using T = platform::AudioTransport;
    const InputDevice bt{"bt", "Ann's Headset", T::bluetooth}, builtIn{"mic", "Built-in Mic", T::builtIn},
        usb{"usb", "USB Mic", T::usb}, other{"oth", "Other", T::other};
    const char* overriding = "smart-default: system default input is Bluetooth (<private>); overriding to <private> "
                             "for faster dictation startup";
    const char* leaving =
        "smart-default: system default is Bluetooth but no built-in/USB alternative available; leaving as-is";
    const SmartDefaultCase cases[] = {
        {"bluetooth with built-in", false, {}, "bt", {usb, bt, builtIn}, "mic", overriding},
        {"bluetooth with only usb", false, {}, "bt", {bt, other, usb}, "usb", overriding},
        {"bluetooth alone", false, {}, "bt", {bt, other}, std::nullopt, leaving},
        {"non-bluetooth default", false, {}, "usb", {bt, usb, builtIn}, std::nullopt, nullptr},
        {"default not listed", false, {}, "gone", {bt, builtIn}, std::nullopt, nullptr},
        {"no default", false, {}, std::nullopt, {bt, builtIn}, std::nullopt, nullptr},
        {"preferred already set", false, "chosen", "bt", {bt, builtIn}, "chosen", nullptr},
        {"flag already on", true, {}, "bt", {bt, builtIn}, std::nullopt, nullptr},
    };
    auto& c = make();
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        logs->clear();
        preferences.hasAutoSelectedInputDevice.set(k.flagBefore);
        preferences.preferredInputDeviceUID.set(k.preferredBefore);
        defaultInput = k.systemDefault;
        devices = k.devices;
        c.applySmartDefaultInputDevice();
        EXPECT_EQ(preferences.preferredInputDeviceUID(), k.preferredAfter);
        EXPECT_TRUE(preferences.hasAutoSelectedInputDevice());
        EXPECT_EQ(logs->contains("smart-default"), k.line != nullptr);
        if (k.line) {
            EXPECT_TRUE(logs->contains(k.line, platform::LogLevel::info));
        }
    }
    // Flag already on: nothing at all, not even a write.
    logs->clear();
    defaults.remove("hasAutoSelectedInputDevice");
    c.applySmartDefaultInputDevice();
    EXPECT_FALSE(defaults.object("hasAutoSelectedInputDevice"));
}

}  // namespace
}  // namespace parlowen
