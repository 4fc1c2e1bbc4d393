#include "Auralith/foundation/AudioStream.h"

#include <gtest/gtest.h>

#include <limits>

#include <cmath>
#include <deque>

#include "platform/runtime/ManualExecutor.h"

namespace auralith {
namespace {

using Chunking = AudioStreamChunkingStrategy;
using Startup = AudioStreamStartupStrategy;

// Samples 1, 2, 3, ... so that every chunk shows which samples it holds.
std::vector<float> counting(int from, int count) {
    std::vector<float> v(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) v[static_cast<std::size_t>(i)] = static_cast<float>(from + i);
    return v;
}

struct Received {
    std::vector<AudioStream::Chunk> chunks;
    AudioStream::Callback callback() {
        return [this](std::vector<float> samples, double time) {
            chunks.push_back({std::move(samples), time});
            return platform::ok();
        };
    }
};

std::unique_ptr<AudioStream> makeStream(AudioStream::Options options) {
    auto made = AudioStream::make(options);
    EXPECT_TRUE(made) << (made ? "" : made.error().description);
    return made ? std::move(*made) : nullptr;
}

// Expects the chunk to be zeros then the counting samples first..last.
void expectChunk(const AudioStream::Chunk& chunk, int zeros, int first, int last, double time) {
    ASSERT_EQ(chunk.samples.size(), static_cast<std::size_t>(zeros + last - first + 1));
    for (int i = 0; i < zeros; ++i) ASSERT_EQ(chunk.samples[static_cast<std::size_t>(i)], 0.0f) << i;
    for (int i = first; i <= last; ++i)
        ASSERT_EQ(chunk.samples[static_cast<std::size_t>(zeros + i - first)], static_cast<float>(i)) << i;
    EXPECT_NEAR(chunk.time, time, 1e-9);
}

TEST(AudioStream, ConstructionErrorsInTheirOrder) {
    const struct {
        double duration;
        std::optional<double> skip;
        std::optional<double> capacity;
        AudioStreamError error;
    } cases[] = {
        {0.00001, std::nullopt, std::nullopt, AudioStreamError::invalidChunkDuration},  // 0.16 samples
        {0.00001, 2.0, 0.1, AudioStreamError::invalidChunkDuration},                    // checked first
        {1.0, 2.0, std::nullopt, AudioStreamError::invalidChunkSkip},
        {1.0, 2.0, 0.5, AudioStreamError::invalidChunkSkip},                              // before the buffer
        {1.0, 0.00001, std::nullopt, AudioStreamError::invalidChunkSkip},
        {1.0, std::nullopt, 0.5, AudioStreamError::bufferTooSmall},
        {std::nan(""), std::nullopt, std::nullopt, AudioStreamError::invalidChunkDuration},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.duration);
        auto made = AudioStream::make({.chunkDuration = c.duration, .chunkSkip = c.skip, .bufferCapacity = c.capacity});
        ASSERT_FALSE(made);
        EXPECT_TRUE(isAudioStreamError(made.error(), c.error)) << made.error().caseName;
    }
    auto stream = makeStream({.chunkDuration = 1.0, .chunkSkip = 0.25});
    EXPECT_EQ(stream->chunkSize(), 16000);
    EXPECT_EQ(stream->skipSize(), 4000);
    EXPECT_EQ(stream->bufferLength(), 20000u);
    EXPECT_EQ(stream->overlapSize(), 12000);
    EXPECT_DOUBLE_EQ(stream->overlapDuration(), 0.75);
}

TEST(AudioStream, FixedSkipDeliversWholeChunksAndDropsTheOldestOnOverflow) {
    const double T = 10;
    {
        auto stream = makeStream({.chunkDuration = 1.0, .streamStartTime = T});
        EXPECT_EQ(stream->bufferLength(), 32000u);
        Received got;
        stream->bind(got.callback());
        ASSERT_TRUE(stream->write(counting(1, 24000)));
        ASSERT_EQ(got.chunks.size(), 1u);
        expectChunk(got.chunks[0], 0, 1, 16000, T);
        EXPECT_EQ(stream->state().writeIndex, 8000);
        EXPECT_DOUBLE_EQ(stream->state().bufferStartTime, T + 1);
    }
    {
        auto stream = makeStream({.chunkDuration = 1.0, .streamStartTime = T});
        Received got;
        stream->bind(got.callback());
        // 40000 samples into a 32000-sample buffer: the oldest 8000 go first.
        ASSERT_TRUE(stream->write(counting(1, 40000)));
        ASSERT_EQ(got.chunks.size(), 2u);
        expectChunk(got.chunks[0], 0, 8001, 24000, T + 0.5);
        expectChunk(got.chunks[1], 0, 24001, 40000, T + 1.5);
        EXPECT_EQ(stream->state().writeIndex, 0);
    }
    {
        // Overlapping chunks: each starts a skip after the last.
        auto stream = makeStream({.chunkDuration = 1.0, .chunkSkip = 0.5, .streamStartTime = T});
        Received got;
        stream->bind(got.callback());
        for (int at = 1; at <= 32000; at += 1000) ASSERT_TRUE(stream->write(counting(at, 1000)));
        ASSERT_EQ(got.chunks.size(), 3u);
        expectChunk(got.chunks[0], 0, 1, 16000, T);
        expectChunk(got.chunks[1], 0, 8001, 24000, T + 0.5);
        expectChunk(got.chunks[2], 0, 16001, 32000, T + 1.0);
    }
}

TEST(AudioStream, SilentStartAndRampUp) {
    const double T = 5;
    {
        auto stream = makeStream({.chunkDuration = 1.0, .chunkSkip = 0.25, .streamStartTime = T,
                                  .startupStrategy = Startup::startSilent});
        Received got;
        stream->bind(got.callback());
        ASSERT_TRUE(stream->write(counting(1, 3999)));
        EXPECT_TRUE(got.chunks.empty());
        ASSERT_TRUE(stream->write(counting(4000, 1)));
        ASSERT_EQ(got.chunks.size(), 1u);
        expectChunk(got.chunks[0], 12000, 1, 4000, T - 0.75);
        ASSERT_TRUE(stream->write(counting(4001, 4000)));
        ASSERT_EQ(got.chunks.size(), 2u);
        expectChunk(got.chunks[1], 8000, 1, 8000, T - 0.5);
    }
    for (Chunking chunking : {Chunking::useFixedSkip, Chunking::useMostRecent}) {
        SCOPED_TRACE(static_cast<int>(chunking));
        auto stream = makeStream({.chunkDuration = 1.0, .chunkSkip = 0.25, .streamStartTime = T,
                                  .chunkingStrategy = chunking, .startupStrategy = Startup::rampUpChunkSize});
        Received got;
        stream->bind(got.callback());
        int at = 1;
        for (int n : {6000, 2000, 4000, 4000, 4000}) {
            ASSERT_TRUE(stream->write(counting(at, n)));
            at += n;
        }
        ASSERT_EQ(got.chunks.size(), 5u);
        // The chunks grow by the skip up to full length; under fixed skip they
        // start at the buffer's start, under most recent they end at the newest
        // sample (which tells them apart after the first, longer piece).
        if (chunking == Chunking::useFixedSkip) expectChunk(got.chunks[0], 0, 1, 4000, T);
        else expectChunk(got.chunks[0], 0, 2001, 6000, T + 2000 / 16000.0);
        expectChunk(got.chunks[1], 0, 1, 8000, T);
        expectChunk(got.chunks[2], 0, 1, 12000, T);
        expectChunk(got.chunks[3], 0, 1, 16000, T);
        expectChunk(got.chunks[4], 0, 4001, 20000, T + 0.25);
    }
}

TEST(AudioStream, GapsAreFilledWithSilenceAndOverlapsOverwrite) {
    auto stream = makeStream({.chunkDuration = 1.0, .chunkSkip = 0.5, .bufferCapacity = 4.0});
    ASSERT_TRUE(stream->write(counting(1, 4000), 0.25));  // on time: ends at 4000
    EXPECT_EQ(stream->state().writeIndex, 4000);
    // Ends 8000 samples later than expected: 8000 zeros first.
    ASSERT_TRUE(stream->write(counting(4001, 4000), (4000 + 4000 + 8000) / 16000.0));
    EXPECT_EQ(stream->state().writeIndex, 16000);
    auto chunk = stream->readChunk();
    ASSERT_TRUE(chunk);
    ASSERT_EQ(chunk->samples.size(), 16000u);
    EXPECT_EQ(chunk->samples[3999], 4000.0f);
    for (int i = 4000; i < 12000; ++i) ASSERT_EQ(chunk->samples[static_cast<std::size_t>(i)], 0.0f);
    EXPECT_EQ(chunk->samples[12000], 4001.0f);
    EXPECT_EQ(stream->state().writeIndex, 8000);
    EXPECT_DOUBLE_EQ(stream->state().bufferStartTime, 0.5);

    // Ends 1000 samples earlier than expected: written over the last 1000.
    ASSERT_TRUE(stream->write(counting(100001, 2000), (8000 + 8000 + 2000 - 1000) / 16000.0));
    EXPECT_EQ(stream->state().writeIndex, 9000);
    // Starts 10000 samples before the buffer: the buffer start moves back.
    const double start = stream->state().bufferStartTime;
    ASSERT_TRUE(stream->write(counting(200001, 100), start + (100 - 10000 - 9000) / 16000.0 + 9000 / 16000.0));
    EXPECT_DOUBLE_EQ(stream->state().bufferStartTime, start - 10000 / 16000.0);
    EXPECT_EQ(stream->state().writeIndex, 100);

    // A time stamp with no sample position refuses the piece and changes nothing.
    const auto before = stream->state();
    for (double bad : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                       -std::numeric_limits<double>::infinity(), 1e300}) {
        auto refused = stream->write(counting(1, 10), bad);
        ASSERT_FALSE(refused) << bad;
        EXPECT_TRUE(isAudioStreamError(refused.error(), AudioStreamError::invalidTime)) << bad;
        EXPECT_EQ(stream->state().writeIndex, before.writeIndex);
        EXPECT_EQ(stream->state().bufferStartTime, before.bufferStartTime);
    }

