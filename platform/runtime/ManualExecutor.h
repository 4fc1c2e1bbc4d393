#pragma once

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <tuple>

#include "platform/runtime/Executor.h"

namespace platform {

// The test stand-in for the main thread and the worker pool: nothing runs
// until the test says so, and time only moves when the test moves it.
// Posting is thread-safe, so real threads in a test can hand work back.
class ManualExecutor : public Executor {
public:
    ManualExecutor();
    ~ManualExecutor() override;

    void post(Job job) override;
    TimePoint now() const override;
    // True on the thread that created the executor (the test's thread).
    bool isCurrent() const override;
    void scheduleTimer(Duration delay, Job job, std::shared_ptr<std::atomic<bool>> cancelled) override;

    // Runs posted jobs and timers already due, without moving the clock,
    // until nothing is ready. Returns how many jobs ran.
    std::size_t runUntilIdle();
    // Moves the clock forward by `d`, running each timer at its own due time
    // and everything that becomes ready along the way.
    void advance(Duration d);
    // Moves to each next timer in turn until none is left or `limit` of
    // virtual time has passed. Returns false when timers remain (a repeating
    // timer, say).
    bool advanceUntilIdle(Duration limit = std::chrono::hours(1));
    // Waits in real time (for other threads to post) and runs what arrives,
    // until `done()` or `realTimeout` passes. For tests where threads are the point.
    bool runUntil(const std::function<bool()>& done,
                  std::chrono::milliseconds realTimeout = std::chrono::milliseconds(5000));

    std::size_t pendingTimers() const;
    std::size_t readyJobs() const;
    // Virtual time since construction.
    Duration elapsed() const;

private:
    struct Timer {
        Job job;
        std::shared_ptr<std::atomic<bool>> cancelled;
    };
    bool runOneReady();
    void dropCancelledTimers();
    // Runs what is ready, then moves the clock to each timer due by `end` in
    // turn and runs what that makes ready. True when no timer is left; with
    // `settle` the clock ends at `end`.
    bool runTimersUntil(TimePoint end, bool settle);

    mutable std::mutex mutex_;
    std::condition_variable posted_;
    std::deque<Job> ready_;
    std::map<std::tuple<TimePoint, std::uint64_t>, Timer> timers_;
    std::uint64_t nextSeq_ = 0;
    TimePoint start_;
    TimePoint now_;
    std::thread::id owner_;
};

}  // namespace platform
