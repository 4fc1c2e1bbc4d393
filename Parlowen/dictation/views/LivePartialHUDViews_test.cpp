#include <gtest/gtest.h>

#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QToolButton>

#include "Parlowen/dictation/views/LivePartialHUDContent.h"
#include "Parlowen/dictation/views/LivePartialHUDPanel.h"
#include "Parlowen/dictation/views/MicSelectorButton.h"
#include "Parlowen/shell/settings/PreferencesStore.h"
#include "Parlowen/shell/views/ThemePalette.h"
#include "Parlowen/shell/views/WaveformBarView.h"
#include "platform/defaults/InMemoryUserDefaults.h"
#include "platform/log/CaptureSink.h"
#include "platform/runtime/ManualExecutor.h"
#include "platform/ui/Animations.h"
#include "platform/ui/Finders.h"
#include "platform/ui/FloatingPanel.h"
#include "platform/ui/MenuPicker.h"
#include "platform/ui/RecordingAnnouncer.h"
#include "platform/ui/ReduceMotion.h"
#include "platform/ui/ScreenshotTesting.h"

namespace parlowen {
namespace {

using platform::AudioTransport;
using platform::ui::findNamed;
using platform::ui::isShownWithSize;

const std::filesystem::path kShots = PARLOWEN_SCREENSHOT_DIR;

struct HudViews : ::testing::Test {
    HudViews() {
        hardware.setDevices({
            {1, "builtin", "Built-in Microphone", AudioTransport::builtIn, 1, 0},
            {2, "bt", "AirPods Pro", AudioTransport::bluetooth, 1, 2},
        });
        hardware.setDefault(platform::AudioScope::input, "builtin");
        catalog.refresh();
    }

    void shown(const std::string& engine = "Apple Speech") {
        hud.show(engine);
        main.runUntilIdle();
        platform::ui::testing::settle();
    }
    QWidget* child(std::string_view name) { return findNamed(&window().panel(), name); }
    LivePartialHUDWindow& window() { return qtWindowOf(hud); }
    LivePartialHUDContent& content() { return window().content(); }
    QString labelText(std::string_view name) { return findNamed<QLabel>(&window().panel(), name)->text(); }

