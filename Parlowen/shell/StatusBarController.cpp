#include "Parlowen/shell/StatusBarController.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "Parlowen/dictation/DictationHistory.h"
#include "Parlowen/shell/settings/PreferencesStore.h"
#include "platform/pasteboard/Pasteboard.h"
#include "platform/ui/Announcer.h"
#include "platform/ui/ReduceMotion.h"

namespace parlowen {

using platform::StatusMenuItem;

namespace {

// Action names the menu entries send back.
namespace action {
constexpr const char* prefs = "prefsClicked";
constexpr const char* quonReport = "quonReportClicked";
constexpr const char* addRecognitionHint = "addRecognitionHintClicked";
constexpr const char* addToListenLater = "addToListenLaterClicked";
constexpr const char* addURLToListenLater = "addURLToListenLaterClicked";
constexpr const char* openListenLater = "openListenLaterClicked";
constexpr const char* checkForUpdates = "checkForUpdatesClicked";
constexpr const char* quit = "quitClicked";
constexpr const char* copyDictation = "copyDictationClicked:";
constexpr const char* sendDictationToNotepad = "sendDictationToNotepadClicked:";
constexpr const char* clearDictationHistory = "clearDictationHistoryClicked";
constexpr const char* micDeviceSelected = "micDeviceSelected:";
}  // namespace action

StatusMenuItem menuItem(std::string id, std::string title, std::string act = {}, std::string key = {}) {
    StatusMenuItem item;
    item.id = std::move(id);
    item.title = std::move(title);
    item.action = std::move(act);
    item.keyEquivalent = std::move(key);
    return item;
}

// "Copy" and "Send to Notepad" for one dictation; ids under `prefix`.
std::vector<StatusMenuItem> dictationActions(const std::string& prefix, const std::string& text) {
    auto copy = menuItem(prefix + ".copy", "Copy", action::copyDictation);
    copy.representedObject = text;
    auto send = menuItem(prefix + ".sendToNotepad", "Send to Notepad", action::sendDictationToNotepad);
    send.representedObject = text;
    return {copy, send};
}

std::string quoted(const std::string& text) { return "\u201C" + text + "\u201D"; }

}  // namespace

StatusBarController::StatusBarController(Dependencies d, Callbacks callbacks)
    : item_(d.item),
      preferences_(d.preferences),
      history_(d.history),
      systemDefaultInputUID_(std::move(d.systemDefaultInputUID)),
      inputDevices_(std::move(d.inputDevices)),
      pasteboard_(d.pasteboard),
      announcer_(d.announcer),
      main_(d.main),
      clock_(d.clock),
      callbacks_(std::move(callbacks)),
      log_("com.kelvatrum.Parlowen", "statusbar"),
      reduceMotion_(d.reduceMotion.isOn()) {
    buildMenu();
    item_.setOnMenuWillOpen(lifetime_.guard([this] { menuWillOpen(); }));
    item_.setOnAction(lifetime_.guard([this](const StatusMenuItem& chosen) { perform(chosen); }));
    reduceMotionSubscription_ = d.reduceMotion.stream().dropFirst().subscribe(lifetime_.guard([this](const bool& on) {
        if (on == reduceMotion_) return;
        reduceMotion_ = on;
        refreshIcon();
    }));
}

StatusBarController::~StatusBarController() {
    lifetime_.end();
    pulseTimer_.cancel();
    reduceMotionSubscription_.reset();
}

StatusMenuItem& StatusBarController::entry(const char* id) { return *platform::findStatusMenuItem(menu_, id); }

void StatusBarController::buildMenu() {
    item_.setIcon({platform::StatusIconImage::icon, platform::StatusIconTint::none, "Parlowen"});

    auto install = menuItem(Ids::installUpdate, "Install Update", action::checkForUpdates);
    install.hidden = true;
    menu_.push_back(install);
    auto installSeparator = StatusMenuItem::separator(Ids::installUpdateSeparator);
    installSeparator.hidden = true;
    menu_.push_back(installSeparator);

    if (preferences_.enableListenLater()) {
        menu_.push_back(menuItem(Ids::addToListenLater, "Add selection to Listen Later", action::addToListenLater));
        menu_.push_back(
            menuItem(Ids::addURLToListenLater, "Add URL to Listen Later\u2026", action::addURLToListenLater));
        menu_.push_back(menuItem(Ids::openListenLater, "Open Listen Later queue\u2026", action::openListenLater));
    }

    auto last = menuItem(Ids::lastDictation, "Last dictation");
    last.hasSubmenu = true;
    last.enabled = false;
    menu_.push_back(last);
    menu_.push_back(StatusMenuItem::separator("separator.report"));
    menu_.push_back(menuItem(Ids::quonReport, "Quon Report", action::quonReport));
    menu_.push_back(menuItem(Ids::addRecognitionHint, "Add Recognition Hint\u2026", action::addRecognitionHint));
    auto mic = menuItem(Ids::microphone, "Microphone");
    mic.hasSubmenu = true;
    mic.submenuTitle = "Microphone";
    menu_.push_back(mic);
    menu_.push_back(menuItem(Ids::preferences, "Preferences\u2026", action::prefs, ","));
    menu_.push_back(menuItem(Ids::checkForUpdates, "Check for Updates\u2026", action::checkForUpdates));
    menu_.push_back(StatusMenuItem::separator("separator.quit"));
    menu_.push_back(menuItem(Ids::quit, "Quit Parlowen", action::quit, "q"));
    publishMenu();
}

void StatusBarController::publishMenu() { item_.setMenu(menu_); }

void StatusBarController::menuWillOpen() {
    PARLOWEN_ASSERT_ON(main_);
    if (onMenuWillOpen) onMenuWillOpen();
    refreshLastDictationMenu();
    refreshMicrophoneMenu();
    publishMenu();
}

void StatusBarController::refreshLastDictationMenu() {
    StatusMenuItem& last = entry(Ids::lastDictation);
    last.submenu.clear();
    const auto entries = history_.entries().get();
    const bool recent = !entries.empty() &&
                        entries.front().recordedAt.timeIntervalSince(clock_.now()) >= -kLastDictationWindowSeconds;
    if (!recent) {
        last.hidden = true;
        last.enabled = false;
        last.title = "Last dictation";
        return;
    }
    const auto& newest = entries.front();
    last.hidden = false;
    last.enabled = true;
    last.title = "Last dictation: " + quoted(newest.preview());
    last.submenu = dictationActions("lastDictation", newest.text);
    if (entries.size() >= 2) {
        last.submenu.push_back(StatusMenuItem::separator("lastDictation.separator"));
        auto earlier = menuItem("earlierDictations", "Earlier dictations");
        earlier.hasSubmenu = true;
        for (std::size_t i = 1; i < entries.size(); ++i) {
            const std::string prefix = "earlierDictations." + std::to_string(i);
            auto older = menuItem(prefix, quoted(entries[i].preview()));
            older.hasSubmenu = true;
            older.submenu = dictationActions(prefix, entries[i].text);
            earlier.submenu.push_back(std::move(older));
        }
        last.submenu.push_back(std::move(earlier));
    }
    last.submenu.push_back(StatusMenuItem::separator("lastDictation.clearSeparator"));
    last.submenu.push_back(menuItem("clearHistory", "Clear history", action::clearDictationHistory));
}

void StatusBarController::refreshMicrophoneMenu() {
    StatusMenuItem& mic = entry(Ids::microphone);
    const auto preferred = preferences_.preferredInputDeviceUID();
    const auto selected = preferred ? preferred : (systemDefaultInputUID_ ? systemDefaultInputUID_() : std::nullopt);
    const auto devices = inputDevices_ ? inputDevices_() : std::vector<InputDevice>{};
    std::string name = "System default";
    if (selected) {
        auto match = std::find_if(devices.begin(), devices.end(), [&](const auto& d) { return d.uid == *selected; });
        if (match != devices.end()) name = match->name;
    }
    mic.title = "Microphone \u00B7 " + name;

    mic.submenu.clear();
    auto systemDefault = menuItem("microphone.systemDefault", "System default", action::micDeviceSelected);
    systemDefault.representedObject = std::string();
    systemDefault.checked = !preferred;
    mic.submenu.push_back(systemDefault);
    if (!devices.empty()) {
        mic.submenu.push_back(StatusMenuItem::separator("microphone.separator"));
        for (const auto& device : devices) {
            std::string title = device.name;
            if (device.transport == platform::AudioTransport::bluetooth)
                title += " \u2014 Bluetooth \u2014 slower startup";
            auto item = menuItem("microphone.device." + device.uid, title, action::micDeviceSelected);
            item.representedObject = device.uid;
            item.checked = preferred && device.uid == *preferred;
            mic.submenu.push_back(std::move(item));
        }
    }
    if (preferred &&
        std::none_of(devices.begin(), devices.end(), [&](const auto& d) { return d.uid == *preferred; })) {
        mic.submenu.push_back(StatusMenuItem::separator("microphone.savedSeparator"));
        auto saved = menuItem("microphone.saved", "Saved device (not connected)");
        saved.enabled = false;
        saved.checked = true;
        mic.submenu.push_back(std::move(saved));
    }
}

void StatusBarController::perform(const StatusMenuItem& chosen) {
    const std::string& act = chosen.action;
    auto call = [](const std::function<void()>& f) {
        if (f) f();
    };
    if (act == action::prefs) call(callbacks_.onOpenPreferences);
    else if (act == action::quonReport) call(callbacks_.onOpenQuonReport);
    else if (act == action::addRecognitionHint) call(callbacks_.onAddRecognitionHint);
    else if (act == action::addToListenLater) call(callbacks_.onAddToListenLater);
    else if (act == action::addURLToListenLater) call(callbacks_.onAddURLToListenLater);
    else if (act == action::openListenLater) call(callbacks_.onOpenListenLater);
    else if (act == action::checkForUpdates) call(callbacks_.onCheckForUpdates);
    else if (act == action::quit) call(callbacks_.onQuit);
    else if (act == action::copyDictation) {
        if (!chosen.representedObject) return;
        // Straight to the clipboard: this is the user's own copy, not a borrowed paste.
        pasteboard_.clearContents();
        pasteboard_.setString(*chosen.representedObject);
    } else if (act == action::sendDictationToNotepad) {
        if (chosen.representedObject && callbacks_.onSendDictationToNotepad)
            callbacks_.onSendDictationToNotepad(*chosen.representedObject);
    } else if (act == action::clearDictationHistory) {
        history_.clear();
    } else if (act == action::micDeviceSelected) {
        std::optional<std::string> uid = chosen.representedObject;
        if (uid && uid->empty()) uid.reset();
        preferences_.preferredInputDeviceUID.set(uid);
        preferences_.hasAutoSelectedInputDevice.set(true);
    }
}

void StatusBarController::setState(IconState state) {
    if (state == state_) return;
    const IconState previous = state_;
    state_ = state;
    refreshIcon();
    if (state == IconState::listening)
        announce("Listening.");
    else if (previous == IconState::listening)
        announce("Stopped listening.");
    else if (state == IconState::permissionError &&
             (previous == IconState::idle || previous == IconState::readingAloud))
        announce("Parlowen needs a permission. Check the menu bar icon.");
}

void StatusBarController::setUpdateAvailable(std::optional<std::string> version) {
    const bool available = version.has_value();
    if (available == updateAvailable_ && version == pendingUpdateVersion_) return;
    const bool wasAvailable = updateAvailable_;
    updateAvailable_ = available;
    pendingUpdateVersion_ = version;
    refreshInstallUpdateItem();
    refreshIcon();
    if (available && !wasAvailable) announce("Parlowen update version " + *version + " available.");
}

void StatusBarController::refreshInstallUpdateItem() {
    StatusMenuItem& install = entry(Ids::installUpdate);
    install.title = pendingUpdateVersion_ ? "Install Update v" + *pendingUpdateVersion_ : "Install Update";
    install.hidden = !updateAvailable_;
    install.enabled = updateAvailable_;
    entry(Ids::installUpdateSeparator).hidden = !updateAvailable_;
    publishMenu();
}

void StatusBarController::refreshIcon() {
    pulseTimer_.cancel();
    using platform::StatusIconImage;
    using platform::StatusIconTint;
    switch (state_) {
    case IconState::idle:
        if (updateAvailable_)
            item_.setIcon({StatusIconImage::updateBadge, StatusIconTint::none, "Parlowen \u2014 update available"});
        else
            item_.setIcon({StatusIconImage::icon, StatusIconTint::none, "Parlowen"});
        item_.setAlpha(1.0);
        break;
    case IconState::listening:
        item_.setIcon({StatusIconImage::icon, StatusIconTint::red, "Parlowen"});
        item_.setAlpha(1.0);
        if (!reduceMotion_) startPulse();
        break;
    case IconState::readingAloud:
        item_.setIcon({StatusIconImage::icon, StatusIconTint::blue, "Parlowen"});
        item_.setAlpha(1.0);
        break;
    case IconState::permissionError:
        item_.setIcon({StatusIconImage::permissionBadge, StatusIconTint::none, "Parlowen \u2014 permission needed"});
        item_.setAlpha(1.0);
        break;
    }
}

void StatusBarController::startPulse() {
    pulseTimer_.cancel();
    pulsePhase_ = 0;
    pulseTimer_ = main_.repeating(platform::seconds(kPulseInterval), lifetime_.guard([this] { pulseTick(); }));
}

void StatusBarController::pulseTick() {
    constexpr double twoPi = 2 * std::numbers::pi;
    pulsePhase_ += twoPi * kPulseHertz * kPulseInterval;
    if (pulsePhase_ > twoPi) pulsePhase_ -= twoPi;
    item_.setAlpha(0.775 + 0.225 * std::sin(pulsePhase_));
}

void StatusBarController::announce(const std::string& text) {
    announcer_.announce(text, platform::ui::AnnouncementPriority::high);
}

}  // namespace parlowen
