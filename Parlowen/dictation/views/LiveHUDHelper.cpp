// Shows the live-transcript panel on a real display, the way a dictation
// does, for the desktop test and for trying the panel by hand:
//
//   live_hud_helper <screenshot folder> [--theme hearth|summit|alpineDawn|dusk|chestnut]
//                   [--reduce-motion] [--notice] [--stored-uid UID]
//
// It shows the panel with a partial transcript, levels and a 42-second
// countdown, writes "panel.png", "picker-chip.png", "picker-button.png" and
// "desktop.png" to the folder, and prints
//   shown window=<id> x=<x> y=<y> w=<w> h=<h> area=<x>,<y>,<w>,<h> close=<x>,<y> key=<0|1> appActive=<0|1>
// When the close button cancels the session it prints "cancel", shows the
// panel again half a second later and prints "reshown window=<id>". It runs
// until it is ended.

#include <QApplication>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "Parlowen/dictation/views/LivePartialHUDContent.h"
#include "Parlowen/dictation/views/LivePartialHUDPanel.h"
#include "Parlowen/dictation/views/MicSelectorButton.h"
#include "Parlowen/shell/settings/PreferencesStore.h"
#include "Parlowen/shell/views/ThemePalette.h"
#include "platform/audio/AudioHardware.h"
#include "platform/defaults/InMemoryUserDefaults.h"
#include "platform/runtime/QtMainExecutor.h"
#include "platform/testsupport/OnDisplay.h"
#include "platform/ui/FloatingPanel.h"
#include "platform/ui/LinuxAnnouncer.h"
#include "platform/ui/ReduceMotion.h"
#include "platform/ui/ThemeScope.h"

namespace {

using namespace parlowen;

void say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

// Runs the event loop for a while (the window manager acts meanwhile).
void settleFor(std::chrono::milliseconds time) {
    testsupport::pumpUntil([] { return false; }, time);
}

void save(const QPixmap& pixmap, const std::filesystem::path& file) {
    std::filesystem::create_directories(file.parent_path());
    pixmap.save(QString::fromStdString(file.string()), "PNG");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <screenshot folder> [--theme NAME] [--reduce-motion] [--notice] [--stored-uid UID]\n",
                     argv[0]);
        return 64;
    }
    const std::filesystem::path shots = argv[1];
    std::optional<Theme> theme;
    std::optional<std::string> storedUID;
    bool reduceMotion = false, notice = false;
    for (int i = 2; i < argc; ++i) {
        const std::string flag = argv[i];
        if (flag == "--theme" && i + 1 < argc) theme = fromRawValue<Theme>(argv[++i]);
        else if (flag == "--stored-uid" && i + 1 < argc) storedUID = argv[++i];
        else if (flag == "--reduce-motion") reduceMotion = true;
        else if (flag == "--notice") notice = true;
    }

    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    platform::QtMainExecutor main;
    platform::InMemoryUserDefaults defaults;
    PreferencesStore preferences(defaults, PreferencesStore::Dependencies{});
    if (theme) preferences.selectedTheme.set(*theme);
    if (storedUID) preferences.preferredInputDeviceUID.set(storedUID);

    platform::FakeAudioHardware hardware;
    hardware.setDevices({
        {1, "alsa_card.pci-0000_00_1f.3", "Built-in Audio Analog Stereo", platform::AudioTransport::builtIn, 2, 2},
        {2, "bluez_card.AA_BB_CC_DD_EE_FF", "AirPods Pro", platform::AudioTransport::bluetooth, 1, 2},
        {3, "alsa_card.usb-Blue_Yeti", "Yeti Stereo Microphone", platform::AudioTransport::usb, 2, 0},
    });
    hardware.setDefault(platform::AudioScope::input, "alsa_card.pci-0000_00_1f.3");
    AudioDeviceCatalog catalog(hardware, main);
    platform::ui::LinuxAnnouncer announcer(platform::Logger("com.kelvatrum.Parlowen", "hud"));
    platform::ui::ReduceMotionSwitch motion(reduceMotion);

    LivePartialHUD hud(preferences, catalog, main, announcer, qtLivePartialHUDPanel(motion));
    LivePartialHUDWindow& window = qtWindowOf(hud);
    const auto id = [&] { return std::to_string(window.panel().winId()); };

    hud.onSelectInputDevice = [](const std::optional<std::string>& uid) { say("picked=" + uid.value_or("")); };
    hud.onCancel = [&] {
        say("cancel");
        QTimer::singleShot(500, [&] {
            hud.show("Apple Speech");
            QTimer::singleShot(0, [&] {
                testsupport::pumpUntil([&] { return window.isVisible(); }, std::chrono::seconds(3));
                say("reshown window=" + id() + " visible=" + (window.isVisible() ? "1" : "0"));
            });
        });
    };

    hud.show("Apple Speech");
    testsupport::pumpUntil([&] { return window.isVisible(); }, std::chrono::seconds(5));
    // What a dictation sends while the user speaks.
    hud.updatePartial("Hello from the live transcript panel \u2014 this is what Quon has heard so far, "
                      "and the newest words stay in view.");
    for (int i = 0; i < 30; ++i) hud.pushAmplitude(0.5f + 0.45f * static_cast<float>(std::sin(i * 0.55)));
    hud.setSessionRemainingSeconds(42);
    if (notice) hud.showThrottleNotice("Slack");
    // Give the window manager time to act on the new window.
    settleFor(std::chrono::milliseconds(1200));

    auto& content = window.content();
    save(window.panel().grab(), shots / "panel.png");
    save(content.micSelector()->grab(), shots / "picker-chip.png");
    {
        QWidget holder;
        platform::ui::ThemeScope::apply(&holder, parlowen::palette(preferences.selectedTheme.get()));
        holder.setAutoFillBackground(true);
        auto* box = new QVBoxLayout(&holder);
        box->setContentsMargins(8, 8, 8, 8);
        box->addWidget(new MicSelectorButton({
            .currentDeviceUID = "bluez_card.AA_BB_CC_DD_EE_FF",
            .currentDeviceName = "AirPods Pro",
            .currentIsBluetooth = true,
            .availableDevices = catalog.inputDevices.get(),
            .accent = parlowen::palette(preferences.selectedTheme.get()).accent,
            .onSelect = nullptr,
            .style = MicSelectorStyle::button,
        }));
        holder.setAttribute(Qt::WA_DontShowOnScreen);
        holder.show();
        settleFor(std::chrono::milliseconds(200));
        save(holder.grab(), shots / "picker-button.png");
    }
    if (QScreen* screen = QGuiApplication::primaryScreen()) save(screen->grabWindow(0), shots / "desktop.png");

    const QRect g = window.panel().frameGeometry();
    const QRect area = QGuiApplication::primaryScreen() ? QGuiApplication::primaryScreen()->availableGeometry() : QRect();
    QWidget* close = content.findChild<QWidget*>(QStringLiteral("closeButton"));
    const QPoint c = close ? close->mapToGlobal(close->rect().center()) : QPoint();
    char line[512];
    std::snprintf(line, sizeof line, "shown window=%s x=%d y=%d w=%d h=%d area=%d,%d,%d,%d close=%d,%d key=%d appActive=%d",
                  id().c_str(), g.x(), g.y(), g.width(), g.height(), area.x(), area.y(), area.width(), area.height(),
                  c.x(), c.y(), window.isKeyWindow() ? 1 : 0, window.applicationIsActive() ? 1 : 0);
    say(line);
    return app.exec();
}
