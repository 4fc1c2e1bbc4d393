#pragma once

// Starts the test window program (TestTextWindow.cpp) from an integration
// test. The test target defines PARLOWEN_TEST_TEXT_WINDOW as its path.

#include <chrono>
#include <string>
#include <vector>

#include "platform/testsupport/Services.h"

namespace testsupport {

struct TestTextWindow {
    Process process;
    std::uint64_t window = 0;

    // Waits until the window program has printed `line` (a whole line).
    bool waitForLine(const std::string& line, std::chrono::milliseconds timeout = std::chrono::seconds(30)) const {
        return waitUntil([&] { return ("\n" + process.output()).find("\n" + line + "\n") != std::string::npos; },
                         timeout);
    }
};

// Starts the program with `arguments` in the fixture's environment and
// waits until its window is shown.
inline platform::Result<TestTextWindow> openTestTextWindow(const ServiceFixture& fixture, const std::string& name,
                                                           std::vector<std::string> arguments = {}) {
    std::vector<std::string> argv{PARLOWEN_TEST_TEXT_WINDOW};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    auto process = fixture.spawn(argv, {.outputFile = fixture.sandbox().root() / (name + ".log")});
    if (!process) return platform::fail(process.error());
    TestTextWindow w{std::move(*process)};
    waitUntil([&] { return w.process.output().find("ready window=") != std::string::npos || !w.process.running(); },
              std::chrono::seconds(30));
    std::string out = w.process.output();
    auto at = out.find("ready window=");
    if (at == std::string::npos)
        return platform::fail(platform::Error::make("test", 1, "noWindow", "the test window did not start: " + out));
    w.window = std::stoull(out.substr(at + 13));
    return w;
}

// The same, then gives the window the keyboard focus through the window
// manager, for tests whose keystrokes go to whatever has it.
inline platform::Result<TestTextWindow> openFocusedTestTextWindow(const ServiceFixture& fixture,
                                                                  const std::string& name,
                                                                  std::vector<std::string> arguments = {}) {
    auto w = openTestTextWindow(fixture, name, std::move(arguments));
    if (!w) return w;
    auto focused = fixture.run({"xdotool", "windowactivate", "--sync", std::to_string(w->window)});
    if (!focused.ok())
        return platform::fail(platform::Error::make("test", 2, "notFocused", "the test window did not get the focus: " +
                                                                              focused.describe()));
    // The window manager's answer comes before the program has the focus event.
    if (!w->waitForLine("focused", std::chrono::seconds(30)))
        return platform::fail(platform::Error::make("test", 2, "notFocused",
                                                    "the test window never had the focus: " + w->process.output()));
    return w;
}

}  // namespace testsupport
