// The gesture tap on a real X server: key presses sent by key code through
// XTest reach the router, and a grabbed combination never reaches the
// focused window.

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "Parlowen/dictation/HotkeyManager.h"
#include "platform/accessibility/TestTextWindow.h"
#include "platform/keyevents/KeyEventSource.h"
#include "platform/keystrokes/XTestKeystrokePoster.h"
#include "platform/log/CaptureSink.h"
#include "platform/runtime/ManualExecutor.h"
#include "platform/testsupport/Services.h"
#include "platform/x11/X11Connection.h"
#include "platform/x11/SyntheticKeys.h"
#include "platform/x11/X11Keys.h"

// Xlib last: its macros must not reach the headers above.
#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace parlowen {
namespace {

using Lines = std::vector<std::string>;

TEST(HotkeyTapDesktop, KeyCodesRoundTripForEveryOfferedKeyAndTheHoldKeys) {
    testsupport::XvfbDisplay x;
    PARLOWEN_REQUIRE_OR_SKIP(x.start());
    auto conn = platform::X11Connection::open(x.displayName());
    ASSERT_TRUE(conn);
    platform::X11KeyTable table(**conn);
    std::vector<std::uint16_t> codes{
        // A-Z, 0-9, punctuation, Return, Tab, Space, Delete, Escape, F1-F12, arrows, Home/End/Page keys.
        0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x10, 0x11,
        0x1F, 0x20, 0x22, 0x23, 0x25, 0x26, 0x28, 0x2D, 0x2E, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x19, 0x1A,
        0x1C, 0x1D, 0x18, 0x1B, 0x1E, 0x21, 0x27, 0x29, 0x2A, 0x2B, 0x2C, 0x2F, 0x32, 0x24, 0x30, 0x31, 0x33,
        0x35, 0x7A, 0x78, 0x63, 0x76, 0x60, 0x61, 0x62, 0x64, 0x65, 0x6D, 0x67, 0x6F, 0x7B, 0x7C, 0x7D, 0x7E,
        0x73, 0x77, 0x74, 0x79, 0x75};
    for (Hotkey h : {Hotkey::leftCommand, Hotkey::leftOption, Hotkey::leftControl, Hotkey::rightCommand,
                     Hotkey::rightOption, Hotkey::rightControl})
        codes.push_back(keyCode(h));
    for (auto code : codes) {
        auto x11 = table.keycodeForMacKeyCode(code);
        ASSERT_TRUE(x11) << KeyCombo::keyName(code);
        EXPECT_EQ(table.macKeyCodeForKeycode(*x11), code) << KeyCombo::keyName(code);
    }
    // The hold keys carry their own side's flag bit.
    for (Hotkey h : {Hotkey::leftCommand, Hotkey::rightOption, Hotkey::rightControl})
        EXPECT_TRUE(platform::modifierKeyFlags(keyCode(h)) & deviceFlagMask(h)) << caseName(h);
}

TEST(HotkeyTapDesktop, ASourceWhoseDisplayGoesAwayIsNoLongerOpenAndOpeningTriesAgain) {
    testsupport::XvfbDisplay x;
    PARLOWEN_REQUIRE_OR_SKIP(x.start());
    auto source = platform::makeX11KeyEventSource(x.displayName());
    const auto passAll = [](const platform::KeyEvent&) { return platform::KeyEventVerdict::pass; };
    ASSERT_TRUE(source->open(passAll));
    EXPECT_TRUE(source->isOpen());

    x.stop();
    EXPECT_TRUE(testsupport::waitUntil([&] { return !source->isOpen(); }, std::chrono::seconds(10)));
    // Nobody waits for grabs on a display that is gone.
    const auto start = std::chrono::steady_clock::now();
    source->setSwallowed({platform::KeyChord{0x07, 0}});
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));

    // Opening again tries again (and fails here, with no display) instead
    // of reporting the dead source as open.
    EXPECT_FALSE(source->open(passAll));
    EXPECT_FALSE(source->isOpen());
    source->close();
}

