#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <cassert>
#include <memory>
#include <utility>

namespace platform {

using Duration = std::chrono::nanoseconds;
using TimePoint = std::chrono::steady_clock::time_point;
using Job = std::move_only_function<void()>;

inline constexpr Duration seconds(double s) {
    return std::chrono::duration_cast<Duration>(std::chrono::duration<double>(s));
}
inline constexpr Duration milliseconds(std::int64_t ms) { return std::chrono::milliseconds(ms); }

// Shared flag between a scheduled timer and whoever may cancel it.
class TimerHandle {
public:
    TimerHandle() = default;
    explicit TimerHandle(std::shared_ptr<std::atomic<bool>> cancelled) : cancelled_(std::move(cancelled)) {}

    void cancel() {
        if (cancelled_) cancelled_->store(true);
    }
    // False once cancelled (a fired one-shot timer still reads true).
    bool active() const { return cancelled_ && !cancelled_->load(); }
    explicit operator bool() const { return static_cast<bool>(cancelled_); }

private:
    std::shared_ptr<std::atomic<bool>> cancelled_;
};

// Cancels its timer when it goes out of scope or is reassigned.
class ScopedTimer {
public:
    ScopedTimer() = default;
    ScopedTimer(TimerHandle h) : handle_(std::move(h)) {}
    ScopedTimer(ScopedTimer&& o) noexcept : handle_(std::exchange(o.handle_, {})) {}
    ScopedTimer& operator=(ScopedTimer&& o) noexcept {
        if (this != &o) {
            handle_.cancel();
            handle_ = std::exchange(o.handle_, {});
        }
        return *this;
    }
    ScopedTimer& operator=(TimerHandle h) {
        handle_.cancel();
        handle_ = std::move(h);
        return *this;
    }
    ~ScopedTimer() { handle_.cancel(); }
    void cancel() { handle_.cancel(); }
    bool active() const { return handle_.active(); }

private:
    TimerHandle handle_;
};

// Where work runs. The main thread, the worker pool, strands and the manual
// test executor all implement this, so code never knows which one it has.
class Executor {
public:
    virtual ~Executor() = default;

    // Runs `job` later, after everything already posted. Thread-safe.
    virtual void post(Job job) = 0;
    // Runs `job` once `delay` has passed on this executor's clock, unless cancelled first.
    TimerHandle postAfter(Duration delay, Job job);
    // Runs `job` every `interval` until cancelled. The first run is one interval from now.
    TimerHandle repeating(Duration interval, std::function<void()> job);
    virtual TimePoint now() const = 0;
    // True on the thread (or strand turn) that runs this executor's jobs.
    virtual bool isCurrent() const = 0;

    // Schedules `job` after `delay`; implementations skip (and may drop) it once
    // `cancelled` is set. Public so one executor can forward to another.
    virtual void scheduleTimer(Duration delay, Job job, std::shared_ptr<std::atomic<bool>> cancelled) = 0;
};

// Check that main-thread types are used on the main executor. It is on in
// debug and CI builds, which define NDEBUG or not, so it does not use assert.
[[noreturn]] void failExecutorCheck(const char* expression, const char* file, int line);
#ifdef PARLOWEN_DEBUG_CHECKS
#define PARLOWEN_ASSERT_ON(executor) \
    ((executor).isCurrent() ? (void)0 : ::platform::failExecutorCheck(#executor, __FILE__, __LINE__))
#else
#define PARLOWEN_ASSERT_ON(executor) ((void)0)
#endif

}  // namespace platform
