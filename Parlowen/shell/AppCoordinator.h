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
#include "Parlowen/shell/InputDevice.h"
#include "Parlowen/shell/PermissionsManager.h"
#include "Parlowen/shell/StatusBarController.h"
#include "platform/audio/AudioHardware.h"
#include "platform/log/Log.h"
#include "platform/runtime/Environment.h"
#include "platform/runtime/Executor.h"
#include "platform/runtime/Observable.h"
#include "platform/runtime/Task.h"
#include "platform/values/Date.h"

namespace platform {
class LanguageModel;
class Pasteboard;
class StatusItem;
namespace ui {
class Announcer;
class ReduceMotion;
}  // namespace ui
}  // namespace platform

namespace platform {
class UpdaterController;
}

namespace parlowen {

class DictationHistory;
class HotkeyManager;
class PreferencesStore;
class UpdateAvailability;
class UsageLog;

// What the dictation coordinator and its text inserter report.
struct DictationCallbacks {
    std::function<void(bool)> onActiveStateChange;
    std::function<void()> onSessionFinalized;
    std::function<void(const std::string&)> onSessionFinalizedWithText;
    std::function<void(const std::string&)> onFinalizeError;
    std::function<void(const std::string&)> onStartError;
    std::function<void()> onNotepadRequested;
    // The inserter found no text field, or the focus moved mid-dictation.
    std::function<void(const std::string&)> onNoFocusedField;
    std::function<void(const std::string&)> onFocusStolen;
};

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
    virtual void setCallbacks(DictationCallbacks callbacks) = 0;
    // Runs the microphone for a moment, so the first dictation starts fast.
    virtual void prewarmMicrophone() = 0;
    virtual void prewarmEngine() = 0;
};

enum class ReadAloudState { idle, capturing, summarizing, speaking, userPaused, pausedForArbitration };
// What the read-aloud engine last reported (the cases of its playback state).
enum class ReadAloudEngineState { loading, speaking, paused, idle, finished };

// The read-aloud panel's mode, the part of its state the coordinator reads.
enum class ReadAloudUIMode { hidden, summarizing, loading, speaking, paused };

// What the read-aloud coordinator reports.
struct ReadAloudCallbacks {
    std::function<void(ReadAloudUIMode)> onUIStateChange;
    std::function<void(const std::string&)> onSpeakStarted;
    std::function<void()> onNoSelection;
    std::function<void(const std::string&)> onSummarizeFallback;
};

// What the coordinator asks of the read-aloud coordinator. The operations
// past `handlePress` do nothing until a read-aloud coordinator provides them.
class ReadAloudMode {
public:
    virtual ~ReadAloudMode() = default;
    virtual ReadAloudState state() const = 0;
    virtual ReadAloudEngineState engineState() const = 0;
    virtual void pauseForArbitration() = 0;
    virtual void cancel() = 0;
    virtual void handlePress(bool summarize) = 0;
    virtual void setCallbacks(ReadAloudCallbacks /*callbacks*/) {}
    virtual void resumeAfterArbitration() {}
    virtual void togglePause() {}
    virtual void setVoice(const std::string& /*identifier*/) {}
    // The current speech engine's controls.
    virtual void skipBack(double /*seconds*/) {}
    virtual void skipForward(double /*seconds*/) {}
    virtual void skipBackParagraph() {}
    virtual void skipBackSentence() {}
    virtual void skipForwardSentence() {}
    virtual void skipForwardParagraph() {}
    virtual void setRate(float /*rate*/) {}
};

// What the read-aloud panel's buttons do.
struct ReadAloudHUDActions {
    std::function<void()> togglePause, stop;
    std::function<void()> skipBack15s, skipBackParagraph, skipBackSentence;
    std::function<void()> skipForwardSentence, skipForwardParagraph, skipForward30s;
    std::function<void(float)> setRate;
    std::function<void(const std::string&)> setVoice;
    std::function<void()> openQuonReport;
};

// The read-aloud panel: shows the read-aloud coordinator's current state.
class ReadAloudPanel {
public:
    virtual ~ReadAloudPanel() = default;
    virtual void update(ReadAloudUIMode mode) = 0;
};

// The onboarding window's controller.
class OnboardingWindow {
public:
    virtual ~OnboardingWindow() = default;
    virtual void resumeAtFirstIncompleteStep() = 0;
    // Makes the window key and brings it to the front.
    virtual void showAndActivate() = 0;
};

// The quick-add recognition hint panel.
class QuickAddPanel {
public:
    virtual ~QuickAddPanel() = default;
    virtual void show() = 0;
};

// The weekly report window's controller.
class ReportWindow {
public:
    virtual ~ReportWindow() = default;
    // Makes the window key and brings it to the front.
    virtual void show() = 0;
};

