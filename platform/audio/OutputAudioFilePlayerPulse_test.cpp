// The audio-file player on a private PulseAudio server: what it plays is
// recorded from the null sink's monitor and measured.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <condition_variable>
#include <mutex>
#include <numbers>

#include "platform/accel/Fft.h"
#include "platform/audio/AudioFile.h"
#include "platform/audio/OutputAudioFilePlayer.h"
#include "platform/audio/PulseAudio.h"
#include "platform/testsupport/Services.h"
#include "platform/testsupport/TempHome.h"

using namespace platform;
using namespace std::chrono_literals;

namespace {

constexpr double kFileRate = 22050;

class PlayerOnPulseAudioTest : public ::testing::Test {
protected:
    void SetUp() override {
        PARLOWEN_REQUIRE_OR_SKIP(server.start());
        auto writer = AudioFileWriter::create(file, AudioFileType::caf, kFileRate, 1, PcmSampleType::float32);
        ASSERT_TRUE(writer);
        const auto frames = static_cast<std::uint32_t>(2 * kFileRate);
        PcmBuffer tone(PcmFormat::float32(kFileRate, 1), frames);
        tone.setFrameLength(frames);
        for (std::uint32_t i = 0; i < frames; ++i)
            tone.floatChannel(0)[i] = 0.5f * static_cast<float>(std::sin(2 * std::numbers::pi * 440 * i / kFileRate));
        ASSERT_TRUE(writer->write(tone));
        ASSERT_TRUE(writer->close());
    }

    struct Recording {
        std::vector<float> samples;
        double rate = 0;
        bool success = false;
        double timeAfterEnd = -1;
    };

    // Plays the file from `start` at `rate` to its end while recording the monitor.
    Recording playAndRecord(float rate, double start = 0) {
        Recording r;
        PulseAudio pulse(server.environment());
        OutputAudioFilePlayerFactory factory(pulse);
        auto input = pulse.makeInputEngine();  // the default source: the sink's monitor
        r.rate = input->inputFormat().sampleRate;
        std::mutex mutex;
        std::condition_variable cv;
        bool ended = false;
        input->installTap(1024, input->inputFormat(), [&](const PcmBuffer& b) {
            std::lock_guard lock(mutex);
            r.samples.insert(r.samples.end(), b.floatChannel(0), b.floatChannel(0) + b.frameLength());
        });
        EXPECT_TRUE(input->start());
        auto player = factory.open(file);
        EXPECT_TRUE(player);
        if (!player) return r;
        (*player)->setFinishHandler([&](bool ok) {
            std::lock_guard lock(mutex);
            r.success = ok;
            ended = true;
            cv.notify_all();
        });
        (*player)->setEnableRate(true);
        (*player)->setRate(rate);
        (*player)->setCurrentTime(start);
        EXPECT_TRUE((*player)->play());
        {
            std::unique_lock lock(mutex);
            EXPECT_TRUE(cv.wait_for(lock, 20s, [&] { return ended; }));
        }
        r.timeAfterEnd = (*player)->currentTime();
        input->stop();
        return r;
    }

    // Seconds of the recording that carry the tone (10 ms windows above a level).
    static double loudSeconds(const Recording& r) {
        const auto window = static_cast<std::size_t>(r.rate / 100);
        std::size_t loud = 0;
        for (std::size_t i = 0; i + window <= r.samples.size(); i += window) {
            double energy = 0;
            for (std::size_t j = i; j < i + window; ++j) energy += r.samples[j] * r.samples[j];
            loud += std::sqrt(energy / window) > 0.15;
        }
        return loud / 100.0;
    }

    // The strongest frequency of 8192 samples from the middle of the tone.
    static double peakHz(const Recording& r) {
        constexpr std::size_t n = 8192;
        std::size_t first = 0;
        while (first < r.samples.size() && std::abs(r.samples[first]) < 0.2f) ++first;
        const std::size_t from = first + static_cast<std::size_t>(0.2 * r.rate);
        if (from + n > r.samples.size()) return 0;
        auto fft = accel::RealFft::make(n);
        std::vector<float> in(r.samples.begin() + from, r.samples.begin() + from + n);
        for (std::size_t i = 0; i < n; ++i) in[i] *= 0.5f - 0.5f * std::cos(2 * std::numbers::pi * i / (n - 1));
        std::vector<std::complex<float>> out(fft->binCount());
        fft->forward(in, out);
        const auto peak = std::max_element(out.begin() + 1, out.end(),
                                           [](auto a, auto b) { return std::abs(a) < std::abs(b); });
        return (peak - out.begin()) * r.rate / n;
    }

    testsupport::PulseAudioServer server;
    testsupport::TempDir dir;
    std::filesystem::path file = dir / "tone.caf";
};

TEST_F(PlayerOnPulseAudioTest, KeepsThePitchAtEveryRateAndShortensTheTime) {
    struct Case { float rate; double seconds; };
    for (const Case c : {Case{1.0f, 2.0}, Case{1.5f, 2.0 / 1.5}}) {
        SCOPED_TRACE(c.rate);
        const Recording r = playAndRecord(c.rate);
        EXPECT_TRUE(r.success);
        EXPECT_EQ(r.timeAfterEnd, 0);
        EXPECT_NEAR(loudSeconds(r), c.seconds, 0.15);
        EXPECT_NEAR(peakHz(r), 440, 10);
    }
}

TEST_F(PlayerOnPulseAudioTest, ASeekToTheMiddlePlaysOnlyTheSecondHalf) {
    const Recording r = playAndRecord(1.0f, 1.0);
    EXPECT_TRUE(r.success);
    EXPECT_NEAR(loudSeconds(r), 1.0, 0.15);
}

}  // namespace
