#include "platform/runtime/ManualExecutor.h"

namespace platform {

ManualExecutor::ManualExecutor()
    : start_(TimePoint{} + std::chrono::hours(24)), now_(start_), owner_(std::this_thread::get_id()) {}

ManualExecutor::~ManualExecutor() = default;

void ManualExecutor::post(Job job) {
    {
        std::lock_guard lock(mutex_);
        ready_.push_back(std::move(job));
    }
    posted_.notify_all();
}

TimePoint ManualExecutor::now() const {
    std::lock_guard lock(mutex_);
    return now_;
}

bool ManualExecutor::isCurrent() const { return std::this_thread::get_id() == owner_; }

void ManualExecutor::scheduleTimer(Duration delay, Job job, std::shared_ptr<std::atomic<bool>> cancelled) {
    {
        std::lock_guard lock(mutex_);
        if (delay < Duration::zero()) delay = Duration::zero();
        timers_.emplace(std::make_tuple(now_ + delay, nextSeq_++), Timer{std::move(job), std::move(cancelled)});
    }
    posted_.notify_all();
}

void ManualExecutor::dropCancelledTimers() {
    for (auto it = timers_.begin(); it != timers_.end();) {
        if (it->second.cancelled && it->second.cancelled->load())
            it = timers_.erase(it);
        else
            ++it;
    }
}

bool ManualExecutor::runOneReady() {
    Job job;
    {
        std::lock_guard lock(mutex_);
        if (!ready_.empty()) {
            job = std::move(ready_.front());
            ready_.pop_front();
        } else {
            dropCancelledTimers();
            auto it = timers_.begin();
            if (it == timers_.end() || std::get<0>(it->first) > now_) return false;
            Timer t = std::move(it->second);
            timers_.erase(it);
            job = [j = std::move(t.job), c = std::move(t.cancelled)]() mutable {
                if (!c || !c->load()) j();
            };
        }
    }
    job();
    return true;
}

std::size_t ManualExecutor::runUntilIdle() {
    std::size_t n = 0;
    while (runOneReady()) ++n;
    return n;
}

bool ManualExecutor::runTimersUntil(TimePoint end, bool settle) {
    runUntilIdle();
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            dropCancelledTimers();
            const bool none = timers_.empty();
            if (none || std::get<0>(timers_.begin()->first) > end) {
                if (settle) now_ = end;
                return none;
            }
            now_ = std::max(now_, std::get<0>(timers_.begin()->first));
        }
        runUntilIdle();
    }
}

void ManualExecutor::advance(Duration d) {
    TimePoint target;
    {
        std::lock_guard lock(mutex_);
        target = now_ + d;
    }
    runTimersUntil(target, true);
    runUntilIdle();
}

bool ManualExecutor::advanceUntilIdle(Duration limit) {
    TimePoint end;
    {
        std::lock_guard lock(mutex_);
        end = now_ + limit;
    }
    return runTimersUntil(end, false);
}

bool ManualExecutor::runUntil(const std::function<bool()>& done, std::chrono::milliseconds realTimeout) {
    auto deadline = std::chrono::steady_clock::now() + realTimeout;
    for (;;) {
        runUntilIdle();
        if (done()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        // Short slices: `done` may be satisfied by other threads without posting here.
        std::unique_lock lock(mutex_);
        posted_.wait_until(lock, std::min(deadline, std::chrono::steady_clock::now() + std::chrono::milliseconds(2)),
                           [&] { return !ready_.empty(); });
    }
}

std::size_t ManualExecutor::pendingTimers() const {
    std::lock_guard lock(mutex_);
    std::size_t n = 0;
    for (auto& [k, t] : timers_)
        if (!t.cancelled || !t.cancelled->load()) ++n;
    return n;
}

std::size_t ManualExecutor::readyJobs() const {
    std::lock_guard lock(mutex_);
    return ready_.size();
}

Duration ManualExecutor::elapsed() const {
    std::lock_guard lock(mutex_);
    return now_ - start_;
}

}  // namespace platform
