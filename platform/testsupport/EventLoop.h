#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <chrono>
#include <functional>

namespace testsupport {

// Runs the Qt event loop until `condition` holds or `timeout` passes. It
// waits for events instead of sleeping between turns, for work (such as the
// web engine's) that moves only while the loop runs.
inline bool runEventLoopUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    QElapsedTimer clock;
    clock.start();
    QTimer wake;  // so that the condition is checked now and then
    wake.start(20);
    while (!condition()) {
        if (clock.elapsed() > timeout.count()) return condition();
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

}  // namespace testsupport
