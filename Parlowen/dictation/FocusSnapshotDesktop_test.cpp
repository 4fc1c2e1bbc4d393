// The focus snapshot against a real desktop: Xvfb with a window manager, the
// accessibility bus, and a Qt window with a line edit and a password field.

#include <gtest/gtest.h>

#include "Parlowen/dictation/FocusSnapshot.h"
#include "platform/accessibility/AtspiAccessibility.h"
#include "platform/accessibility/TestTextWindow.h"
#include "platform/testsupport/Services.h"
#include "platform/x11/X11Workspace.h"

namespace parlowen {
namespace {

using namespace std::chrono_literals;

class FocusSnapshotDesktopTest : public ::testing::Test {
protected:
    void SetUp() override {
        PARLOWEN_REQUIRE_OR_SKIP(desktop.start());
        desktop.exportToProcess();  // libatspi reads the process's own variables
        accessibility = std::make_unique<platform::AtspiAccessibility>(desktop.environment());
        workspace = std::make_unique<platform::X11Workspace>(desktop.environment());
        ASSERT_TRUE(accessibility->requestTrust());
    }

    // A snapshot once the window's field has the focus.
    std::optional<FocusSnapshot> captureOf(pid_t pid) {
        std::optional<FocusSnapshot> snapshot;
        testsupport::waitUntil(
            [&] {
                snapshot = FocusSnapshot::capture(*accessibility, *workspace);
                return snapshot && snapshot->processIdentifier == pid;
            },
            20s);
        return snapshot;
    }

    testsupport::DesktopSession desktop;
    std::unique_ptr<platform::AtspiAccessibility> accessibility;
    std::unique_ptr<platform::X11Workspace> workspace;
};

TEST_F(FocusSnapshotDesktopTest, CapturesTheLineEditAndInsertsIntoIt) {
    auto window = testsupport::openTestTextWindow(desktop, "line", {"--focus", "line", "--text", "Dear "});
    ASSERT_TRUE(window) << window.error().description;
    auto snapshot = captureOf(window->process.pid());
    ASSERT_TRUE(snapshot) << "no snapshot of the test window";
    EXPECT_EQ(snapshot->bundleIdentifier, "parlowen_test_text_window");
    EXPECT_FALSE(snapshot->isSecureField);
    EXPECT_FALSE(snapshot->isLikelyChromiumApp);
    EXPECT_TRUE(snapshot->insertViaAX("Sir"));
    EXPECT_TRUE(window->waitForLine("line=Dear Sir")) << window->process.output();
}

TEST_F(FocusSnapshotDesktopTest, OnlyThePasswordFieldIsSecure) {
    auto window = testsupport::openTestTextWindow(desktop, "password", {"--focus", "password"});
    ASSERT_TRUE(window) << window.error().description;
    auto snapshot = captureOf(window->process.pid());
    ASSERT_TRUE(snapshot);
    EXPECT_TRUE(snapshot->isSecureField);
}

TEST_F(FocusSnapshotDesktopTest, ReactivatesTheCapturedApplicationThroughTheWindowManager) {
    auto first = testsupport::openTestTextWindow(desktop, "first", {"--focus", "line"});
    ASSERT_TRUE(first) << first.error().description;
    auto snapshot = captureOf(first->process.pid());
    ASSERT_TRUE(snapshot);
    EXPECT_TRUE(snapshot->reactivate(*workspace)) << "already in front";

    auto second = testsupport::openTestTextWindow(desktop, "second", {"--focus", "line"});
    ASSERT_TRUE(second) << second.error().description;
    auto frontmostPid = [&] {
        auto app = workspace->frontmostApplication();
        return app ? app->processIdentifier : 0;
    };
    ASSERT_TRUE(testsupport::waitUntil([&] { return frontmostPid() == second->process.pid(); }, 10s));
    EXPECT_TRUE(snapshot->reactivate(*workspace));
    EXPECT_TRUE(testsupport::waitUntil([&] { return frontmostPid() == first->process.pid(); }, 10s));

    first->process.stop();
    EXPECT_FALSE(snapshot->reactivate(*workspace)) << "the application has quit";
}

}  // namespace
}  // namespace parlowen
