#include <gtest/gtest.h>

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>

#include "Parlowen/dictation/views/MicSelectorButton.h"
#include "Parlowen/shell/views/ThemePalette.h"
#include "platform/ui/Finders.h"
#include "platform/ui/MenuPicker.h"
#include "platform/ui/ScreenshotTesting.h"
#include "platform/ui/ThemeScope.h"

namespace parlowen {
namespace {

using Device = AudioDeviceCatalog::Device;
using platform::AudioTransport;
using platform::ui::findNamed;
using platform::ui::isShownWithSize;

const std::filesystem::path kShots = PARLOWEN_SCREENSHOT_DIR;

const std::vector<Device> kDevices{
    {1, "builtin", "Built-in Microphone", AudioTransport::builtIn},
    {2, "bt", "AirPods Pro", AudioTransport::bluetooth},
    {3, "usb", "Yeti", AudioTransport::usb},
};

// The picker in a themed window, as its owners show it.
struct Host {
    explicit Host(MicSelectorButton::Fields fields) {
        platform::ui::ThemeScope::apply(&window, hearthPalette());
        auto* row = new QHBoxLayout(&window);
        row->addWidget(new QLabel(QStringLiteral("before")));
        picker = new MicSelectorButton(std::move(fields));
        row->addWidget(picker);
        window.resize(420, 60);
        window.show();
        platform::ui::testing::settle();
    }
    QWidget window;
    MicSelectorButton* picker;
};

MicSelectorButton::Fields fields(MicSelectorStyle style, std::optional<std::string> uid = std::nullopt,
                                 std::vector<Device> devices = kDevices) {
    return {uid, "Built-in Microphone", false, std::move(devices), hearthPalette().accent, nullptr, style};
}

QStringList menuRows(platform::ui::MenuPicker* menu) {
    QStringList out;
    for (int i = 0; i < menu->count(); ++i) out << menu->itemText(i);
    return out;
}

TEST(MicSelectorButton, DrawsNothingWithoutDevicesInEitherStyle) {
    for (const auto style : {MicSelectorStyle::chip, MicSelectorStyle::button}) {
        Host host(fields(style, std::nullopt, {}));
        EXPECT_FALSE(isShownWithSize(host.picker));
        // Devices arrive: it appears.
        auto f = fields(style);
        host.picker->setFields(f);
        platform::ui::testing::settle();
        EXPECT_TRUE(isShownWithSize(host.picker));
        EXPECT_TRUE(isShownWithSize(findNamed(host.picker, "symbol")));
        EXPECT_TRUE(isShownWithSize(host.picker->menu()));
    }
}

TEST(MicSelectorButton, MenuRowsSelectionAndChoices) {
    std::vector<std::optional<std::string>> chosen;
    auto f = fields(MicSelectorStyle::chip, "dock-mic");
    f.onSelect = [&](const std::optional<std::string>& uid) { chosen.push_back(uid); };
    Host host(f);
    auto* menu = host.picker->menu();
    EXPECT_EQ(menuRows(menu), (QStringList{"System default", "Built-in Microphone",
                                           "AirPods Pro \u2014 Bluetooth \u2014 slower startup", "Yeti",
                                           "Saved device (not connected)"}));
    EXPECT_EQ(menu->currentEntry(), 4) << "the saved device stays selected";

    menu->choose(3);
    menu->choose(0);
    EXPECT_EQ(chosen, (std::vector<std::optional<std::string>>{"usb", std::nullopt}));

    // No choice: "System default" selected; a connected choice adds no row.
    host.picker->setFields(fields(MicSelectorStyle::chip));
    EXPECT_EQ(menu->currentEntry(), 0);
    host.picker->setFields(fields(MicSelectorStyle::chip, "bt"));
    EXPECT_EQ(menu->count(), 4);
    EXPECT_EQ(menu->currentEntry(), 2);
}

TEST(MicSelectorButton, HelpAndAccessibilityFollowTheDeviceInUse) {
    auto f = fields(MicSelectorStyle::chip, "bt");
    f.currentDeviceName = "AirPods Pro";
    f.currentIsBluetooth = true;
    Host host(f);
    EXPECT_EQ(host.picker->menu()->toolTip().toStdString(), MicSelector::helpText(true));
    EXPECT_EQ(host.picker->menu()->accessibleName(), "Select microphone. Current: AirPods Pro");
    host.picker->setFields(fields(MicSelectorStyle::chip));
    EXPECT_EQ(host.picker->menu()->toolTip(), "Change applies on the next dictation press.");
    EXPECT_FALSE(findNamed(host.picker, "deviceName")->isVisible()) << "the chip shows no name";
}

TEST(MicSelectorButton, ButtonStyleCutsALongNameInTheMiddleOnOneLine) {
    auto f = fields(MicSelectorStyle::button);
    f.currentDeviceName = "Extremely Long Conference Room Microphone Array Model 3000 Left";
    Host host(f);
    host.window.resize(260, 60);
    platform::ui::testing::settle();
    auto* name = findNamed<QLabel>(host.picker, "deviceName");
    ASSERT_TRUE(name && name->isVisible());
    const QString shown = host.picker->shownDeviceName();
    EXPECT_NE(shown.toStdString(), f.currentDeviceName);
    EXPECT_TRUE(shown.contains(QChar(0x2026))) << shown.toStdString();
    EXPECT_TRUE(shown.startsWith(QStringLiteral("Ex"))) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith(QStringLiteral("ft"))) << shown.toStdString();
    EXPECT_LE(name->height(), name->fontMetrics().height() + 4) << "one line";
    EXPECT_EQ(name->accessibleName().toStdString(), f.currentDeviceName);

    platform::ui::testing::expectScreenshot(&host.window, kShots / "mic-selector-button.png",
                                            {"micSelector/symbol", "micSelector/deviceName", "micSelector/menu"});
}

}  // namespace
}  // namespace parlowen
