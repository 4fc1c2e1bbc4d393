// The catalogue and the capture on a private PulseAudio server with the null
// sink "ci_null" (device.bus=usb) and the null source "ci_mic".

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <mutex>
#include <numbers>

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

// Captures through AudioCapture, with `preferred` as the preferred input,
// while half a second of a half-scale tone plays into the sink "ci_null";
// the loudest captured sample.
float peakCapturedWhileATonePlays(platform::PulseAudio& pulse, const std::string& preferred) {
    platform::ManualExecutor main;
    platform::InMemoryUserDefaults defaults;
    defaults.set(AudioCapture::kPreferredInputDeviceKey, preferred);
    auto engine = pulse.makeInputEngine();
    auto* input = engine.get();
    AudioCapture capture(std::move(engine), pulse, defaults, main);
    std::mutex mutex;
    float peak = 0;
    std::size_t frames = 0;
    capture.setOnBuffer([&](const platform::PcmBuffer& b) {
        std::lock_guard lock(mutex);
        frames += b.frameLength();
        for (std::uint32_t i = 0; i < b.frameLength(); ++i)
            peak = std::max(peak, std::abs(b.floatChannel(0)[i * b.stride()]));
    });
    if (!capture.start()) return -1;
    auto stream = pulse.openStream({std::string("ci_null"), 48000, 1});
    if (!stream) return -1;
    platform::PcmBuffer tone(platform::PcmFormat::float32(48000, 1), 24000);
    for (std::uint32_t i = 0; i < 24000; ++i)
        tone.setSample(0, i, 0.5f * static_cast<float>(std::sin(2 * std::numbers::pi * 1000 * i / 48000)));
    tone.setFrameLength(24000);
    std::atomic<bool> played{false};
    if (!(*stream)->schedule(std::move(tone), [&](platform::ScheduledBufferEnd) { played = true; }) ||
        !(*stream)->play())
        return -1;
    main.runUntil([&] { return played.load(); }, 5000ms);
    capture.stop();
    EXPECT_FALSE(input->isRunning());
    std::lock_guard lock(mutex);
    EXPECT_GT(frames, 10000u) << "too little was captured to judge";
    return peak;
}

// The fixture's default source is the monitor of "ci_null", which hears the
// tone; "ci_mic" hears nothing; "tone_mic" hears the tone too. Routing is
// seen in what arrives, both ways round.
TEST(AudioOnPulseAudio, CaptureRoutesToThePreferredMicrophone) {
    testsupport::PulseAudioServer server;
    PARLOWEN_REQUIRE_OR_SKIP(server.start());
    auto remapped = server.run({"pactl", "load-module", "module-remap-source", "source_name=tone_mic",
                                "master=ci_null.monitor"});
    ASSERT_TRUE(remapped.ok()) << remapped.describe();
    platform::PulseAudio pulse(server.environment());

    EXPECT_EQ(peakCapturedWhileATonePlays(pulse, "ci_mic"), 0.0f);

    auto chosen = server.run({"pactl", "set-default-source", "ci_mic"});
    ASSERT_TRUE(chosen.ok()) << chosen.describe();
    EXPECT_NEAR(peakCapturedWhileATonePlays(pulse, "tone_mic"), 0.5f, 0.05f);
    auto mic = AudioDeviceCatalog::deviceID(pulse, "tone_mic");
    ASSERT_TRUE(mic);
    EXPECT_EQ(pulse.sourceName(*mic), "tone_mic");
}

}  // namespace
