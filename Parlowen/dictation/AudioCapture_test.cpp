#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <numbers>

#include "Parlowen/dictation/AudioCapture.h"
#include "Parlowen/dictation/GroqTranscriptionEngine.h"
#include "platform/audio/AllocationProbe.h"
#include "platform/defaults/InMemoryUserDefaults.h"
#include "platform/http/FakeHttpClient.h"
#include "platform/log/CaptureSink.h"
#include "platform/runtime/ManualExecutor.h"

using namespace parlowen;
using namespace std::chrono_literals;
using platform::PcmBuffer;
using platform::PcmFormat;

namespace {

// A sine of whole cycles whose RMS is `rms` (a constant for full scale).
PcmBuffer signal(PcmFormat format, double rms, std::uint32_t frames = 1024) {
    PcmBuffer b(format, frames);
    for (std::uint32_t f = 0; f < frames; ++f)
        for (std::uint32_t c = 0; c < format.channelCount; ++c) {
            const double v = rms >= 1 ? 1.0 : rms * std::numbers::sqrt2 * std::sin(2 * std::numbers::pi * 375 * f / 48000);
            b.setSample(c, f, static_cast<float>(c == 0 ? v : 0.9));  // other channels must not count
        }
    b.setFrameLength(frames);
    return b;
}

TEST(AudioCaptureLevel, MapsMinus50To0DbfsLinearly) {
    struct Case {
        double rms;
        float level;
    } cases[] = {{0.0, 0.0f}, {0.1, 0.6f}, {0.01, 0.2f}, {0.001, 0.0f}, {1.0, 1.0f}};
    for (bool interleaved : {false, true})
        for (const auto& c : cases) {
            auto level = AudioCapture::level(signal(PcmFormat::float32(48000, 2, interleaved), c.rms));
            ASSERT_TRUE(level);
            EXPECT_NEAR(*level, c.level, 1e-3) << "rms " << c.rms << " interleaved " << interleaved;
        }
    PcmBuffer empty(PcmFormat::float32(48000, 1), 1024);
    EXPECT_EQ(AudioCapture::level(empty), 0.0f);  // zero frames
    PcmBuffer ints(PcmFormat::int16(48000, 1), 1024);
    ints.setFrameLength(1024);
    EXPECT_EQ(AudioCapture::level(ints), std::nullopt);
}

struct CaptureFixture : ::testing::Test {
    platform::ManualExecutor main;
    platform::FakeAudioHardware hardware;
    platform::InMemoryUserDefaults defaults;
    platform::FakeAudioInputEngine* engine = nullptr;
    std::unique_ptr<AudioCapture> capture;
    platform::ScopedLogCapture logs;

    void SetUp() override {
        auto e = std::make_unique<platform::FakeAudioInputEngine>(PcmFormat::float32(48000, 2));
        engine = e.get();
        capture = std::make_unique<AudioCapture>(std::move(e), hardware, defaults, main);
    }
};

TEST_F(CaptureFixture, StartTapsTheInputFormatAndRepeatedCallsDoNothing) {
    capture->stop();  // idle: nothing
    EXPECT_EQ(engine->stopCount(), 0);
    ASSERT_TRUE(capture->start());
    ASSERT_TRUE(capture->start());
    EXPECT_TRUE(capture->isRunning());
    EXPECT_EQ(engine->startCount(), 1);
    EXPECT_EQ(engine->tapInstallCount(), 1);
    EXPECT_EQ(engine->tapBufferFrames(), 1024u);
    EXPECT_EQ(engine->tapFormat(), PcmFormat::float32(48000, 2));
    EXPECT_TRUE(logs->contains("audio input format 48000Hz / 2ch / 1", platform::LogLevel::info));
    capture->stop();
    capture->stop();
    EXPECT_FALSE(capture->isRunning());
    EXPECT_EQ(engine->stopCount(), 1);
    EXPECT_FALSE(engine->hasTap());
}

TEST_F(CaptureFixture, NoUsableInputAndARefusingEngineFailWithTheirCases) {
    engine->setDefaultFormat(PcmFormat::float32(0, 0));
    auto noFormat = capture->start();
    ASSERT_FALSE(noFormat);
    EXPECT_EQ(noFormat.error().caseName, "formatUnavailable");
    EXPECT_EQ(noFormat.error().domain, kAudioCaptureErrorDomain);
    EXPECT_FALSE(engine->hasTap());

    engine->setDefaultFormat(PcmFormat::float32(44100, 1));
    engine->failStartWith(platform::Error::make("audio", 5, "server", "sound server error: Connection refused"));
    auto refused = capture->start();
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().caseName, "engineStartFailed");
    ASSERT_TRUE(refused.error().underlying);
    EXPECT_EQ(refused.error().underlying->description, "sound server error: Connection refused");
    EXPECT_FALSE(engine->hasTap());  // the tap went again
    EXPECT_FALSE(capture->isRunning());
}