TEST(HotkeyTapDesktop, XTestPressesGiveHoldEdgesAndAGrabbedCombinationNeverReachesTheWindow) {
    testsupport::XvfbDisplay x;
    PARLOWEN_REQUIRE_OR_SKIP(x.start());
    x.exportToProcess();
    auto window = testsupport::openTestTextWindow(x, "tap");
    ASSERT_TRUE(window) << window.error().description;

    platform::ManualExecutor main;
    auto source = platform::makeX11KeyEventSource(x.displayName());
    ASSERT_TRUE(source->canOpen());
    platform::InputMonitoringPermissionSource permission(*source);
    EXPECT_EQ(permission.rawStatus(), 0);

    const KeyCombo plainX{0x07, 0};
    const KeyCombo ctrlAltK{0x28, ModifierFlags::control | ModifierFlags::option};
    HotkeyManager manager(*source, main, {Hotkey::rightOption}, {plainX, ctrlAltK});
    Lines seen;
    manager.setOnHoldDown([&](Hotkey h) { seen.push_back("down " + std::string(caseName(h))); });
    manager.setOnHoldUp([&](Hotkey h) { seen.push_back("up " + std::string(caseName(h))); });
    manager.setOnComboTrigger([&](KeyCombo c) { seen.push_back("combo " + c.displayString()); });
    ASSERT_TRUE(manager.start());

    // Right Alt by key code (xdotool's Alt_R would press Alt_L too); left Alt is not watched.
    ASSERT_EQ(x.run({"xdotool", "key", "108"}).exitCode, 0);
    ASSERT_EQ(x.run({"xdotool", "key", "64"}).exitCode, 0);
    ASSERT_EQ(x.run({"xdotool", "key", "ctrl+alt+k"}).exitCode, 0);
    ASSERT_EQ(x.run({"xdotool", "key", "x", "y"}).exitCode, 0);
    EXPECT_TRUE(main.runUntil([&] { return seen.size() >= 4; }));
    EXPECT_EQ(seen, (Lines{"down rightOption", "up rightOption", "combo ⌃⌥K", "combo X"}));

    // The window saw y but never x.
    EXPECT_TRUE(window->waitForLine("line=y")) << window->process.output();
    EXPECT_EQ(window->process.output().find("line=x"), std::string::npos) << window->process.output();

    // Recording mode lets the combination through to the window.
    manager.setRecordingMode(true);
    ASSERT_EQ(x.run({"xdotool", "key", "x"}).exitCode, 0);
    EXPECT_TRUE(window->waitForLine("line=yx")) << window->process.output();
    manager.stop();
    EXPECT_FALSE(source->isOpen());
}

// Our own paste posts Left Control: with Left Control watched as a hold,
// no edge may come of it. A real press afterwards still gives its edges.
TEST(HotkeyTapDesktop, OurOwnPasteNeverGivesAHoldEdge) {
    testsupport::XvfbDisplay x;
    PARLOWEN_REQUIRE_OR_SKIP(x.start());
    platform::ManualExecutor main;
    auto source = platform::makeX11KeyEventSource(x.displayName());
    HotkeyManager manager(*source, main, {Hotkey::leftControl, Hotkey::rightOption}, {});
    Lines seen;
    manager.setOnHoldDown([&](Hotkey h) { seen.push_back("down " + std::string(caseName(h))); });
    manager.setOnHoldUp([&](Hotkey h) { seen.push_back("up " + std::string(caseName(h))); });
    ASSERT_TRUE(manager.start());

    platform::XTestKeystrokePoster keys(x.environment());
    ASSERT_TRUE(keys.post(platform::SyntheticChord::paste));
    ASSERT_TRUE(keys.post(platform::SyntheticChord::terminalCopy));
    ASSERT_EQ(x.run({"xdotool", "key", "108"}).exitCode, 0);  // Right Alt, by the user
    EXPECT_TRUE(main.runUntil([&] { return seen.size() >= 2; }));
    EXPECT_EQ(seen, (Lines{"down rightOption", "up rightOption"}));
    EXPECT_EQ(platform::SyntheticKeyGate::forDisplay(x.displayName()).pending(), 0u);
    manager.stop();
}

