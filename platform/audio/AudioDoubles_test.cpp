#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/audio/AudioHardware.h"
#include "platform/audio/AudioInputEngine.h"
#include "platform/audio/AudioOutputStream.h"

using namespace platform;

namespace {

TEST(AudioTransport, FollowsBusThenFormFactor) {
    struct Case {
        const char* bus;
        const char* formFactor;
        AudioTransport want;
    } cases[] = {
        {"usb", "headset", AudioTransport::usb},
        {"bluetooth", "headset", AudioTransport::bluetooth},
        {"bluetooth", "internal", AudioTransport::bluetooth},
        {"pci", "", AudioTransport::builtIn},
        {"platform", "", AudioTransport::builtIn},
        {"", "internal", AudioTransport::builtIn},
        {"firewire", "speaker", AudioTransport::other},
        {"", "", AudioTransport::other},  // a null or network sink says nothing
        {"USB", "", AudioTransport::other},  // the server's values are lower case; nothing else matches
    };
    for (const auto& c : cases)
        EXPECT_EQ(transportFromProperties(c.bus, c.formFactor), c.want) << c.bus << "/" << c.formFactor;
}

TEST(FakeAudioInputEngine, PushesFromAWorkerOnlyWhileRunningAndTapped) {
    FakeAudioInputEngine engine(PcmFormat::float32(48000, 2));
    std::atomic<int> received{0};
    std::atomic<bool> onWorker{true};
    const auto caller = std::this_thread::get_id();
    engine.installTap(1024, engine.inputFormat(), [&](const PcmBuffer& b) {
        if (std::this_thread::get_id() == caller) onWorker = false;
        if (b.frameLength() == 1024) ++received;
    });
    PcmBuffer b(PcmFormat::float32(48000, 2), 1024);
    b.setFrameLength(1024);
    EXPECT_FALSE(engine.deliver(b));  // not started
    ASSERT_TRUE(engine.start());
    engine.pushFromWorker({b, b, b});
    engine.joinWorker();
    EXPECT_EQ(received.load(), 3);
    EXPECT_TRUE(onWorker.load());
    engine.removeTap();
    EXPECT_FALSE(engine.deliver(b));
    engine.failStartWith(Error::make("test", 1, "boom", "boom"));
    engine.stop();
    EXPECT_FALSE(engine.start());
    EXPECT_EQ(engine.setCurrentDevice(7), FakeAudioInputEngine::kUnknownDeviceStatus);
    engine.addDevice(7, PcmFormat::float32(16000, 1));
    EXPECT_EQ(engine.setCurrentDevice(7), 0);
    EXPECT_EQ(engine.inputFormat(), PcmFormat::float32(16000, 1));
}

TEST(FakeAudioOutputStream, CompletesInOrderAndStopDropsTheRest) {
    FakeAudioOutput output;
    auto stream = output.openStream({std::nullopt, 22050, 1});
    ASSERT_TRUE(stream);
    std::vector<std::string> log;
    PcmBuffer b(PcmFormat::float32(22050, 1), 10);
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE((*stream)->schedule(b, [&log, i](ScheduledBufferEnd e) {
            log.push_back(std::to_string(i) + (e == ScheduledBufferEnd::played ? " played" : " stopped"));
        }));
    EXPECT_FALSE(output.streams()[0]->finishNext());  // paused until play()
    ASSERT_TRUE((*stream)->play());
    EXPECT_TRUE(output.streams()[0]->finishNext());
    (*stream)->stop();
    EXPECT_EQ(log, (std::vector<std::string>{"0 played", "1 stopped", "2 stopped"}));
    EXPECT_FALSE((*stream)->schedule(PcmBuffer(PcmFormat::float32(44100, 1), 4)));
}

}  // namespace
