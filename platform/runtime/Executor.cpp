#include "platform/runtime/Executor.h"

#include <cstdio>
#include <cstdlib>

namespace platform {
namespace {

// Every run of a repeating timer shares one cancel flag, so cancelling the
// handle also drops the run that is already scheduled.
struct Repeater : std::enable_shared_from_this<Repeater> {
    Executor* executor = nullptr;
    Duration interval{};
    std::function<void()> job;
    std::shared_ptr<std::atomic<bool>> cancelled;

    void schedule() {
        executor->scheduleTimer(
            interval,
            [self = shared_from_this()] {
                if (self->cancelled->load()) return;
                self->job();
                if (!self->cancelled->load()) self->schedule();
            },
            cancelled);
    }
};

}  // namespace

TimerHandle Executor::postAfter(Duration delay, Job job) {
    auto flag = std::make_shared<std::atomic<bool>>(false);
    scheduleTimer(delay, std::move(job), flag);
    return TimerHandle(flag);
}

TimerHandle Executor::repeating(Duration interval, std::function<void()> job) {
    auto r = std::make_shared<Repeater>();
    r->executor = this;
    r->interval = interval;
    r->job = std::move(job);
    r->cancelled = std::make_shared<std::atomic<bool>>(false);
    r->schedule();
    return TimerHandle(r->cancelled);
}

void failExecutorCheck(const char* expression, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: used off its executor: %s is not current\n", file, line, expression);
    std::abort();
}

}  // namespace platform
