// The PulseAudio implementation against a private server with the null sink
// "ci_null" (device.bus=usb) and the null source "ci_mic".

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <numbers>

#include "platform/audio/PulseAudio.h"
#include "platform/testsupport/Services.h"

using namespace platform;
using namespace std::chrono_literals;

namespace {

const AudioDeviceRecord* byUID(const std::vector<AudioDeviceRecord>& list, const std::string& uid) {
    for (const auto& d : list)
        if (d.uid == uid) return &d;
    return nullptr;
}

// Waits in real time for another thread: these tests are about a server.
struct Latch {
    std::mutex mutex;
    std::condition_variable cv;
    int count = 0;
    // Notifies under the lock, so a waiter that returns may destroy the latch at once.
    void hit() {
        std::lock_guard lock(mutex);
        ++count;
        cv.notify_all();
    }
    bool waitFor(int n, std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex);
        return cv.wait_for(lock, timeout, [&] { return count >= n; });
    }
};

class PulseAudioTest : public ::testing::Test {
protected:
    void SetUp() override { PARLOWEN_REQUIRE_OR_SKIP(server.start()); }
    testsupport::PulseAudioServer server;
};

TEST_F(PulseAudioTest, ListsTheFixtureDevicesAndFollowsANewSink) {
    Latch changed;
    PulseAudio pulse(server.environment());
    auto devices = pulse.devices();
    ASSERT_TRUE(devices) << devices.error().description;

    const auto* sink = byUID(*devices, "ci_null");
    ASSERT_NE(sink, nullptr);
    EXPECT_EQ(sink->name, "CI_Null_Sink");
    EXPECT_EQ(sink->transport, AudioTransport::usb);  // from its device.bus property
    EXPECT_GT(sink->outputChannels, 0u);
    EXPECT_EQ(sink->inputChannels, 0u);  // its monitor is not an input

    const auto* mic = byUID(*devices, "ci_mic");
    ASSERT_NE(mic, nullptr);
    EXPECT_EQ(mic->transport, AudioTransport::other);  // no properties at all
    EXPECT_GT(mic->inputChannels, 0u);
    EXPECT_EQ(byUID(*devices, "ci_null.monitor"), nullptr);

    EXPECT_EQ(pulse.defaultDeviceUID(AudioScope::output), "ci_null");
    // The fixture's default source is the sink's monitor: not an input.
    EXPECT_EQ(pulse.defaultDeviceUID(AudioScope::input), std::nullopt);
    auto chosen = server.run({"pactl", "set-default-source", "ci_mic"});
    ASSERT_TRUE(chosen.ok()) << chosen.describe();
    EXPECT_EQ(pulse.defaultDeviceUID(AudioScope::input), "ci_mic");
    EXPECT_EQ(pulse.sourceName(mic->id), "ci_mic");
    EXPECT_EQ(pulse.sinkName(sink->id), "ci_null");

    auto sub = pulse.onChange([&] { changed.hit(); });
    auto loaded = server.run({"pactl", "load-module", "module-null-sink", "sink_name=second",
                              "sink_properties=device.description=Second_Sink"});
    ASSERT_TRUE(loaded.ok()) << loaded.describe();
    ASSERT_TRUE(changed.waitFor(1, 3000ms));
    auto after = pulse.devices();
    ASSERT_TRUE(after);
    ASSERT_NE(byUID(*after, "second"), nullptr);
    EXPECT_EQ(byUID(*after, "second")->name, "Second_Sink");
}