TEST_F(CaptureFixture, BuffersAndLevelsArriveFromTheAudioThread) {
    std::atomic<int> buffers{0}, levels{0};
    std::atomic<float> lastLevel{-1};
    capture->setOnBuffer([&](const PcmBuffer& b) {
        if (b.frameLength() == 1024) ++buffers;
    });
    capture->setOnAmplitude([&](float l) {
        ++levels;
        lastLevel = l;
    });
    ASSERT_TRUE(capture->start());
    PcmBuffer ints(PcmFormat::int16(48000, 2), 1024);
    ints.setFrameLength(1024);
    engine->pushFromWorker({signal(PcmFormat::float32(48000, 2), 0.1), signal(PcmFormat::float32(48000, 2), 0.1), ints});
    engine->joinWorker();
    EXPECT_EQ(buffers.load(), 3);  // the integer buffer too
    EXPECT_EQ(levels.load(), 2);   // but it has no level
    EXPECT_NEAR(lastLevel.load(), 0.6f, 1e-3);

    capture->setOnAmplitude(nullptr);
    engine->deliver(signal(PcmFormat::float32(48000, 2), 0.1));
    EXPECT_EQ(levels.load(), 2);
    EXPECT_EQ(buffers.load(), 4);
}

TEST_F(CaptureFixture, PrewarmRunsTheEngineFor150ms) {
    capture->prewarm();
    EXPECT_TRUE(engine->isRunning());
    EXPECT_FALSE(capture->isRunning());
    capture->prewarm();  // within the 150 ms: nothing
    EXPECT_EQ(engine->startCount(), 1);
    main.advance(149ms);
    EXPECT_TRUE(engine->isRunning());
    main.advance(1ms);
    EXPECT_FALSE(engine->isRunning());
    EXPECT_FALSE(engine->hasTap());
    EXPECT_EQ(logs->messages(),
              (std::vector<std::string>{"prewarm: engine started, will stop in 150ms", "prewarm: engine stopped"}));
}

TEST_F(CaptureFixture, AStartSoonAfterPrewarmKeepsTheEngineAndTheTeardownNeverRuns) {
    std::atomic<int> buffers{0};
    capture->setOnBuffer([&](const PcmBuffer&) { ++buffers; });
    capture->prewarm();
    main.advance(100ms);
    ASSERT_TRUE(capture->start());
    main.advance(1s);
    EXPECT_TRUE(engine->isRunning());
    EXPECT_EQ(engine->startCount(), 1);
    EXPECT_EQ(engine->stopCount(), 0);
    EXPECT_EQ(engine->tapInstallCount(), 2);  // the no-op tap was replaced
    EXPECT_TRUE(engine->deliver(signal(PcmFormat::float32(48000, 2), 0.1)));
    EXPECT_EQ(buffers.load(), 1);
    EXPECT_FALSE(logs->contains("prewarm: engine stopped"));
    capture->prewarm();  // running: nothing
    EXPECT_EQ(engine->startCount(), 1);
}

TEST_F(CaptureFixture, PrewarmFailuresStaySilentTowardsTheCaller) {
    engine->failStartWith(platform::Error::make("audio", 5, "server", "no server"));
    capture->prewarm();
    EXPECT_FALSE(engine->hasTap());
    EXPECT_TRUE(logs->contains("prewarm failed: no server", platform::LogLevel::error));
    EXPECT_EQ(main.pendingTimers(), 0u);
    engine->setDefaultFormat(PcmFormat::float32(0, 0));
    engine->failStartWith(std::nullopt);
    capture->prewarm();
    EXPECT_FALSE(engine->isRunning());
}

TEST_F(CaptureFixture, RoutesToThePreferredMicrophoneOnlyWhenItIsAttached) {
    engine->addDevice(7, PcmFormat::float32(16000, 1));
    // Absent from the hardware: the default input stays.
    defaults.set(AudioCapture::kPreferredInputDeviceKey, "usb-mic");
    ASSERT_TRUE(capture->start());
    EXPECT_EQ(engine->currentDevice(), std::nullopt);
    EXPECT_EQ(engine->tapFormat(), PcmFormat::float32(48000, 2));
    capture->stop();

    hardware.setDevices({{7, "usb-mic", "USB Mic", platform::AudioTransport::usb, 1, 0}});
    ASSERT_TRUE(capture->start());
    EXPECT_EQ(engine->currentDevice(), 7u);
    EXPECT_EQ(engine->tapFormat(), PcmFormat::float32(16000, 1));
}

TEST_F(CaptureFixture, ADeviceTheEngineRefusesIsLoggedAndCaptureGoesOn) {
    hardware.setDevices({{8, "usb-mic", "USB Mic", platform::AudioTransport::usb, 1, 0}});
    defaults.set(AudioCapture::kPreferredInputDeviceKey, "usb-mic");
    ASSERT_TRUE(capture->start());
    EXPECT_EQ(engine->currentDevice(), std::nullopt);
    EXPECT_TRUE(logs->contains("AudioUnitSetProperty CurrentDevice failed", platform::LogLevel::error));
}

TEST_F(CaptureFixture, TheBufferPathIntoTheCloudEngineAllocatesNothingOnceRunning) {
    platform::FakeHttpClient http;
    GroqTranscriptionEngine groq("gsk_test", GroqTranscriptionModel::largeV3Turbo, http, main);
    const PcmFormat format = PcmFormat::float32(48000, 2);
    groq.prepare(format);
    auto started = platform::spawn(main, groq.start());
    main.runUntilIdle();
    ASSERT_TRUE(started.done());
    std::atomic<float> level{0};
    capture->setOnBuffer([&groq](const PcmBuffer& b) { groq.append(b); });
    capture->setOnAmplitude([&level](float l) { level = l; });
    ASSERT_TRUE(capture->start());
    const auto b = signal(format, 0.1);
    // From the very first buffer, and past the first store block (10 s).
    platform::AllocationProbe probe;
    for (int i = 0; i < 600; ++i) engine->deliver(b);
    EXPECT_EQ(probe.count(), 0u);
    EXPECT_GT(level.load(), 0.5f);
}

}  // namespace