// What the coordinator asks of the Notepad coordinator.
class NotepadMode {
public:
    virtual ~NotepadMode() = default;
    virtual bool isOpen() const = 0;
    virtual bool isRecording() const = 0;
    virtual void open() = 0;
    // Opens with the text, or appends it when already open.
    virtual void openWithSeedText(const std::string& text) = 0;
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
    // Picks up items the share extension added.
    virtual void refreshPendingItems() {}
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
    virtual std::unique_ptr<ReadAloudPanel> makeReadAloudHUD(ReadAloudHUDActions /*actions*/) { return nullptr; }
    virtual std::unique_ptr<OnboardingWindow> makeOnboardingWindow() { return nullptr; }
    // `recentWords` gives the words the panel offers each time it is shown.
    virtual std::unique_ptr<QuickAddPanel> makeQuickAddHintPanel(
        std::function<std::vector<std::string>()> /*recentWords*/) {
        return nullptr;
    }
    virtual std::unique_ptr<ReportWindow> makeQuonReportWindow() { return nullptr; }
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
    // The software-update controller, built with its location guard on first use.
    std::function<platform::UpdaterController&()> updaterController;
    // The audio device catalogue.
    std::function<std::optional<std::string>()> systemDefaultInputUID;
    std::function<std::vector<InputDevice>()> inputDevices;
    // Replaces the post-launch task (tests of start that want none).
    std::function<void()> postLaunch;
    // The short message under the pointer.
    std::function<void(const std::string&)> showToast;
    // Raises the application above the others through the window manager.
    std::function<void()> activateIgnoringOtherApps;
    // A user-initiated update check (the updater controller is made on first use).
    std::function<void()> checkForUpdatesByUser;
    std::function<void()> terminate;
    // Listen Later commands.
    std::function<void()> addSelectionToListenLater;
    std::function<void()> addURLToListenLater;
    std::function<void()> showListenLater;
    std::function<void()> registerShareObserver;
    // Calls the handler each time the application becomes active.
    std::function<platform::Subscription(std::function<void()>)> observeDidBecomeActive;
};

// The status item's parts; without them no status item is built.
struct StatusBarParts {
    platform::StatusItem& item;
    platform::Pasteboard& pasteboard;
    platform::ui::Announcer& announcer;
    platform::ui::ReduceMotion& reduceMotion;
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
        // Absent in tests that do not need them.
        PermissionsManager* permissions = nullptr;
        DictationHistory* history = nullptr;
        UsageLog* usageLog = nullptr;
        UpdateAvailability* updateAvailability = nullptr;
        // The on-device language model and where its availability is asked.
        platform::LanguageModel* languageModel = nullptr;
        platform::Executor* background = nullptr;
        const platform::Clock* clock = nullptr;
        std::optional<StatusBarParts> statusBarParts;
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

    // Permissions and launch.
    void startPermissionPoll();
    bool isPermissionPollRunning() const { return permissionPollTimer_.active(); }
    void handleDidBecomeActive();
    // Runs the post-launch task (once per process).
    void startPostLaunchTasks();
    bool postLaunchTasksDone() const { return postLaunch_.valid() && postLaunch_.done(); }
    void warmUpLanguageModel();

    // Outcomes and commands.
    void updateStatusIcon(std::optional<PermissionStates> states = std::nullopt);
    void openNotepad(const std::string& seedText);
    void openQuonReport();
    void showQuickAddHintPanel();
    ReadAloudPanel* readAloudHUD();
    ReadAloudHUDActions readAloudHUDActions();
    StatusBarController* statusBar() { return statusBar_.get(); }
    const std::vector<std::string>& recentDictationCandidates() const { return recentDictationCandidates_; }
    bool dictationActive() const { return dictationActive_; }
    bool readAloudActive() const { return readAloudActive_; }

private:
    void buildStatusBar();
    void installModeCallbacks();
    void recordDictation(const std::string& text);
    void showToast(const std::string& message);
    void activateIgnoringOtherApps();
    bool allPermissionsGranted(const PermissionStates& states) const;
    static platform::Task<void> permissionPollTick(AppCoordinator* self, std::weak_ptr<void> alive);
    static platform::Task<void> activationRefresh(AppCoordinator* self, std::weak_ptr<void> alive);
    static platform::Task<void> runPostLaunchTasks(AppCoordinator* self, std::weak_ptr<void> alive);
    static platform::Task<void> warmUp(AppCoordinator* self, std::weak_ptr<void> alive);

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

    PermissionsManager* permissions_;
    DictationHistory* history_;
    UsageLog* usageLog_;
    UpdateAvailability* updateAvailability_;
    platform::LanguageModel* languageModel_;
    platform::Executor* background_;
    platform::SystemClock systemClock_;
    const platform::Clock* clock_;
    std::optional<StatusBarParts> statusBarParts_;

    std::unique_ptr<StatusBarController> statusBar_;
    std::unique_ptr<ReadAloudPanel> readAloudHUD_;
    std::unique_ptr<OnboardingWindow> onboarding_;
    std::unique_ptr<QuickAddPanel> quickAddHintPanel_;
    std::unique_ptr<ReportWindow> quonReportWindow_;
    LazyState readAloudHUDLazy_, onboardingLazy_, quickAddLazy_, reportLazy_;
    bool dictationActive_ = false;
    bool readAloudActive_ = false;
    std::vector<std::string> recentDictationCandidates_;
    platform::ScopedTimer permissionPollTimer_;
    platform::JoinHandle<void> postLaunch_;
    bool warmUpStarted_ = false;

    platform::SubscriptionSet observations_;
    platform::Lifetime lifetime_;
};

template <class T, class Make>
T* AppCoordinator::lazy(std::unique_ptr<T>& slot, LazyState& state, const char* what, Make make) {
    if (!state.tried) {
        state.tried = true;
        slot = make();
    }
    if (!slot && !state.missingLogged) {
        state.missingLogged = true;
        log_.info("{} is not available in this build", what);
    }
    return slot.get();
}

}  // namespace parlowen