TEST_F(PulseAudioTest, CapturesFromTheMonitorTheToneTheOutputStreamPlays) {
    // What the callbacks touch outlives the stream and the input.
    std::mutex mutex;
    std::vector<float> captured;
    std::size_t buffers = 0;
    Latch played;
    std::vector<ScheduledBufferEnd> ends;
    PulseAudio pulse(server.environment());
    auto stream = pulse.openStream({std::string("ci_null"), 48000, 1});
    ASSERT_TRUE(stream) << stream.error().description;

    // The default source is the sink's monitor.
    auto input = pulse.makeInputEngine();
    const PcmFormat format = input->inputFormat();
    ASSERT_TRUE(format.isValid());
    input->installTap(1024, format, [&](const PcmBuffer& b) {
        std::lock_guard lock(mutex);
        ++buffers;
        EXPECT_EQ(b.frameLength(), 1024u);
        captured.insert(captured.end(), b.floatChannel(0), b.floatChannel(0) + b.frameLength());
    });
    ASSERT_TRUE(input->start());
    EXPECT_TRUE(input->isRunning());

    // Half a second of 1 kHz at half scale, in two buffers.
    for (int part = 0; part < 2; ++part) {
        PcmBuffer tone(PcmFormat::float32(48000, 1), 12000);
        for (std::uint32_t i = 0; i < 12000; ++i)
            tone.setSample(0, i, 0.5f * static_cast<float>(std::sin(2 * std::numbers::pi * 1000 * (part * 12000 + i) / 48000)));
        tone.setFrameLength(12000);
        ASSERT_TRUE((*stream)->schedule(std::move(tone), [&](ScheduledBufferEnd e) {
            {
                std::lock_guard lock(mutex);
                ends.push_back(e);
            }
            played.hit();
        }));
    }
    ASSERT_TRUE((*stream)->play());
    ASSERT_TRUE(played.waitFor(2, 5000ms));
    input->stop();
    EXPECT_FALSE(input->isRunning());

    std::lock_guard lock(mutex);
    EXPECT_EQ(ends, (std::vector<ScheduledBufferEnd>{ScheduledBufferEnd::played, ScheduledBufferEnd::played}));
    // Find the tone: the median distance between rising zero crossings where
    // the signal is loud (a gap of silence does not shift the median).
    std::vector<std::size_t> periods;
    std::size_t previous = 0;
    float peak = 0;
    for (std::size_t i = 1; i < captured.size(); ++i) {
        peak = std::max(peak, std::abs(captured[i]));
        if (captured[i - 1] < 0 && captured[i] >= 0 && std::abs(captured[i] - captured[i - 1]) > 0.05f) {
            if (previous) periods.push_back(i - previous);
            previous = i;
        }
    }
    ASSERT_GT(periods.size(), 100u) << "buffers=" << buffers << " peak=" << peak;
    std::nth_element(periods.begin(), periods.begin() + periods.size() / 2, periods.end());
    const double hz = format.sampleRate / static_cast<double>(periods[periods.size() / 2]);
    EXPECT_NEAR(hz, 1000, 25);
    EXPECT_NEAR(peak, 0.5f, 0.05f);
}

TEST_F(PulseAudioTest, StopEndsPendingBuffersAndTheStreamPlaysOnAfterwards) {
    std::vector<ScheduledBufferEnd> ends;
    std::mutex mutex;
    Latch done;
    PulseAudio pulse(server.environment());
    auto stream = pulse.openStream({std::nullopt, 16000, 1});
    ASSERT_TRUE(stream);
    auto record = [&](ScheduledBufferEnd e) {
        {
            std::lock_guard lock(mutex);
            ends.push_back(e);
        }
        done.hit();
    };
    // The server's playback streams ("sink inputs"), by index.
    auto sinkInputs = [&] {
        auto r = server.run({"pactl", "list", "short", "sink-inputs"});
        EXPECT_TRUE(r.ok()) << r.describe();
        std::vector<std::string> ids;
        for (std::size_t at = 0; at < r.out.size();) {
            auto end = r.out.find('\n', at);
            if (end == std::string::npos) end = r.out.size();
            if (end > at) ids.push_back(r.out.substr(at, r.out.find('\t', at) - at));
            at = end + 1;
        }
        return ids;
    };
    PcmBuffer long10s(PcmFormat::float32(16000, 1), 160000);
    long10s.setFrameLength(160000);
    ASSERT_TRUE((*stream)->schedule(long10s, record));
    ASSERT_TRUE((*stream)->play());
    (*stream)->pause();
    EXPECT_FALSE((*stream)->isPlaying());
    const auto before = sinkInputs();
    ASSERT_EQ(before.size(), 1u);
    (*stream)->stop();  // completions run before stop returns
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(ends, std::vector<ScheduledBufferEnd>{ScheduledBufferEnd::stopped});
    }
    EXPECT_EQ(sinkInputs(), before) << "stop keeps the connection";
    (*stream)->stop();  // idle: nothing to drop, nothing changes
    PcmBuffer shortOne(PcmFormat::int16(16000, 1), 800);  // 50 ms, int16 is taken too
    shortOne.setFrameLength(800);
    ASSERT_TRUE((*stream)->schedule(shortOne, record));
    ASSERT_TRUE((*stream)->play());
    ASSERT_TRUE(done.waitFor(2, 3000ms));
    EXPECT_EQ(sinkInputs(), before);
    std::lock_guard lock(mutex);
    EXPECT_EQ(ends.back(), ScheduledBufferEnd::played);
}

