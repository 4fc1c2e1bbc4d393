// The application coordinator's status item, the handlers of what the
// dictation and read-aloud coordinators report, and the menu and panel
// commands.

#include "Parlowen/brand/UsageLog.h"
#include "Parlowen/dictation/DictationHistory.h"
#include "Parlowen/dictation/QuickAddHint.h"
#include "Parlowen/shell/AppCoordinator.h"
#include "Parlowen/shell/SoftwareUpdate.h"
#include "Parlowen/shell/settings/PreferencesStore.h"
#include "platform/text/Unicode.h"
#include "platform/ui/Announcer.h"

namespace parlowen {

namespace {
constexpr std::size_t kAnnouncedTextLimit = 40;
constexpr std::ptrdiff_t kQuickAddCandidateLimit = 8;

// Words split at U+0020 only: a line break does not separate them.
std::size_t spaceSeparatedWords(const std::string& text) {
    std::size_t words = 0;
    bool inWord = false;
    for (char c : text) {
        if (c == ' ') {
            inWord = false;
        } else if (!inWord) {
            inWord = true;
            ++words;
        }
    }
    return words;
}
}  // namespace

// ---- status item ----

void AppCoordinator::buildStatusBar() {
    if (!statusBarParts_ || !history_) return;
    auto& parts = *statusBarParts_;
    StatusBarController::Callbacks callbacks;
    callbacks.onOpenPreferences = lifetime_.guard([this] { openPreferences(PreferencesTab::general); });
    callbacks.onCheckForUpdates = lifetime_.guard([this] {
        activateIgnoringOtherApps();
        if (services_.checkForUpdatesByUser) services_.checkForUpdatesByUser();
    });
    callbacks.onOpenQuonReport = lifetime_.guard([this] { openQuonReport(); });
    callbacks.onSendDictationToNotepad = lifetime_.guard([this](const std::string& text) { openNotepad(text); });
    callbacks.onAddToListenLater = lifetime_.guard([this] {
        if (services_.addSelectionToListenLater) main_.post(lifetime_.guard([this] { services_.addSelectionToListenLater(); }));
    });
    callbacks.onAddURLToListenLater = lifetime_.guard([this] {
        if (services_.addURLToListenLater) services_.addURLToListenLater();
    });
    callbacks.onOpenListenLater = lifetime_.guard([this] {
        if (auto* bridge = listenLaterCloudKit()) main_.post(lifetime_.guard([bridge] { bridge->refreshPendingItems(); }));
        if (services_.showListenLater) services_.showListenLater();
        if (services_.registerShareObserver) services_.registerShareObserver();
    });
    // Quitting must work whatever state the coordinator is in.
    callbacks.onQuit = [terminate = services_.terminate] {
        if (terminate) terminate();
    };
    callbacks.onAddRecognitionHint = lifetime_.guard([this] { showQuickAddHintPanel(); });

    statusBar_ = std::make_unique<StatusBarController>(
        StatusBarController::Dependencies{.item = parts.item,
                                          .preferences = preferences_,
                                          .history = *history_,
                                          .systemDefaultInputUID = services_.systemDefaultInputUID,
                                          .inputDevices = services_.inputDevices,
                                          .pasteboard = parts.pasteboard,
                                          .announcer = parts.announcer,
                                          .reduceMotion = parts.reduceMotion,
                                          .main = main_,
                                          .clock = *clock_},
        std::move(callbacks));
    statusBar_->onMenuWillOpen = lifetime_.guard([this] {
        if (auto* bridge = listenLaterCloudKit()) main_.post(lifetime_.guard([bridge] { bridge->refreshPendingItems(); }));
    });
    if (!parts.item.isAvailable()) log_.info("status item: the desktop has no system tray; the icon cannot be shown");

    observations_ += preferences_.hideMenuBarIcon.stream().subscribe(lifetime_.guard([this](const bool& hide) {
        statusBar_->statusItem().setVisible(!hide);
    }));
    if (updateAvailability_) {
        observations_ += updateAvailability_->isAvailable.stream().removeDuplicates().subscribe(
            lifetime_.guard([this](const bool&) { statusBar_->setUpdateAvailable(updateAvailability_->pendingVersion.get()); }));
        observations_ += updateAvailability_->pendingVersion.stream().removeDuplicates().subscribe(lifetime_.guard(
            [this](const std::optional<std::string>& version) { statusBar_->setUpdateAvailable(version); }));
    }
}

void AppCoordinator::updateStatusIcon(std::optional<PermissionStates> delivered) {
    if (!statusBar_) return;
    const PermissionStates states = delivered ? *delivered : permissions_ ? permissions_->states.get() : PermissionStates{};
    StatusIconState state = StatusIconState::idle;
    if (!allPermissionsGranted(states)) state = StatusIconState::permissionError;
    else if (dictationActive_) state = StatusIconState::listening;
    else if (readAloudActive_) state = StatusIconState::readingAloud;
    statusBar_->setState(state);
}

// ---- mode callbacks ----

void AppCoordinator::installModeCallbacks() {
    ReadAloudCallbacks reading;
    reading.onUIStateChange = lifetime_.guard([this](ReadAloudUIMode mode) {
        if (auto* hud = readAloudHUD()) hud->update(mode);
        readAloudActive_ = mode != ReadAloudUIMode::hidden;
        updateStatusIcon();
    });
    reading.onSpeakStarted = lifetime_.guard([this](const std::string& text) {
        if (usageLog_) usageLog_->recordReadAloud(text);
    });
    reading.onNoSelection = lifetime_.guard([this] { showToast("Select some text first, then try again."); });
    reading.onSummarizeFallback = lifetime_.guard([this](const std::string& message) { showToast(message); });
    if (auto* reader = readAloud()) reader->setCallbacks(std::move(reading));

    DictationCallbacks dictating;
    dictating.onSessionFinalized = lifetime_.guard([this] {
        if (!readAloudShouldResumeAfterDictation) return;
        readAloudShouldResumeAfterDictation = false;
        if (auto* reader = readAloud()) reader->resumeAfterArbitration();
    });
    dictating.onFinalizeError = lifetime_.guard([this](const std::string& message) { showToast(message); });
    dictating.onStartError = lifetime_.guard([this](const std::string& message) { showToast(message); });
    dictating.onSessionFinalizedWithText = lifetime_.guard([this](const std::string& text) { recordDictation(text); });
    dictating.onActiveStateChange = lifetime_.guard([this](bool active) {
        dictationActive_ = active;
        updateStatusIcon();
    });
    dictating.onNotepadRequested = lifetime_.guard([this] {
        if (auto* pad = notepad()) pad->open();
        if (auto* window = notepadHUDController()) window->show();
    });
    dictating.onNoFocusedField = lifetime_.guard([this](const std::string& text) { openNotepad(text); });
    dictating.onFocusStolen = lifetime_.guard([this](const std::string& text) {
        openNotepad(text);
        showToast("Focus changed mid-dictation \u2014 your text is in the Notepad.");
    });
    dictation().setCallbacks(std::move(dictating));
}

void AppCoordinator::recordDictation(const std::string& text) {
    recentDictationCandidates_ = QuickAddHint::extractCandidates(text, kQuickAddCandidateLimit);
    if (usageLog_) usageLog_->recordDictation(text);
    if (history_ && preferences_.rememberDictationHistory()) history_->record(text);

    const std::string trimmed = platform::text::trim(text);
    if (trimmed.empty() || !statusBarParts_) return;
    const std::string line = platform::text::graphemeCount(trimmed) > kAnnouncedTextLimit
                                 ? "Dictation pasted, " + std::to_string(spaceSeparatedWords(trimmed)) + " words."
                                 : "Dictation pasted: " + trimmed;
    statusBarParts_->announcer.announce(line, platform::ui::AnnouncementPriority::high);
}

// ---- commands ----

void AppCoordinator::openNotepad(const std::string& seedText) {
    auto* pad = notepad();
    if (!pad) return;
    pad->openWithSeedText(seedText);
    if (auto* window = notepadHUDController()) window->show();
    log_.info("notepad opened with seed text: {} chars (paste-target reroute)", platform::text::graphemeCount(seedText));
}

void AppCoordinator::openQuonReport() {
    auto* window = lazy(quonReportWindow_, reportLazy_, "Quon Report window",
                        [this] { return factory_.makeQuonReportWindow(); });
    if (!window) return;
    preferences_.lastQuonReportOpenedAt.set(clock_->now());
    window->show();
    activateIgnoringOtherApps();
}

void AppCoordinator::showQuickAddHintPanel() {
    auto* panel = lazy(quickAddHintPanel_, quickAddLazy_, "quick-add panel", [this] {
        return factory_.makeQuickAddHintPanel([this, alive = lifetime_.weak()] {
            return alive.expired() ? std::vector<std::string>{} : recentDictationCandidates_;
        });
    });
    if (panel) panel->show();
}

ReadAloudPanel* AppCoordinator::readAloudHUD() {
    return lazy(readAloudHUD_, readAloudHUDLazy_, "read-aloud panel",
                [this] { return factory_.makeReadAloudHUD(readAloudHUDActions()); });
}

ReadAloudHUDActions AppCoordinator::readAloudHUDActions() {
    // Skips only mean something while a reading is under way.
    auto skip = [this](void (ReadAloudMode::*op)()) {
        return lifetime_.guard([this, op] {
            auto* reader = readAloud();
            if (!reader) return;
            const auto state = reader->state();
            if (state == ReadAloudState::speaking || state == ReadAloudState::userPaused) (reader->*op)();
        });
    };
    auto skipSeconds = [this](void (ReadAloudMode::*op)(double), double seconds) {
        return lifetime_.guard([this, op, seconds] {
            auto* reader = readAloud();
            if (!reader) return;
            const auto state = reader->state();
            if (state == ReadAloudState::speaking || state == ReadAloudState::userPaused) (reader->*op)(seconds);
        });
    };
    ReadAloudHUDActions actions;
    actions.togglePause = lifetime_.guard([this] {
        if (auto* reader = readAloud()) reader->togglePause();
    });
    actions.stop = lifetime_.guard([this] {
        if (auto* reader = readAloud()) reader->cancel();
    });
    actions.skipBack15s = skipSeconds(&ReadAloudMode::skipBack, 15);
    actions.skipBackParagraph = skip(&ReadAloudMode::skipBackParagraph);
    actions.skipBackSentence = skip(&ReadAloudMode::skipBackSentence);
    actions.skipForwardSentence = skip(&ReadAloudMode::skipForwardSentence);
    actions.skipForwardParagraph = skip(&ReadAloudMode::skipForwardParagraph);
    actions.skipForward30s = skipSeconds(&ReadAloudMode::skipForward, 30);
    actions.setRate = lifetime_.guard([this](float rate) {
        preferences_.readAloudRate.set(rate);
        if (auto* reader = readAloud()) reader->setRate(rate);
    });
    actions.setVoice = lifetime_.guard([this](const std::string& identifier) {
        if (auto* reader = readAloud()) reader->setVoice(identifier);
    });
    actions.openQuonReport = lifetime_.guard([this] { openQuonReport(); });
    return actions;
}

void AppCoordinator::showToast(const std::string& message) {
    if (services_.showToast) services_.showToast(message);
}

void AppCoordinator::activateIgnoringOtherApps() {
    if (services_.activateIgnoringOtherApps) services_.activateIgnoringOtherApps();
}

}  // namespace parlowen
