#include <gtest/gtest.h>

#include <condition_variable>
#include <stdexcept>
#include <thread>

#include "platform/runtime/ManualExecutor.h"
#include "platform/runtime/Task.h"
#include "platform/runtime/WorkerPool.h"
#include "platform/testsupport/IgnoringCancellation.h"

using namespace platform;
using namespace std::chrono_literals;

namespace {

Task<int> answerAfter(Duration d, int value) {
    auto slept = co_await sleepFor(d);
    if (!slept) co_return -1;
    co_return value;
}

Task<int> sumOfChildren() {
    int a = co_await answerAfter(1s, 20);
    int b = co_await answerAfter(2s, 22);
    co_return a + b;
}

TEST(Task, RunsOnlyWhenSpawnedAndSleepsInVirtualTime) {
    ManualExecutor ex;
    auto h = spawn(ex, sumOfChildren());
    EXPECT_FALSE(h.done());
    ex.runUntilIdle();
    ex.advance(2999ms);
    EXPECT_FALSE(h.done());
    ex.advance(1ms);
    ASSERT_TRUE(h.done());
    EXPECT_EQ(h.value(), 42);
}

Task<Status> sleepAndReport(Duration d, std::vector<std::string>* log) {
    auto r = co_await sleepFor(d);
    log->push_back(r ? "slept" : (r.error().isCancellation() ? "cancelled" : "failed"));
    co_return r;
}

Task<Status> parentOf(Duration d, std::vector<std::string>* log) {
    auto r = co_await sleepAndReport(d, log);
    log->push_back("parent resumed");
    co_return r;
}

TEST(Task, CancellationReachesTheInnermostAwaitAtOnce) {
    ManualExecutor ex;
    std::vector<std::string> log;
    auto h = spawn(ex, parentOf(10s, &log));
    ex.advance(1s);
    h.cancel();
    ex.runUntilIdle();
    ASSERT_TRUE(h.done());
    EXPECT_EQ(ex.elapsed(), 1s);
    EXPECT_TRUE(h.value().error().isCancellation());
    EXPECT_EQ(log, (std::vector<std::string>{"cancelled", "parent resumed"}));
    EXPECT_EQ(ex.pendingTimers(), 0u);  // the sleep's timer went with it
}

TEST(Task, CancelledBeforeStartFailsTheFirstSleepWithoutWaiting) {
    ManualExecutor ex;
    std::vector<std::string> log;
    auto h = spawn(ex, sleepAndReport(5s, &log));
    h.cancel();
    ex.runUntilIdle();
    ASSERT_TRUE(h.done());
    EXPECT_EQ(log, std::vector<std::string>{"cancelled"});
}

TEST(Task, ParentStopTokenReachesSpawnedTask) {
    ManualExecutor ex;
    std::stop_source parent;
    std::vector<std::string> log;
    auto h = spawn(ex, sleepAndReport(5s, &log), parent.get_token());
    ex.advance(1s);
    parent.request_stop();
    ex.runUntilIdle();
    EXPECT_TRUE(h.done());
    EXPECT_EQ(log, std::vector<std::string>{"cancelled"});
}

Task<int> hopThroughPool(WorkerPool* pool, ManualExecutor* main, std::vector<bool>* where) {
    where->push_back(main->isCurrent());
    co_await resumeOn(*pool);
    where->push_back(pool->isCurrent());
    co_await resumeOn(*main);
    where->push_back(main->isCurrent());
    co_return 7;
}

Task<int> childMovesToPool(WorkerPool* pool) {
    co_await resumeOn(*pool);
    co_return 5;
}

Task<bool> parentStaysOnMain(WorkerPool* pool, ManualExecutor* main) {
    int v = co_await childMovesToPool(pool);
    co_return v == 5 && main->isCurrent();
}

TEST(Task, ResumeOnSwitchesExecutorsAndAChildNeverDragsItsParentAlong) {
    WorkerPool pool(2);
    ManualExecutor main;
    std::vector<bool> where;
    auto h = spawn(main, hopThroughPool(&pool, &main, &where));
    ASSERT_TRUE(main.runUntil([&] { return h.done(); }));
    EXPECT_EQ(h.value(), 7);
    EXPECT_EQ(where, (std::vector<bool>{true, true, true}));

    auto h2 = spawn(main, parentStaysOnMain(&pool, &main));
    ASSERT_TRUE(main.runUntil([&] { return h2.done(); }));
    EXPECT_TRUE(h2.value());
}

// Short sleeps on the pool, cancelled from another thread while they are
// being armed, firing or resuming: every task ends, each sleep either slept
// or was cancelled, and no stop callback outlives its frame (run this under
// ThreadSanitizer or AddressSanitizer to see a use after free).
Task<int> sleepsUntilCancelled(int rounds) {
    int slept = 0;
    for (int i = 0; i < rounds; ++i) {
        auto r = co_await sleepFor(std::chrono::microseconds(i % 3 == 0 ? 0 : 50));
        if (!r) {
            if (!r.error().isCancellation()) co_return -1;
            co_return slept;
        }
        ++slept;
    }
    co_return slept;
}

TEST(Task, SleepsOnThePoolSurviveCancellationRacingTheirTimers) {
    WorkerPool pool(4);
    constexpr int kTasks = 400, kRounds = 20;
    std::vector<JoinHandle<int>> handles;
    std::mutex mutex;
    std::condition_variable allDone;
    int finished = 0;
    for (int t = 0; t < kTasks; ++t) {
        handles.push_back(spawn(pool, sleepsUntilCancelled(kRounds)));
        handles.back().onDone([&] {
            std::lock_guard lock(mutex);
            if (++finished == kTasks) allDone.notify_all();
        });
    }
    // Cancel them while they run, in an order unrelated to their start.
    for (int t = 0; t < kTasks; t += 2) handles[t].cancel();
    for (int t = 1; t < kTasks; t += 2) handles[t].cancel();
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(allDone.wait_for(lock, 30s, [&] { return finished == kTasks; }));
    }
    for (const auto& h : handles) {
        EXPECT_GE(h.value(), 0);
        EXPECT_LE(h.value(), kRounds);
    }
}

