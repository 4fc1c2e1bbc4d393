#include "platform/keyevents/QtLocalKeyMonitor.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QVBoxLayout>
#include <QWidget>

#include "platform/testsupport/Services.h"
#include "platform/x11/X11Connection.h"
#include "platform/x11/X11Keys.h"

// Xlib last: its macros must not reach the headers above.
#include <X11/keysym.h>

namespace platform {
namespace {

namespace Flag = KeyEventFlag;

struct Window {
    QWidget window;
    QLineEdit* field = new QLineEdit;
    std::vector<KeyEvent> seen;
    std::unique_ptr<LocalKeyMonitor> monitor;

    Window() {
        auto* box = new QVBoxLayout(&window);
        box->addWidget(field);
        window.show();
        field->setFocus();
    }
    void install(KeyTranslator translate = x11KeyTranslator("")) {
        monitor = qtLocalKeyMonitorFactory(field, std::move(translate))([this](const KeyEvent& e) { seen.push_back(e); });
    }
    // A key event as the X11 platform gives it: X key code, keysym, X state before the event.
    bool send(QEvent::Type type, std::uint32_t keysym, Qt::KeyboardModifiers mods = {}, std::uint32_t state = 0,
              const QString& text = {}, std::uint32_t keycode = 0, bool repeat = false) {
        QKeyEvent e(type, Qt::Key_unknown, mods, keycode, keysym, state, text, repeat);
        return QApplication::sendEvent(field, &e) && e.isAccepted();
    }
    void press(std::uint32_t keysym, Qt::KeyboardModifiers mods = {}, std::uint32_t state = 0,
               const QString& text = {}) {
        send(QEvent::KeyPress, keysym, mods, state, text);
    }
    void release(std::uint32_t keysym, Qt::KeyboardModifiers mods = {}, std::uint32_t state = 0) {
        send(QEvent::KeyRelease, keysym, mods, state);
    }
};

KeyEvent flagsEvent(std::uint16_t code, std::uint64_t flags) { return {KeyEventType::flagsChanged, code, flags, false}; }
KeyEvent downEvent(std::uint16_t code, std::uint64_t flags) { return {KeyEventType::keyDown, code, flags, false}; }

TEST(QtLocalKeyMonitor, ModifierPressesBecomeFlagsChangesWithTheirSideBitsAndKeysAreConsumed) {
    Window w;
    w.install();
    const std::uint64_t rOpt = Flag::option | Flag::rightOption, rCmd = Flag::command | Flag::rightCommand,
                        lShift = Flag::shift | Flag::leftShift;
    w.press(XK_Alt_R);
    w.press(XK_Super_R, Qt::AltModifier);
    w.release(XK_Alt_R);
    w.release(XK_Super_R);
    w.press(XK_Shift_L);
    w.press(XK_D, Qt::ShiftModifier, 0x1, "D");  // Shift's keysym for the d key
    w.release(XK_D, Qt::ShiftModifier);
    w.release(XK_Shift_L);
    w.press(XK_Escape);
    const std::vector<KeyEvent> expected{
        flagsEvent(61, rOpt),          flagsEvent(54, rOpt | rCmd), flagsEvent(61, rCmd),          flagsEvent(54, 0),           flagsEvent(56, lShift),
        downEvent(2, lShift),          flagsEvent(56, 0),           downEvent(53, 0),
    };
    EXPECT_EQ(w.seen, expected);
    EXPECT_EQ(w.field->text(), "");  // nothing reached the field

    // A modifier's auto-repeat changes nothing; a key's repeat is marked.
    w.seen.clear();
    w.send(QEvent::KeyPress, XK_Control_L);
    w.send(QEvent::KeyPress, XK_Control_L, Qt::ControlModifier, 0x4, {}, 0, true);
    w.send(QEvent::KeyPress, XK_s, Qt::ControlModifier, 0x4, {}, 0, true);
    EXPECT_EQ(w.seen, (std::vector<KeyEvent>{flagsEvent(59, Flag::control | Flag::leftControl),
                                             {KeyEventType::keyDown, 1, Flag::control | Flag::leftControl, true}}));

    // Removed: keys reach the field again.
    w.monitor.reset();
    w.press(XK_x, {}, 0, "x");
    EXPECT_EQ(w.field->text(), "x");
}

TEST(QtLocalKeyMonitor, CapsLockIsABitWhileLockedAndModifiersHeldBeforehandStillCount) {
    Window w;
    w.install();
    w.press(XK_Caps_Lock);                        // locks
    w.release(XK_Caps_Lock, {}, 0x2);
    w.press(XK_a, {}, 0x2, "A");                  // the state says locked
    w.press(XK_Caps_Lock, {}, 0x2);               // unlocks
    // ⌘ went down before the monitor came: the key still carries it.
    w.press(XK_k, Qt::MetaModifier | Qt::AltModifier, 0, "k");
    EXPECT_EQ(w.seen, (std::vector<KeyEvent>{flagsEvent(57, Flag::capsLock), flagsEvent(57, Flag::capsLock),
                                             downEvent(0, Flag::capsLock), flagsEvent(57, 0),
                                             downEvent(40, Flag::command | Flag::option)}));
    // The function bit is never set here.
    for (const auto& e : w.seen) EXPECT_EQ(e.flags & 0x800000, 0u);
}

TEST(QtLocalKeyMonitor, OnlyItsOwnWindowsKeysAreTakenAndTheHandlerMayRemoveIt) {
    Window w;
    QWidget other;
    auto* otherField = new QLineEdit(&other);
    other.show();
    w.monitor = qtLocalKeyMonitorFactory(w.field, x11KeyTranslator(""))([&](const KeyEvent& e) {
        w.seen.push_back(e);
        w.monitor.reset();  // as a commit does
    });
    QKeyEvent elsewhere(QEvent::KeyPress, Qt::Key_Y, {}, 0, XK_y, 0, "y");
    QApplication::sendEvent(otherField, &elsewhere);
    EXPECT_EQ(otherField->text(), "y");
    EXPECT_TRUE(w.seen.empty());

    w.press(XK_Return);
    ASSERT_EQ(w.seen.size(), 1u);
    EXPECT_FALSE(w.monitor);
    w.press(XK_z, {}, 0, "z");
    EXPECT_EQ(w.seen.size(), 1u);
    EXPECT_EQ(w.field->text(), "z");
    QApplication::processEvents();  // the removed filter goes away
}

// Every key the manual entry offers and the six hold keys come back as the
// same stored key code through a real display's key table, whatever keysym
// the shifted key carries.
TEST(QtLocalKeyMonitor, KeyCodesRoundTripThroughTheX11KeyTable) {
    testsupport::XvfbDisplay x;
    PARLOWEN_REQUIRE_OR_SKIP(x.start());
    auto connection = X11Connection::forThisThread(x.displayName());
    ASSERT_TRUE(connection);
    X11KeyTable table(**connection);
    Window w;
    w.install(x11KeyTranslator(x.displayName()));

    const std::vector<std::uint16_t> keys{
        0, 11, 8, 2, 14, 3, 5, 4, 34, 38, 40, 37, 46, 45, 31, 35, 12, 15, 1, 17, 32, 9, 13, 7, 16, 6,  // A-Z
        29, 18, 19, 20, 21, 23, 22, 26, 28, 25,                                                      // 0-9
        49, 36, 48, 53,                                                                              // Space, Return, Tab, Escape
        122, 120, 99, 118, 96, 97, 98, 100, 101, 109, 103, 111};                                     // F1-F12
    ASSERT_EQ(keys.size(), 52u);
    for (auto code : keys) {
        auto keycode = table.keycodeForMacKeyCode(code);
        ASSERT_TRUE(keycode) << code;
        w.seen.clear();
        // The keysym Qt reports is the shifted one (⇧4 is "dollar"): the key code decides.
        w.send(QEvent::KeyPress, XK_dollar, Qt::ShiftModifier, 0x1, {}, *keycode);
        ASSERT_EQ(w.seen.size(), 1u) << code;
        EXPECT_EQ(w.seen[0], downEvent(code, Flag::shift)) << code;
    }
    for (std::uint16_t code : {55, 58, 59, 54, 61, 62}) {  // left ⌘ ⌥ ⌃, right ⌘ ⌥ ⌃
        auto keycode = table.keycodeForMacKeyCode(code);
        ASSERT_TRUE(keycode) << code;
        w.seen.clear();
        w.send(QEvent::KeyPress, 0, {}, 0, {}, *keycode);
        w.send(QEvent::KeyRelease, 0, {}, 0, {}, *keycode);
        EXPECT_EQ(w.seen, (std::vector<KeyEvent>{flagsEvent(code, modifierKeyFlags(code)), flagsEvent(code, 0)}))
            << code;
    }
}

}  // namespace
}  // namespace platform
