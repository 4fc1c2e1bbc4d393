#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <sstream>
#include <string>

#include "platform/accessibility/TestTextWindow.h"
#include "platform/testsupport/Services.h"

namespace parlowen {
namespace {

using namespace std::chrono_literals;

const std::filesystem::path kShots = PARLOWEN_SCREENSHOT_DIR;

// The value of `key=` on the first line that starts with `line`.
std::string field(const std::string& text, const std::string& line, const std::string& key) {
    std::smatch m;
    const std::regex pattern("(^|\n)" + line + "[^\n]*\\b" + key + "=([-0-9,]+)");
    return std::regex_search(text, m, pattern) ? m[2].str() : std::string("?");
}

std::vector<int> numbers(const std::string& text) {
    std::vector<int> out;
    std::stringstream in(text);
    for (std::string part; std::getline(in, part, ',');) out.push_back(std::stoi(part));
    return out;
}

std::string trimmed(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
    return s;
}

// Another application's window has the keyboard; our process shows the
// panel the way a dictation does.
TEST(LivePartialHUDDesktop, ShowsInFrontWithoutTakingTheFocusAndItsCloseButtonCancels) {
    testsupport::DesktopSession desktop;
    PARLOWEN_REQUIRE_OR_SKIP(desktop.start());

    auto editor = testsupport::openFocusedTestTextWindow(desktop, "editor", {"--focus", "line"});
    ASSERT_TRUE(editor) << editor.error().description;
    const auto activeBefore = trimmed(desktop.run({"xdotool", "getactivewindow"}).out);
    const auto focusBefore = trimmed(desktop.run({"xdotool", "getwindowfocus"}).out);
    ASSERT_EQ(activeBefore, std::to_string(editor->window));

    auto helper = desktop.spawn({LIVE_HUD_HELPER, kShots.string()},
                                {.outputFile = desktop.sandbox().root() / "live_hud_helper.log"});
    ASSERT_TRUE(helper) << helper.error().description;
    ASSERT_TRUE(testsupport::waitUntil(
        [&] { return helper->output().find("\nshown ") != std::string::npos || helper->output().rfind("shown ", 0) == 0; },
        30s))
        << helper->output();
    const std::string out = helper->output();
    const std::string panelWindow = field(out, "shown", "window");

    // Top-right corner 24 px inside the primary screen's available area, as the X server sees it.
    const auto area = numbers(field(out, "shown", "area"));
    ASSERT_EQ(area.size(), 4u) << out;
    const auto geometry = desktop.run({"xdotool", "getwindowgeometry", "--shell", panelWindow});
    ASSERT_TRUE(geometry.ok()) << geometry.describe();
    auto value = [&](const std::string& key) {
        std::smatch m;
        return std::regex_search(geometry.out, m, std::regex(key + "=(-?[0-9]+)")) ? std::stoi(m[1]) : -1;
    };
    EXPECT_EQ(value("X") + value("WIDTH"), area[0] + area[2] - 24) << geometry.out;
    EXPECT_EQ(value("Y"), area[1] + 24) << geometry.out;
    EXPECT_EQ(value("WIDTH"), 540);
    EXPECT_EQ(value("HEIGHT"), 200);
    EXPECT_EQ(field(out, "shown", "key"), "0") << out;

    // The other application keeps the keyboard: typing still lands in its field.
    EXPECT_EQ(trimmed(desktop.run({"xdotool", "getactivewindow"}).out), activeBefore);
    EXPECT_EQ(trimmed(desktop.run({"xdotool", "getwindowfocus"}).out), focusBefore);
    ASSERT_TRUE(desktop.run({"xdotool", "type", "--delay", "20", "abc"}).ok());
    EXPECT_TRUE(editor->waitForLine("line=abc", 10s)) << editor->process.output();

    // A click on the close button (the panel is in front of the editor,
    // which fills the screen) cancels, and the next show brings back the same window.
    const auto close = numbers(field(out, "shown", "close"));
    ASSERT_EQ(close.size(), 2u) << out;
    ASSERT_TRUE(desktop
                    .run({"xdotool", "mousemove", "--sync", std::to_string(close[0]), std::to_string(close[1]),
                          "click", "1"})
                    .ok());
    EXPECT_TRUE(testsupport::waitUntil([&] { return helper->output().find("\ncancel\n") != std::string::npos; }, 10s))
        << helper->output();
    EXPECT_TRUE(
        testsupport::waitUntil([&] { return helper->output().find("reshown window=") != std::string::npos; }, 10s))
        << helper->output();
    EXPECT_EQ(field(helper->output(), "reshown", "window"), panelWindow);
    EXPECT_EQ(field(helper->output(), "reshown", "visible"), "1");

    for (const char* shot : {"panel.png", "picker-chip.png", "picker-button.png"})
        EXPECT_TRUE(std::filesystem::exists(kShots / shot)) << shot;
}

}  // namespace
}  // namespace parlowen
