#include "platform/accessibility/AtspiAccessibility.h"

#include <gtest/gtest.h>

#include <QWidget>
#include <fmt/format.h>
#include <signal.h>

#include "platform/accessibility/AccessibilityPermissionSource.h"
#include "platform/accessibility/TestTextWindow.h"
#include "platform/log/CaptureSink.h"
#include "platform/runtime/ManualExecutor.h"
#include "platform/testsupport/OnDisplay.h"
#include "platform/testsupport/Services.h"
#include "platform/testsupport/TempHome.h"

namespace platform {
namespace {

using namespace std::chrono_literals;

// What a query logs when it has no focus event to answer from.
constexpr const char* kSearchLine = "searching the applications";

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

// Qt counts in UTF-16 units, our offsets are code points: every kind of
// non-ASCII text arrives whole, with no NUL after it, and the caret ends
// right after it. The window's own counts are read, not its text (which a
// NUL would cut short).
TEST_F(AtspiAccessibilityTest, InsertsNonAsciiTextWholeIntoAQtField) {
    startDesktop();
    auto window = testsupport::openTestTextWindow(desktop, "unicode", {"--focus", "line"});
    ASSERT_TRUE(window) << window.error().description;
    auto element = waitForFocus(window->process.pid());
    ASSERT_TRUE(element) << "no focused element of the test window";
    struct Case {
        const char* text;
        int codePoints, utf16;
    };
    const Case cases[] = {{"é", 1, 1}, {"€", 1, 1}, {"😀", 1, 2}, {"e\u0301", 2, 2}};
    std::string expected;
    int codePoints = 0, utf16 = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        ASSERT_TRUE(element->setSelectedText(c.text));
        expected += c.text;
        codePoints += c.codePoints;
        utf16 += c.utf16;
        EXPECT_TRUE(window->waitForLine("line=" + expected)) << window->process.output();
        EXPECT_TRUE(window->waitForLine(fmt::format("line-utf16={} caret={}", utf16, utf16)))
            << window->process.output();
        EXPECT_EQ(element->value(), expected);
        EXPECT_EQ(element->selectionRange(), (AccessibleTextRange{codePoints, codePoints}));
    }
    // Offsets are code points also when reading back a part.
    EXPECT_EQ(element->selectedText(), "");
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
        // The program may focus its main window's field for a moment before
        // the dialog takes the focus (and the focus events say so): wait for
        // the focus to settle where it belongs.
        const pid_t pid = window->process.pid();
        std::optional<AccessibleWindow> around;
        const bool settled = testsupport::waitUntil(
            [&] {
                around.reset();
                auto e = ax->focusedElement();
                if (!e || !*e || (*e)->processIdentifier() != pid) return false;
                if (auto w = (*e)->window()) around = *w;
                return around && around->subrole == c.subrole;
            },
            20s);
        ASSERT_TRUE(around) << "no focused element of the test window";
        EXPECT_TRUE(settled) << around->subrole.value_or("no subrole");
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

// The window has the focus before this process listens for focus events,
// so the query searches the applications; the frozen one is skipped.
TEST_F(AtspiAccessibilityTest, AnApplicationThatDoesNotAnswerCostsAtMostTheTimeoutPerQuery) {
    startDesktop();
    auto window = testsupport::openFocusedTestTextWindow(desktop, "frozen", {"--focus", "line"});
    ASSERT_TRUE(window) << window.error().description;

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

// No focus event was seen (the window had the focus before this process
// listened): the search still finds the field.
TEST_F(AtspiAccessibilityTest, SearchesTheApplicationsWhenNoFocusEventWasSeen) {
    startDesktop();
    auto window = testsupport::openFocusedTestTextWindow(desktop, "before", {"--focus", "password"});
    ASSERT_TRUE(window) << window.error().description;
    ScopedLogCapture logs;
    auto focused = ax->focusedElement();
    ASSERT_TRUE(focused) << focused.error().description;
    ASSERT_TRUE(*focused);
    EXPECT_EQ((*focused)->processIdentifier(), window->process.pid());
    EXPECT_EQ((*focused)->roleName(), kPasswordTextRole);
    EXPECT_TRUE(logs->contains(kSearchLine));
}

// The focus events name the focused field as the focus moves between the
// window's two fields; a query answers from them at once, without asking
// any application: even a frozen one, whose answer would take the timeout.
TEST_F(AtspiAccessibilityTest, FollowsTheFocusFromFieldToFieldThroughItsEvents) {
    startDesktop();
    ASSERT_TRUE(ax->focusedElement());  // listening before the window opens
    auto window = testsupport::openFocusedTestTextWindow(desktop, "follow", {"--focus", "line"});
    ASSERT_TRUE(window) << window.error().description;
    const pid_t pid = window->process.pid();
    auto focusedRole = [&]() -> std::string {
        auto e = ax->focusedElement();
        if (!e || !*e || (*e)->processIdentifier() != pid) return "";
        return (*e)->roleName().value_or("");
    };
    ASSERT_TRUE(testsupport::waitUntil([&] { return focusedRole() == "text"; }, 20s));

    struct Step {
        const char* key;
        const char* role;
    };
    for (const Step& step : {Step{"Tab", kPasswordTextRole}, Step{"shift+Tab", "text"}}) {
        SCOPED_TRACE(step.key);
        auto typed = desktop.run({"xdotool", "key", step.key});
        ASSERT_TRUE(typed.ok()) << typed.describe();
        ASSERT_TRUE(testsupport::waitUntil([&] { return focusedRole() == step.role; }, 20s));

        constexpr auto kTimeout = 2s;
        ax->setMessagingTimeout(kTimeout);
        ScopedLogCapture logs;
        ::kill(pid, SIGSTOP);
        auto start = std::chrono::steady_clock::now();
        auto focused = ax->focusedElement();
        auto took = std::chrono::steady_clock::now() - start;
        const auto owner = focused && *focused ? (*focused)->processIdentifier() : Result<pid_t>(0);
        ::kill(pid, SIGCONT);
        ASSERT_TRUE(focused) << focused.error().description;
        EXPECT_EQ(owner, pid);
        EXPECT_LT(took, kTimeout / 2);
        EXPECT_FALSE(logs->contains(kSearchLine));
        ax->setMessagingTimeout(500ms);
    }
}

// Our own program with its accessibility bridge on the bus, registered
// before the application that has the focus: a focus query never asks our
// own bridge (which answers on the thread that is asking, so it could only
// time out) and returns far below the messaging timeout.
TEST(AtspiAccessibilityOwnBridge, AFocusQueryNeverWaitsForOurOwnBridge) {
    if (!testsupport::onDisplayChild()) {
        testsupport::DesktopSession desktop;
        PARLOWEN_REQUIRE_OR_SKIP(desktop.start());
        ASSERT_TRUE(AtspiAccessibility(desktop.environment()).requestTrust());
        return testsupport::runCurrentTestOnDisplay(desktop.environment(), 90s);
    }
    // The test main made the application; the fixture switched its bridge on.
    QWidget own;
    own.setAttribute(Qt::WA_ShowWithoutActivating);
    own.show();
    ASSERT_TRUE(testsupport::pumpUntil([&] { return own.isVisible(); }));

    testsupport::TempDir dir;
    auto other = testsupport::Process::spawn({PARLOWEN_TEST_TEXT_WINDOW, "--focus", "line"},
                                             Environment::fromProcess(), {.outputFile = dir / "window.log"});
    ASSERT_TRUE(other) << other.error().description;
    ASSERT_TRUE(testsupport::pumpUntil([&] { return other->output().find("ready window=") != std::string::npos; },
                                       20s))
        << other->output();

    constexpr auto kTimeout = 2s;
    AtspiAccessibility ax(Environment::fromProcess());
    ax.setMessagingTimeout(kTimeout);
    auto focusedInOther = [&] {
        auto e = ax.focusedElement();
        return e && *e && (*e)->processIdentifier() == other->pid();
    };
    ASSERT_TRUE(testsupport::pumpUntil(focusedInOther, 30s));
    auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(focusedInOther());
    auto took = std::chrono::steady_clock::now() - start;
    // Far below: asking our own bridge costs the whole timeout each time.
    EXPECT_LT(took, kTimeout / 2);
}

}  // namespace
}  // namespace platform
