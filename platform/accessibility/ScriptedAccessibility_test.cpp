#include "platform/accessibility/ScriptedAccessibility.h"

#include <gtest/gtest.h>

#include "platform/accessibility/AccessibilityPermissionSource.h"
#include "platform/runtime/ManualExecutor.h"

namespace platform {
namespace {

TEST(AccessibilityPermissionSource, ReportsTrustAsOneOrZeroAndARequestSwitchesItOn) {
    ScriptedAccessibility ax;
    ax.trusted = false;
    AccessibilityPermissionSource source(ax);
    EXPECT_EQ(source.rawStatus(), 0);
    ManualExecutor main;
    auto h = spawn(main, source.request());
    main.runUntilIdle();
    EXPECT_TRUE(h.done());
    EXPECT_EQ(ax.trustRequests, 1);
    EXPECT_EQ(source.rawStatus(), 1);
}

// The double edits like a text field, so tests of insertion see real results.
TEST(ScriptedAccessibleElement, ReplacesTheSelectionOrInsertsAtTheCaret) {
    ScriptedAccessibleElement e;
    e.text = "héllo wörld";
    e.selection = {6, 11};
    EXPECT_EQ(e.selectedText(), "wörld");
    ASSERT_TRUE(e.setSelectedText("there"));
    EXPECT_EQ(e.text, "héllo there");
    EXPECT_EQ(e.selection, (AccessibleTextRange{11, 11}));
    ASSERT_TRUE(e.setSelectedText("!"));
    EXPECT_EQ(e.text, "héllo there!");
    e.setFailure = accessibilityError(AccessibilityErrorCode::cannotComplete, "no answer");
    auto failed = e.setSelectedText("x");
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error().code, -25204);
    EXPECT_EQ(e.text, "héllo there!");
    EXPECT_EQ(e.writes, (std::vector<std::string>{"there", "!", "x"}));
}

}  // namespace
}  // namespace platform
