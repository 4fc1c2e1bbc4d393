// Text insertion and selection capture against a real desktop: Xvfb with a
// window manager, a Qt window with a focused line edit, the X clipboard
// through Qt and keystrokes through XTest. Accessibility is off, so both go
// through the pasteboard: the paths that touch the user's clipboard.

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "Parlowen/dictation/SelectionCapture.h"
#include "Parlowen/dictation/TextInserter.h"
#include "platform/accessibility/ScriptedAccessibility.h"
#include "platform/accessibility/TestTextWindow.h"
#include "platform/keystrokes/XTestKeystrokePoster.h"
#include "platform/pasteboard/PrimarySelection.h"
#include "platform/pasteboard/QtPasteboard.h"
#include "platform/runtime/QtMainExecutor.h"
#include "platform/testsupport/OnDisplay.h"
#include "platform/testsupport/Services.h"
#include "platform/x11/Workspace.h"

namespace parlowen {
namespace {

using namespace std::chrono_literals;

// Where the parent tells the child to find the window's output.
constexpr const char* kWindowOutput = "PARLOWEN_TEST_WINDOW_OUTPUT";

std::string fileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(InsertionOnTheDesktop, PastesIntoAFocusedLineEditThenCapturesItsSelectionAndTheClipboardComesBack) {
    if (!testsupport::onDisplayChild()) {
        testsupport::WindowManager wm;
        PARLOWEN_REQUIRE_OR_SKIP(wm.start());
        auto window = testsupport::openFocusedTestTextWindow(wm, "window");
        ASSERT_TRUE(window) << window.error().description;
        testsupport::runCurrentTestOnDisplay(
            wm.environment().with(kWindowOutput, (wm.sandbox().root() / "window.log").string()), 60s);
        EXPECT_TRUE(window->waitForLine("line=dictated text")) << window->process.output();
        return;
    }

    const std::string windowOutput = platform::Environment::fromProcess().value(kWindowOutput);
    testsupport::xclipWrite("the user's clipboard");

    platform::QtMainExecutor main;
    PasteboardArbiter arbiter(main);
    platform::QtPasteboard pasteboard;
    platform::ScriptedAccessibility accessibility;
    accessibility.trusted = false;
    platform::ScriptedWorkspace workspace;
    platform::XTestKeystrokePoster keystrokes(platform::Environment::fromProcess());
    TextInserter inserter(arbiter, pasteboard, accessibility, workspace, keystrokes);
    platform::ScriptedPrimarySelection primary;  // held by nobody: the copy chord is the way
    SelectionCapture capture(arbiter, pasteboard, accessibility, keystrokes, workspace, primary);
    ASSERT_TRUE(testsupport::pumpUntil([&] { return pasteboard.string() == "the user's clipboard"; }));

    inserter.insert("dictated text", std::nullopt);
    EXPECT_TRUE(testsupport::pumpUntil(
        [&] { return fileText(windowOutput).find("line=dictated text\n") != std::string::npos; }, 30s))
        << fileText(windowOutput);
    // After the restore delay the user's clipboard is back, for every program.
    EXPECT_TRUE(testsupport::pumpUntil([&] { return pasteboard.string() == "the user's clipboard"; }, 30s))
        << pasteboard.string().value_or("<no text>");
    EXPECT_EQ(testsupport::xclipRead("UTF8_STRING"), "the user's clipboard");

    auto selectAll = testsupport::runProcess({"xdotool", "key", "--clearmodifiers", "ctrl+a"},
                                             platform::Environment::fromProcess());
    ASSERT_TRUE(selectAll.ok()) << selectAll.describe();
    ASSERT_TRUE(testsupport::pumpUntil(
        [&] { return fileText(windowOutput).find("selection=dictated text\n") != std::string::npos; }, 30s))
        << fileText(windowOutput);
    auto captured = platform::spawn(main, capture.capture());
    ASSERT_TRUE(testsupport::pumpUntil([&] { return captured.done(); }, 30s));
    EXPECT_EQ(captured.value(), std::optional<std::string>("dictated text"));
    EXPECT_EQ(testsupport::xclipRead("UTF8_STRING"), "the user's clipboard");
}

}  // namespace
}  // namespace parlowen