Task<int> throws() {
    co_await sleepFor(1ms);
    throw std::runtime_error("boom");
}
Task<std::string> catches() {
    try {
        co_await throws();
    } catch (const std::runtime_error& e) {
        co_return std::string(e.what());
    }
    co_return "no exception";
}

TEST(Task, ExceptionsPropagateToTheAwaiter) {
    ManualExecutor ex;
    auto h = spawn(ex, catches());
    ex.advance(1ms);
    ASSERT_TRUE(h.done());
    EXPECT_EQ(h.value(), "boom");
}

Task<std::vector<int>> threeSleepers() {
    std::vector<Task<int>> tasks;
    tasks.push_back(answerAfter(3s, 3));
    tasks.push_back(answerAfter(1s, 1));
    tasks.push_back(answerAfter(2s, 2));
    co_return co_await allOf(std::move(tasks));
}

TEST(Task, AllOfRunsConcurrentlyAndKeepsOrder) {
    ManualExecutor ex;
    auto h = spawn(ex, threeSleepers());
    ex.advance(2999ms);
    EXPECT_FALSE(h.done());
    ex.advance(1ms);
    ASSERT_TRUE(h.done());
    EXPECT_EQ(h.value(), (std::vector<int>{3, 1, 2}));
}

TEST(Task, CancellingAnAllOfCancelsEveryMember) {
    ManualExecutor ex;
    auto h = spawn(ex, threeSleepers());
    ex.advance(500ms);
    h.cancel();
    ex.runUntilIdle();
    ASSERT_TRUE(h.done());
    EXPECT_EQ(h.value(), (std::vector<int>{-1, -1, -1}));
    EXPECT_EQ(ex.elapsed(), 500ms);
}

Task<int> reportCancellation(Duration d, int v, std::vector<int>* cancelled) {
    auto r = co_await sleepFor(d);
    if (!r) cancelled->push_back(v);
    co_return v;
}

Task<std::pair<std::size_t, int>> race(std::vector<int>* cancelled) {
    std::vector<Task<int>> tasks;
    tasks.push_back(reportCancellation(3s, 30, cancelled));
    tasks.push_back(reportCancellation(1s, 10, cancelled));
    tasks.push_back(reportCancellation(2s, 20, cancelled));
    co_return co_await firstOf(std::move(tasks));
}

TEST(Task, FirstOfReturnsTheWinnerAndStopsTheOthers) {
    ManualExecutor ex;
    std::vector<int> cancelled;
    auto h = spawn(ex, race(&cancelled));
    ex.advance(1s);
    ASSERT_TRUE(h.done());
    EXPECT_EQ(h.value(), (std::pair<std::size_t, int>{1, 10}));
    ex.runUntilIdle();
    std::sort(cancelled.begin(), cancelled.end());
    EXPECT_EQ(cancelled, (std::vector<int>{20, 30}));
    EXPECT_EQ(ex.pendingTimers(), 0u);
}

// Sleeps through cancellation: models work that ignores it.
Task<int> stubborn(Duration d, bool* finished) {
    auto stop = co_await currentStopToken();
    (void)stop;
    Executor& ex = co_await currentExecutor();
    co_await testsupport::WaitIgnoringCancellation{&ex, d};
    *finished = true;
    co_return 1;
}

Task<std::optional<int>> timed(Task<int> t, Duration limit) { co_return co_await withTimeout(std::move(t), limit); }

TEST(Task, WithTimeoutReturnsAtTheLimitEvenWhenTheWorkIgnoresCancellation) {
    ManualExecutor ex;
    bool finished = false;
    auto h = spawn(ex, timed(stubborn(5s, &finished), 2s));
    ex.advance(2s);
    ASSERT_TRUE(h.done());
    EXPECT_EQ(h.value(), std::nullopt);
    EXPECT_FALSE(finished);
    ex.advance(3s);  // the late work finishes in the background; its result is dropped
    EXPECT_TRUE(finished);

    auto fast = spawn(ex, timed(answerAfter(1s, 9), 2s));
    ex.advance(1s);
    ASSERT_TRUE(fast.done());
    EXPECT_EQ(fast.value(), 9);
}

Task<int> joinOther(JoinHandle<int> other) { co_return co_await other + 1; }

TEST(Task, AJoinHandleCanBeAwaitedWithoutCancellingIt) {
    ManualExecutor ex;
    auto first = spawn(ex, answerAfter(1s, 41));
    auto second = spawn(ex, joinOther(first));
    ex.advance(1s);
    ASSERT_TRUE(second.done());
    EXPECT_EQ(second.value(), 42);
    int callbacks = 0;
    second.onDone([&] { ++callbacks; });
    EXPECT_EQ(callbacks, 1);
}

}  // namespace
