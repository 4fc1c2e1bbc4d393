#include "platform/runtime/Strand.h"

namespace platform {
namespace {
thread_local const void* t_currentStrand = nullptr;
}

struct Strand::State : std::enable_shared_from_this<State> {
    Executor* base = nullptr;
    std::mutex mutex;
    std::deque<Job> jobs;
    bool scheduled = false;

    void enqueue(Job job) {
        bool schedule = false;
        {
            std::lock_guard lock(mutex);
            jobs.push_back(std::move(job));
            if (!scheduled) schedule = scheduled = true;
        }
        if (schedule) base->post([self = shared_from_this()] { self->drainOne(); });
    }

    // One job per turn of the base executor, so a busy strand never starves others.
    void drainOne() {
        Job job;
        {
            std::lock_guard lock(mutex);
            job = std::move(jobs.front());
            jobs.pop_front();
        }
        const void* previous = t_currentStrand;
        t_currentStrand = this;
        job();
        t_currentStrand = previous;
        bool more = false;
        {
            std::lock_guard lock(mutex);
            more = !jobs.empty();
            if (!more) scheduled = false;
        }
        if (more) base->post([self = shared_from_this()] { self->drainOne(); });
    }
};

Strand::Strand(Executor& base) : state_(std::make_shared<State>()) { state_->base = &base; }
Strand::~Strand() = default;

void Strand::post(Job job) { state_->enqueue(std::move(job)); }
TimePoint Strand::now() const { return state_->base->now(); }
bool Strand::isCurrent() const { return t_currentStrand == state_.get(); }

void Strand::scheduleTimer(Duration delay, Job job, std::shared_ptr<std::atomic<bool>> cancelled) {
    std::weak_ptr<State> weak = state_;
    auto flag = cancelled;
    state_->base->scheduleTimer(
        delay,
        [weak, flag, j = std::move(job)]() mutable {
            if (flag && flag->load()) return;
            if (auto s = weak.lock()) s->enqueue([flag, j = std::move(j)]() mutable {
                if (!flag || !flag->load()) j();
            });
        },
        cancelled);
}

}  // namespace platform