    // An empty piece changes nothing, whatever its time.
    ASSERT_TRUE(stream->write(std::vector<float>{}, 1000.0));
    EXPECT_EQ(stream->state().writeIndex, before.writeIndex);
    EXPECT_EQ(stream->state().bufferStartTime, before.bufferStartTime);
}

TEST(AudioStream, MostRecentKeepsOnlyTheNewestChunkOnOverflow) {
    const double T = 2;
    auto stream = makeStream({.chunkDuration = 1.0, .chunkSkip = 0.5, .streamStartTime = T,
                              .chunkingStrategy = Chunking::useMostRecent});
    EXPECT_EQ(stream->bufferLength(), 24000u);
    ASSERT_TRUE(stream->write(counting(1, 30000)));
    EXPECT_EQ(stream->state().writeIndex, 16000);
    EXPECT_DOUBLE_EQ(stream->state().bufferStartTime, T + 14000 / 16000.0);
    auto chunk = stream->readChunk();
    ASSERT_TRUE(chunk);
    expectChunk(*chunk, 0, 14001, 30000, T + 14000 / 16000.0);
    // After a full chunk only the overlap stays.
    EXPECT_EQ(stream->state().writeIndex, 8000);
    EXPECT_FALSE(stream->readChunk());
    ASSERT_TRUE(stream->write(counting(30001, 3000)));
    EXPECT_FALSE(stream->isChunkReady());
    ASSERT_TRUE(stream->write(counting(33001, 5000)));
    // The newest 16000 samples, not the oldest.
    auto next = stream->readChunk();
    ASSERT_TRUE(next);
    expectChunk(*next, 0, 22001, 38000, T + 22000 / 16000.0);
}

