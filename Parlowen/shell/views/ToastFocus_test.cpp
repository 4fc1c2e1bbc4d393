#include <gtest/gtest.h>

#include <regex>
#include <string>

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

    auto editor = wm.spawn({TOAST_FOCUS_HELPER, "editor"});
    ASSERT_TRUE(editor) << editor.error().description;
    std::string editorWindow;
    ASSERT_TRUE(testsupport::waitUntil(
        [&] {
            const std::string out = editor->output();
            const auto at = out.find("ready ");
            if (at == std::string::npos) return false;
            editorWindow = out.substr(at + 6, out.find('\n', at) - at - 6);
            return true;
        },
        20s))
        << "editor window never became active: " << editor->output();

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
