#pragma once

#include <deque>
#include <memory>
#include <mutex>

#include "platform/runtime/Executor.h"

namespace platform {

// Runs its jobs one after another, in order, on an underlying executor: the
// stand-in for an object that serialises its own operations. Jobs already
// queued keep the strand's state alive, so destroying the Strand early is safe.
class Strand : public Executor {
public:
    explicit Strand(Executor& base);
    ~Strand() override;

    void post(Job job) override;
    TimePoint now() const override;
    bool isCurrent() const override;
    void scheduleTimer(Duration delay, Job job, std::shared_ptr<std::atomic<bool>> cancelled) override;

private:
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace platform
