#include "platform/accessibility/AtspiAccessibility.h"

#include <gtest/gtest.h>
#include <signal.h>

#include "platform/accessibility/AccessibilityPermissionSource.h"
#include "platform/accessibility/TestTextWindow.h"
#include "platform/runtime/ManualExecutor.h"
#include "platform/testsupport/Services.h"

namespace platform {
namespace {

using namespace std::chrono_literals;

// A desktop with the accessibility bus, assistive technology switched on,
// and the test window with the focus in the field that `focus` names.
class AtspiAccessibilityTest : public ::testing::Test {
protected:
    void startDesktop() {
        PARLOWEN_REQUIRE_OR_SKIP(desktop.start());
        // libatspi finds the buses from the process's own variables.
        desktop.exportToProcess();
        ax = std::make_unique<AtspiAccessibility>(desktop.environment());
        ASSERT_TRUE(ax->requestTrust());
    }

    // The focused element once the window's field has the focus.
    std::shared_ptr<AccessibleElement> waitForFocus(pid_t pid) {
        std::shared_ptr<AccessibleElement> found;
        testsupport::waitUntil(
            [&] {
                auto e = ax->focusedElement();
                if (!e || !*e) return false;
                auto owner = (*e)->processIdentifier();
                if (!owner || *owner != pid) return false;
                found = *e;
                return true;
            },
            20s);
        return found;
    }

    testsupport::DesktopSession desktop;
    std::unique_ptr<AtspiAccessibility> ax;
};

TEST_F(AtspiAccessibilityTest, TrustFollowsTheAssistiveTechnologySwitch) {
    PARLOWEN_REQUIRE_OR_SKIP(desktop.start());
    AtspiAccessibility accessibility(desktop.environment());
    AccessibilityPermissionSource source(accessibility);
    EXPECT_FALSE(accessibility.isTrusted()) << "off in a fresh session";
    EXPECT_EQ(source.rawStatus(), 0);
    ManualExecutor main;
    auto h = spawn(main, source.request());
    main.runUntilIdle();
    EXPECT_TRUE(h.done());
    EXPECT_TRUE(accessibility.isTrusted());
    EXPECT_EQ(source.rawStatus(), 1);
}

TEST(AtspiAccessibilityWithoutBus, IsNotTrustedAndFindsNothing) {
    AtspiAccessibility accessibility{Environment()};
    EXPECT_FALSE(accessibility.isTrusted());
    EXPECT_FALSE(accessibility.requestTrust());
    auto focused = accessibility.focusedElement();
    ASSERT_FALSE(focused);
    EXPECT_EQ(focused.error().code, static_cast<int>(AccessibilityErrorCode::apiDisabled));
}

TEST_F(AtspiAccessibilityTest, FindsTheFocusedLineEditReadsItAndInsertsAtTheCaret) {
    startDesktop();
    auto window = testsupport::openTestTextWindow(desktop, "line", {"--focus", "line", "--text", "hello"});
    ASSERT_TRUE(window) << window.error().description;
    auto element = waitForFocus(window->process.pid());
    ASSERT_TRUE(element) << "no focused element of the test window";

    EXPECT_EQ(element->roleName(), "text");
    EXPECT_EQ(element->isSelectedTextSettable(), true);
    EXPECT_EQ(element->value(), "hello");
    EXPECT_EQ(element->selectionRange(), (AccessibleTextRange{5, 5}));
    EXPECT_EQ(element->selectedText(), "");

    ASSERT_TRUE(element->setSelectedText(" wörld"));
    EXPECT_TRUE(window->waitForLine("line=hello wörld")) << window->process.output();
    EXPECT_EQ(element->value(), "hello wörld");
}

TEST_F(AtspiAccessibilityTest, TellsAPlainWindowFromAModalOrModelessDialog) {
    startDesktop();
    struct Case {
        std::vector<std::string> arguments;
        const char* subrole;
    };
    // Qt does not publish a dialog's modal state: the dialog role alone
    // tells a modal dialog here.
    const Case cases[] = {
        {{"--focus", "line"}, kStandardWindowSubrole},
        {{"--dialog", "modal"}, kDialogSubrole},
        {{"--dialog", "modeless"}, kDialogSubrole},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.arguments));
        auto window = testsupport::openTestTextWindow(desktop, "window-" + c.arguments.back(), c.arguments);
        ASSERT_TRUE(window) << window.error().description;
        auto element = waitForFocus(window->process.pid());
        ASSERT_TRUE(element) << "no focused element of the test window";
        auto around = element->window();
        ASSERT_TRUE(around) << around.error().description;
        EXPECT_EQ(around->subrole, c.subrole);
        EXPECT_FALSE(around->modal);
        window->process.stop();
    }
}

TEST_F(AtspiAccessibilityTest, APasswordFieldHasThePasswordRole) {
    startDesktop();
    auto window = testsupport::openTestTextWindow(desktop, "password", {"--focus", "password"});
    ASSERT_TRUE(window) << window.error().description;
    auto element = waitForFocus(window->process.pid());
    ASSERT_TRUE(element);
    EXPECT_EQ(element->roleName(), kPasswordTextRole);
    EXPECT_EQ(element->isSelectedTextSettable(), true);
}

TEST_F(AtspiAccessibilityTest, AnApplicationThatDoesNotAnswerCostsAtMostTheTimeoutPerQuery) {
    startDesktop();
    auto window = testsupport::openTestTextWindow(desktop, "frozen", {"--focus", "line"});
    ASSERT_TRUE(window) << window.error().description;
    ASSERT_TRUE(waitForFocus(window->process.pid()));

    ax->setMessagingTimeout(200ms);
    ::kill(window->process.pid(), SIGSTOP);
    auto start = std::chrono::steady_clock::now();
    auto focused = ax->focusedElement();
    auto took = std::chrono::steady_clock::now() - start;
    ::kill(window->process.pid(), SIGCONT);
    // The frozen application is skipped: no element, and no long wait.
    ASSERT_TRUE(focused) << focused.error().description;
    EXPECT_EQ(*focused, nullptr);
    EXPECT_LT(took, 2s);
}

}  // namespace
}  // namespace platform