TEST(AudioStream, CallbacksThatUnbindOrFail) {
    auto stream = makeStream({.chunkDuration = 0.25});
    int calls = 0;
    stream->bind([&](std::vector<float>, double) {
        ++calls;
        stream->unbind();  // from inside the delivery: no deadlock, no further chunk
        return platform::ok();
    });
    ASSERT_TRUE(stream->write(counting(1, 8000)));  // two chunks ready
    EXPECT_EQ(calls, 1);
    auto left = stream->readChunk();
    ASSERT_TRUE(left);
    expectChunk(*left, 0, 4001, 8000, 0.25);

    const platform::Error refused = platform::Error::make("test", 3, "full", "model busy");
    int failing = 0;
    stream->bind([&](std::vector<float>, double) -> platform::Status {
        ++failing;
        return platform::fail(refused);
    });
    auto status = stream->write(counting(1, 8000));
    ASSERT_FALSE(status);
    EXPECT_EQ(status.error(), refused);
    EXPECT_EQ(failing, 1);
    EXPECT_TRUE(stream->isChunkReady()) << "the second chunk stays; the first has gone";
    EXPECT_EQ(stream->state().writeIndex, 4000);

    // A typed binding gets its own collection.
    std::deque<float> last;
    stream->bind<std::deque<float>>([&](std::deque<float> samples, double) {
        last = std::move(samples);
        return platform::ok();
    });
    ASSERT_TRUE(stream->write(counting(1, 1)));
    ASSERT_EQ(last.size(), 4000u);
    EXPECT_EQ(last.front(), 4001.0f);
    const auto typed = stream->readChunk<std::deque<float>>([](std::deque<float> s, double t) { return s.size() + t; });
    EXPECT_FALSE(typed);
}

