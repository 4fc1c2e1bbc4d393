#include "Parlowen/shell/StatusBarController.h"

#include <gtest/gtest.h>

#include "Parlowen/dictation/DictationHistory.h"
#include "Parlowen/shell/settings/PreferencesStore.h"
#include "platform/defaults/InMemoryUserDefaults.h"
#include "platform/pasteboard/InMemoryPasteboard.h"
#include "platform/runtime/ManualExecutor.h"
#include "platform/ui/RecordingAnnouncer.h"
#include "platform/ui/ReduceMotion.h"

namespace parlowen {
namespace {

using platform::StatusIconImage;
using platform::StatusIconTint;
using State = StatusIconState;
using Ids = StatusBarController::Ids;

class StatusBarControllerTest : public ::testing::Test {
protected:
    platform::ManualExecutor main;
    platform::FixedClock clock{platform::Date::fromTimeIntervalSinceReferenceDate(800'000'000)};
    platform::InMemoryUserDefaults defaults;
    PreferencesStore preferences{defaults, {}};
    DictationHistory history{clock};
    platform::RecordingStatusItem item;
    platform::InMemoryPasteboard pasteboard;
    platform::ui::RecordingAnnouncer announcer;
    platform::ui::ReduceMotionSwitch reduceMotion{false};
    std::optional<std::string> systemDefault;
    std::vector<InputDevice> devices;
    std::vector<std::string> calls;
    std::unique_ptr<StatusBarController> controller;

    StatusBarController& make() {
        StatusBarController::Callbacks callbacks;
        auto note = [this](std::string what) { return [this, what] { calls.push_back(what); }; };
        callbacks.onOpenPreferences = note("preferences");
        callbacks.onCheckForUpdates = note("checkForUpdates");
        callbacks.onOpenQuonReport = note("quonReport");
        callbacks.onSendDictationToNotepad = [this](const std::string& t) { calls.push_back("notepad " + t); };
        callbacks.onAddToListenLater = note("addToListenLater");
        callbacks.onAddURLToListenLater = note("addURLToListenLater");
        callbacks.onOpenListenLater = note("openListenLater");
        callbacks.onQuit = note("quit");
        callbacks.onAddRecognitionHint = note("addRecognitionHint");
        controller = std::make_unique<StatusBarController>(
            StatusBarController::Dependencies{.item = item,
                                              .preferences = preferences,
                                              .history = history,
                                              .systemDefaultInputUID = [this] { return systemDefault; },
                                              .inputDevices = [this] { return devices; },
                                              .pasteboard = pasteboard,
                                              .announcer = announcer,
                                              .reduceMotion = reduceMotion,
                                              .main = main,
                                              .clock = clock},
            std::move(callbacks));
        controller->onMenuWillOpen = [this] { calls.push_back("menuWillOpen"); };
        return *controller;
    }

