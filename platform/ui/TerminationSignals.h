#pragma once

#include <functional>
#include <memory>

namespace platform::ui {

// Turns SIGINT and SIGTERM into a call on the Qt event loop, so quitting from
// a terminal or a service manager runs the same terminate path as a menu's
// Quit. The signal handler only writes to a pipe; `onSignal` runs later, on
// the thread that runs the event loop, with the signal's number.
// Needs a Qt application object; one instance at a time; restores the
// previous handlers when destroyed.
class TerminationSignals {
public:
    explicit TerminationSignals(std::function<void(int signal)> onSignal);
    ~TerminationSignals();
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace platform::ui
