#include <gtest/gtest.h>

#include <thread>

#include "platform/runtime/Channel.h"
#include "platform/runtime/ManualExecutor.h"

using namespace platform;
using namespace std::chrono_literals;

namespace {

struct Drained {
    std::vector<int> values;
    std::optional<Error> error;
    bool finished = false;
};

Task<void> drain(Channel<int> ch, Drained* out) {
    for (;;) {
        auto next = co_await ch.next();
        if (!next) {
            out->error = next.error();
            co_return;
        }
        if (!*next) {
            out->finished = true;
            co_return;
        }
        out->values.push_back(**next);
    }
}

TEST(Channel, DeliversBufferedAndLaterValuesThenFinishes) {
    ManualExecutor ex;
    Channel<int> ch;
    ch.send(1);
    ch.send(2);
    Drained d;
    auto h = spawn(ex, drain(ch, &d));
    ex.runUntilIdle();
    EXPECT_EQ(d.values, (std::vector<int>{1, 2}));
    ch.send(3);
    ex.runUntilIdle();
    ch.finish();
    ex.runUntilIdle();
    EXPECT_TRUE(h.done());
    EXPECT_EQ(d.values, (std::vector<int>{1, 2, 3}));
    EXPECT_TRUE(d.finished);
    EXPECT_FALSE(ch.send(4));
}

TEST(Channel, FailureEndsTheStreamAfterBufferedValues) {
    ManualExecutor ex;
    Channel<int> ch;
    ch.send(1);
    ch.fail(Error::make("http", 7, "timedOut", "timed out"));
    Drained d;
    spawn(ex, drain(ch, &d));
    ex.runUntilIdle();
    EXPECT_EQ(d.values, std::vector<int>{1});
    ASSERT_TRUE(d.error);
    EXPECT_EQ(d.error->caseName, "timedOut");
}

TEST(Channel, CancellingTheConsumerWakesItWithACancellationError) {
    ManualExecutor ex;
    Channel<int> ch;
    Drained d;
    auto h = spawn(ex, drain(ch, &d));
    ex.runUntilIdle();
    h.cancel();
    ex.runUntilIdle();
    ASSERT_TRUE(h.done());
    ASSERT_TRUE(d.error);
    EXPECT_TRUE(d.error->isCancellation());
}

TEST(Channel, ProducerLearnsThatTheConsumerStopped) {
    Channel<int> ch;
    int told = 0;
    ch.onConsumerStopped([&] { ++told; });
    EXPECT_TRUE(ch.send(1));
    ch.stopConsuming();
    EXPECT_EQ(told, 1);
    EXPECT_TRUE(ch.consumerStopped());
    EXPECT_FALSE(ch.send(2));
    ch.onConsumerStopped([&] { ++told; });  // late registration runs at once
    EXPECT_EQ(told, 2);
}

TEST(Channel, ValuesFromAnotherThreadArriveInOrder) {
    ManualExecutor ex;
    Channel<int> ch;
    Drained d;
    auto h = spawn(ex, drain(ch, &d));
    std::thread producer([ch] {
        for (int i = 0; i < 2000; ++i) ch.send(i);
        ch.finish();
    });
    ASSERT_TRUE(ex.runUntil([&] { return h.done(); }));
    producer.join();
    ASSERT_EQ(d.values.size(), 2000u);
    for (int i = 0; i < 2000; ++i) ASSERT_EQ(d.values[i], i);
    EXPECT_TRUE(d.finished);
}

}  // namespace
