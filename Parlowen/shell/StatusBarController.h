#pragma once

// The application's permanent piece of user interface: the status item, its
// icon (idle, listening, reading aloud, a permission missing; a dot when an
// update waits) and the menu that drops from it. It decides nothing about the
// application's state: the coordinator tells it the icon state and the
// pending update, and gets each menu command through a callback. The menu is
// a plain model (`menu()`), handed to the status item whole whenever it
// changes. Main thread only.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Parlowen/shell/InputDevice.h"
#include "platform/log/Log.h"
#include "platform/runtime/Executor.h"
#include "platform/runtime/Observable.h"
#include "platform/statusitem/StatusItem.h"
#include "platform/values/Date.h"

namespace platform {
class Pasteboard;
namespace ui {
class Announcer;
class ReduceMotion;
}  // namespace ui
}  // namespace platform

namespace parlowen {

class DictationHistory;
class PreferencesStore;

enum class StatusIconState { idle, listening, readingAloud, permissionError };

class StatusBarController {
public:
    using IconState = StatusIconState;

    struct Callbacks {
        std::function<void()> onOpenPreferences;
        std::function<void()> onCheckForUpdates;
        std::function<void()> onOpenQuonReport;
        std::function<void(const std::string&)> onSendDictationToNotepad;
        std::function<void()> onAddToListenLater;
        std::function<void()> onAddURLToListenLater;
        std::function<void()> onOpenListenLater;
        std::function<void()> onQuit;
        std::function<void()> onAddRecognitionHint;
    };

    struct Dependencies {
        platform::StatusItem& item;
        PreferencesStore& preferences;
        DictationHistory& history;
        // The audio device catalogue.
        std::function<std::optional<std::string>()> systemDefaultInputUID;
        std::function<std::vector<InputDevice>()> inputDevices;
        // "Copy" writes here directly.
        platform::Pasteboard& pasteboard;
        platform::ui::Announcer& announcer;
        platform::ui::ReduceMotion& reduceMotion;
        platform::Executor& main;
        const platform::Clock& clock;
    };

    // Entry ids of the menu model (also the view's object names).
    struct Ids {
        static constexpr const char* installUpdate = "installUpdate";
        static constexpr const char* installUpdateSeparator = "installUpdateSeparator";
        static constexpr const char* addToListenLater = "addToListenLater";
        static constexpr const char* addURLToListenLater = "addURLToListenLater";
        static constexpr const char* openListenLater = "openListenLater";
        static constexpr const char* lastDictation = "lastDictation";
        static constexpr const char* quonReport = "quonReport";
        static constexpr const char* addRecognitionHint = "addRecognitionHint";
        static constexpr const char* microphone = "microphone";
        static constexpr const char* preferences = "preferences";
        static constexpr const char* checkForUpdates = "checkForUpdates";
        static constexpr const char* quit = "quit";
    };

    static constexpr double kLastDictationWindowSeconds = 600;
    static constexpr double kPulseHertz = 1.2;
    static constexpr double kPulseInterval = 1.0 / 30;

    // Builds the menu (the Listen Later entries follow `enableListenLater`
    // now and never later) and starts following the reduce-motion setting.
    StatusBarController(Dependencies dependencies, Callbacks callbacks);
    ~StatusBarController();
    StatusBarController(const StatusBarController&) = delete;
    StatusBarController& operator=(const StatusBarController&) = delete;

    // Set by the coordinator after construction; called first whenever the menu opens.
    std::function<void()> onMenuWillOpen;

    platform::StatusItem& statusItem() { return item_; }
    IconState state() const { return state_; }
    void setState(IconState state);
    // A version present means an update waits.
    void setUpdateAvailable(std::optional<std::string> version);

    // The menu is about to open: refresh the dictations and the microphones.
    void menuWillOpen();
    // A menu entry was chosen.
    void perform(const platform::StatusMenuItem& item);

    const platform::StatusMenu& menu() const { return menu_; }
    bool isPulsing() const { return pulseTimer_.active(); }
    double pulsePhase() const { return pulsePhase_; }
    // One tick of the listening pulse: advances the phase, sets the alpha.
    void pulseTick();

private:
    void buildMenu();
    void refreshLastDictationMenu();
    void refreshMicrophoneMenu();
    void refreshInstallUpdateItem();
    void refreshIcon();
    void startPulse();
    void announce(const std::string& text);
    void publishMenu();
    platform::StatusMenuItem& entry(const char* id);

    platform::StatusItem& item_;
    PreferencesStore& preferences_;
    DictationHistory& history_;
    std::function<std::optional<std::string>()> systemDefaultInputUID_;
    std::function<std::vector<InputDevice>()> inputDevices_;
    platform::Pasteboard& pasteboard_;
    platform::ui::Announcer& announcer_;
    platform::Executor& main_;
    const platform::Clock& clock_;
    Callbacks callbacks_;
    platform::Logger log_;

    platform::StatusMenu menu_;
    IconState state_ = IconState::idle;
    platform::ScopedTimer pulseTimer_;
    double pulsePhase_ = 0;
    bool updateAvailable_ = false;
    std::optional<std::string> pendingUpdateVersion_;
    bool reduceMotion_ = false;
    platform::Subscription reduceMotionSubscription_;
    platform::Lifetime lifetime_;
};

}  // namespace parlowen
