#include <gtest/gtest.h>

#include <regex>
#include <string>

#include <fmt/format.h>

#include "platform/accessibility/TestTextWindow.h"
#include "platform/testsupport/Services.h"

namespace parlowen {
namespace {

using namespace std::chrono_literals;

std::string field(const std::string& text, const std::string& line, const std::string& key) {
    std::smatch m;
    const std::regex pattern(line + "[^\n]*\\b" + key + "=([0-9a-fx]+)");
    return std::regex_search(text, m, pattern) ? m[1].str() : std::string("?");
}

// Another application's window is active with a focused text field; the
// toast is shown by a second process (our application) on the same display.
TEST(ToastFocus, ShowingTheToastLeavesAnotherApplicationActiveAndFocused) {
    testsupport::WindowManager wm;
    PARLOWEN_REQUIRE_OR_SKIP(wm.start());

    auto editor = testsupport::openFocusedTestTextWindow(wm, "editor", {"--focus", "line"});
    ASSERT_TRUE(editor) << editor.error().description;
    const std::string editorWindow = fmt::format("{:x}", editor->window);

    const auto result = wm.run({TOAST_FOCUS_HELPER, "toast", editorWindow}, {.timeout = 30s});
    ASSERT_TRUE(result.ok()) << result.describe();
    const std::string& out = result.out;
    EXPECT_EQ(field(out, "before", "active"), editorWindow) << out;
    EXPECT_EQ(field(out, "after", "active"), editorWindow) << "the other application stays active\n" << out;
    EXPECT_EQ(field(out, "after", "focus"), field(out, "before", "focus")) << "its window keeps the keyboard\n" << out;
    EXPECT_NE(field(out, "after", "toast"), editorWindow);
    EXPECT_EQ(field(out, "after", "mapped"), "1") << "the toast is on screen\n" << out;
    EXPECT_EQ(field(out, "after", "above"), "1") << "stacked above the active window\n" << out;
    EXPECT_EQ(field(out, "after", "qtActive"), "0") << "our application did not become active\n" << out;
}

}  // namespace
}  // namespace parlowen
