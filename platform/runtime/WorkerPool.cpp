#include "platform/runtime/WorkerPool.h"

namespace platform {
namespace {
thread_local const WorkerPool* t_currentPool = nullptr;
}

WorkerPool::WorkerPool(unsigned threads) {
    for (unsigned i = 0; i < std::max(1u, threads); ++i) workers_.emplace_back([this] { workerLoop(); });
    timerThread_ = std::thread([this] { timerLoop(); });
}

WorkerPool::~WorkerPool() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    workAvailable_.notify_all();
    timersChanged_.notify_all();
    for (auto& t : workers_) t.join();
    timerThread_.join();
}

void WorkerPool::post(Job job) {
    {
        std::lock_guard lock(mutex_);
        jobs_.push_back(std::move(job));
    }
    workAvailable_.notify_one();
}

bool WorkerPool::isCurrent() const { return t_currentPool == this; }

void WorkerPool::scheduleTimer(Duration delay, Job job, std::shared_ptr<std::atomic<bool>> cancelled) {
    {
        std::lock_guard lock(mutex_);
        timers_.emplace(std::make_tuple(now() + std::max(delay, Duration::zero()), nextSeq_++),
                        Timer{std::move(job), std::move(cancelled)});
    }
    timersChanged_.notify_one();
}

void WorkerPool::workerLoop() {
    t_currentPool = this;
    for (;;) {
        Job job;
        {
            std::unique_lock lock(mutex_);
            workAvailable_.wait(lock, [&] { return stopping_ || !jobs_.empty(); });
            if (jobs_.empty()) return;  // stopping and drained
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        job();
    }
}

void WorkerPool::timerLoop() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        if (timers_.empty()) {
            timersChanged_.wait(lock);
            continue;
        }
        auto it = timers_.begin();
        auto due = std::get<0>(it->first);
        if (it->second.cancelled && it->second.cancelled->load()) {
            timers_.erase(it);
            continue;
        }
        if (due > now()) {
            timersChanged_.wait_until(lock, due);
            continue;
        }
        Timer t = std::move(it->second);
        timers_.erase(it);
        jobs_.push_back([j = std::move(t.job), c = std::move(t.cancelled)]() mutable {
            if (!c || !c->load()) j();
        });
        workAvailable_.notify_one();
    }
}

}  // namespace platform
