#pragma once

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/runtime/Executor.h"

namespace platform {

// Background threads for work that must not hold up the main thread.
// Timers wait on one extra thread and are handed to the workers when due.
class WorkerPool : public Executor {
public:
    explicit WorkerPool(unsigned threads = std::max(2u, std::thread::hardware_concurrency()));
    ~WorkerPool() override;  // finishes queued jobs, drops pending timers

    void post(Job job) override;
    TimePoint now() const override { return std::chrono::steady_clock::now(); }
    bool isCurrent() const override;
    void scheduleTimer(Duration delay, Job job, std::shared_ptr<std::atomic<bool>> cancelled) override;

private:
    struct Timer {
        Job job;
        std::shared_ptr<std::atomic<bool>> cancelled;
    };
    void workerLoop();
    void timerLoop();

    std::mutex mutex_;
    std::condition_variable workAvailable_;
    std::condition_variable timersChanged_;
    std::deque<Job> jobs_;
    std::map<std::tuple<TimePoint, std::uint64_t>, Timer> timers_;
    std::uint64_t nextSeq_ = 0;
    bool stopping_ = false;
    std::vector<std::thread> workers_;
    std::thread timerThread_;
};

}  // namespace platform
