#include <gtest/gtest.h>

#include "Parlowen/dictation/LivePartialHUD.h"
#include "Parlowen/shell/settings/PreferencesStore.h"
#include "platform/defaults/InMemoryUserDefaults.h"
#include "platform/log/CaptureSink.h"
#include "platform/runtime/ManualExecutor.h"
#include "platform/ui/RecordingAnnouncer.h"

namespace parlowen {
namespace {

using platform::AudioDeviceRecord;
using platform::AudioTransport;
using platform::ui::Color;
using platform::ui::Point;
using platform::ui::Rect;

// A window that records what the HUD asks of it.
class ScriptedPanel final : public LivePartialHUDPanel {
public:
    double width() const override { return LivePartialHUD::kWidth; }
    double height() const override { return LivePartialHUD::kHeight; }
    void setTopLeft(Point p) override { topLeft = p; }
    void orderFrontRegardless() override {
        visible = true;
        ++frontOrders;
    }
    void orderOut() override { visible = false; }
    bool isVisible() const override { return visible; }
    bool isKeyWindow() const override { return key; }
    bool applicationIsActive() const override { return appActive; }
    std::optional<Rect> mainScreenVisibleFrame() const override { return screen; }

    std::optional<Rect> screen = Rect{0, 32, 1280, 992};
    std::optional<Point> topLeft;
    bool visible = true;  // the HUD must order it out at construction
    bool key = false;
    bool appActive = false;
    int frontOrders = 0;
};

const std::vector<float> kZeros(30, 0.0f);

struct LivePartialHUDTest : ::testing::Test {
    LivePartialHUDTest() {
        hardware.setDevices({
            {1, "builtin-mic", "Built-in Microphone", AudioTransport::builtIn, 1, 0},
            {2, "bt-headset", "Headset", AudioTransport::bluetooth, 1, 2},
            {3, "usb-mic", "Yeti", AudioTransport::usb, 1, 0},
        });
        hardware.setDefault(platform::AudioScope::input, "builtin-mic");
    }

    LivePartialHUD& makeHud() {
        catalog = std::make_unique<AudioDeviceCatalog>(hardware, main);
        hud = std::make_unique<LivePartialHUD>(
            preferences, *catalog, main, announcer,
            [this](LivePartialHUD&, LivePartialHUD::SelectionCallback forward) {
                pickerCallback = std::move(forward);
                auto p = std::make_unique<ScriptedPanel>();
                panel = p.get();
                return p;
            });
        return *hud;
    }

