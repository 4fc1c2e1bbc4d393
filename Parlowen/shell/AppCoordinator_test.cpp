#include "Parlowen/shell/AppCoordinator.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "Parlowen/brand/UsageLog.h"
#include "Parlowen/dictation/DictationHistory.h"
#include "Parlowen/dictation/HotkeyManager.h"
#include "Parlowen/listenlater/queue/QueueService.h"
#include "Parlowen/shell/SoftwareUpdate.h"
#include "Parlowen/shell/settings/PreferencesStore.h"
#include "platform/defaults/InMemoryUserDefaults.h"
#include "platform/keyevents/KeyEventSource.h"
#include "platform/languagemodel/ScriptedLanguageModel.h"
#include "platform/log/CaptureSink.h"
#include "platform/pasteboard/InMemoryPasteboard.h"
#include "platform/runtime/ManualExecutor.h"
#include "platform/statusitem/StatusItem.h"
#include "platform/testsupport/TempHome.h"
#include "platform/text/Format.h"
#include "platform/ui/RecordingAnnouncer.h"
#include "platform/ui/ReduceMotion.h"
#include "platform/updater/Updater.h"
#include "platform/values/Files.h"

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
    ReadAloudEngineState engine = ReadAloudEngineState::idle;
    explicit FakeReadAloud(Trace& t) : trace(t) {}
    ReadAloudState state() const override { return st; }
    ReadAloudEngineState engineState() const override { return engine; }
    void pauseForArbitration() override { trace.push_back("readAloud.pause"); }
    void cancel() override { trace.push_back("readAloud.cancel"); }
    void handlePress(bool summarize) override {
        trace.push_back(summarize ? "readAloud.press summarize" : "readAloud.press");
    }
    void setCallbacks(ReadAloudCallbacks c) override { callbacks = std::move(c); }
    void resumeAfterArbitration() override { trace.push_back("readAloud.resume"); }
    void togglePause() override { trace.push_back("readAloud.togglePause"); }
    void setVoice(const std::string& id) override { trace.push_back("readAloud.voice " + id); }
    void skipBack(double s) override { trace.push_back("engine.skipBack " + std::to_string(int(s))); }
    void skipForward(double s) override { trace.push_back("engine.skipForward " + std::to_string(int(s))); }
    void skipBackParagraph() override { trace.push_back("engine.skipBackParagraph"); }
    void skipBackSentence() override { trace.push_back("engine.skipBackSentence"); }
    void skipForwardSentence() override { trace.push_back("engine.skipForwardSentence"); }
    void skipForwardParagraph() override { trace.push_back("engine.skipForwardParagraph"); }
    void setRate(float r) override { trace.push_back("engine.rate " + std::to_string(int(r * 10))); }
    ReadAloudCallbacks callbacks;
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
    void refreshPendingItems() override { trace.push_back("bridge.refreshPendingItems"); }
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
    UpdateAvailability availability;
    BundleLocation::Status location = BundleLocation::Status::applications;
    platform::ScriptedUpdaterController* updater = nullptr;  // once the coordinator asked for it
    std::unique_ptr<SoftwareUpdates> updates;
    std::unique_ptr<AppCoordinator> coordinator;
    std::function<void(AppServices&)> adjustServices;

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
        s.updaterController = [this]() -> platform::UpdaterController& { return updates->updaterController(); };
        s.systemDefaultInputUID = [this] { return defaultInput; };
        s.inputDevices = [this] { return devices; };
        s.postLaunch = [this] { trace.push_back("postLaunch"); };
        if (adjustServices) adjustServices(s);
        return s;
    }

    AppCoordinator& make() {
        coordinator.reset();
        updater = nullptr;
        updates = std::make_unique<SoftwareUpdates>(SoftwareUpdates::Dependencies{
            .availability = availability, .preferences = preferences, .main = main, .application = {},
            .location = location, .makeController = [this](platform::UpdaterDelegate&) {
                auto controller = std::make_unique<platform::ScriptedUpdaterController>();
                updater = controller.get();
                return controller;
            }});
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
    ReadAloudEngineState engine;
    bool flagBefore;
    Trace expected;
    bool flagAfter;
    const char* line;
};

