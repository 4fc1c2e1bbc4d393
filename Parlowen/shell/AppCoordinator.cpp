#include "Parlowen/shell/AppCoordinator.h"

#include <algorithm>
#include <array>

#include "Parlowen/dictation/HotkeyManager.h"
#include "Parlowen/shell/SoftwareUpdate.h"
#include "Parlowen/shell/settings/PreferencesStore.h"

namespace parlowen {

namespace {

// The fixed order, which is also GestureAction's.
std::array<const Gesture*, 4> inOrder(const GestureSet& g) {
    return {&g.dictation, &g.readAloud, &g.notepad, &g.summarizeReadAloud};
}

template <class Match>
std::optional<GestureAction> firstMatch(const GestureSet& g, Match match) {
    const auto order = inOrder(g);
    for (std::size_t i = 0; i < order.size(); ++i)
        if (match(*order[i])) return static_cast<GestureAction>(i);
    return std::nullopt;
}

}  // namespace

std::optional<GestureAction> actionForHold(const GestureSet& gestures, Hotkey key) {
    return firstMatch(gestures, [key](const Gesture& g) { return g.hotkey() == key; });
}

std::optional<GestureAction> actionForCombo(const GestureSet& gestures, std::uint16_t keyCode,
                                            std::uint64_t modifiers) {
    return firstMatch(gestures, [&](const Gesture& g) {
        auto combo = g.keyCombo();
        return combo && combo->keyCode == keyCode && combo->modifiers == modifiers;
    });
}

AppCoordinator::AppCoordinator(Dependencies d)
    : preferences_(d.preferences),
      hotkey_(d.hotkey),
      hud_(d.hud),
      factory_(d.factory),
      environment_(d.environment),
      main_(d.main),
      services_(std::move(d.services)),
      log_("com.kelvatrum.Parlowen", "app"),
      permissions_(d.permissions),
      history_(d.history),
      usageLog_(d.usageLog),
      updateAvailability_(d.updateAvailability),
      languageModel_(d.languageModel),
      background_(d.background),
      clock_(d.clock ? d.clock : &systemClock_),
      statusBarParts_(d.statusBarParts) {}

AppCoordinator::~AppCoordinator() {
    lifetime_.end();
    observations_.clear();
    permissionPollTimer_.cancel();
    postLaunch_.cancel();
}

bool AppCoordinator::isTestRun() const { return environment_.has(kTestHarnessVariable); }

// ---- lazy components ----

DictationMode& AppCoordinator::dictation() {
    if (!dictation_) dictation_ = factory_.makeDictation();
    return *dictation_;
}

ReadAloudMode* AppCoordinator::readAloud() {
    return lazy(readAloud_, readAloudLazy_, "read-aloud", [this] { return factory_.makeReadAloud(); });
}

NotepadMode* AppCoordinator::notepad() {
    return lazy(notepad_, notepadLazy_, "notepad", [this] { return factory_.makeNotepad(); });
}

NotepadWindow* AppCoordinator::notepadHUDController() {
    auto* pad = notepad();
    if (!pad) return nullptr;
    return lazy(notepadHUD_, notepadHUDLazy_, "notepad window", [this, pad] { return factory_.makeNotepadWindow(*pad); });
}

CloudBridge* AppCoordinator::listenLaterCloudKit() {
    return lazy(cloudBridge_, bridgeLazy_, "listen later iCloud bridge",
                [this] { return factory_.makeCloudBridge(!isTestRun()); });
}

void AppCoordinator::openPreferences(PreferencesTab tab) {
    if (preferencesWindow_) {
        preferencesWindow_->setTab(tab);
    } else {
        preferencesWindow_ = factory_.makePreferencesWindow(tab);
        if (!preferencesWindow_) {
            if (!preferencesMissingLogged_) log_.info("preferences window is not available in this build");
            preferencesMissingLogged_ = true;
            return;
        }
    }
    preferencesWindow_->showAndActivate();
}

// ---- start and shutdown ----

void AppCoordinator::start() {
    log_.info("Parlowen starting");
    if (services_.startMemoryMonitor) services_.startMemoryMonitor();

    if (!isTestRun()) {
        if (auto* bridge = listenLaterCloudKit()) bridge->start();
        if (services_.pruneOrphanedRenders) {
            const std::size_t removed = services_.pruneOrphanedRenders();
            if (removed > 0) log_.info("reclaimed {} orphaned Listen Later cache file(s)", removed);
        }
    }

    applySmartDefaultInputDevice();

    hud_.setOnSelectInputDevice(lifetime_.guard([this](std::optional<std::string> uid) {
        preferences_.preferredInputDeviceUID.set(std::move(uid));
        // The user's own choice: the start-up default must never replace it.
        preferences_.hasAutoSelectedInputDevice.set(true);
    }));
    hud_.setOnCancel(lifetime_.guard([this] { dictation().cancel(); }));

    buildStatusBar();

    // The first delivery is what builds the updater controller.
    if (services_.updaterController)
        observations_ += followAutoUpdateSetting(services_.updaterController, preferences_.autoUpdateEnabled);

    dictation().bindAudioCallbacks();
    readAloud();
    installModeCallbacks();

    if (permissions_) {
        // The stream hands over the map before the manager holds it.
        auto lastAllGranted = std::make_shared<std::optional<bool>>();
        observations_ += permissions_->states.stream().subscribe(
            lifetime_.guard([this, lastAllGranted](const PermissionStates& states) {
                const bool all = allPermissionsGranted(states);
                if (*lastAllGranted == all) return;
                *lastAllGranted = all;
                updateStatusIcon(states);
            }));
    }
    if (services_.observeDidBecomeActive)
        observations_ += services_.observeDidBecomeActive(lifetime_.guard([this] { handleDidBecomeActive(); }));
    startPermissionPoll();

    hotkey_.setOnHoldDown(lifetime_.guard([this](Hotkey key) { handleHoldDown(key); }));
    hotkey_.setOnHoldUp(lifetime_.guard([this](Hotkey key) { handleHoldUp(key); }));
    hotkey_.setOnComboTrigger(
        lifetime_.guard([this](KeyCombo combo) { handleComboTrigger(combo.keyCode, combo.modifiers); }));
    registerGestures();
    if (auto started = hotkey_.start(); !started)
        log_.error("hotkey start failed: {} — likely missing Input Monitoring permission",
                   started.error().description);

    // A change stream hands over the new value before the setting holds it,
    // so the changed gesture comes from the delivery.
    auto reRegister = [this](Gesture GestureSet::*member) {
        return lifetime_.guard([this, member](const Gesture& value) {
            GestureSet gestures = currentGestures();
            gestures.*member = value;
            registerGestures(gestures);
        });
    };
    observations_ += preferences_.dictationGesture.stream().dropFirst().subscribe(reRegister(&GestureSet::dictation));
    observations_ += preferences_.readAloudGesture.stream().dropFirst().subscribe(reRegister(&GestureSet::readAloud));
    observations_ += preferences_.notepadGesture.stream().dropFirst().subscribe(reRegister(&GestureSet::notepad));
    observations_ += preferences_.summarizeReadAloudGesture.stream().dropFirst().subscribe(
        reRegister(&GestureSet::summarizeReadAloud));

    if (services_.postLaunch)
        main_.post(lifetime_.guard([this] { services_.postLaunch(); }));
    else
        startPostLaunchTasks();
}

void AppCoordinator::shutdown() {
    if (services_.stopMemoryMonitor) services_.stopMemoryMonitor();
    hotkey_.stop();
    if (dictation_) dictation_->cancel();
    if (readAloud_) readAloud_->cancel();
    // Both write after a quiet spell; what was recorded just before quitting
    // would otherwise be lost.
    if (services_.flushUsageLog) services_.flushUsageLog();
    if (services_.flushQueue) services_.flushQueue();
}

void AppCoordinator::applySmartDefaultInputDevice() {
    if (preferences_.hasAutoSelectedInputDevice()) return;
    [&] {
        if (preferences_.preferredInputDeviceUID()) return;
        const auto defaultUID = services_.systemDefaultInputUID ? services_.systemDefaultInputUID() : std::nullopt;
        if (!defaultUID) return;
        const auto devices = services_.inputDevices ? services_.inputDevices() : std::vector<InputDevice>{};
        auto byUID = std::find_if(devices.begin(), devices.end(), [&](const auto& d) { return d.uid == *defaultUID; });
        if (byUID == devices.end() || byUID->transport != platform::AudioTransport::bluetooth) return;
        auto ofTransport = [&](platform::AudioTransport t) {
            return std::find_if(devices.begin(), devices.end(), [t](const auto& d) { return d.transport == t; });
        };
        auto chosen = ofTransport(platform::AudioTransport::builtIn);
        if (chosen == devices.end()) chosen = ofTransport(platform::AudioTransport::usb);
        if (chosen == devices.end()) {
            log_.info("smart-default: system default is Bluetooth but no built-in/USB alternative available; leaving as-is");
            return;
        }
        log_.info("smart-default: system default input is Bluetooth ({}); overriding to {} for faster dictation startup",
                  platform::priv(byUID->name), platform::priv(chosen->name));
        preferences_.preferredInputDeviceUID.set(chosen->uid);
    }();
    preferences_.hasAutoSelectedInputDevice.set(true);
}

// ---- gestures ----

GestureSet AppCoordinator::currentGestures() const {
    return {preferences_.dictationGesture(), preferences_.readAloudGesture(), preferences_.notepadGesture(),
            preferences_.summarizeReadAloudGesture()};
}

void AppCoordinator::registerGestures(std::optional<GestureSet> delivered) {
    const GestureSet gestures = delivered ? *delivered : currentGestures();
    std::vector<Hotkey> holds;
    std::vector<KeyCombo> combos;
    for (const Gesture* g : inOrder(gestures)) {
        if (auto key = g->hotkey()) holds.push_back(*key);
        if (auto combo = g->keyCombo()) combos.push_back(*combo);
    }
    hotkey_.registerGestures(std::move(holds), std::move(combos));
}

void AppCoordinator::handleHoldDown(Hotkey key) {
    auto action = actionForHold(currentGestures(), key);
    if (action && shouldAcceptGesture(false)) arbitrate(*action, key);
}

void AppCoordinator::handleHoldUp(Hotkey key) {
    if (actionForHold(currentGestures(), key) != GestureAction::dictation) return;
    if (shouldAcceptGesture(true)) dictation().handleHotkeyRelease(key);
}

void AppCoordinator::handleComboTrigger(std::uint16_t keyCode, std::uint64_t modifiers) {
    auto action = actionForCombo(currentGestures(), keyCode, modifiers);
    if (action && shouldAcceptGesture(false)) arbitrate(*action, std::nullopt);
}

bool AppCoordinator::shouldAcceptGesture(bool isRelease) {
    auto* pad = notepad();
    if (!pad || !pad->isOpen()) return true;
    if (!isRelease) log_.debug("hotkey ignored: notepad open");
    return false;
}

void AppCoordinator::arbitrate(GestureAction action, std::optional<Hotkey> holdKey) {
    auto& dictation = this->dictation();
    const bool dictationActive = dictation.isRecording() || dictation.isPendingFinalize();
    switch (action) {
    case GestureAction::dictation: {
        if (auto* pad = notepad(); pad && pad->isRecording()) {
            log_.info("mode arbitration: notepad is recording — ignoring dictation press");
            return;
        }
        if (auto* reader = readAloud()) {
            const auto state = reader->state();
            if (state == ReadAloudState::speaking && reader->engineState() == ReadAloudEngineState::speaking) {
                log_.info("mode arbitration: read-aloud pause → dictation");
                reader->pauseForArbitration();
                readAloudShouldResumeAfterDictation = true;
            } else if (state == ReadAloudState::capturing || state == ReadAloudState::summarizing ||
                       state == ReadAloudState::speaking) {
                log_.info("mode arbitration: read-aloud cancel (pre-speech) → dictation");
                reader->cancel();
                readAloudShouldResumeAfterDictation = false;
            }
        }
        if (holdKey)
            dictation.handleHotkeyPress(*holdKey);
        else
            dictation.toggle();
        return;
    }
    case GestureAction::notepad: {
        if (dictationActive) dictation.finalizeForModeArbitration();
        auto* pad = notepad();
        if (!pad) return;
        pad->open();
        if (auto* window = notepadHUDController()) window->show();
        return;
    }
    case GestureAction::readAloud:
    case GestureAction::summarizeReadAloud: {
        if (dictationActive) {
            log_.info("mode arbitration: dictation → read-aloud");
            dictation.finalizeForModeArbitration();
        }
        readAloudShouldResumeAfterDictation = false;
        if (auto* reader = readAloud()) reader->handlePress(action == GestureAction::summarizeReadAloud);
        return;
    }
    }
}

}  // namespace parlowen
