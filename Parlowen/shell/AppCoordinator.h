#pragma once

// The hub below the application delegate: owns the long-lived components,
// wires them together at start, routes the global gestures to the modes and
// arbitrates between dictation, read-aloud and the Notepad, and tears the
// active parts down at termination.
//
// Main thread only. Components whose code lives elsewhere are reached through
// the small interfaces below, built by one factory the program's composition
// passes in; an entry that yields none makes what needs it log once and do
// nothing.

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "Parlowen/model/Gesture.h"
#include "Parlowen/preferences/PreferencesTab.h"
#include "Parlowen/shell/AppDelegate.h"
#include "platform/audio/AudioHardware.h"
#include "platform/log/Log.h"
#include "platform/runtime/Environment.h"
#include "platform/runtime/Executor.h"
#include "platform/runtime/Observable.h"

namespace parlowen {

class HotkeyManager;
class PreferencesStore;

// What the coordinator asks of the dictation coordinator.
class DictationMode {
public:
    virtual ~DictationMode() = default;
    virtual bool isRecording() const = 0;
    virtual bool isPendingFinalize() const = 0;
    virtual void bindAudioCallbacks() = 0;
    virtual void handleHotkeyPress(Hotkey key) = 0;
    virtual void handleHotkeyRelease(Hotkey key) = 0;
    virtual void toggle() = 0;
    virtual void finalizeForModeArbitration() = 0;
    virtual void cancel() = 0;
};

enum class ReadAloudState { idle, capturing, summarizing, speaking, userPaused, pausedForArbitration };
enum class SpeechSynthesisState { loading, speaking, paused, idle, finished };

// What the coordinator asks of the read-aloud coordinator.
class ReadAloudMode {
public:
    virtual ~ReadAloudMode() = default;
    virtual ReadAloudState state() const = 0;
    virtual SpeechSynthesisState engineState() const = 0;
    virtual void pauseForArbitration() = 0;
    virtual void cancel() = 0;
    virtual void handlePress(bool summarize) = 0;
};

// What the coordinator asks of the Notepad coordinator.
class NotepadMode {
public:
    virtual ~NotepadMode() = default;
    virtual bool isOpen() const = 0;
    virtual bool isRecording() const = 0;
    virtual void open() = 0;
};

// The Notepad window's controller.
class NotepadWindow {
public:
    virtual ~NotepadWindow() = default;
    virtual void show() = 0;
};

// The Listen Later iCloud bridge.
class CloudBridge {
public:
    virtual ~CloudBridge() = default;
    virtual void start() = 0;
};

// The preferences window's controller.
class PreferencesWindow {
public:
    virtual ~PreferencesWindow() = default;
    virtual void setTab(PreferencesTab tab) = 0;
    // Raises and activates the window through the window manager.
    virtual void showAndActivate() = 0;
};

// The live-transcript panel's two callbacks the coordinator installs.
class DictationPanel {
public:
    virtual ~DictationPanel() = default;
    virtual void setOnSelectInputDevice(std::function<void(std::optional<std::string>)> f) = 0;
    virtual void setOnCancel(std::function<void()> f) = 0;
};

// Builds the components. Entries whose component has not landed return none.
class AppComponentFactory {
public:
    virtual ~AppComponentFactory() = default;
    virtual std::unique_ptr<DictationMode> makeDictation() = 0;
    virtual std::unique_ptr<ReadAloudMode> makeReadAloud() { return nullptr; }
    virtual std::unique_ptr<NotepadMode> makeNotepad() { return nullptr; }
    virtual std::unique_ptr<NotepadWindow> makeNotepadWindow(NotepadMode& /*notepad*/) { return nullptr; }
    // `withDatabase` false: the bridge's network operations do nothing.
    virtual std::unique_ptr<CloudBridge> makeCloudBridge(bool /*withDatabase*/) { return nullptr; }
    virtual std::unique_ptr<PreferencesWindow> makePreferencesWindow(PreferencesTab /*initialTab*/) { return nullptr; }
};

// One input device of the audio device catalogue.
struct InputDevice {
    std::string uid;
    std::string name;
    platform::AudioTransport transport = platform::AudioTransport::other;
};

// The owned services start and shutdown reach, as plain operations.
struct AppServices {
    std::function<void()> startMemoryMonitor;
    std::function<void()> stopMemoryMonitor;
    // Deletes render-cache files of no queue item; the number removed.
    std::function<std::size_t()> pruneOrphanedRenders;
    // Debounced writes that quitting must not lose.
    std::function<void()> flushUsageLog;
    std::function<void()> flushQueue;
    // Sets the software-update controller's automatic downloads.
    std::function<void(bool)> setAutomaticDownloads;
    // The audio device catalogue.
    std::function<std::optional<std::string>()> systemDefaultInputUID;
    std::function<std::vector<InputDevice>()> inputDevices;
    // The post-launch task.
    std::function<void()> postLaunch;
};

enum class GestureAction { dictation, readAloud, notepad, summarizeReadAloud };

// The four gestures in their fixed order.
struct GestureSet {
    Gesture dictation, readAloud, notepad, summarizeReadAloud;
};
// The first gesture in the fixed order that is this hold key.
std::optional<GestureAction> actionForHold(const GestureSet& gestures, Hotkey key);
// The first combination with this key code and exactly this modifier mask.
std::optional<GestureAction> actionForCombo(const GestureSet& gestures, std::uint16_t keyCode, std::uint64_t modifiers);

class AppCoordinator : public DelegateCoordinator {
public:
    static constexpr const char* kTestHarnessVariable = "XCTestConfigurationFilePath";

