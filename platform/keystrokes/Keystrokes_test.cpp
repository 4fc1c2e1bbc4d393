#include <gtest/gtest.h>

#include "platform/accessibility/TestTextWindow.h"
#include "platform/keystrokes/ScriptedKeystrokePoster.h"
#include "platform/keystrokes/XTestKeystrokePoster.h"
#include "platform/testsupport/Services.h"

using namespace platform;
using namespace std::chrono_literals;

namespace {

TEST(ScriptedKeystrokePoster, TheFrontmostApplicationWritesThePasteboardAsScripted) {
    struct Case {
        int writes;
        std::int64_t countMoves;
        std::optional<std::string> text;
    };
    for (const Case& c : {Case{0, 0, "before"}, Case{1, 1, "  selected  "}, Case{2, 2, "  selected  "}}) {
        InMemoryPasteboard pb;
        pb.writeStringAsAnotherClient("before");
        ScriptedKeystrokePoster keys(pb);
        keys.selection = "  selected  ";
        keys.copyWrites = c.writes;
        const auto before = pb.changeCount();
        ASSERT_TRUE(keys.post(SyntheticChord::copy));
        EXPECT_EQ(pb.changeCount(), before + c.countMoves) << c.writes;
        EXPECT_EQ(pb.string(), c.text) << c.writes;
        EXPECT_EQ(keys.posted, std::vector<SyntheticChord>{SyntheticChord::copy});
    }
}

TEST(ScriptedKeystrokePoster, RecordsPastesAndFailures) {
    InMemoryPasteboard pb;
    ScriptedKeystrokePoster keys(pb);
    pb.clearContents();
    pb.setString("dictated");
    pb.setData({}, pasteboard_type::concealed);
    ASSERT_TRUE(keys.post(SyntheticChord::paste));
    ASSERT_EQ(keys.pastes.size(), 1u);
    EXPECT_EQ(keys.pastes[0].text, "dictated");
    EXPECT_EQ(keys.pastes[0].types,
              (std::vector<std::string>{std::string(pasteboard_type::plainText), std::string(pasteboard_type::concealed)}));

    keys.failure = keystrokeError(KeystrokeErrorCode::cannotBuildEvent, "no key");
    const auto count = pb.changeCount();
    auto r = keys.post(SyntheticChord::copy);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().code, static_cast<int>(KeystrokeErrorCode::cannotBuildEvent));
    EXPECT_EQ(keys.posted.size(), 1u);
    EXPECT_EQ(keys.attempts.size(), 2u);
    EXPECT_EQ(pb.changeCount(), count);
}

TEST(XTestKeystrokePoster, WithoutADisplayThereIsNoEventSource) {
    XTestKeystrokePoster keys(Environment{});
    auto r = keys.post(SyntheticChord::paste);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().code, static_cast<int>(KeystrokeErrorCode::noEventSource));
}

// A real Qt window on a private display: Ctrl+V pastes what another program
// put on the clipboard, and Ctrl+C puts the window's selection there.
TEST(XTestKeystrokePoster, PastesIntoAndCopiesFromAFocusedLineEdit) {
    testsupport::WindowManager wm;
    PARLOWEN_REQUIRE_OR_SKIP(wm.start());
    auto window = testsupport::openFocusedTestTextWindow(wm, "window");
    ASSERT_TRUE(window) << window.error().description;

    auto put = wm.run({"xclip", "-selection", "clipboard", "-i"}, {.input = "from the clipboard"});
    ASSERT_TRUE(put.ok()) << put.describe();
    XTestKeystrokePoster keys(wm.environment());
    ASSERT_TRUE(keys.post(SyntheticChord::paste));
    EXPECT_TRUE(window->waitForLine("line=from the clipboard")) << window->process.output();

    // Select the whole line, then copy it.
    ASSERT_TRUE(wm.run({"xdotool", "key", "--clearmodifiers", "ctrl+a"}).ok());
    ASSERT_TRUE(keys.post(SyntheticChord::copy));
    std::string copied;
    testsupport::waitUntil(
        [&] {
            auto r = wm.run({"xclip", "-selection", "clipboard", "-o"});
            copied = r.out;
            return copied == "from the clipboard";
        },
        5s);
    EXPECT_EQ(copied, "from the clipboard");
}

}  // namespace
