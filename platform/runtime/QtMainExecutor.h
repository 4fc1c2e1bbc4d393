#pragma once

#include <memory>

#include "platform/runtime/Executor.h"

class QObject;

namespace platform {

// The main thread: jobs run as queued events of the Qt event loop of the
// thread that created the executor (QCoreApplication must exist).
class QtMainExecutor : public Executor {
public:
    QtMainExecutor();
    ~QtMainExecutor() override;

    void post(Job job) override;
    TimePoint now() const override { return std::chrono::steady_clock::now(); }
    bool isCurrent() const override;
    void scheduleTimer(Duration delay, Job job, std::shared_ptr<std::atomic<bool>> cancelled) override;

private:
    std::unique_ptr<QObject> context_;
};

}  // namespace platform
