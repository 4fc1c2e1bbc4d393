// Selection capture and text insertion with a terminal in front: xterm
// under a window manager, its shell's program told apart from the text
// widget by what a Ctrl+C would do to it.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "Parlowen/dictation/SelectionCapture.h"
#include "Parlowen/dictation/TextInserter.h"
#include "platform/accessibility/ScriptedAccessibility.h"
#include "platform/keystrokes/XTestKeystrokePoster.h"
#include "platform/pasteboard/QtPasteboard.h"
#include "platform/runtime/QtMainExecutor.h"
#include "platform/testsupport/OnDisplay.h"
#include "platform/testsupport/Services.h"
#include "platform/x11/X11Selection.h"
#include "platform/x11/X11Workspace.h"

namespace parlowen {
namespace {

using namespace std::chrono_literals;

constexpr const char* kTrapFile = "PARLOWEN_TEST_TRAP_FILE";
constexpr const char* kCatFile = "PARLOWEN_TEST_CAT_FILE";

std::string fileText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// An xterm running `script`, in front. xterm has no clipboard keys of its
// own; these are the ones its users configure (and other terminals ship).
struct Terminal {
    testsupport::Process process;
    std::string window;
};

platform::Result<Terminal> openTerminal(const testsupport::WindowManager& wm, const std::string& script,
                                        const std::filesystem::path& ready) {
    auto p = wm.spawn({"xterm", "-geometry", "60x8+0+0", "-xrm",
                       "XTerm*VT100.translations: #override "
                       "Ctrl Shift <Key>C: copy-selection(CLIPBOARD)\\n"
                       "Ctrl Shift <Key>V: insert-selection(CLIPBOARD)",
                       "-e", "sh", "-c", script});
    if (!p) return platform::fail(p.error());
    Terminal t{std::move(*p), {}};
    auto search = wm.run({"xdotool", "search", "--sync", "--class", "xterm"}, {.timeout = 30s});
    if (!search.ok()) return platform::fail(platform::Error::make("test", 1, "noTerminal", search.describe()));
    t.window = search.out.substr(0, search.out.find('\n'));
    auto front = wm.run({"xdotool", "windowactivate", "--sync", t.window}, {.timeout = 30s});
    if (!front.ok()) return platform::fail(platform::Error::make("test", 2, "notFocused", front.describe()));
    if (!testsupport::waitUntil([&] { return std::filesystem::exists(ready); }, 30s))
        return platform::fail(platform::Error::make("test", 3, "noShell", "the terminal's shell did not start"));
    return t;
}

struct Parts {
    platform::QtMainExecutor main;
    PasteboardArbiter arbiter{main};
    platform::QtPasteboard pasteboard;
    platform::ScriptedAccessibility accessibility;
    platform::X11Workspace workspace{platform::Environment::fromProcess()};
    platform::X11PrimarySelection primary{platform::Environment::fromProcess()};
    platform::XTestKeystrokePoster keystrokes{platform::Environment::fromProcess()};
    Parts() { accessibility.trusted = false; }
};

// Read-aloud of a terminal's selection: the text comes from PRIMARY, and
// the shell's program gets no SIGINT (its trap would write the file; a
// plain Ctrl+C afterwards shows that it does).
TEST(TerminalOnTheDesktop, CapturingATerminalsSelectionSendsNoInterrupt) {
    if (!testsupport::onDisplayChild()) {
        testsupport::WindowManager wm;
        PARLOWEN_REQUIRE_OR_SKIP(wm.start());
        const auto trap = wm.sandbox().root() / "trap.txt";
        const auto ready = wm.sandbox().root() / "ready";
        auto terminal = openTerminal(
            wm,
            "trap 'echo INT >> " + trap.string() + "' INT; clear; echo hello terminal; touch " + ready.string() +
                "; while :; do sleep 1; done",
            ready);
        ASSERT_TRUE(terminal) << terminal.error().description;
        // Select the first line by a triple click, as a user would.
        ASSERT_TRUE(wm.run({"xdotool", "mousemove", "--window", terminal->window, "30", "8", "click", "--repeat",
                            "3", "--delay", "80", "1"})
                        .ok());
        std::string primary;
        testsupport::waitUntil(
            [&] {
                primary = wm.run({"xclip", "-selection", "primary", "-o"}).out;
                return primary == "hello terminal\n";
            },
            30s);
        ASSERT_EQ(primary, "hello terminal\n");

        testsupport::runCurrentTestOnDisplay(wm.environment().with(kTrapFile, trap.string()), 60s);
        EXPECT_FALSE(std::filesystem::exists(trap)) << "the capture interrupted the terminal's program";

        platform::XTestKeystrokePoster keys(wm.environment());
        ASSERT_TRUE(keys.post(platform::SyntheticChord::copy));
        EXPECT_TRUE(testsupport::waitUntil([&] { return std::filesystem::exists(trap); }, 30s))
            << "a plain Ctrl+C did not reach the trap either: the test proves nothing";
        return;
    }

    Parts parts;
    testsupport::xclipWrite("the user's clipboard");
    ASSERT_TRUE(testsupport::pumpUntil([&] { return parts.pasteboard.changeCount() == 1; }, 30s));
    SelectionCapture capture(parts.arbiter, parts.pasteboard, parts.accessibility, parts.keystrokes, parts.workspace,
                             parts.primary);
    auto front = parts.workspace.frontmostApplication();
    ASSERT_TRUE(front);
    EXPECT_TRUE(front->isTerminal) << front->bundleIdentifier.value_or("?");
    const auto count = parts.pasteboard.changeCount();
    auto captured = platform::spawn(parts.main, capture.capture());
    ASSERT_TRUE(testsupport::pumpUntil([&] { return captured.done(); }, 30s));
    EXPECT_EQ(captured.value(), std::optional<std::string>("hello terminal\n"));
    EXPECT_EQ(parts.pasteboard.changeCount(), count) << "the clipboard was borrowed";
    EXPECT_EQ(testsupport::xclipRead("UTF8_STRING"), "the user's clipboard");
}

// A dictation into `cat` in the terminal arrives there (through the
// terminal's own paste chord), and the user's clipboard comes back.
TEST(TerminalOnTheDesktop, ADictationIntoCatArrives) {
    if (!testsupport::onDisplayChild()) {
        testsupport::WindowManager wm;
        PARLOWEN_REQUIRE_OR_SKIP(wm.start());
        const auto out = wm.sandbox().root() / "cat.txt";
        const auto ready = wm.sandbox().root() / "ready";
        // Not line-buffered, so what arrives is in the file at once.
        auto terminal =
            openTerminal(wm, "stty -icanon; touch " + ready.string() + "; exec cat > " + out.string(), ready);
        ASSERT_TRUE(terminal) << terminal.error().description;
        testsupport::runCurrentTestOnDisplay(wm.environment().with(kCatFile, out.string()), 60s);
        return;
    }

    const std::filesystem::path out = platform::Environment::fromProcess().value(kCatFile);
    testsupport::xclipWrite("the user's clipboard");
    Parts parts;
    TextInserter inserter(parts.arbiter, parts.pasteboard, parts.accessibility, parts.workspace, parts.keystrokes);
    ASSERT_TRUE(testsupport::pumpUntil([&] { return parts.pasteboard.string() == "the user's clipboard"; }, 30s));

    inserter.insert("dictated into cat ✓", std::nullopt);
    EXPECT_TRUE(testsupport::pumpUntil([&] { return fileText(out) == "dictated into cat ✓"; }, 30s)) << fileText(out);
    EXPECT_TRUE(testsupport::pumpUntil([&] { return parts.pasteboard.string() == "the user's clipboard"; }, 30s));
    EXPECT_EQ(testsupport::xclipRead("UTF8_STRING"), "the user's clipboard");
}

}  // namespace
}  // namespace parlowen