// Plays half a second of a 1 kHz tone at half scale into the sink "ci_null"
// while `input` (already routed) captures; the loudest captured sample.
float peakCapturedWhileATonePlays(PulseAudio& pulse, AudioInputEngine& input) {
    std::mutex mutex;
    float peak = 0;
    std::size_t frames = 0;
    Latch played;
    input.installTap(1024, input.inputFormat(), [&](const PcmBuffer& b) {
        std::lock_guard lock(mutex);
        frames += b.frameLength();
        for (std::uint32_t i = 0; i < b.frameLength(); ++i) peak = std::max(peak, std::abs(b.floatChannel(0)[i * b.stride()]));
    });
    if (!input.start()) return -1;
    auto stream = pulse.openStream({std::string("ci_null"), 48000, 1});
    if (!stream) return -1;
    PcmBuffer tone(PcmFormat::float32(48000, 1), 24000);
    for (std::uint32_t i = 0; i < 24000; ++i)
        tone.setSample(0, i, 0.5f * static_cast<float>(std::sin(2 * std::numbers::pi * 1000 * i / 48000)));
    tone.setFrameLength(24000);
    if (!(*stream)->schedule(std::move(tone), [&](ScheduledBufferEnd) { played.hit(); }) || !(*stream)->play()) return -1;
    played.waitFor(1, 5000ms);
    input.stop();
    input.removeTap();
    std::lock_guard lock(mutex);
    EXPECT_GT(frames, 10000u) << "too little was captured to judge";
    return peak;
}

TEST_F(PulseAudioTest, RoutesCaptureToAChosenSourceAndRejectsUnknownDevices) {
    // "tone_mic" hears what plays into ci_null; "ci_mic" hears nothing.
    auto remapped = server.run({"pactl", "load-module", "module-remap-source", "source_name=tone_mic",
                                "master=ci_null.monitor"});
    ASSERT_TRUE(remapped.ok()) << remapped.describe();
    PulseAudio pulse(server.environment());
    auto devices = pulse.devices();
    ASSERT_TRUE(devices);
    const auto* silent = byUID(*devices, "ci_mic");
    const auto* hearing = byUID(*devices, "tone_mic");
    ASSERT_NE(silent, nullptr);
    ASSERT_NE(hearing, nullptr);
    auto input = pulse.makeInputEngine();
    EXPECT_NE(input->setCurrentDevice(0x7fffffff), 0);

    // The default source (the sink's monitor) hears the tone, the chosen one does not.
    ASSERT_EQ(input->setCurrentDevice(silent->id), 0);
    EXPECT_EQ(peakCapturedWhileATonePlays(pulse, *input), 0.0f);

    // And the reverse: a silent default, and the chosen source hears the tone.
    auto chosen = server.run({"pactl", "set-default-source", "ci_mic"});
    ASSERT_TRUE(chosen.ok()) << chosen.describe();
    ASSERT_EQ(input->setCurrentDevice(hearing->id), 0);
    EXPECT_NEAR(peakCapturedWhileATonePlays(pulse, *input), 0.5f, 0.05f);
}

TEST_F(PulseAudioTest, MicrophonePermissionMeansACaptureSourceExists) {
    PulseAudio pulse(server.environment());
    auto permission = pulse.makeMicrophonePermission();
    EXPECT_EQ(permission->rawStatus(), 3);
    auto unloaded = server.run({"pactl", "unload-module", "module-null-source"});
    ASSERT_TRUE(unloaded.ok()) << unloaded.describe();
    EXPECT_EQ(permission->rawStatus(), 2);  // only the monitor is left
}

TEST(PulseAudio, AnUnreachableServerIsAnErrorAndNoMicrophone) {
    PulseAudio pulse(Environment(std::map<std::string, std::string>{{"PULSE_SERVER", "unix:/nonexistent/pulse/native"}}));
    auto devices = pulse.devices();
    ASSERT_FALSE(devices);
    EXPECT_TRUE(isAudioError(devices.error(), AudioError::server)) << devices.error().description;
    EXPECT_FALSE(pulse.defaultDeviceUID(AudioScope::input));
    EXPECT_EQ(pulse.makeMicrophonePermission()->rawStatus(), 2);
    EXPECT_FALSE(pulse.makeInputEngine()->start());
    EXPECT_FALSE(pulse.openStream({std::nullopt, 48000, 1}));
}

}  // namespace