// The read-aloud gesture fires on key-down: its keys are still held (and
// the combination's grab holds the keyboard) when the copy goes out. The
// window must still get a plain Ctrl+C.
TEST(HotkeyTapDesktop, ACopyPostedWhileTheGestureIsStillHeldReachesTheWindow) {
    testsupport::WindowManager wm;
    PARLOWEN_REQUIRE_OR_SKIP(wm.start());
    auto window = testsupport::openFocusedTestTextWindow(wm, "window", {"--text", "read me aloud"});
    ASSERT_TRUE(window) << window.error().description;
    ASSERT_TRUE(wm.run({"xdotool", "key", "--clearmodifiers", "ctrl+a"}).ok());
    ASSERT_TRUE(window->waitForLine("selection=read me aloud", std::chrono::seconds(30))) << window->process.output();

    platform::ManualExecutor main;
    auto source = platform::makeX11KeyEventSource(wm.display().displayName());
    const KeyCombo readAloud{0x01, ModifierFlags::control | ModifierFlags::shift};  // Ctrl+Shift+S
    HotkeyManager manager(*source, main, {}, {readAloud});
    int triggers = 0;
    manager.setOnComboTrigger([&](KeyCombo) { ++triggers; });
    ASSERT_TRUE(manager.start());

    ASSERT_EQ(wm.run({"xdotool", "keydown", "ctrl+shift+s"}).exitCode, 0);
    ASSERT_TRUE(main.runUntil([&] { return triggers == 1; }));
    platform::XTestKeystrokePoster keys(wm.environment());
    ASSERT_TRUE(keys.post(platform::SyntheticChord::copy));
    std::string copied;
    testsupport::waitUntil(
        [&] {
            copied = wm.run({"xclip", "-selection", "clipboard", "-o"}).out;
            return copied == "read me aloud";
        },
        std::chrono::seconds(30));
    EXPECT_EQ(copied, "read me aloud");
    ASSERT_EQ(wm.run({"xdotool", "keyup", "ctrl+shift+s"}).exitCode, 0);
    EXPECT_EQ(window->process.output().find("line="), std::string::npos) << window->process.output();
    manager.stop();
}

// A new keyboard map moves a grabbed combination to another key code: the
// grab must follow it.
TEST(HotkeyTapDesktop, AGrabFollowsItsKeyToANewKeyCode) {
    platform::ScopedLogCapture logs;
    testsupport::XvfbDisplay x;
    PARLOWEN_REQUIRE_OR_SKIP(x.start());
    x.exportToProcess();
    auto window = testsupport::openTestTextWindow(x, "tap");
    ASSERT_TRUE(window) << window.error().description;

    platform::ManualExecutor main;
    auto source = platform::makeX11KeyEventSource(x.displayName());
    HotkeyManager manager(*source, main, {}, {KeyCombo{0x07, 0}});  // plain X
    int triggers = 0;
    manager.setOnComboTrigger([&](KeyCombo) { ++triggers; });
    ASSERT_TRUE(manager.start());

    auto conn = platform::X11Connection::open(x.displayName());
    ASSERT_TRUE(conn);
    Display* d = (*conn)->display();
    const KeyCode oldX = XKeysymToKeycode(d, XK_x);
    int minCode = 0, maxCode = 0;
    XDisplayKeycodes(d, &minCode, &maxCode);
    // A key code with no symbol takes x; the old one becomes z's twin.
    KeyCode spare = 0;
    for (int code = maxCode; code >= minCode && !spare; --code) {
        int perCode = 0;
        KeySym* syms = XGetKeyboardMapping(d, static_cast<KeyCode>(code), 1, &perCode);
        bool empty = true;
        for (int i = 0; i < perCode; ++i) empty = empty && syms[i] == NoSymbol;
        XFree(syms);
        if (empty) spare = static_cast<KeyCode>(code);
    }
    ASSERT_NE(spare, 0);
    // One change over the whole range, so the source sees a single new map
    // (and grabs once) rather than an in-between one where both keys are x.
    const int count = spare - oldX + 1;
    int perCode = 0;
    KeySym* current = XGetKeyboardMapping(d, oldX, count, &perCode);
    ASSERT_GE(perCode, 2);
    std::vector<KeySym> changed(current, current + static_cast<std::size_t>(count * perCode));
    XFree(current);
    auto setKey = [&](int code, KeySym lower, KeySym upper) {
        const auto at = static_cast<std::size_t>((code - oldX) * perCode);
        std::fill(changed.begin() + at, changed.begin() + at + perCode, NoSymbol);
        changed[at] = lower;
        changed[at + 1] = upper;
    };
    setKey(spare, XK_x, XK_X);
    setKey(oldX, XK_z, XK_Z);
    XChangeKeyboardMapping(d, oldX, perCode, changed.data(), count);
    XSync(d, False);

    // Probing the grab with a grab of our own would race the source's; its
    // log line says when it has grabbed again.
    EXPECT_TRUE(testsupport::waitUntil([&] { return logs->contains("combinations grabbed again"); },
                                       std::chrono::seconds(30)));

    ASSERT_EQ(x.run({"xdotool", "key", std::to_string(spare)}).exitCode, 0);
    ASSERT_EQ(x.run({"xdotool", "key", std::to_string(oldX)}).exitCode, 0);
    EXPECT_TRUE(window->waitForLine("line=z", std::chrono::seconds(30))) << window->process.output();
    EXPECT_TRUE(main.runUntil([&] { return triggers == 1; }));
    EXPECT_EQ(window->process.output().find("line=x"), std::string::npos) << window->process.output();
    manager.stop();
}

}  // namespace
}  // namespace parlowen
