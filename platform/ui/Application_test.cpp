#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <csignal>

#include "platform/ui/Application.h"

namespace platform::ui {
namespace {

// Ends a loop that failed to end by itself, so a broken quit path fails
// instead of hanging until the test's timeout.
constexpr int kStuck = 99;
class HangGuard {
public:
    HangGuard() {
        timer_.setSingleShot(true);
        QObject::connect(&timer_, &QTimer::timeout, [] { QCoreApplication::exit(kStuck); });
        timer_.start(10000);
    }

private:
    QTimer timer_;
};

TEST(Application, TerminationSignalsRunTheTerminatePathOnceAndEndTheLoop) {
    for (int sig : {SIGTERM, SIGINT}) {
        Application app;
        int willTerminate = 0;
        app.setWillTerminate([&] { ++willTerminate; });
        app.whenRunning([sig] {
            std::raise(sig);
            std::raise(sig);
        });
        HangGuard guard;
        EXPECT_EQ(app.exec(), 0) << sig;
        EXPECT_EQ(willTerminate, 1) << sig;
        EXPECT_TRUE(app.isTerminating());
    }
}

TEST(Application, TerminateBeforeTheLoopRunsMakesExecReturnAtOnce) {
    Application app;
    int willTerminate = 0;
    app.setWillTerminate([&] { ++willTerminate; });
    app.terminate();
    app.terminate();
    EXPECT_EQ(willTerminate, 1);
    EXPECT_EQ(app.exec(), 0);
}

TEST(Application, ClosingTheLastWindowDoesNotEndTheProgram) {
    QApplication::setQuitOnLastWindowClosed(true);
    Application app;
    EXPECT_FALSE(QApplication::quitOnLastWindowClosed());

    QWidget window;
    window.show();
    int willTerminate = 0;
    app.setWillTerminate([&] { ++willTerminate; });
    app.whenRunning([&] {
        window.close();
        // Still running well after the close has been handled: only terminate
        // ends it (an automatic quit would end the loop before this fires).
        QTimer::singleShot(50, &window, [&] { app.terminate(); });
    });
    HangGuard guard;
    EXPECT_EQ(app.exec(), 0);
    EXPECT_EQ(willTerminate, 1);
}

TEST(Application, RestoresThePreviousSignalHandlersWhenDestroyed) {
    struct sigaction before {};
    ::sigaction(SIGTERM, nullptr, &before);
    {
        Application app;
        struct sigaction during {};
        ::sigaction(SIGTERM, nullptr, &during);
        EXPECT_NE(during.sa_handler, before.sa_handler);
    }
    struct sigaction after {};
    ::sigaction(SIGTERM, nullptr, &after);
    EXPECT_EQ(after.sa_handler, before.sa_handler);
}

}  // namespace
}  // namespace platform::ui
