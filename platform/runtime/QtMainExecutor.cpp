#include "platform/runtime/QtMainExecutor.h"

#include <QCoreApplication>
#include <QObject>
#include <QThread>
#include <QTimer>

namespace platform {

QtMainExecutor::QtMainExecutor() : context_(std::make_unique<QObject>()) {}

QtMainExecutor::~QtMainExecutor() = default;

void QtMainExecutor::post(Job job) {
    // Qt copies functors; the shared wrapper keeps move-only jobs movable.
    auto shared = std::make_shared<Job>(std::move(job));
    QMetaObject::invokeMethod(context_.get(), [shared] { (*shared)(); }, Qt::QueuedConnection);
}

bool QtMainExecutor::isCurrent() const { return QThread::currentThread() == context_->thread(); }

void QtMainExecutor::scheduleTimer(Duration delay, Job job, std::shared_ptr<std::atomic<bool>> cancelled) {
    auto shared = std::make_shared<Job>(std::move(job));
    auto ms = std::chrono::ceil<std::chrono::milliseconds>(std::max(delay, Duration::zero())).count();
    QObject* ctx = context_.get();
    auto arm = [ctx, shared, cancelled, ms] {
        QTimer::singleShot(static_cast<int>(ms), Qt::PreciseTimer, ctx, [shared, cancelled] {
            if (!cancelled || !cancelled->load()) (*shared)();
        });
    };
    // Timers belong to the main thread; arm from there.
    if (isCurrent())
        arm();
    else
        QMetaObject::invokeMethod(ctx, arm, Qt::QueuedConnection);
}

}  // namespace platform