    struct Dependencies {
        PreferencesStore& preferences;
        HotkeyManager& hotkey;
        DictationPanel& hud;
        AppComponentFactory& factory;
        const platform::Environment& environment;
        platform::Executor& main;
        AppServices services;
    };

    // Starts nothing.
    explicit AppCoordinator(Dependencies dependencies);
    ~AppCoordinator() override;
    AppCoordinator(const AppCoordinator&) = delete;
    AppCoordinator& operator=(const AppCoordinator&) = delete;

    void start() override;
    void shutdown() override;
    void openGeneralPreferences() override { openPreferences(PreferencesTab::general); }
    void openPreferences(PreferencesTab tab);

    // Lazy accessors; each builds its component once. Null when the factory
    // has none (logged once).
    DictationMode& dictation();
    ReadAloudMode* readAloud();
    NotepadMode* notepad();
    NotepadWindow* notepadHUDController();
    CloudBridge* listenLaterCloudKit();

    void applySmartDefaultInputDevice();

    // Gestures.
    void registerGestures(std::optional<GestureSet> delivered = std::nullopt);
    void handleHoldDown(Hotkey key);
    void handleHoldUp(Hotkey key);
    void handleComboTrigger(std::uint16_t keyCode, std::uint64_t modifiers);
    bool shouldAcceptGesture(bool isRelease);
    void arbitrate(GestureAction action, std::optional<Hotkey> holdKey);

    bool readAloudShouldResumeAfterDictation = false;

private:
    GestureSet currentGestures() const;
    bool isTestRun() const;
    // Whether a lazy component was asked for, and whether its absence was logged.
    struct LazyState {
        bool tried = false;
        bool missingLogged = false;
    };
    template <class T, class Make>
    T* lazy(std::unique_ptr<T>& slot, LazyState& state, const char* what, Make make);

    PreferencesStore& preferences_;
    HotkeyManager& hotkey_;
    DictationPanel& hud_;
    AppComponentFactory& factory_;
    const platform::Environment& environment_;
    platform::Executor& main_;
    AppServices services_;
    platform::Logger log_;

    std::unique_ptr<DictationMode> dictation_;
    std::unique_ptr<ReadAloudMode> readAloud_;
    std::unique_ptr<NotepadMode> notepad_;
    std::unique_ptr<NotepadWindow> notepadHUD_;
    std::unique_ptr<CloudBridge> cloudBridge_;
    std::unique_ptr<PreferencesWindow> preferencesWindow_;
    LazyState readAloudLazy_, notepadLazy_, notepadHUDLazy_, bridgeLazy_;
    bool preferencesMissingLogged_ = false;

    platform::SubscriptionSet observations_;
    platform::Lifetime lifetime_;
};

}  // namespace parlowen