TEST_F(AppCoordinatorTest, DictationPressArbitratesWithReadAloud) {
    using RS = ReadAloudState;
    using ES = ReadAloudEngineState;
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
    ASSERT_NE(updater, nullptr);
    EXPECT_EQ(updater->startCount(), 1);
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

TEST_F(AppCoordinatorTest, UpdaterChecksOnlyFromAnInstallLocationAndDownloadsFollowTheSettingAlone) {
    using Status = BundleLocation::Status;
    const struct {
        Status location;
        bool autoUpdate;
        bool checks;
    } cases[] = {
        {Status::applications, true, true},   {Status::applications, false, true},
        {Status::userApplications, true, true}, {Status::userApplications, false, true},
        {Status::derivedData, true, false},   {Status::translocated, false, false},
        {Status::otherUnknown, true, false},  {Status::otherUnknown, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(toString(c.location)) + (c.autoUpdate ? " on" : " off"));
        location = c.location;
        preferences.autoUpdateEnabled.set(c.autoUpdate);
        auto& coordinator = make();
        EXPECT_EQ(updater, nullptr) << "construction builds no updater";
        coordinator.start();
        ASSERT_NE(updater, nullptr) << "the setting's first delivery builds it";
        EXPECT_EQ(updater->startCount(), 1);
        EXPECT_EQ(updater->automaticallyChecksForUpdates(), c.checks);
        // The location guard wrote the download flag, then the setting alone.
        EXPECT_EQ(updater->downloadFlagWrites(), 2);
        EXPECT_EQ(updater->automaticallyDownloadsUpdates(), c.autoUpdate);

        preferences.autoUpdateEnabled.set(!c.autoUpdate);
        EXPECT_EQ(updater->automaticallyDownloadsUpdates(), !c.autoUpdate);
        preferences.autoUpdateEnabled.set(c.autoUpdate);
        EXPECT_EQ(updater->automaticallyDownloadsUpdates(), c.autoUpdate);
        EXPECT_EQ(updater->checkFlagWrites(), 1) << "the setting never touches automatic checks";
        EXPECT_EQ(updater->automaticallyChecksForUpdates(), c.checks);
        coordinator.shutdown();
    }
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

TEST_F(AppCoordinatorTest, ShutdownRightAfterStartPutsDebouncedWritesOnDisk) {
    testsupport::TempDir dir;
    platform::FixedClock clock{platform::Date::fromTimeIntervalSince1970(1760000000)};
    const auto usageFile = dir / "usage.json";
    const auto queueFile = dir / "listen-later-queue.json";
    RenderProgressStore progress{main};
    ListenLaterCache cache{dir / "caches"};
    auto usage = std::make_unique<UsageLog>(UsageLog::Dependencies{main, main, clock, platform::text::TimeZone::utc()},
                                            usageFile);
    auto queue = std::make_unique<QueueService>(QueueService::Dependencies{main, clock, progress, cache, {}}, queueFile);
    adjustServices = [&](AppServices& s) {
        s.flushUsageLog = [&] { usage->flush(); };
        s.flushQueue = [&] { queue->flushPendingPersist(); };
    };
    auto& c = started();

    // A dictation and a play position recorded just before quitting.
    const auto item = queue->add({.text = "An article to hear later", .voiceEngine = "appleSpeech", .voiceID = "v"});
    queue->markAudioReady(item.id, cache.audioFileURL(item.id, "caf"), 600);
    queue->updatePlayedThru(item.id, 42);
    usage->recordDictation("three words here");
    ASSERT_TRUE(queue->persistPending());
    ASSERT_TRUE(usage->persistPending());

    c.shutdown();
    EXPECT_FALSE(hotkey.isRunning());
    EXPECT_FALSE(keys.isOpen());
    // No session was running: nothing else happened that a user would see.
    EXPECT_EQ(trace, (Trace{"memory.stop", "dictation.cancel", "readAloud.cancel"}));

    // On disk with no timer run; the stores read back what was recorded.
    usage.reset();
    queue.reset();
    UsageLog reread({main, main, clock, platform::text::TimeZone::utc()}, usageFile);
    EXPECT_EQ(reread.lifetimeTotals().dictation.wordCount, 3);
    QueueService requeued({main, clock, progress, cache, {}}, queueFile);
    ASSERT_EQ(requeued.items().size(), 1u);
    EXPECT_EQ(requeued.items()[0].playedThru, 42);
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

// ---- status item, permission poll, launch tasks and outcomes ----

struct FakeHUD : ReadAloudPanel {
    Trace& trace;
    explicit FakeHUD(Trace& t) : trace(t) {}
    void update(ReadAloudUIMode mode) override { trace.push_back("hud.update " + std::to_string(int(mode))); }
};

struct FakeOnboarding : OnboardingWindow {
    Trace& trace;
    explicit FakeOnboarding(Trace& t) : trace(t) {}
    void resumeAtFirstIncompleteStep() override { trace.push_back("onboarding.resume"); }
    void showAndActivate() override { trace.push_back("onboarding.show"); }
};

struct FakeQuickAdd : QuickAddPanel {
    Trace& trace;
    std::function<std::vector<std::string>()> words;
    FakeQuickAdd(Trace& t, std::function<std::vector<std::string>()> w) : trace(t), words(std::move(w)) {}
    void show() override {
        std::string line = "quickAdd.show";
        for (const auto& w : words()) line += " " + w;
        trace.push_back(line);
    }
};

struct FakeReport : ReportWindow {
    Trace& trace;
    explicit FakeReport(Trace& t) : trace(t) {}
    void show() override { trace.push_back("report.show"); }
};

struct ShellFactory : FakeFactory {
    using FakeFactory::FakeFactory;
    int huds = 0;
    ReadAloudHUDActions actions;
    std::unique_ptr<ReadAloudPanel> makeReadAloudHUD(ReadAloudHUDActions a) override {
        ++huds;
        actions = a;
        return std::make_unique<FakeHUD>(trace);
    }
    std::unique_ptr<OnboardingWindow> makeOnboardingWindow() override { return std::make_unique<FakeOnboarding>(trace); }
    std::unique_ptr<QuickAddPanel> makeQuickAddHintPanel(std::function<std::vector<std::string>()> words) override {
        return std::make_unique<FakeQuickAdd>(trace, std::move(words));
    }
    std::unique_ptr<ReportWindow> makeQuonReportWindow() override { return std::make_unique<FakeReport>(trace); }
};

// Raw statuses: microphone and speech 3, accessibility 1, input monitoring 0 mean granted.
class AppShellTest : public AppCoordinatorTest {
protected:
    platform::ScriptedPermissionSource mic{3}, speech{3}, ax{1}, input{0};
    PermissionsManager permissions{PermissionSources{mic, speech, ax, input}, main};
    platform::FixedClock clock{platform::Date::fromTimeIntervalSinceReferenceDate(800'000'000)};
    DictationHistory history{clock};
    platform::ManualExecutor pool;
    std::filesystem::path usageFile =
        std::filesystem::path(::testing::TempDir()) /
        (std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "-usage.json");
    std::unique_ptr<UsageLog> usage;
    UpdateAvailability updates;
    platform::ScriptedLanguageModel model;
    platform::RecordingStatusItem item;
    platform::InMemoryPasteboard pasteboard;
    platform::ui::RecordingAnnouncer announcer;
    platform::ui::ReduceMotionSwitch reduceMotion;
    ShellFactory shellFactory{trace};
    std::vector<std::string> toasts;
    int activations = 0, quits = 0, userUpdateChecks = 0;
    std::function<void()> becameActive;

    void SetUp() override {
        std::filesystem::remove(usageFile);
        usage = std::make_unique<UsageLog>(
            UsageLog::Dependencies{main, pool, clock, *platform::text::TimeZone::named("UTC")}, usageFile);
        preferences.hasCompletedFirstRun.set(true);
        model.setAvailability(platform::LanguageModelAvailability::deviceNotEligible);
    }
    // The coordinator holds on to this fixture's parts; it goes first.
    void TearDown() override { coordinator.reset(); }

    AppCoordinator& makeShell() {
        AppServices s = services();
        s.postLaunch = nullptr;  // the real post-launch task
        s.updaterController = nullptr;  // the updater has its own tests above
        s.showToast = [this](const std::string& m) { toasts.push_back(m); };
        s.activateIgnoringOtherApps = [this] { ++activations; };
        s.terminate = [this] { ++quits; };
        s.checkForUpdatesByUser = [this] { ++userUpdateChecks; };
        s.observeDidBecomeActive = [this](std::function<void()> f) {
            becameActive = std::move(f);
            return platform::Subscription([this] { becameActive = nullptr; });
        };
        coordinator = std::make_unique<AppCoordinator>(AppCoordinator::Dependencies{
            .preferences = preferences, .hotkey = hotkey, .hud = panel, .factory = shellFactory,
            .environment = environment, .main = main, .services = std::move(s), .permissions = &permissions,
            .history = &history, .usageLog = usage.get(), .updateAvailability = &updates, .languageModel = &model,
            .background = &pool, .clock = &clock,
            .statusBarParts = StatusBarParts{item, pasteboard, announcer, reduceMotion}});
        return *coordinator;
    }
    // Starts and lets the post-launch task finish.
    AppCoordinator& launched() {
        makeShell().start();
        main.advance(platform::seconds(1));
        pool.runUntilIdle();
        main.runUntilIdle();
        return *coordinator;
    }
    std::size_t logCount(std::string_view text) {
        std::size_t n = 0;
        for (const auto& m : logs->messages()) n += m == text;
        return n;
    }
    DictationCallbacks& dictating() { return shellFactory.dictation->callbacks; }
    ReadAloudCallbacks& reading() { return shellFactory.reader->callbacks; }
    std::vector<std::string> announced() {
        std::vector<std::string> out;
        for (const auto& a : announcer.announcements()) out.push_back(a.text);
        return out;
    }
};

TEST_F(AppShellTest, PollStartsAtLaunchStopsOnceAllGrantedAndRestartsAfterARevoke) {
    makeShell().start();
    // Before any refresh every state is unknown: the icon shows the missing permission.
    EXPECT_EQ(coordinator->statusBar()->state(), StatusIconState::permissionError);
    EXPECT_TRUE(coordinator->isPermissionPollRunning());
    coordinator->startPermissionPoll();
    EXPECT_EQ(logCount("permission poll: started (1.5Hz until all granted)"), 1u);
    main.runUntilIdle();  // the post-launch refresh
    EXPECT_EQ(coordinator->statusBar()->state(), StatusIconState::idle);
    EXPECT_TRUE(coordinator->isPermissionPollRunning()) << "only a tick stops the poll";
    main.advance(platform::seconds(1.5));
    EXPECT_FALSE(coordinator->isPermissionPollRunning());
    EXPECT_EQ(logCount("permission poll: all granted, stopping poller"), 1u);
    main.advance(platform::seconds(1));
    pool.runUntilIdle();
    main.runUntilIdle();

    // Revoked while in the background; the activation notices.
    ax.setRawStatus(0);
    trace.clear();
    ASSERT_TRUE(becameActive);
    becameActive();
    main.runUntilIdle();
    EXPECT_TRUE(coordinator->isPermissionPollRunning());
    EXPECT_EQ(logCount("permission poll: started (1.5Hz until all granted)"), 2u);
    EXPECT_EQ(coordinator->statusBar()->state(), StatusIconState::permissionError);
    EXPECT_EQ(std::count(trace.begin(), trace.end(), "bridge.refreshPendingItems"), 1);

    // Still missing: the poll keeps going; granted: it stops within a tick.
    main.advance(platform::seconds(3));
    EXPECT_TRUE(coordinator->isPermissionPollRunning());
    ax.setRawStatus(1);
    main.advance(platform::seconds(1.5));
    EXPECT_FALSE(coordinator->isPermissionPollRunning());
    EXPECT_EQ(coordinator->statusBar()->state(), StatusIconState::idle);
}

TEST_F(AppShellTest, PostLaunchOpensOnboardingPreferencesOrNothing) {
    struct Case {
        bool firstRunDone;
        std::int64_t axRaw;
        Trace opened;
        int activations;
    };
    const std::vector<Case> cases = {
        {false, 1, {"onboarding.resume", "onboarding.show"}, 1},
        {false, 0, {"onboarding.resume", "onboarding.show"}, 1},
        {true, 0, {"preferences.show"}, 0},
        {true, 1, {}, 0},
    };
    for (const auto& c : cases) {
        preferences.hasCompletedFirstRun.set(c.firstRunDone);
        ax.setRawStatus(c.axRaw);
        activations = 0;
        trace.clear();
        launched();
        Trace opened;
        for (const auto& t : trace)
            if (t.starts_with("onboarding") || t.starts_with("preferences")) opened.push_back(t);
        EXPECT_EQ(opened, c.opened) << c.firstRunDone << " " << c.axRaw;
        EXPECT_EQ(activations, c.activations);
        if (c.opened == Trace{"preferences.show"}) EXPECT_EQ(shellFactory.preferences->tab, PreferencesTab::permissions);
        coordinator.reset();
    }
}

TEST_F(AppShellTest, PrewarmsFollowTheirAuthorisationAfterTheirWaits) {
    speech.setRawStatus(1);
    makeShell().start();
    main.runUntilIdle();
    trace.clear();
    main.advance(platform::milliseconds(499));
    EXPECT_TRUE(trace.empty());
    main.advance(platform::milliseconds(1));
    EXPECT_EQ(trace, (Trace{"dictation.prewarmMicrophone"}));
    main.advance(platform::seconds(1));
    EXPECT_EQ(trace, (Trace{"dictation.prewarmMicrophone"})) << "speech is not authorised";
    EXPECT_TRUE(coordinator->postLaunchTasksDone());

    speech.setRawStatus(3);
    coordinator->startPostLaunchTasks();  // once per process
    main.advance(platform::seconds(2));
    EXPECT_EQ(trace, (Trace{"dictation.prewarmMicrophone"}));
}

TEST_F(AppShellTest, WarmUpAsksTheAvailableModelOnceAndSwallowsItsError) {
    model.setAvailability(platform::LanguageModelAvailability::available);
    model.replyNext(platform::ScriptedReply::failure(platform::toError(platform::LanguageModelError::generation)));
    launched();
    ASSERT_EQ(model.calls().size(), 1u);
    EXPECT_NE(model.calls()[0].instructions.find("Reply with: ok"), std::string::npos);
    EXPECT_NE(model.calls()[0].prompt.find("Hi."), std::string::npos);
    coordinator->warmUpLanguageModel();
    pool.runUntilIdle();
    main.runUntilIdle();
    EXPECT_EQ(model.calls().size(), 1u);
}

TEST_F(AppShellTest, WarmUpGivesUpAtFiveSeconds) {
    model.setAvailability(platform::LanguageModelAvailability::available);
    model.replyNext(platform::ScriptedReply::text("ok", platform::seconds(60)));
    launched();
    ASSERT_EQ(model.calls().size(), 1u);
    main.advance(platform::seconds(5));
    pool.runUntilIdle();
    main.runUntilIdle();
    EXPECT_NE(model.calls()[0].outcome, platform::ScriptedLanguageModel::Outcome::running);
}

TEST_F(AppShellTest, WithoutAnOnDeviceModelNothingIsSent) {
    launched();
    EXPECT_TRUE(model.calls().empty());
}

TEST_F(AppShellTest, IconPutsAMissingPermissionAboveActivity) {
    launched();
    // Start said once that a permission was missing: every state was unknown then.
    EXPECT_EQ(announced(), (std::vector<std::string>{"Parlowen needs a permission. Check the menu bar icon."}));
    announcer.clear();
    auto& bar = *coordinator->statusBar();
    dictating().onActiveStateChange(true);
    EXPECT_EQ(bar.state(), StatusIconState::listening);
    mic.setRawStatus(2);
    permissions.refresh();
    EXPECT_EQ(bar.state(), StatusIconState::permissionError);
    mic.setRawStatus(3);
    permissions.refresh();
    EXPECT_EQ(bar.state(), StatusIconState::listening);
    dictating().onActiveStateChange(false);
    reading().onUIStateChange(ReadAloudUIMode::paused);
    EXPECT_EQ(bar.state(), StatusIconState::readingAloud) << "a paused reading is still a reading";
    reading().onUIStateChange(ReadAloudUIMode::hidden);
    EXPECT_EQ(bar.state(), StatusIconState::idle);
    EXPECT_EQ(announced(), (std::vector<std::string>{"Listening.", "Stopped listening.", "Listening.",
                                                     "Stopped listening."}));
}

TEST_F(AppShellTest, FinishedDictationIsCountedRememberedAndAnnounced) {
    launched();
    struct Case {
        std::string text;
        std::optional<std::string> said;
    };
    const std::string forty = "abcdefghij abcdefghij abcdefghij abcdefg";  // 40 characters
    const std::string fortyOneNoSpaces = "abcdefghijabcdefghij\nabcdefghijabcdefghij";
    const std::vector<Case> cases = {
        {forty, "Dictation pasted: " + forty},
        {"  " + forty + "x\n", "Dictation pasted, 4 words."},
        {fortyOneNoSpaces, "Dictation pasted, 1 words."},
        {"  \n\t ", std::nullopt},
        {"Grüße aus Köln", "Dictation pasted: Grüße aus Köln"},
    };
    for (const auto& c : cases) {
        announcer.clear();
        dictating().onSessionFinalizedWithText(c.text);
        EXPECT_EQ(announced(), c.said ? std::vector<std::string>{*c.said} : std::vector<std::string>{}) << c.text;
    }
    EXPECT_EQ(history.entries().get().size(), 4u);
    EXPECT_EQ(usage->lifetimeTotals().dictation.sessionCount, 4);

    preferences.rememberDictationHistory.set(false);
    dictating().onSessionFinalizedWithText("not remembered");
    EXPECT_EQ(history.entries().get().size(), 4u);
    EXPECT_EQ(usage->lifetimeTotals().dictation.sessionCount, 5);
}

TEST_F(AppShellTest, CandidatesAreReplacedBeforeTheUsageLogSeesTheText) {
    launched();
    std::vector<std::vector<std::string>> seen;
    auto watch = usage->daysChanges().subscribe(
        [&](const UsageLog::Days&) { seen.push_back(coordinator->recentDictationCandidates()); });
    dictating().onSessionFinalizedWithText("Met Priya at the Oakland office yesterday, then emailed priya");
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0], (std::vector<std::string>{"Met", "Priya", "Oakland", "office", "yesterday", "emailed"}));
    dictating().onSessionFinalizedWithText("   ");
    EXPECT_TRUE(coordinator->recentDictationCandidates().empty());

    dictating().onSessionFinalizedWithText("hello world second sentence");
    trace.clear();
    ASSERT_TRUE(item.choose(StatusBarController::Ids::addRecognitionHint));
    ASSERT_TRUE(item.choose(StatusBarController::Ids::addRecognitionHint));
    EXPECT_EQ(trace, (Trace{"quickAdd.show hello world second sentence", "quickAdd.show hello world second sentence"}));
}

TEST_F(AppShellTest, DictationOutcomesReachNotepadToastsAndReadAloud) {
    launched();
    trace.clear();
    coordinator->readAloudShouldResumeAfterDictation = true;
    dictating().onSessionFinalized();
    dictating().onSessionFinalized();
    EXPECT_EQ(trace, (Trace{"readAloud.resume"}));
    EXPECT_FALSE(coordinator->readAloudShouldResumeAfterDictation);

    trace.clear();
    dictating().onFocusStolen("lost text");
    dictating().onNoFocusedField("more text");
    dictating().onNotepadRequested();
    EXPECT_EQ(trace, (Trace{"notepad.seed lost text", "notepadWindow.show", "notepad.seed more text",
                            "notepadWindow.show", "notepad.open", "notepadWindow.show"}));
    EXPECT_TRUE(logs->contains("notepad opened with seed text: 9 chars (paste-target reroute)", platform::LogLevel::info));

    dictating().onStartError("Microphone unavailable");
    dictating().onFinalizeError("Transcription failed");
    reading().onNoSelection();
    reading().onSummarizeFallback("Summary unavailable — reading the full text.");
    EXPECT_EQ(toasts, (std::vector<std::string>{"Focus changed mid-dictation — your text is in the Notepad.",
                                                "Microphone unavailable", "Transcription failed",
                                                "Select some text first, then try again.",
                                                "Summary unavailable — reading the full text."}));
    reading().onSpeakStarted("three words here");
    EXPECT_EQ(usage->lifetimeTotals().readAloud.sessionCount, 1);
}

TEST_F(AppShellTest, ReadAloudPanelIsMadeOnceAndItsSkipsActOnlyDuringAReading) {
    launched();
    trace.clear();
    reading().onUIStateChange(ReadAloudUIMode::loading);
    reading().onUIStateChange(ReadAloudUIMode::speaking);
    EXPECT_EQ(shellFactory.huds, 1);
    EXPECT_EQ(trace, (Trace{"hud.update 2", "hud.update 3"}));

    auto& actions = shellFactory.actions;
    auto skipAll = [&] {
        actions.skipBack15s();
        actions.skipBackParagraph();
        actions.skipBackSentence();
        actions.skipForwardSentence();
        actions.skipForwardParagraph();
        actions.skipForward30s();
    };
    for (auto state : {ReadAloudState::idle, ReadAloudState::capturing, ReadAloudState::pausedForArbitration,
                       ReadAloudState::summarizing}) {
        shellFactory.reader->st = state;
        trace.clear();
        skipAll();
        EXPECT_TRUE(trace.empty()) << int(state);
    }
    shellFactory.reader->st = ReadAloudState::idle;
    actions.setRate(1.5f);
    EXPECT_FLOAT_EQ(preferences.readAloudRate(), 1.5f);
    EXPECT_EQ(trace, (Trace{"engine.rate 15"}));
    for (auto state : {ReadAloudState::speaking, ReadAloudState::userPaused}) {
        shellFactory.reader->st = state;
        trace.clear();
        skipAll();
        EXPECT_EQ(trace, (Trace{"engine.skipBack 15", "engine.skipBackParagraph", "engine.skipBackSentence",
                                "engine.skipForwardSentence", "engine.skipForwardParagraph", "engine.skipForward 30"}));
    }
    trace.clear();
    actions.togglePause();
    actions.stop();
    actions.setVoice("com.voice.ava");
    EXPECT_EQ(trace, (Trace{"readAloud.togglePause", "readAloud.cancel", "readAloud.voice com.voice.ava"}));
}

TEST_F(AppShellTest, MenuCommandsReachTheirHandlers) {
    preferences.enableListenLater.set(true);
    launched();
    using Ids = StatusBarController::Ids;
    trace.clear();
    ASSERT_TRUE(item.choose(Ids::quonReport));
    EXPECT_EQ(preferences.lastQuonReportOpenedAt(), clock.now());
    EXPECT_EQ(trace, (Trace{"report.show"}));
    EXPECT_EQ(activations, 1);

    ASSERT_TRUE(item.choose(Ids::checkForUpdates));
    EXPECT_EQ(userUpdateChecks, 1);
    EXPECT_EQ(activations, 2);

    ASSERT_TRUE(item.choose(Ids::preferences));
    EXPECT_EQ(shellFactory.preferences->tab, PreferencesTab::general);

    trace.clear();
    item.openMenu();
    main.runUntilIdle();
    EXPECT_EQ(trace, (Trace{"bridge.refreshPendingItems"}));

    dictating().onSessionFinalizedWithText("hello world second sentence");
    item.openMenu();
    trace.clear();
    ASSERT_TRUE(item.choose("lastDictation.sendToNotepad"));
    EXPECT_EQ(trace, (Trace{"notepad.seed hello world second sentence", "notepadWindow.show"}));

    ASSERT_TRUE(item.choose(Ids::quit));
    EXPECT_EQ(quits, 1);
}

TEST_F(AppShellTest, HideSettingAndUpdateAvailabilityDriveTheItem) {
    launched();
    EXPECT_TRUE(item.isVisible());
    preferences.hideMenuBarIcon.set(true);
    EXPECT_FALSE(item.isVisible());
    preferences.hideMenuBarIcon.set(false);
    EXPECT_TRUE(item.isVisible());

    updates.pendingVersion.set(std::string("2.0.1"));
    updates.isAvailable.set(true);
    const auto* install = item.item(StatusBarController::Ids::installUpdate);
    ASSERT_NE(install, nullptr);
    EXPECT_FALSE(install->hidden);
    EXPECT_EQ(install->title, "Install Update v2.0.1");
    const auto said = announced();
    EXPECT_EQ(std::count(said.begin(), said.end(), "Parlowen update version 2.0.1 available."), 1);
    updates.pendingVersion.set(std::nullopt);
    updates.isAvailable.set(false);
    EXPECT_TRUE(item.item(StatusBarController::Ids::installUpdate)->hidden);
}

TEST_F(AppShellTest, WithoutATrayTheStartSaysSoOnce) {
    platform::RecordingStatusItem noTray(false);
    AppServices s = services();
    s.updaterController = nullptr;
    coordinator = std::make_unique<AppCoordinator>(AppCoordinator::Dependencies{
        .preferences = preferences, .hotkey = hotkey, .hud = panel, .factory = shellFactory,
        .environment = environment, .main = main, .services = std::move(s), .permissions = &permissions,
        .history = &history, .statusBarParts = StatusBarParts{noTray, pasteboard, announcer, reduceMotion}});
    coordinator->start();
    main.runUntilIdle();
    EXPECT_EQ(logCount("status item: the desktop has no system tray; the icon cannot be shown"), 1u);
    EXPECT_FALSE(noTray.isVisible());
}

}  // namespace
}  // namespace parlowen
