#pragma once

// Qt tests render offscreen, where the clipboard and the keyboard focus never
// leave the process. A test that needs the real display starts its own test
// program again, filtered to itself, in a fixture's environment, and does
// its work there:
//
//   TEST(Suite, Name) {
//       if (!testsupport::onDisplayChild()) {
//           testsupport::XvfbDisplay display;
//           PARLOWEN_REQUIRE_OR_SKIP(display.start());
//           return testsupport::runCurrentTestOnDisplay(display.environment());
//       }
//       ... the test itself, on the display ...
//   }

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QGuiApplication>

#include <chrono>
#include <functional>
#include <string>

#include "platform/runtime/Environment.h"
#include "platform/runtime/Resources.h"
#include "platform/testsupport/EventLoop.h"
#include "platform/testsupport/Process.h"
#include "platform/testsupport/Services.h"
#include "platform/testsupport/TempHome.h"

namespace testsupport {

inline constexpr const char* kOnDisplayMarker = "PARLOWEN_ON_DISPLAY_CHILD";

// Whether this process is the child that runs the current test on a display.
inline bool onDisplayChild() {
    return platform::Environment::fromProcess().has(kOnDisplayMarker) && QGuiApplication::platformName() == "xcb";
}

// Runs the current test again in a child process with `env` (which names
// the display); the child's failures become this test's.
inline void runCurrentTestOnDisplay(const platform::Environment& env,
                                    std::chrono::milliseconds timeout = std::chrono::seconds(45)) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string filter = std::string("--gtest_filter=") + info->test_suite_name() + "." + info->name();
    auto r = runProcess({platform::executablePath().string(), filter},
                        env.with(kOnDisplayMarker, "1"), RunOptions{.timeout = timeout});
    EXPECT_TRUE(r.ok()) << r.describe();
    EXPECT_NE(r.out.find("[  PASSED  ] 1 test."), std::string::npos) << r.out;
}

// Waits for `condition` while the Qt event loop runs (the clipboard is
// served and its notices arrive only then).
inline bool pumpUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    return runEventLoopUntil(condition, timeout);
}

// Another program writes `text` to the clipboard (xclip stays behind to serve it).
inline void xclipWrite(const std::string& text) {
    auto r = xclipWriteAndConfirm(text, platform::Environment::fromProcess());
    ASSERT_TRUE(r.ok()) << r.describe();
}

// Another program reads the clipboard as `target` while our loop serves it.
inline std::string xclipRead(const std::string& target) {
    TempDir dir;
    auto out = dir / "xclip.out";
    auto p = Process::spawn({"xclip", "-selection", "clipboard", "-o", "-t", target},
                            platform::Environment::fromProcess(), SpawnOptions{.outputFile = out});
    if (!p) return "<xclip did not start: " + p.error().description + ">";
    if (!pumpUntil([&] { return !p->running(); }, std::chrono::seconds(10))) return "<xclip did not finish>";
    return p->output();
}

}  // namespace testsupport
