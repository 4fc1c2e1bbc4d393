#pragma once

#include <functional>
#include <memory>

namespace platform::ui {

// The process's Qt application object as the program entry uses it: it keeps
// running with no window open (the program lives in its status item and
// global gestures), and it has one way out, `terminate`, which SIGINT and
// SIGTERM take as well, so whatever must be flushed at the end is flushed.
class Application {
public:
    // Creates the Qt application object.
    Application(int& argc, char** argv);
    // Drives the Qt application object that already exists (test mains create one).
    Application();
    ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // Runs once, on the event loop, at the start of `terminate`.
    void setWillTerminate(std::function<void()> willTerminate);

    // Runs `job` from the event loop once `exec` has started it.
    void whenRunning(std::function<void()> job);

    // Runs the event loop until `terminate`; returns the exit code.
    int exec();

    // Runs the will-terminate callback (once, however often this is called),
    // then ends the event loop with exit code 0. Called before `exec`, it
    // makes `exec` return at once.
    void terminate();
    bool isTerminating() const;

private:
    void install();

    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace platform::ui
