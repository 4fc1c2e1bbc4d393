#pragma once

// Contract tests every executor must pass. A driver knows how to let time
// pass on its executor: virtually for the manual one, for real for Qt's.

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "platform/runtime/Executor.h"

namespace platform::contract {

struct ExecutorDriver {
    virtual ~ExecutorDriver() = default;
    virtual Executor& executor() = 0;
    // Lets `d` pass and runs what became due.
    virtual void runFor(Duration d) = 0;
    // Runs until `done` holds (bounded).
    virtual bool runUntil(const std::function<bool()>& done) = 0;
};

inline void postsRunInOrderOnTheExecutor(ExecutorDriver& drv) {
    std::vector<int> order;
    bool allCurrent = true;
    auto& ex = drv.executor();
    for (int i = 0; i < 5; ++i)
        ex.post([&, i] {
            allCurrent = allCurrent && ex.isCurrent();
            order.push_back(i);
            if (i == 0) ex.post([&] { order.push_back(99); });  // nested: after the ones already queued
        });
    ASSERT_TRUE(drv.runUntil([&] { return order.size() == 6; }));
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4, 99}));
    EXPECT_TRUE(allCurrent);
}

inline void timersRunInDueOrderAndNotEarly(ExecutorDriver& drv) {
    auto& ex = drv.executor();
    std::vector<int> order;
    auto start = ex.now();
    std::vector<Duration> firedAt(3);
    // Delays far apart from the short wait below, so a loaded machine running
    // a real-time executor cannot make the "not early" check race.
    ex.postAfter(milliseconds(450), [&] { order.push_back(3); firedAt[2] = ex.now() - start; });
    ex.postAfter(milliseconds(150), [&] { order.push_back(1); firedAt[0] = ex.now() - start; });
    ex.postAfter(milliseconds(300), [&] { order.push_back(2); firedAt[1] = ex.now() - start; });
    drv.runFor(milliseconds(10));
    EXPECT_TRUE(order.empty());
    ASSERT_TRUE(drv.runUntil([&] { return order.size() == 3; }));
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
    EXPECT_GE(firedAt[0], milliseconds(150));
    EXPECT_GE(firedAt[2], milliseconds(450));
}

inline void cancelledTimersNeverRun(ExecutorDriver& drv) {
    auto& ex = drv.executor();
    bool ran = false, other = false;
    auto h = ex.postAfter(milliseconds(20), [&] { ran = true; });
    ex.postAfter(milliseconds(30), [&] { other = true; });
    EXPECT_TRUE(h.active());
    h.cancel();
    EXPECT_FALSE(h.active());
    ASSERT_TRUE(drv.runUntil([&] { return other; }));
    EXPECT_FALSE(ran);
}

inline void repeatingTimerRunsUntilCancelled(ExecutorDriver& drv) {
    auto& ex = drv.executor();
    int count = 0;
    TimerHandle h;
    h = ex.repeating(milliseconds(10), [&] {
        if (++count == 3) h.cancel();
    });
    ASSERT_TRUE(drv.runUntil([&] { return count == 3; }));
    drv.runFor(milliseconds(40));
    EXPECT_EQ(count, 3);
}

inline void postFromAnotherThreadRunsOnTheExecutor(ExecutorDriver& drv) {
    auto& ex = drv.executor();
    std::atomic<int> ran{0};
    std::atomic<bool> current{true};
    std::thread t([&] {
        EXPECT_FALSE(ex.isCurrent());
        for (int i = 0; i < 100; ++i)
            ex.post([&] {
                if (!ex.isCurrent()) current = false;
                ++ran;
            });
    });
    t.join();
    ASSERT_TRUE(drv.runUntil([&] { return ran == 100; }));
    EXPECT_TRUE(current);
}

inline void runAll(ExecutorDriver& drv) {
    postsRunInOrderOnTheExecutor(drv);
    timersRunInDueOrderAndNotEarly(drv);
    cancelledTimersNeverRun(drv);
    repeatingTimerRunsUntilCancelled(drv);
    postFromAnotherThreadRunsOnTheExecutor(drv);
}

}  // namespace platform::contract
