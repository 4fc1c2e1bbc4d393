#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include "platform/runtime/ExecutorContract.h"
#include "platform/runtime/QtMainExecutor.h"

using namespace platform;

namespace {

// The Qt test main has created the application object.
void app() { ASSERT_NE(QCoreApplication::instance(), nullptr); }

struct QtDriver : contract::ExecutorDriver {
    QtDriver() { app(); }
    QtMainExecutor ex;
    Executor& executor() override { return ex; }
    void runFor(Duration d) override {
        QElapsedTimer t;
        t.start();
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
        while (t.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    bool runUntil(const std::function<bool()>& done) override {
        QElapsedTimer t;
        t.start();
        while (!done() && t.elapsed() < 5000) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        return done();
    }
};

TEST(QtMainExecutor, PassesTheExecutorContract) {
    QtDriver drv;
    contract::runAll(drv);
}

TEST(QtMainExecutor, TimersScheduledFromAnotherThreadRunOnTheMainThread) {
    QtDriver drv;
    bool ran = false, current = false;
    std::thread t([&] {
        drv.ex.postAfter(std::chrono::milliseconds(5), [&] {
            ran = true;
            current = drv.ex.isCurrent();
        });
    });
    t.join();
    ASSERT_TRUE(drv.runUntil([&] { return ran; }));
    EXPECT_TRUE(current);
}

}  // namespace
