#include <gtest/gtest.h>

#include <thread>

#include "Parlowen/dictation/AudioDeviceCatalog.h"
#include "platform/log/CaptureSink.h"
#include "platform/runtime/ManualExecutor.h"

using namespace parlowen;
using platform::AudioDeviceRecord;
using platform::AudioTransport;

namespace {

AudioDeviceRecord device(platform::AudioDeviceID id, std::string uid, std::string name, AudioTransport t,
                         std::uint32_t in, std::uint32_t out) {
    return {id, std::move(uid), std::move(name), t, in, out};
}

std::vector<std::string> names(const std::vector<AudioDeviceCatalog::Device>& list) {
    std::vector<std::string> out;
    for (const auto& d : list) out.push_back(d.name);
    return out;
}

TEST(AudioDeviceCatalog, ListsReadableDevicesByNameWithAHeadsetInBothLists) {
    platform::ManualExecutor main;
    platform::FakeAudioHardware hw;
    AudioDeviceRecord noUID = device(9, "", "Ghost", AudioTransport::usb, 1, 1);
    noUID.uid.reset();
    AudioDeviceRecord noName = device(10, "nameless", "", AudioTransport::usb, 1, 0);
    noName.name.reset();
    hw.setDevices({
        device(1, "zeta-mic", "Zeta", AudioTransport::builtIn, 1, 0),
        noUID,
        device(2, "usb-headset", "Beta", AudioTransport::usb, 1, 2),
        noName,
        device(3, "alpha-out", "alpha", AudioTransport::other, 0, 2),
        device(4, "alpha-in", "alpha", AudioTransport::bluetooth, 1, 0),
        device(5, "empty-name", "", AudioTransport::other, 1, 0),
    });
    hw.setDefault(platform::AudioScope::input, "usb-headset");
    hw.setDefault(platform::AudioScope::output, "alpha-out");
    AudioDeviceCatalog catalog(hw, main);

    EXPECT_EQ(names(catalog.inputDevices()), (std::vector<std::string>{"alpha", "Beta", "Zeta"}));
    EXPECT_EQ(names(catalog.outputDevices()), (std::vector<std::string>{"alpha", "Beta"}));
    // One headset, the same record in both lists.
    const AudioDeviceCatalog::Device headset{2, "usb-headset", "Beta", AudioTransport::usb};
    EXPECT_EQ(catalog.inputDevices()[1], headset);
    EXPECT_EQ(catalog.outputDevices()[1], headset);
    EXPECT_EQ(catalog.systemDefaultInputUID(), "usb-headset");
    EXPECT_EQ(catalog.systemDefaultOutputUID(), "alpha-out");

    EXPECT_EQ(catalog.deviceName("alpha-out"), "alpha");  // output only
    EXPECT_EQ(catalog.deviceName("nameless"), std::nullopt);
    EXPECT_EQ(catalog.deviceName("nope"), std::nullopt);
    EXPECT_EQ(rawValue(AudioTransport::builtIn), "builtIn");
    EXPECT_EQ(transportTypeFromRawValue("bluetooth"), AudioTransport::bluetooth);
    EXPECT_EQ(transportTypeFromRawValue("Bluetooth"), std::nullopt);
}

TEST(AudioDeviceCatalog, EqualNamesKeepTheHardwareOrder) {
    platform::ManualExecutor main;
    platform::FakeAudioHardware hw;
    hw.setDevices({device(7, "b", "Mic", AudioTransport::usb, 1, 0), device(3, "a", "mic", AudioTransport::usb, 1, 0)});
    AudioDeviceCatalog catalog(hw, main);
    ASSERT_EQ(catalog.inputDevices().size(), 2u);
    EXPECT_EQ(catalog.inputDevices()[0].uid, "b");
    EXPECT_EQ(catalog.inputDevices()[1].uid, "a");
}

TEST(AudioDeviceCatalog, HotPlugRefreshesOnTheMainExecutorWithoutBeingAsked) {
    platform::ManualExecutor main;
    platform::FakeAudioHardware hw;
    hw.setDevices({device(1, "builtin", "MacBook Microphone", AudioTransport::builtIn, 1, 0),
                   device(2, "usb-mic", "USB Mic", AudioTransport::usb, 1, 0)});
    hw.setDefault(platform::AudioScope::input, "usb-mic");
    AudioDeviceCatalog catalog(hw, main);
    std::vector<std::size_t> seen;
    auto sub = catalog.inputDevices.stream().dropFirst().subscribe([&](const auto& list) { seen.push_back(list.size()); });

    // Unplugged: the fresh lookup knows at once, the published lists after the refresh.
    hw.setDevices({device(1, "builtin", "MacBook Microphone", AudioTransport::builtIn, 1, 0)});
    hw.setDefault(platform::AudioScope::input, "builtin");
    EXPECT_EQ(AudioDeviceCatalog::deviceID(hw, "usb-mic"), std::nullopt);
    EXPECT_EQ(AudioDeviceCatalog::deviceID(hw, "builtin"), 1u);
    EXPECT_EQ(catalog.inputDevices().size(), 2u);

    std::thread([&] { hw.announceChange(); }).join();  // from the hardware's own thread
    EXPECT_EQ(catalog.inputDevices().size(), 2u);          // nothing until the main executor runs
    main.runUntilIdle();
    EXPECT_EQ(names(catalog.inputDevices()), std::vector<std::string>{"MacBook Microphone"});
    EXPECT_EQ(catalog.systemDefaultInputUID(), "builtin");
    EXPECT_EQ(seen, std::vector<std::size_t>{1});

    // Two notices, two refreshes.
    hw.announceChange();
    hw.announceChange();
    main.runUntilIdle();
    EXPECT_EQ(seen.size(), 3u);
}

TEST(AudioDeviceCatalog, AnUnreadableDeviceListGivesEmptyListsAndAGoneCatalogIgnoresNotices) {
    platform::ManualExecutor main;
    platform::FakeAudioHardware hw;
    hw.setFailing(true);
    {
        AudioDeviceCatalog catalog(hw, main);
        EXPECT_TRUE(catalog.inputDevices().empty());
        EXPECT_EQ(AudioDeviceCatalog::deviceID(hw, "x"), std::nullopt);
        hw.announceChange();
    }
    const int reads = hw.deviceReads();
    main.runUntilIdle();  // the refresh posted before the catalogue went does nothing
    EXPECT_EQ(hw.deviceReads(), reads);
}

// A sound server without a microphone may name the monitor of an output as
// its default source: that must read as "no input", never as a microphone.
TEST(AudioDeviceCatalog, ADefaultThatIsNoListedInputMeansNoInput) {
    platform::ManualExecutor main;
    platform::FakeAudioHardware hw;
    hw.setDevices({device(1, "speakers", "Speakers", AudioTransport::builtIn, 0, 2)});
    hw.setDefault(platform::AudioScope::input, "speakers.monitor");
    hw.setDefault(platform::AudioScope::output, "speakers");
    AudioDeviceCatalog catalog(hw, main);
    EXPECT_TRUE(catalog.inputDevices().empty());
    EXPECT_EQ(catalog.systemDefaultInputUID(), std::nullopt);
    EXPECT_EQ(catalog.systemDefaultOutputUID(), "speakers");

    // A microphone arrives and becomes the default.
    hw.setDevices({device(1, "speakers", "Speakers", AudioTransport::builtIn, 0, 2),
                   device(2, "usb-mic", "USB Mic", AudioTransport::usb, 1, 0)});
    hw.setDefault(platform::AudioScope::input, "usb-mic");
    hw.announceChange();
    main.runUntilIdle();
    EXPECT_EQ(catalog.systemDefaultInputUID(), "usb-mic");
}

TEST(AudioDeviceCatalog, ARejectedDeviceIsLoggedAndTheNodeKeepsItsDevice) {
    platform::ScopedLogCapture logs;
    platform::FakeAudioInputEngine node;
    node.addDevice(4, platform::PcmFormat::float32(44100, 1));
    AudioDeviceCatalog::setCurrentDevice(4, node);
    AudioDeviceCatalog::setCurrentDevice(99, node);
    EXPECT_EQ(node.currentDevice(), 4u);
    auto line = logs->find("AudioUnitSetProperty CurrentDevice failed: -10851", platform::LogLevel::error);
    ASSERT_TRUE(line);
    EXPECT_EQ(line->category, "audio.devices");
}

}  // namespace
