#include "platform/audio/OutputAudioFilePlayer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <fstream>
#include <thread>

#include "platform/audio/AllocationProbe.h"
#include "platform/audio/AudioFile.h"
#include "platform/testsupport/TempHome.h"

namespace platform {
namespace {

constexpr double kRate = 22050;

// Waits for something another thread does (the feeder), never for a fixed time.
template <class P>
bool eventually(P done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::yield();
    }
    return true;
}

std::filesystem::path writeTone(const std::filesystem::path& path, double seconds, AudioFileType type) {
    auto writer = AudioFileWriter::create(path, type, kRate, 1, PcmSampleType::float32);
    EXPECT_TRUE(writer) << writer.error().description;
    const auto frames = static_cast<std::uint32_t>(seconds * kRate);
    PcmBuffer tone(PcmFormat::float32(kRate, 1), frames);
    tone.setFrameLength(frames);
    for (std::uint32_t i = 0; i < frames; ++i) tone.floatChannel(0)[i] = 0.5f * std::sin(2 * M_PI * 440 * i / kRate);
    EXPECT_TRUE(writer->write(tone));
    EXPECT_TRUE(writer->close());
    return path;
}

class OutputAudioFilePlayerTest : public ::testing::Test {
protected:
    testsupport::TempDir dir;
    FakeAudioOutput output;
    OutputAudioFilePlayerFactory factory{output};
    std::atomic<int> reports{0};
    std::atomic<bool> lastReport{false};

    std::unique_ptr<AudioFilePlayer> open(double seconds) {
        auto player = factory.open(writeTone(dir / "tone.caf", seconds, AudioFileType::caf));
        EXPECT_TRUE(player);
        (*player)->setFinishHandler([this](bool ok) {
            lastReport = ok;
            ++reports;
        });
        return std::move(*player);
    }
    // Plays every buffer out until the end is reported; the frames played.
    std::size_t playToEnd() {
        std::size_t frames = 0;
        const int before = reports;
        EXPECT_TRUE(eventually([&] {
            if (auto* s = output.lastStream())
                while (reports == before && s->pendingCount() > 0) {
                    const auto all = s->scheduledBuffers();
                    const auto next = all[all.size() - s->pendingCount()].frameLength();
                    if (!s->finishNext()) break;
                    frames += next;
                }
            return reports > before;
        }));
        return frames;
    }
};

TEST_F(OutputAudioFilePlayerTest, PlaysToTheEndReportsSuccessAndRewinds) {
    auto player = open(1.0);
    EXPECT_DOUBLE_EQ(player->duration(), 1.0);
    ASSERT_TRUE(player->prepareToPlay());
    ASSERT_TRUE(player->play());
    EXPECT_TRUE(player->isPlaying());
    const std::size_t frames = playToEnd();
    EXPECT_NEAR(static_cast<double>(frames), kRate, 0.05 * kRate);
    EXPECT_TRUE(lastReport);
    EXPECT_FALSE(player->isPlaying());
    EXPECT_EQ(player->currentTime(), 0);
    EXPECT_EQ(output.lastStream()->options().sinkName, std::nullopt);  // the default output
}

TEST_F(OutputAudioFilePlayerTest, TheRateShortensPlaybackOnlyWhenEnabled) {
    auto player = open(2.0);
    player->setRate(1.5f);  // not enabled yet
    player->setEnableRate(true);
    player->setRate(2.5f);
    EXPECT_EQ(player->rate(), 2.0f);
    player->setRate(1.5f);
    ASSERT_TRUE(player->play());
    EXPECT_NEAR(static_cast<double>(playToEnd()), 2 * kRate / 1.5, 0.05 * kRate);
}

TEST_F(OutputAudioFilePlayerTest, PauseHoldsAndASeekPlaysOnlyTheRest) {
    auto player = open(1.0);
    ASSERT_TRUE(player->play());
    auto* stream = output.lastStream();
    ASSERT_TRUE(eventually([&] { return stream->pendingCount() >= 2; }));
    stream->finishNext();
    stream->finishNext();
    const double expected = 2.0 * OutputAudioFilePlayerFactory::kBufferFrames / kRate;
    EXPECT_NEAR(player->currentTime(), expected, 1e-6);
    player->pause();
    EXPECT_FALSE(stream->finishNext());  // nothing plays while paused
    EXPECT_NEAR(player->currentTime(), expected, 1e-6);

    player->setCurrentTime(0.5);
    EXPECT_DOUBLE_EQ(player->currentTime(), 0.5);
    ASSERT_TRUE(player->play());
    EXPECT_NEAR(static_cast<double>(playToEnd()), 0.5 * kRate, 0.05 * kRate);
    EXPECT_TRUE(lastReport);
}

TEST_F(OutputAudioFilePlayerTest, CompletionsAllocateNothing) {
    auto player = open(1.0);
    ASSERT_TRUE(player->play());
    auto* stream = output.lastStream();
    ASSERT_TRUE(eventually([&] { return stream->pendingCount() >= 2; }));
    AllocationProbe probe;  // the completions run on this thread, as on the audio thread
    EXPECT_TRUE(stream->finishNext());
    EXPECT_TRUE(stream->finishNext());
    EXPECT_EQ(probe.count(), 0u);
}

TEST_F(OutputAudioFilePlayerTest, AFileThatIsNotAudioFailsWithADescription) {
    std::ofstream(dir / "notes.caf") << "not audio at all";
    auto player = factory.open(dir / "notes.caf");
    ASSERT_FALSE(player);
    EXPECT_FALSE(player.error().description.empty());
    EXPECT_FALSE(factory.open(dir / "missing.caf"));
}

// An output whose streams refuse every buffer, as when the sound server goes away.
struct RefusingOutput final : AudioOutput {
    struct Stream final : FakeAudioOutputStream {
        Stream(AudioOutputOptions options, std::atomic<int>& tries) : FakeAudioOutputStream(std::move(options)), tries_(tries) {}
        Status schedule(PcmBuffer, Completion) override {
            ++tries_;
            return fail(Error::make("test", 1, "gone", "The sound server went away"));
        }
        std::atomic<int>& tries_;
    };
    Result<std::unique_ptr<AudioOutputStream>> openStream(AudioOutputOptions options) override {
        return std::unique_ptr<AudioOutputStream>(std::make_unique<Stream>(std::move(options), tries));
    }
    std::atomic<int> tries{0};
};

TEST_F(OutputAudioFilePlayerTest, ARefusedBufferEndsPlaybackWithOneFailureReport) {
    RefusingOutput refusing;
    OutputAudioFilePlayerFactory refusingFactory{refusing};
    auto opened = refusingFactory.open(writeTone(dir / "tone.caf", 2.0, AudioFileType::caf));
    ASSERT_TRUE(opened);
    auto player = std::move(*opened);
    player->setFinishHandler([this](bool ok) {
        lastReport = ok;
        ++reports;
    });
    lastReport = true;
    ASSERT_TRUE(player->play());
    ASSERT_TRUE(eventually([&] { return reports > 0; }));
    player.reset();  // joins the feeder: whatever it would still do has happened
    EXPECT_EQ(reports, 1);
    EXPECT_FALSE(lastReport);
    EXPECT_EQ(refusing.tries, 1) << "the rest of the file is not offered to a refusing output";
}

TEST_F(OutputAudioFilePlayerTest, AFailedOutputMakesPlayFail) {
    output.failOpenWith(Error::make("test", 1, "noServer", "No sound server"));
    auto player = open(0.5);
    EXPECT_FALSE(player->play());
    EXPECT_FALSE(player->isPlaying());
}

}  // namespace
}  // namespace platform
