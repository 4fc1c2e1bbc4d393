#include <gtest/gtest.h>

#include "platform/runtime/ExecutorContract.h"
#include "platform/runtime/ManualExecutor.h"
#include "platform/runtime/Strand.h"
#include "platform/runtime/WorkerPool.h"

using namespace platform;
using namespace std::chrono_literals;

namespace {

struct ManualDriver : contract::ExecutorDriver {
    ManualExecutor ex;
    Executor& executor() override { return ex; }
    void runFor(Duration d) override { ex.advance(d); }
    bool runUntil(const std::function<bool()>& done) override {
        for (int i = 0; i < 1000 && !done(); ++i) {
            ex.runUntilIdle();
            if (done()) break;
            if (ex.pendingTimers() == 0) return ex.runUntil(done, 2000ms);
            ex.advance(1ms);
        }
        return done();
    }
};

TEST(ManualExecutor, PassesTheExecutorContract) {
    ManualDriver drv;
    contract::runAll(drv);
}

TEST(ManualExecutor, VirtualTimeOnlyMovesWhenTold) {
    ManualExecutor ex;
    std::vector<std::pair<int, Duration>> fired;
    ex.postAfter(2s, [&] {
        fired.emplace_back(2, ex.elapsed());
        // A timer scheduled from a timer counts from its own due time.
        ex.postAfter(1s, [&] { fired.emplace_back(3, ex.elapsed()); });
    });
    ex.postAfter(500ms, [&] { fired.emplace_back(1, ex.elapsed()); });
    ex.runUntilIdle();
    EXPECT_TRUE(fired.empty());
    ex.advance(1999ms);
    ASSERT_EQ(fired.size(), 1u);
    EXPECT_EQ(fired[0].second, 500ms);
    ex.advance(1ms);
    ASSERT_EQ(fired.size(), 2u);
    EXPECT_EQ(fired[1].second, 2s);
    EXPECT_TRUE(ex.advanceUntilIdle());
    ASSERT_EQ(fired.size(), 3u);
    EXPECT_EQ(fired[2].second, 3s);
    EXPECT_EQ(ex.elapsed(), 3s);
}

TEST(ManualExecutor, AdvanceUntilIdleStopsAtTheLimitForEndlessTimers) {
    ManualExecutor ex;
    int ticks = 0;
    auto h = ex.repeating(1s, [&] { ++ticks; });
    EXPECT_FALSE(ex.advanceUntilIdle(10s));
    EXPECT_EQ(ticks, 10);
    h.cancel();
    EXPECT_EQ(ex.pendingTimers(), 0u);
    EXPECT_TRUE(ex.advanceUntilIdle());
}

TEST(ManualExecutor, ScopedTimerCancelsOnReassignAndDestruction) {
    ManualExecutor ex;
    int a = 0, b = 0;
    {
        ScopedTimer t = ex.postAfter(1s, [&] { ++a; });
        t = ex.postAfter(1s, [&] { ++b; });
        ex.advance(1s);
        EXPECT_EQ(a, 0);
        EXPECT_EQ(b, 1);
        t = ex.postAfter(1s, [&] { ++b; });
    }
    ex.advance(2s);
    EXPECT_EQ(b, 1);
}

TEST(WorkerPool, RunsJobsOnItsThreadsAndHonoursTimers) {
    WorkerPool pool(2);
    ManualExecutor main;
    std::atomic<int> onPool{0};
    std::atomic<bool> timerFired{false};
    for (int i = 0; i < 50; ++i)
        pool.post([&] {
            if (pool.isCurrent()) ++onPool;
        });
    auto cancelled = pool.postAfter(1ms, [&] { ADD_FAILURE() << "cancelled timer ran"; });
    cancelled.cancel();
    pool.postAfter(5ms, [&] { main.post([&] { timerFired = true; }); });
    EXPECT_FALSE(pool.isCurrent());
    EXPECT_TRUE(main.runUntil([&] { return onPool == 50 && timerFired; }));
}

TEST(Strand, SerialisesJobsPostedFromManyThreads) {
    WorkerPool pool(4);
    Strand strand(pool);
    std::atomic<int> inside{0};
    std::atomic<int> maxInside{0};
    std::atomic<int> done{0};
    std::vector<int> order;
    std::vector<std::thread> producers;
    for (int p = 0; p < 4; ++p)
        producers.emplace_back([&, p] {
            for (int i = 0; i < 100; ++i)
                strand.post([&, p, i] {
                    int now = ++inside;
                    maxInside = std::max(maxInside.load(), now);
                    EXPECT_TRUE(strand.isCurrent());
                    if (p == 0) order.push_back(i);
                    --inside;
                    ++done;
                });
        });
    for (auto& t : producers) t.join();
    ManualExecutor main;
    ASSERT_TRUE(main.runUntil([&] { return done == 400; }));
    EXPECT_EQ(maxInside, 1);
    ASSERT_EQ(order.size(), 100u);
    EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
}

TEST(Strand, ForwardsTimersToItsBase) {
    ManualExecutor ex;
    Strand strand(ex);
    bool ran = false, wasCurrent = false;
    strand.postAfter(1s, [&] {
        ran = true;
        wasCurrent = strand.isCurrent();
    });
    ex.advance(999ms);
    EXPECT_FALSE(ran);
    ex.advance(1ms);
    EXPECT_TRUE(ran);
    EXPECT_TRUE(wasCurrent);
    EXPECT_FALSE(strand.isCurrent());
}

}  // namespace