    std::vector<std::string> titles(const platform::StatusMenu& menu) {
        std::vector<std::string> out;
        for (const auto& e : menu) out.push_back(e.kind == platform::StatusMenuItem::Kind::separator ? "—" : e.title);
        return out;
    }
    std::vector<std::string> announced() {
        std::vector<std::string> out;
        for (const auto& a : announcer.announcements()) {
            EXPECT_EQ(a.priority, platform::ui::AnnouncementPriority::high);
            out.push_back(a.text);
        }
        return out;
    }
    const platform::StatusMenuItem& entry(const std::string& id) {
        const auto* e = item.item(id);
        EXPECT_NE(e, nullptr) << id;
        static const platform::StatusMenuItem none;
        return e ? *e : none;
    }
};

TEST_F(StatusBarControllerTest, MenuHoldsItsEntriesInOrderWithKeysAndHiddenInstallEntry) {
    preferences.enableListenLater.set(true);
    make();
    EXPECT_EQ(titles(item.menu()),
              (std::vector<std::string>{"Install Update", "—", "Add selection to Listen Later", "Add URL to Listen Later…",
                                        "Open Listen Later queue…", "Last dictation", "—", "Quon Report",
                                        "Add Recognition Hint…", "Microphone", "Preferences…", "Check for Updates…", "—",
                                        "Quit Parlowen"}));
    EXPECT_TRUE(entry(Ids::installUpdate).hidden);
    EXPECT_TRUE(entry(Ids::installUpdateSeparator).hidden);
    EXPECT_FALSE(entry(Ids::lastDictation).enabled);
    EXPECT_EQ(entry(Ids::preferences).keyEquivalent, ",");
    EXPECT_EQ(entry(Ids::quit).keyEquivalent, "q");
    EXPECT_EQ(entry(Ids::microphone).submenuTitle, "Microphone");
    EXPECT_EQ(item.icon(), (platform::StatusIcon{StatusIconImage::icon, StatusIconTint::none, "Parlowen"}));

    for (auto [id, call] : std::vector<std::pair<const char*, const char*>>{
             {Ids::preferences, "preferences"}, {Ids::checkForUpdates, "checkForUpdates"},
             {Ids::quonReport, "quonReport"}, {Ids::addRecognitionHint, "addRecognitionHint"},
             {Ids::addToListenLater, "addToListenLater"}, {Ids::addURLToListenLater, "addURLToListenLater"},
             {Ids::openListenLater, "openListenLater"}, {Ids::quit, "quit"}}) {
        calls.clear();
        ASSERT_TRUE(item.choose(id)) << id;
        EXPECT_EQ(calls, (std::vector<std::string>{call}));
    }
}

TEST_F(StatusBarControllerTest, ListenLaterEntriesFollowTheSettingWhenBuiltOnly) {
    preferences.enableListenLater.set(false);
    make();
    EXPECT_EQ(item.item(Ids::addToListenLater), nullptr);
    preferences.enableListenLater.set(true);
    item.openMenu();
    EXPECT_EQ(item.item(Ids::openListenLater), nullptr);
}

TEST_F(StatusBarControllerTest, StateChangesRedrawAndAnnounce) {
    struct Case {
        State from, to;
        std::vector<std::string> said;
    };
    const std::vector<Case> cases = {
        {State::idle, State::listening, {"Listening."}},
        {State::listening, State::permissionError, {"Stopped listening."}},
        {State::listening, State::idle, {"Stopped listening."}},
        {State::idle, State::permissionError, {"Parlowen needs a permission. Check the menu bar icon."}},
        {State::readingAloud, State::permissionError, {"Parlowen needs a permission. Check the menu bar icon."}},
        {State::permissionError, State::idle, {}},
        {State::idle, State::readingAloud, {}},
        {State::readingAloud, State::readingAloud, {}},
    };
    for (const auto& c : cases) {
        make().setState(c.from);
        announcer.clear();
        const int redraws = item.iconChanges();
        controller->setState(c.to);
        EXPECT_EQ(announced(), c.said) << int(c.from) << "→" << int(c.to);
        EXPECT_EQ(item.iconChanges() > redraws, c.from != c.to) << int(c.from) << "→" << int(c.to);
    }
    make();
    const std::vector<std::pair<State, platform::StatusIcon>> icons = {
        {State::listening, {StatusIconImage::icon, StatusIconTint::red, "Parlowen"}},
        {State::readingAloud, {StatusIconImage::icon, StatusIconTint::blue, "Parlowen"}},
        {State::permissionError, {StatusIconImage::permissionBadge, StatusIconTint::none, "Parlowen — permission needed"}},
        {State::idle, {StatusIconImage::icon, StatusIconTint::none, "Parlowen"}},
    };
    for (const auto& [state, icon] : icons) {
        controller->setState(state);
        EXPECT_EQ(item.icon(), icon);
        EXPECT_EQ(item.alpha(), 1.0);
    }
}

TEST_F(StatusBarControllerTest, UpdateEntryAnnouncesOnceRetitlesSilentlyAndHidesWithoutVersion) {
    make();
    controller->setUpdateAvailable("1.4.0");
    controller->setUpdateAvailable("1.4.0");
    EXPECT_EQ(announced(), (std::vector<std::string>{"Parlowen update version 1.4.0 available."}));
    EXPECT_EQ(entry(Ids::installUpdate).title, "Install Update v1.4.0");
    EXPECT_FALSE(entry(Ids::installUpdate).hidden);
    EXPECT_FALSE(entry(Ids::installUpdateSeparator).hidden);
    EXPECT_EQ(item.icon().image, StatusIconImage::updateBadge);
    EXPECT_EQ(item.icon().accessibilityDescription, "Parlowen — update available");

    controller->setUpdateAvailable("1.5.0");
    EXPECT_EQ(announcer.announcements().size(), 1u);
    EXPECT_EQ(entry(Ids::installUpdate).title, "Install Update v1.5.0");
    ASSERT_TRUE(item.choose(Ids::installUpdate));
    EXPECT_EQ(calls, (std::vector<std::string>{"checkForUpdates"}));

    // A missing permission outranks the update dot.
    controller->setState(State::permissionError);
    EXPECT_EQ(item.icon().image, StatusIconImage::permissionBadge);
    controller->setState(State::idle);

    controller->setUpdateAvailable(std::nullopt);
    EXPECT_TRUE(entry(Ids::installUpdate).hidden);
    EXPECT_TRUE(entry(Ids::installUpdateSeparator).hidden);
    EXPECT_EQ(item.icon().image, StatusIconImage::icon);
}

TEST_F(StatusBarControllerTest, LastDictationIsOfferedForTenMinutesWithEarlierOnesBelow) {
    make();
    item.openMenu();
    EXPECT_TRUE(entry(Ids::lastDictation).hidden);

    history.record("older words here");
    clock.advance(5);
    history.record("hello world second sentence");
    clock.advance(600);
    item.openMenu();
    const auto& last = entry(Ids::lastDictation);
    EXPECT_EQ(calls.front(), "menuWillOpen");
    EXPECT_FALSE(last.hidden);
    EXPECT_TRUE(last.enabled);
    EXPECT_EQ(last.title, "Last dictation: “hello world second sentence”");
    EXPECT_EQ(titles(last.submenu),
              (std::vector<std::string>{"Copy", "Send to Notepad", "—", "Earlier dictations", "—", "Clear history"}));
    const auto& earlier = *item.item("earlierDictations");
    ASSERT_EQ(earlier.submenu.size(), 1u);
    EXPECT_EQ(earlier.submenu[0].title, "“older words here”");
    EXPECT_EQ(titles(earlier.submenu[0].submenu), (std::vector<std::string>{"Copy", "Send to Notepad"}));

    ASSERT_TRUE(item.choose("lastDictation.copy"));
    EXPECT_EQ(pasteboard.string(), "hello world second sentence");
    ASSERT_TRUE(item.choose("earlierDictations.1.sendToNotepad"));
    EXPECT_EQ(calls.back(), "notepad older words here");

    clock.advance(1);  // 601 s
    item.openMenu();
    EXPECT_TRUE(entry(Ids::lastDictation).hidden);
    EXPECT_FALSE(entry(Ids::lastDictation).enabled);
    EXPECT_EQ(entry(Ids::lastDictation).title, "Last dictation");
    EXPECT_TRUE(entry(Ids::lastDictation).submenu.empty());
}

TEST_F(StatusBarControllerTest, OneDictationHasNoEarlierEntryAndClearEmptiesTheHistory) {
    make();
    history.record("just one");
    item.openMenu();
    EXPECT_EQ(item.item("earlierDictations"), nullptr);
    ASSERT_TRUE(item.choose("clearHistory"));
    EXPECT_TRUE(history.entries().get().empty());
}

TEST_F(StatusBarControllerTest, CopyAndSendWithoutTextDoNothing) {
    make();
    pasteboard.setString("kept");
    const auto before = pasteboard.changeCount();
    platform::StatusMenuItem copy;
    copy.action = "copyDictationClicked:";
    controller->perform(copy);
    platform::StatusMenuItem send;
    send.action = "sendDictationToNotepadClicked:";
    controller->perform(send);
    EXPECT_EQ(pasteboard.string(), "kept");
    EXPECT_EQ(pasteboard.changeCount(), before);
    EXPECT_TRUE(calls.empty());
}

TEST_F(StatusBarControllerTest, MicrophoneMenuShowsDevicesTheChoiceAndASavedDeviceThatIsGone) {
    devices = {{"builtin", "Built-in Microphone", platform::AudioTransport::builtIn},
               {"bt", "AirPods", platform::AudioTransport::bluetooth}};
    systemDefault = "bt";
    make();
    item.openMenu();
    EXPECT_EQ(entry(Ids::microphone).title, "Microphone · AirPods");
    EXPECT_EQ(titles(entry(Ids::microphone).submenu),
              (std::vector<std::string>{"System default", "—", "Built-in Microphone",
                                        "AirPods — Bluetooth — slower startup"}));
    EXPECT_TRUE(entry("microphone.systemDefault").checked);
    EXPECT_FALSE(entry("microphone.device.bt").checked);

    ASSERT_TRUE(item.choose("microphone.device.builtin"));
    EXPECT_EQ(preferences.preferredInputDeviceUID(), "builtin");
    EXPECT_TRUE(preferences.hasAutoSelectedInputDevice());
    item.openMenu();
    EXPECT_EQ(entry(Ids::microphone).title, "Microphone · Built-in Microphone");
    EXPECT_TRUE(entry("microphone.device.builtin").checked);
    EXPECT_FALSE(entry("microphone.systemDefault").checked);

    // A saved device that is no longer connected.
    preferences.preferredInputDeviceUID.set(std::string("usb-gone"));
    item.openMenu();
    EXPECT_EQ(entry(Ids::microphone).title, "Microphone · System default");
    const auto& saved = entry(Ids::microphone).submenu.back();
    EXPECT_EQ(saved.title, "Saved device (not connected)");
    EXPECT_FALSE(saved.enabled);
    EXPECT_TRUE(saved.checked);

    // "System default" stores none and still marks the choice as made.
    preferences.hasAutoSelectedInputDevice.set(false);
    ASSERT_TRUE(item.choose("microphone.systemDefault"));
    EXPECT_EQ(preferences.preferredInputDeviceUID(), std::nullopt);
    EXPECT_TRUE(preferences.hasAutoSelectedInputDevice());

    // An entry that carries no text counts as "System default".
    preferences.preferredInputDeviceUID.set(std::string("builtin"));
    platform::StatusMenuItem noText;
    noText.action = "micDeviceSelected:";
    controller->perform(noText);
    EXPECT_EQ(preferences.preferredInputDeviceUID(), std::nullopt);
}

TEST_F(StatusBarControllerTest, NoDevicesAndNoDefaultShowOnlySystemDefault) {
    make();
    item.openMenu();
    EXPECT_EQ(entry(Ids::microphone).title, "Microphone · System default");
    EXPECT_EQ(titles(entry(Ids::microphone).submenu), (std::vector<std::string>{"System default"}));
}

TEST_F(StatusBarControllerTest, PulseSwingsWithinRangeOnlyWhileListeningWithMotion) {
    make().setState(State::listening);
    ASSERT_TRUE(controller->isPulsing());
    double low = 1, high = 0;
    for (int tick = 0; tick < 90; ++tick) {  // three seconds
        main.advance(platform::seconds(1.0 / 30));
        low = std::min(low, item.alpha());
        high = std::max(high, item.alpha());
        EXPECT_GE(controller->pulsePhase(), 0);
        EXPECT_LE(controller->pulsePhase(), 2 * 3.14159266);
    }
    EXPECT_GE(low, 0.55 - 1e-9);
    EXPECT_LE(high, 1.0 + 1e-9);
    EXPECT_LT(low, 0.56);
    EXPECT_GT(high, 0.99);

    controller->setState(State::idle);
    EXPECT_FALSE(controller->isPulsing());
    EXPECT_EQ(item.alpha(), 1.0);
    main.advance(platform::seconds(1));
    EXPECT_EQ(item.alpha(), 1.0);
}

TEST_F(StatusBarControllerTest, ReduceMotionKeepsTheRedIconStillUntilItIsTurnedOff) {
    reduceMotion.set(true);
    make().setState(State::listening);
    EXPECT_FALSE(controller->isPulsing());
    EXPECT_EQ(item.icon().tint, StatusIconTint::red);
    main.advance(platform::seconds(1));
    EXPECT_EQ(item.alpha(), 1.0);
    reduceMotion.set(false);
    EXPECT_TRUE(controller->isPulsing());
    main.advance(platform::seconds(0.25));
    EXPECT_LT(item.alpha(), 1.0);
    reduceMotion.set(true);
    EXPECT_FALSE(controller->isPulsing());
    EXPECT_EQ(item.alpha(), 1.0);
}

}  // namespace
}  // namespace parlowen
