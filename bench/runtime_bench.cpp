// Throughput of posting jobs to an executor against a plain mutex-and-queue
// baseline doing the same hand-off, in the same run.

#include <benchmark/benchmark.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "bench/BenchMain.h"
#include "platform/runtime/ManualExecutor.h"
#include "platform/runtime/Strand.h"
#include "platform/runtime/WorkerPool.h"

namespace {

constexpr int kJobs = 10000;

// The baseline: one consumer thread draining a locked queue of std::function.
void BM_MutexQueueBaseline(benchmark::State& state) {
    for (auto _ : state) {
        std::mutex m;
        std::condition_variable cv;
        std::deque<std::function<void()>> q;
        int done = 0;
        bool stop = false;
        std::thread consumer([&] {
            for (;;) {
                std::function<void()> job;
                {
                    std::unique_lock lock(m);
                    cv.wait(lock, [&] { return stop || !q.empty(); });
                    if (q.empty()) return;
                    job = std::move(q.front());
                    q.pop_front();
                }
                job();
            }
        });
        for (int i = 0; i < kJobs; ++i) {
            {
                std::lock_guard lock(m);
                q.push_back([&done] { ++done; });
            }
            cv.notify_one();
        }
        {
            std::lock_guard lock(m);
            stop = true;
        }
        cv.notify_one();
        consumer.join();
        benchmark::DoNotOptimize(done);
    }
    state.SetItemsProcessed(state.iterations() * kJobs);
}
BENCHMARK(BM_MutexQueueBaseline)->UseRealTime();

void BM_WorkerPoolPost(benchmark::State& state) {
    for (auto _ : state) {
        std::atomic<int> done{0};
        {
            platform::WorkerPool pool(1);
            for (int i = 0; i < kJobs; ++i) pool.post([&done] { ++done; });
        }  // the destructor drains the queue
        benchmark::DoNotOptimize(done.load());
    }
    state.SetItemsProcessed(state.iterations() * kJobs);
}
BENCHMARK(BM_WorkerPoolPost)->UseRealTime();

void BM_ManualExecutorPostAndRun(benchmark::State& state) {
    platform::ManualExecutor ex;
    for (auto _ : state) {
        int done = 0;
        for (int i = 0; i < kJobs; ++i) ex.post([&done] { ++done; });
        ex.runUntilIdle();
        benchmark::DoNotOptimize(done);
    }
    state.SetItemsProcessed(state.iterations() * kJobs);
}
BENCHMARK(BM_ManualExecutorPostAndRun)->UseRealTime();

}  // namespace

// The pool adds thread start-up and a timer thread per iteration; it must stay
// within a small factor of the bare queue.
PARLOWEN_RATIO_TARGET("BM_WorkerPoolPost/real_time", "BM_MutexQueueBaseline/real_time", 3.0);
