#include <gtest/gtest.h>

#include "Parlowen/dictation/MicSelector.h"

namespace parlowen {
namespace {

using Device = AudioDeviceCatalog::Device;
using platform::AudioTransport;

const Device kBuiltIn{1, "builtin-mic", "MacBook Microphone", AudioTransport::builtIn};
const Device kHeadset{7, "bt-headset", "Headset", AudioTransport::bluetooth};
const Device kUsb{9, "usb-mic", "Yeti", AudioTransport::usb};

std::vector<std::string> labels(const std::vector<MicSelectorRow>& rows) {
    std::vector<std::string> out;
    for (const auto& r : rows) out.push_back(r.label);
    return out;
}

TEST(MicSelector, DeviceLabelMarksOnlyBluetoothDevices) {
    EXPECT_EQ(MicSelector::deviceLabel(kHeadset), "Headset \u2014 Bluetooth \u2014 slower startup");
    for (const auto transport : {AudioTransport::builtIn, AudioTransport::usb, AudioTransport::other})
        EXPECT_EQ(MicSelector::deviceLabel({3, "x", "Plain", transport}), "Plain");
}

TEST(MicSelector, RowsOfferSystemDefaultTheDevicesAndASavedDeviceThatIsNotConnected) {
    const std::vector<Device> devices{kBuiltIn, kHeadset, kUsb};
    struct Case {
        const char* what;
        std::optional<std::string> current;
        std::vector<std::string> labels;
        std::optional<std::size_t> selected;
    };
    const std::vector<Case> cases{
        {"no choice: system default selected", std::nullopt,
         {"System default", "MacBook Microphone", "Headset \u2014 Bluetooth \u2014 slower startup", "Yeti"},
         0},
        {"a connected choice adds no row", "usb-mic",
         {"System default", "MacBook Microphone", "Headset \u2014 Bluetooth \u2014 slower startup", "Yeti"},
         3},
        {"a choice that is not connected is kept, last and selected", "old-dock-mic",
         {"System default", "MacBook Microphone", "Headset \u2014 Bluetooth \u2014 slower startup", "Yeti",
          "Saved device (not connected)"},
         4},
        {"the UID must match exactly", "USB-MIC",
         {"System default", "MacBook Microphone", "Headset \u2014 Bluetooth \u2014 slower startup", "Yeti",
          "Saved device (not connected)"},
         4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto rows = MicSelector::rows(c.current, devices);
        EXPECT_EQ(labels(rows), c.labels);
        EXPECT_EQ(MicSelector::selectedRow(rows, MicSelector::selection(c.current)), c.selected);
    }
    const auto rows = MicSelector::rows("old-dock-mic", devices);
    EXPECT_EQ(rows[0].value, "");
    EXPECT_EQ(rows[2], (MicSelectorRow{"Headset \u2014 Bluetooth \u2014 slower startup", "bt-headset", 7}));
    EXPECT_EQ(rows[4].value, "old-dock-mic");
    EXPECT_EQ(rows[4].deviceID, std::nullopt);
}

TEST(MicSelector, ChoosingSystemDefaultPassesNoUID) {
    EXPECT_EQ(MicSelector::choice(""), std::nullopt);
    EXPECT_EQ(MicSelector::choice("usb-mic"), "usb-mic");
}

TEST(MicSelector, SymbolAndHelpFollowTheBluetoothFlag) {
    EXPECT_EQ(MicSelector::symbolName(true), "headphones");
    EXPECT_EQ(MicSelector::helpText(true),
              "Bluetooth mics take ~1s to wake up each session. Pick a wired or built-in mic for instant startup. "
              "Change applies on the next dictation.");
    EXPECT_EQ(MicSelector::symbolName(false), "mic.fill");
    EXPECT_EQ(MicSelector::helpText(false), "Change applies on the next dictation press.");
    EXPECT_EQ(MicSelector::accessibilityLabel("Yeti"), "Select microphone. Current: Yeti");
}

}  // namespace
}  // namespace parlowen
