#include <gtest/gtest.h>

#include "platform/accessibility/TestTextWindow.h"
#include "platform/keystrokes/ScriptedKeystrokePoster.h"
#include "platform/keystrokes/XTestKeystrokePoster.h"
#include "platform/testsupport/Services.h"
#include "platform/x11/X11Connection.h"

// Xlib last: its macros must not reach the headers above.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

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

TEST(XTestKeystrokePoster, HeldModifiersAreReleasedAroundTheChordAndPressedAgain) {
    using T = KeyTransition;
    EXPECT_EQ(XTestKeystrokePoster::chordEvents({}, {37, 54}),
              (std::vector<T>{{37, true}, {54, true}, {54, false}, {37, false}}));
    // Shift (50) and Alt (64) held; a terminal's chord with Shift of its own.
    EXPECT_EQ(XTestKeystrokePoster::chordEvents({50, 64}, {37, 50, 55}),
              (std::vector<T>{{50, false}, {64, false}, {37, true}, {50, true}, {55, true}, {55, false}, {50, false},
                              {37, false}, {50, true}, {64, true}}));
}

// The clipboard's text as another program reads it, once it equals `expected`
// (the owner answers through the server; xclip is the reader).
std::string clipboardOnceItIs(const testsupport::ServiceFixture& fixture, const std::string& expected) {
    std::string text;
    testsupport::waitUntil(
        [&] {
            text = fixture.run({"xclip", "-selection", "clipboard", "-o"}).out;
            return text == expected;
        },
        30s);
    return text;
}

// A real Qt window on a private display: Ctrl+V pastes what another program
// put on the clipboard, and Ctrl+C puts the window's selection there.
TEST(XTestKeystrokePoster, PastesIntoAndCopiesFromAFocusedLineEdit) {
    testsupport::WindowManager wm;
    PARLOWEN_REQUIRE_OR_SKIP(wm.start());
    auto window = testsupport::openFocusedTestTextWindow(wm, "window");
    ASSERT_TRUE(window) << window.error().description;

    auto put = testsupport::xclipWriteAndConfirm("from the clipboard", wm.environment());
    ASSERT_TRUE(put.ok()) << put.describe();
    XTestKeystrokePoster keys(wm.environment());
    ASSERT_TRUE(keys.post(SyntheticChord::paste));
    ASSERT_TRUE(window->waitForLine("line=from the clipboard", 30s)) << window->process.output();

    // Select the whole line; copy once the window says it is selected.
    ASSERT_TRUE(wm.run({"xdotool", "key", "--clearmodifiers", "ctrl+a"}).ok());
    ASSERT_TRUE(window->waitForLine("selection=from the clipboard", 30s)) << window->process.output();
    ASSERT_TRUE(keys.post(SyntheticChord::copy));
    EXPECT_EQ(clipboardOnceItIs(wm, "from the clipboard"), "from the clipboard");
}

// The user still holds Shift and Alt (the gesture that asked for the copy):
// the window must see Ctrl+C alone, and the keys are held again afterwards.
TEST(XTestKeystrokePoster, CopiesTheSelectionWhileTheUserHoldsShiftAndAlt) {
    testsupport::WindowManager wm;
    PARLOWEN_REQUIRE_OR_SKIP(wm.start());
    auto window = testsupport::openFocusedTestTextWindow(wm, "window", {"--text", "selected words"});
    ASSERT_TRUE(window) << window.error().description;
    ASSERT_TRUE(wm.run({"xdotool", "key", "--clearmodifiers", "ctrl+a"}).ok());
    ASSERT_TRUE(window->waitForLine("selection=selected words", 30s)) << window->process.output();

    auto user = X11Connection::open(wm.display().displayName());
    ASSERT_TRUE(user);
    Display* d = (*user)->display();
    const KeyCode shift = XKeysymToKeycode(d, XK_Shift_L), alt = XKeysymToKeycode(d, XK_Alt_L);
    XTestFakeKeyEvent(d, shift, True, 0);
    XTestFakeKeyEvent(d, alt, True, 0);
    XSync(d, False);

    XTestKeystrokePoster keys(wm.environment());
    ASSERT_TRUE(keys.post(SyntheticChord::copy));
    EXPECT_EQ(clipboardOnceItIs(wm, "selected words"), "selected words");

    char keymap[32] = {};
    XQueryKeymap(d, keymap);
    EXPECT_TRUE(keymap[shift / 8] & (1 << (shift % 8))) << "Shift is no longer held";
    EXPECT_TRUE(keymap[alt / 8] & (1 << (alt % 8))) << "Alt is no longer held";
    XTestFakeKeyEvent(d, alt, False, 0);
    XTestFakeKeyEvent(d, shift, False, 0);
    XSync(d, False);
    // The selection was neither replaced nor extended by the chord.
    EXPECT_EQ(window->process.output().find("line=") , std::string::npos) << window->process.output();
}

}  // namespace