platform::Task<void> record(std::vector<std::pair<std::size_t, double>>* into, std::vector<float> samples,
                            double time) {
    into->emplace_back(samples.size(), time);
    co_return;
}

TEST(AudioStream, AsynchronousBindingsRunOnTheirExecutorLater) {
    platform::ManualExecutor executor;
    auto stream = makeStream({.chunkDuration = 0.25});
    std::vector<std::pair<std::size_t, double>> seen;
    stream->bindAsync(executor, [&seen](std::vector<float> samples, double time) {
        return record(&seen, std::move(samples), time);
    });
    ASSERT_TRUE(stream->write(counting(1, 8000)));
    EXPECT_TRUE(seen.empty()) << "the write does not wait for the tasks";
    executor.runUntilIdle();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1], (std::pair<std::size_t, double>{4000, 0.25}));
}

TEST(AudioStream, PcmBuffersAreConvertedToTheStreamRate) {
    auto stream = makeStream({.chunkDuration = 0.5});
    platform::PcmBuffer buffer(platform::PcmFormat::float32(48000, 2), 48000);
    for (std::uint32_t i = 0; i < 48000; ++i) {
        const float v = static_cast<float>(std::sin(2 * 3.14159265358979 * 300 * i / 48000.0));
        buffer.setSample(0, i, v);
        buffer.setSample(1, i, v);
    }
    buffer.setFrameLength(48000);
    Received got;
    stream->bind(got.callback());
    ASSERT_TRUE(stream->write(buffer));
    ASSERT_EQ(got.chunks.size(), 2u);
    EXPECT_EQ(got.chunks[1].samples.size(), 8000u);
    EXPECT_DOUBLE_EQ(got.chunks[1].time, 0.5);
    EXPECT_NEAR(got.chunks[1].samples[4000], std::sin(2 * 3.14159265358979 * 300 * 12000 / 16000.0), 2e-3);
}

}  // namespace
}  // namespace auralith