    platform::ScopedLogCapture log;
    platform::ManualExecutor main;
    platform::FakeAudioHardware hardware;
    platform::InMemoryUserDefaults defaults;
    PreferencesStore preferences{defaults, PreferencesStore::Dependencies{}};
    platform::ui::RecordingAnnouncer announcer;
    std::unique_ptr<AudioDeviceCatalog> catalog;
    std::unique_ptr<LivePartialHUD> hud;
    ScriptedPanel* panel = nullptr;
    LivePartialHUD::SelectionCallback pickerCallback;
};

TEST_F(LivePartialHUDTest, StartsHiddenWithTheInitialState) {
    auto& h = makeHud();
    EXPECT_FALSE(panel->visible);
    EXPECT_EQ(h.model().text.get(), "");
    EXPECT_EQ(h.model().amplitudes.toVector(), kZeros);
    EXPECT_EQ(h.model().currentInputDeviceName.get(), "");
    EXPECT_TRUE(h.model().availableInputDevices.get().empty());
    EXPECT_FALSE(h.onCancel);
    EXPECT_FALSE(h.onSelectInputDevice);
}

TEST_F(LivePartialHUDTest, ShowWorksOnALaterTurnAndWipesWhatWasSetBeforeIt) {
    auto& h = makeHud();
    h.show("Apple Speech");
    // The same turn as show: all of it is wiped by the deferred reset.
    h.updatePartial("too early");
    h.pushAmplitude(0.7f);
    h.showThrottleNotice("Slack");
    h.setSessionRemainingSeconds(42);
    EXPECT_FALSE(panel->visible) << "show returns before doing its work";
    EXPECT_EQ(h.model().text.get(), "too early");
    announcer.clear();

    main.runUntilIdle();
    const auto& m = h.model();
    EXPECT_EQ(m.engineName.get(), "Apple Speech");
    EXPECT_EQ(m.text.get(), "");
    EXPECT_EQ(m.amplitudes.toVector(), kZeros);
    EXPECT_EQ(m.throttleNotice.get(), std::nullopt);
    EXPECT_EQ(m.sessionRemainingSeconds.get(), std::nullopt);
    EXPECT_TRUE(panel->visible);
    // Top-right corner 24 inside the available area's top-right corner.
    ASSERT_TRUE(panel->topLeft);
    EXPECT_EQ(*panel->topLeft, (Point{1280 - 540 - 24, 32 + 24}));
    EXPECT_EQ(announcer.announcements(),
              (std::vector<platform::ui::RecordingAnnouncer::Announcement>{
                  {"Quon is listening", platform::ui::AnnouncementPriority::medium}}));
    const auto line = log->find("hud show:");
    ASSERT_TRUE(line);
    EXPECT_EQ(line->message, "hud show: panelHasFocus=false appActive=false");
    EXPECT_EQ(line->category, "hud");
    EXPECT_EQ(line->subsystem, "com.kelvatrum.Parlowen");
    EXPECT_EQ(line->level, platform::LogLevel::info);

    // Updates after the show stay.
    h.updatePartial("hello");
    EXPECT_EQ(m.text.get(), "hello");
}

TEST_F(LivePartialHUDTest, WithoutAScreenThePanelKeepsItsPosition) {
    auto& h = makeHud();
    panel->screen = std::nullopt;
    panel->topLeft = Point{10, 20};
    h.show("Groq");
    main.runUntilIdle();
    EXPECT_EQ(*panel->topLeft, (Point{10, 20}));
    EXPECT_TRUE(panel->visible);
}

TEST_F(LivePartialHUDTest, ShowDoesNothingOnceTheHUDIsGone) {
    makeHud().show("Apple Speech");
    hud.reset();
    main.runUntilIdle();
    EXPECT_TRUE(announcer.announcements().empty());
}

TEST_F(LivePartialHUDTest, TheMeterKeepsTheLast30LevelsAndHideResetsTheSessionOnly) {
    auto& h = makeHud();
    h.show("Apple Speech");
    main.runUntilIdle();
    for (int i = 1; i <= 31; ++i) h.pushAmplitude(static_cast<float>(i) / 100);
    std::vector<float> expected;
    for (int i = 2; i <= 31; ++i) expected.push_back(static_cast<float>(i) / 100);
    EXPECT_EQ(h.model().amplitudes.toVector(), expected);

    h.updatePartial("words");
    h.setSessionRemainingSeconds(12);
    panel->key = true;
    h.hide();
    const auto& m = h.model();
    EXPECT_FALSE(panel->visible);
    EXPECT_EQ(m.amplitudes.toVector(), kZeros);
    EXPECT_EQ(m.text.get(), "");
    EXPECT_EQ(m.sessionRemainingSeconds.get(), std::nullopt);
    EXPECT_EQ(m.engineName.get(), "Apple Speech");
    EXPECT_EQ(m.currentInputDeviceName.get(), "Built-in Microphone");
    EXPECT_EQ(m.availableInputDevices.get().size(), 3u);
    EXPECT_TRUE(log->contains("hud hide: wasFocused=true", platform::LogLevel::info));

    panel->key = false;
    h.hide();  // already hidden: harmless
    EXPECT_TRUE(log->contains("hud hide: wasFocused=false"));
}

TEST_F(LivePartialHUDTest, InModeOffOnlyTheHiddenModelChanges) {
    // The coordinator never calls show in mode off; levels and the countdown still arrive.
    auto& h = makeHud();
    h.pushAmplitude(0.4f);
    h.setSessionRemainingSeconds(20);
    EXPECT_FALSE(panel->visible);
    EXPECT_EQ(h.model().amplitudes.get().back(), 0.4f);
    EXPECT_EQ(h.model().sessionRemainingSeconds.get(), 20);
    h.hide();
    EXPECT_FALSE(panel->visible);
    EXPECT_EQ(h.model().amplitudes.toVector(), kZeros);
    EXPECT_EQ(h.model().sessionRemainingSeconds.get(), std::nullopt);
}

TEST_F(LivePartialHUDTest, ThrottleNoticeIsShownAnnouncedAndClearedOnlyByANonEmptyPartial) {
    auto& h = makeHud();
    h.show("Apple Speech");
    main.runUntilIdle();
    announcer.clear();
    h.showThrottleNotice("this app");
    const std::string notice = "this app blocks live preview \u2014 your text will appear when you release.";
    EXPECT_EQ(h.model().throttleNotice.get(), notice);
    ASSERT_EQ(announcer.announcements().size(), 1u);
    EXPECT_EQ(announcer.announcements()[0].text, notice);

    h.updatePartial("");
    EXPECT_EQ(h.model().throttleNotice.get(), notice) << "an empty partial keeps the notice";
    h.updatePartial("finally");
    EXPECT_EQ(h.model().throttleNotice.get(), std::nullopt);
    EXPECT_EQ(h.model().text.get(), "finally");
}

TEST_F(LivePartialHUDTest, DeviceFieldsFollowTheStoredChoiceAndTheCatalogue) {
    struct Case {
        const char* what;
        std::optional<std::string> stored;
        std::optional<std::string> systemDefault;
        std::string name;
        bool bluetooth;
    };
    const std::vector<Case> cases{
        {"stored and connected (Bluetooth)", "bt-headset", "builtin-mic", "Headset", true},
        {"stored but not connected", "dock-mic", "bt-headset", "System default", false},
        {"nothing stored: the system default's name", std::nullopt, "bt-headset", "Headset", true},
        {"nothing stored, no system default", std::nullopt, std::nullopt, "System default", false},
        {"nothing stored, default not an input", std::nullopt, "gone", "System default", false},
    };
    auto& h = makeHud();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        preferences.preferredInputDeviceUID.set(c.stored);
        hardware.setDefault(platform::AudioScope::input, c.systemDefault);
        catalog->refresh();
        h.show("Apple Speech");
        main.runUntilIdle();
        EXPECT_EQ(h.model().currentInputDeviceUID.get(), c.stored) << "never the system default's UID";
        EXPECT_EQ(h.model().currentInputDeviceName.get(), c.name);
        EXPECT_EQ(h.model().currentInputIsBluetooth.get(), c.bluetooth);
        EXPECT_EQ(h.model().availableInputDevices.get(), catalog->inputDevices.get());
    }
}

TEST_F(LivePartialHUDTest, DeviceChangesDuringASessionWaitForTheNextShow) {
    auto& h = makeHud();
    h.show("Apple Speech");
    main.runUntilIdle();
    hardware.setDevices({{4, "new-mic", "New Mic", AudioTransport::usb, 1, 0}});
    hardware.announceChange();
    main.runUntilIdle();
    EXPECT_EQ(h.model().availableInputDevices.get().size(), 3u);
    h.show("Apple Speech");
    main.runUntilIdle();
    ASSERT_EQ(h.model().availableInputDevices.get().size(), 1u);
    EXPECT_EQ(h.model().currentInputDeviceName.get(), "System default");
}

TEST_F(LivePartialHUDTest, PickingRecordsTheUIDFirstAndLeavesNameAndFlagUntilTheNextShow) {
    auto& h = makeHud();
    h.show("Apple Speech");
    main.runUntilIdle();
    std::vector<std::optional<std::string>> picked;
    h.onSelectInputDevice = [&](const std::optional<std::string>& uid) {
        EXPECT_EQ(h.model().currentInputDeviceUID.get(), uid) << "the model holds the choice first";
        picked.push_back(uid);
    };
    h.model().selectInputDevice("bt-headset", pickerCallback);
    EXPECT_EQ(h.model().currentInputDeviceName.get(), "Built-in Microphone");
    EXPECT_FALSE(h.model().currentInputIsBluetooth.get());
    h.model().selectInputDevice(std::nullopt, pickerCallback);  // "System default"
    EXPECT_EQ(picked, (std::vector<std::optional<std::string>>{"bt-headset", std::nullopt}));

    // Without a callback installed the choice still shows in the picker.
    h.onSelectInputDevice = nullptr;
    h.model().selectInputDevice("usb-mic", pickerCallback);
    EXPECT_EQ(h.model().currentInputDeviceUID.get(), "usb-mic");
    // And once the HUD is gone the picker's callback does nothing.
    auto forward = pickerCallback;
    hud.reset();
    forward(std::optional<std::string>("usb-mic"));
}

TEST_F(LivePartialHUDTest, CloseAnswersAtOnceThenLogsAndCancelsOnALaterTurn) {
    auto& h = makeHud();
    h.show("Apple Speech");
    main.runUntilIdle();
    h.updatePartial("half a sentence");
    int cancels = 0;
    h.onCancel = [&] { ++cancels; };
    EXPECT_TRUE(h.windowShouldClose());
    EXPECT_EQ(cancels, 0);
    EXPECT_FALSE(log->contains("hud close button pressed"));
    main.runUntilIdle();
    EXPECT_EQ(cancels, 1);
    const auto line = log->find("hud close button pressed");
    ASSERT_TRUE(line);
    EXPECT_EQ(line->message, "hud close button pressed \u2014 cancelling dictation session");
    EXPECT_EQ(h.model().text.get(), "half a sentence") << "closing keeps the model";

    // Nothing installed: the line is still logged, nothing else happens.
    h.onCancel = nullptr;
    log->clear();
    EXPECT_TRUE(h.windowShouldClose());
    main.runUntilIdle();
    EXPECT_TRUE(log->contains("hud close button pressed"));

    // The next show brings back the same panel.
    auto* before = panel;
    const int orders = panel->frontOrders;
    panel->orderOut();
    h.show("Apple Speech");
    main.runUntilIdle();
    EXPECT_EQ(&h.panel(), before);
    EXPECT_TRUE(panel->visible);
    EXPECT_EQ(panel->frontOrders, orders + 1);
    EXPECT_EQ(h.model().text.get(), "");
}

TEST(LivePartialHUDModel, CountdownChipByRemainingSeconds) {
    const Color accent = Color::rgb8(0xE8, 0xA0, 0x4C);
    struct Case {
        int seconds;
        CountdownChipColors colors;
    };
    const std::vector<Case> cases{
        {42, {accent.opacity(0.15), true, Color::white()}},
        {16, {accent.opacity(0.15), true, Color::white()}},
        {15, {LivePartialHUDModel::kOrange.opacity(0.85), false, Color::white()}},
        {6, {LivePartialHUDModel::kOrange.opacity(0.85), false, Color::white()}},
        {5, {LivePartialHUDModel::kRed.opacity(0.85), false, Color::white()}},
        {0, {LivePartialHUDModel::kRed.opacity(0.85), false, Color::white()}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.seconds);
        EXPECT_EQ(LivePartialHUDModel::countdownChipColors(c.seconds, accent), c.colors);
    }
    EXPECT_EQ(LivePartialHUDModel::countdownText(42), "42s");
    EXPECT_EQ(LivePartialHUDModel::countdownAccessibilityLabel(42), "42 seconds until Quon auto-saves your dictation");
}

TEST(LivePartialHUDModel, TranscriptTextsAndCharacterCount) {
    EXPECT_EQ(LivePartialHUDModel::transcriptText(""), "\u2026");
    EXPECT_EQ(LivePartialHUDModel::transcriptAccessibilityLabel(""), "Transcript will appear here");
    EXPECT_EQ(LivePartialHUDModel::transcriptText("hello there"), "hello there");
    EXPECT_EQ(LivePartialHUDModel::transcriptAccessibilityLabel("hello there"), "Transcript: hello there");
    EXPECT_EQ(LivePartialHUDModel::characterCountText("hello world!"), "12 chars");
    // e + combining acute accent is one character; so is a flag of two code points.
    EXPECT_EQ(LivePartialHUDModel::characterCountText("e\u0301"), "1 chars");
    EXPECT_EQ(LivePartialHUDModel::characterCountText("caf\u00e9 \U0001F1E9\U0001F1EA"), "6 chars");
}

TEST(AmplitudeRing, SubscribersSeeEveryChangeAndMayLeaveWhileBeingTold) {
    AmplitudeRing ring;
    std::vector<float> lastSeen;
    int calls = 0;
    platform::Subscription second;
    auto first = ring.subscribe([&](const AmplitudeRing::Levels& levels) {
        lastSeen.assign(levels.begin(), levels.end());
        if (++calls == 3) second.reset();  // leaves another subscriber mid-delivery
    });
    int secondCalls = 0;
    second = ring.subscribe([&](const AmplitudeRing::Levels&) { ++secondCalls; });
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(secondCalls, 1);
    ring.push(0.5f);
    ring.push(0.25f);  // the first subscriber ends the second one here
    ring.push(1.0f);
    EXPECT_EQ(secondCalls, 2);
    EXPECT_EQ(ring.subscriberCount(), 1u);
    EXPECT_EQ(lastSeen.size(), 30u);
    EXPECT_EQ(lastSeen[27], 0.5f);
    EXPECT_EQ(lastSeen[29], 1.0f);
    first.reset();
    ring.reset();
    EXPECT_EQ(calls, 4);
}

}  // namespace
}  // namespace parlowen
