// The catalogue and the capture on a private PulseAudio server with the null
// sink "ci_null" (device.bus=usb) and the null source "ci_mic".

#include <gtest/gtest.h>

#include <atomic>

#include "Parlowen/dictation/AudioCapture.h"
#include "Parlowen/dictation/AudioDeviceCatalog.h"
#include "platform/audio/PulseAudio.h"
#include "platform/defaults/InMemoryUserDefaults.h"
#include "platform/runtime/ManualExecutor.h"
#include "platform/testsupport/Services.h"

using namespace parlowen;
using namespace std::chrono_literals;

namespace {

std::optional<AudioDeviceCatalog::Device> find(const std::vector<AudioDeviceCatalog::Device>& list,
                                               const std::string& uid) {
    for (const auto& d : list)
        if (d.uid == uid) return d;
    return std::nullopt;
}

TEST(AudioOnPulseAudio, CatalogueListsTheServerAndFollowsANewSink) {
    testsupport::PulseAudioServer server;
    PARLOWEN_REQUIRE_OR_SKIP(server.start());
    platform::PulseAudio pulse(server.environment());
    platform::ManualExecutor main;
    AudioDeviceCatalog catalog(pulse, main);

    auto sink = find(catalog.outputDevices(), "ci_null");
    ASSERT_TRUE(sink);
    EXPECT_EQ(sink->name, "CI_Null_Sink");
    EXPECT_EQ(sink->transport, AudioDeviceCatalog::TransportType::usb);
    auto mic = find(catalog.inputDevices(), "ci_mic");
    ASSERT_TRUE(mic);
    EXPECT_EQ(mic->transport, AudioDeviceCatalog::TransportType::other);
    EXPECT_FALSE(find(catalog.inputDevices(), "ci_null"));
    EXPECT_FALSE(find(catalog.inputDevices(), "ci_null.monitor"));
    EXPECT_EQ(catalog.systemDefaultOutputUID(), "ci_null");

    auto loaded = server.run({"pactl", "load-module", "module-null-sink", "sink_name=second",
                              "sink_properties=\"device.description=Second device.bus=bluetooth\""});
    ASSERT_TRUE(loaded.ok()) << loaded.describe();
    // Nobody calls refresh: the server's event does.
    ASSERT_TRUE(main.runUntil([&] { return catalog.deviceName("second").has_value(); }, 3000ms));
    EXPECT_EQ(find(catalog.outputDevices(), "second")->transport, AudioDeviceCatalog::TransportType::bluetooth);
    EXPECT_EQ(catalog.deviceName("second"), "Second");
}

TEST(AudioOnPulseAudio, CaptureRoutesToThePreferredMicrophone) {
    testsupport::PulseAudioServer server;
    PARLOWEN_REQUIRE_OR_SKIP(server.start());
    platform::PulseAudio pulse(server.environment());
    platform::ManualExecutor main;
    platform::InMemoryUserDefaults defaults;
    defaults.set(AudioCapture::kPreferredInputDeviceKey, "ci_mic");
    auto engine = pulse.makeInputEngine();
    auto* input = engine.get();
    AudioCapture capture(std::move(engine), pulse, defaults, main);
    std::atomic<int> buffers{0}, silent{0};
    capture.setOnBuffer([&](const platform::PcmBuffer& b) {
        if (b.frameLength() == AudioCapture::kTapBufferFrames) ++buffers;
    });
    capture.setOnAmplitude([&](float level) {
        if (level == 0.0f) ++silent;  // a null source records silence
    });
    ASSERT_TRUE(capture.start());
    ASSERT_TRUE(main.runUntil([&] { return buffers >= 3; }, 3000ms));
    EXPECT_GE(silent.load(), 3);
    capture.stop();
    EXPECT_FALSE(input->isRunning());
    auto mic = AudioDeviceCatalog::deviceID(pulse, "ci_mic");
    ASSERT_TRUE(mic);
    EXPECT_EQ(pulse.sourceName(*mic), "ci_mic");
}

}  // namespace