    platform::ui::AnimationsOff noAnimations;
    platform::ScopedLogCapture log;
    platform::ManualExecutor main;
    platform::FakeAudioHardware hardware;
    platform::InMemoryUserDefaults defaults;
    PreferencesStore preferences{defaults, PreferencesStore::Dependencies{}};
    platform::ui::RecordingAnnouncer announcer;
    platform::ui::ReduceMotionSwitch reduceMotion;
    AudioDeviceCatalog catalog{hardware, main};
    LivePartialHUD hud{preferences, catalog, main, announcer, qtLivePartialHUDPanel(reduceMotion)};
};

TEST_F(HudViews, APanelOfFixedSizeAtTheTopRightThatTakesNoFocus) {
    auto& panel = window().panel();
    EXPECT_FALSE(panel.isOnScreen());
    EXPECT_EQ(panel.windowTitle(), "Parlowen");
    EXPECT_TRUE(panel.windowFlags() & Qt::WindowDoesNotAcceptFocus);
    EXPECT_TRUE(panel.windowFlags() & Qt::WindowStaysOnTopHint);
    shown();
    EXPECT_TRUE(panel.isOnScreen());
    EXPECT_EQ(panel.size(), QSize(540, 200));
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(panel.geometry().right() + 1, area.right() + 1 - 24);
    EXPECT_EQ(panel.geometry().top(), area.top() + 24);
    EXPECT_TRUE(log->contains("hud show: panelHasFocus="));
}

TEST_F(HudViews, BeforeTheFirstPartialAndAfterIt) {
    shown();
    EXPECT_EQ(labelText("title"), "listening\u2026");
    EXPECT_EQ(labelText("transcriptText"), "\u2026");
    EXPECT_EQ(child("transcriptText")->accessibleName(), "Transcript will appear here");
    EXPECT_FALSE(isShownWithSize(child("characterCount")));
    EXPECT_FALSE(isShownWithSize(child("countdown")));
    EXPECT_FALSE(isShownWithSize(child("notice")));
    EXPECT_TRUE(isShownWithSize(child("meter")));
    EXPECT_EQ(child("mascot")->accessibleName(), "Quon is listening");

    hud.updatePartial("hello world!");
    platform::ui::testing::settle();
    EXPECT_EQ(labelText("transcriptText"), "hello world!");
    EXPECT_EQ(child("transcriptText")->accessibleName(), "Transcript: hello world!");
    EXPECT_TRUE(isShownWithSize(child("characterCount")));
    EXPECT_EQ(labelText("characterCount"), "12 chars");

    hud.pushAmplitude(0.9f);
    EXPECT_EQ(content().meter()->samples().size(), 30u);
    EXPECT_EQ(content().meter()->samples().back(), 0.9f);
}

TEST_F(HudViews, CountdownChipColoursAndLabel) {
    shown();
    const auto accent = hearthPalette().accent;
    struct Case {
        int seconds;
        platform::ui::Color background;
        bool secondary;
    };
    for (const Case& c : {Case{42, accent.opacity(0.15), true}, Case{16, accent.opacity(0.15), true},
                          Case{15, LivePartialHUDModel::kOrange.opacity(0.85), false},
                          Case{5, LivePartialHUDModel::kRed.opacity(0.85), false}}) {
        SCOPED_TRACE(c.seconds);
        hud.setSessionRemainingSeconds(c.seconds);
        platform::ui::testing::settle();
        ASSERT_TRUE(isShownWithSize(child("countdown")));
        EXPECT_EQ(content().countdown()->colors().background, c.background);
        EXPECT_EQ(content().countdown()->colors().secondaryForeground, c.secondary);
        EXPECT_EQ(content().countdown()->textLabel()->text().toStdString(), std::to_string(c.seconds) + "s");
        EXPECT_EQ(child("countdown")->accessibleName().toStdString(),
                  std::to_string(c.seconds) + " seconds until Quon auto-saves your dictation");
        if (!c.secondary) {
            EXPECT_EQ(content().countdown()->textLabel()->palette().color(QPalette::WindowText), QColor(Qt::white));
        }
    }
    hud.setSessionRemainingSeconds(std::nullopt);
    platform::ui::testing::settle();
    EXPECT_FALSE(isShownWithSize(child("countdown")));
}

TEST_F(HudViews, ReduceMotionRemovesTheMeterAndTheRowsBelowMoveUp) {
    shown();
    hud.showThrottleNotice("Slack");
    platform::ui::testing::settle();
    ASSERT_TRUE(isShownWithSize(child("notice")));
    EXPECT_EQ(labelText("noticeText"),
              "Slack blocks live preview \u2014 your text will appear when you release.");
    const int noticeTop = child("notice")->y();
    const int transcriptTop = child("transcript")->y();

    reduceMotion.set(true);
    platform::ui::testing::settle();
    EXPECT_FALSE(isShownWithSize(child("meter")));
    EXPECT_LT(child("notice")->y(), noticeTop);
    EXPECT_LT(child("transcript")->y(), transcriptTop);

    reduceMotion.set(false);
    platform::ui::testing::settle();
    EXPECT_TRUE(isShownWithSize(child("meter")));
}

TEST_F(HudViews, TheCloseButtonHidesAtOnceAndCancelsOnALaterTurn) {
    shown();
    int cancels = 0;
    hud.onCancel = [&] { ++cancels; };
    findNamed<QToolButton>(&window().panel(), "closeButton")->click();
    EXPECT_FALSE(window().isVisible());
    EXPECT_EQ(cancels, 0);
    main.runUntilIdle();
    EXPECT_EQ(cancels, 1);
    EXPECT_TRUE(log->contains("hud close button pressed \u2014 cancelling dictation session"));

    // A close request from the window manager takes the same path.
    shown();
    EXPECT_TRUE(window().isVisible());
    window().panel().close();
    EXPECT_FALSE(window().isVisible());
    main.runUntilIdle();
    EXPECT_EQ(cancels, 2);
}

TEST_F(HudViews, PickingInThePanelStoresTheUIDAndCallsBack) {
    preferences.preferredInputDeviceUID.set("gone-mic");
    shown();
    auto* picker = content().micSelector();
    ASSERT_TRUE(isShownWithSize(picker));
    EXPECT_EQ(picker->menu()->itemText(picker->menu()->count() - 1), "Saved device (not connected)");
    EXPECT_EQ(picker->menu()->accessibleName(), "Select microphone. Current: System default");

    std::vector<std::optional<std::string>> picked;
    hud.onSelectInputDevice = [&](const std::optional<std::string>& uid) { picked.push_back(uid); };
    ASSERT_EQ(picker->menu()->itemText(1), "AirPods Pro \u2014 Bluetooth \u2014 slower startup");
    picker->menu()->choose(1);
    EXPECT_EQ(hud.model().currentInputDeviceUID.get(), "bt");
    EXPECT_EQ(hud.model().currentInputDeviceName.get(), "System default") << "until the next show";
    picker->menu()->choose(0);
    EXPECT_EQ(picked, (std::vector<std::optional<std::string>>{"bt", std::nullopt}));
    EXPECT_EQ(content().micSelector()->menu()->currentEntry(), 0);
}

TEST_F(HudViews, NoDevicesLeaveThePickerOut) {
    hardware.setDevices({});
    catalog.refresh();
    shown();
    EXPECT_FALSE(isShownWithSize(content().micSelector()));
    EXPECT_TRUE(isShownWithSize(child("title")));
}

TEST_F(HudViews, FollowsTheSelectedThemeWithAScreenshotOfEach) {
    preferences.preferredInputDeviceUID.set("bt");  // the longest row is selected
    shown();
    hud.updatePartial("Hello from the live transcript panel \u2014 the newest words stay in view while Quon listens.");
    for (int i = 0; i < 30; ++i) hud.pushAmplitude(0.15f + 0.8f * static_cast<float>((i * 7) % 10) / 10);
    hud.setSessionRemainingSeconds(42);
    hud.showThrottleNotice("Slack");
    for (const Theme theme : allCases<Theme>()) {
        const std::string name(rawValue(theme));
        SCOPED_TRACE(name);
        preferences.selectedTheme.set(theme);
        EXPECT_EQ(content().accent(), parlowen::palette(theme).accent);
        EXPECT_EQ(window().panel().size(), QSize(540, 200)) << "the content fits the panel";
        platform::ui::testing::expectScreenshot(
            &window().panel(), kShots / ("live-hud-" + name + ".png"),
            {"mascot", "closeButton", "title", "micSelector/menu", "countdown", "characterCount", "meter", "notice",
             "transcript/transcriptText"});
    }
}

}  // namespace
}  // namespace parlowen
