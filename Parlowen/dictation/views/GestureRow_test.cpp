#include "Parlowen/dictation/views/GestureRow.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QToolButton>
#include <QVBoxLayout>

#include "Parlowen/dictation/HotkeyManager.h"
#include "Parlowen/shell/views/ThemePalette.h"
#include "platform/runtime/ManualExecutor.h"
#include "platform/ui/Buttons.h"
#include "platform/ui/Finders.h"
#include "platform/ui/MenuPicker.h"
#include "platform/ui/ScreenshotTesting.h"
#include "platform/ui/Surfaces.h"

// Xlib's keysyms last (macros only).
#include <X11/keysym.h>

namespace parlowen {
namespace {

using platform::ui::findNamed;

const std::filesystem::path kShots = PARLOWEN_SCREENSHOT_DIR;
const Gesture kCmdShiftD = Gesture::combo(2, ModifierFlags::command | ModifierFlags::shift);
const Gesture kCtrlShiftS = Gesture::combo(1, ModifierFlags::control | ModifierFlags::shift);
const Gesture kCmdShiftN = Gesture::combo(45, ModifierFlags::command | ModifierFlags::shift);

// A row on a themed window, bound to a stored gesture, with the hotkey
// manager running on the scripted key source.
struct RowWindow {
    platform::ManualExecutor main;
    platform::ScriptedKeyEventSource source;
    HotkeyManager manager{source, main, {}, {*kCmdShiftD.keyCombo()}};
    platform::Observable<Gesture> store{kCmdShiftD};
    platform::ui::ThemedBackground window;
    GestureRow* row;

    explicit RowWindow(const ThemePalette& palette = hearthPalette()) {
        EXPECT_TRUE(manager.start());
        setThemePalette(&window, palette);
        window.resize(560, 300);
        auto* box = new QVBoxLayout(&window);
        box->setContentsMargins(20, 16, 20, 16);
        row = new GestureRow("waveform", QStringLiteral("Dictation"),
                             QStringLiteral("Hold or press to dictate into any app"), store,
                             {kCtrlShiftS, kCmdShiftN}, &manager);
        box->addWidget(row);
        box->addStretch(1);
        window.show();
        platform::ui::testing::settle();
    }
    ~RowWindow() { manager.stop(); }

    QString pillText() { return findNamed<QLabel>(&window, "gestureName")->text(); }
    QString prompt() { return findNamed<QLabel>(&window, "prompt")->text(); }
    QLabel* error() { return findNamed<QLabel>(&window, "gestureField/error"); }
    bool recordingShown() { return findNamed<QWidget>(&window, "recordingPill")->isVisible(); }
    void clickPill() {
        findNamed<QAbstractButton>(&window, "idlePill")->click();
        platform::ui::testing::settle();
    }
    // A key as the X11 platform delivers it to whatever has the focus in the window.
    void key(QEvent::Type type, std::uint32_t keysym, Qt::KeyboardModifiers mods = {}, const QString& text = {}) {
        QWidget* target = window.focusWidget() ? window.focusWidget() : &window;
        QKeyEvent e(type, Qt::Key_unknown, mods, 0, keysym, 0, text);
        QApplication::sendEvent(target, &e);
    }
};

TEST(GestureRow, RecordsFromTheWindowsKeysWhileTheHotkeyManagerIsPaused) {
    RowWindow w;
    EXPECT_EQ(w.pillText(), "Tap ⇧⌘D");
    auto* idle = findNamed<QAbstractButton>(&w.window, "idlePill");
    EXPECT_EQ(idle->toolTip(), "Click to record a new shortcut.");
    EXPECT_EQ(idle->accessibleName(),
              "Current shortcut: Tap ⇧⌘D. Click to record a new one, or use the manual entry option below.");
    EXPECT_EQ(findNamed<QLabel>(&w.window, "subtitle")->text(), "Hold or press to dictate into any app");
    platform::ui::testing::expectScreenshot(&w.window, kShots / "gesture-row-idle.png",
                                            {"icon", "title", "subtitle", "idlePill", "gestureName", "pencil",
                                             "manualEntryDisclosure"});

    w.clickPill();
    EXPECT_TRUE(w.recordingShown());
    EXPECT_TRUE(w.manager.recordingMode());
    EXPECT_EQ(w.prompt(), "Press a key…");
    auto* cancel = findNamed<QAbstractButton>(&w.window, "cancelRecording");
    EXPECT_EQ(cancel->toolTip(), "Cancel (esc)");
    EXPECT_EQ(cancel->accessibleName(), "Cancel recording shortcut");

    w.key(QEvent::KeyPress, XK_Super_L);
    w.key(QEvent::KeyPress, XK_Shift_L, Qt::MetaModifier);
    EXPECT_EQ(w.prompt(), "⇧⌘…");
    platform::ui::testing::expectScreenshot(&w.window, kShots / "gesture-row-recording.png",
                                            {"recordingPill", "prompt", "cancelRecording"});
    w.key(QEvent::KeyPress, XK_K, Qt::MetaModifier | Qt::ShiftModifier, "K");
    platform::ui::testing::settle();
    EXPECT_EQ(w.store.get(), Gesture::combo(40, ModifierFlags::command | ModifierFlags::shift));
    EXPECT_EQ(w.pillText(), "Tap ⇧⌘K");
    EXPECT_FALSE(w.recordingShown());
    EXPECT_FALSE(w.manager.recordingMode());

    // Keys reach the window's controls again: the releases are not taken.
    w.key(QEvent::KeyRelease, XK_Shift_L);
    w.key(QEvent::KeyRelease, XK_Super_L);
    EXPECT_EQ(w.store.get(), Gesture::combo(40, ModifierFlags::command | ModifierFlags::shift));
}

TEST(GestureRow, RefusalsShowTheirMessageUnderThePillUntilTheNextClick) {
    RowWindow w(duskPalette());
    w.clickPill();
    w.key(QEvent::KeyPress, XK_Control_L);
    w.key(QEvent::KeyPress, XK_Shift_L, Qt::ControlModifier);
    w.key(QEvent::KeyPress, XK_s, Qt::ControlModifier | Qt::ShiftModifier, "S");
    platform::ui::testing::settle();
    EXPECT_EQ(w.error()->text(), "Already used by another Parlowen shortcut.");
    EXPECT_TRUE(w.error()->isVisible());
    EXPECT_FALSE(w.recordingShown());
    EXPECT_EQ(w.store.get(), kCmdShiftD);
    platform::ui::testing::expectScreenshot(&w.window, kShots / "gesture-row-error-dusk.png",
                                            {"idlePill", "gestureField/error"});

    // Shift alone keeps recording with its message; Escape then cancels and keeps it.
    w.clickPill();
    EXPECT_FALSE(w.error()->isVisible());
    w.key(QEvent::KeyRelease, XK_s);  // leftovers of the last press change nothing
    w.key(QEvent::KeyRelease, XK_Shift_L);
    w.key(QEvent::KeyRelease, XK_Control_L);
    w.key(QEvent::KeyPress, XK_Shift_R);
    w.key(QEvent::KeyRelease, XK_Shift_R);
    platform::ui::testing::settle();
    EXPECT_EQ(w.error()->text().toStdString(), GestureFieldModel::kShiftOnlyMessage);
    EXPECT_TRUE(w.recordingShown());
    w.key(QEvent::KeyPress, XK_Escape);
    platform::ui::testing::settle();
    EXPECT_FALSE(w.recordingShown());
    EXPECT_TRUE(w.error()->isVisible());
    EXPECT_EQ(w.store.get(), kCmdShiftD);
}

TEST(GestureRow, LeavingTheScreenMidRecordingResumesTheManagerAndKeepsTheGesture) {
    RowWindow w;
    w.clickPill();
    w.key(QEvent::KeyPress, XK_Alt_R);
    ASSERT_TRUE(w.manager.recordingMode());
    w.row->hide();  // another tab of the window
    EXPECT_FALSE(w.manager.recordingMode());
    EXPECT_FALSE(w.row->field()->model().isRecording());
    EXPECT_EQ(w.store.get(), kCmdShiftD);
    w.row->show();
    platform::ui::testing::settle();
    EXPECT_FALSE(w.recordingShown());
    // The cancel button ends a recording the same way.
    w.clickPill();
    findNamed<QAbstractButton>(&w.window, "cancelRecording")->click();
    EXPECT_FALSE(w.manager.recordingMode());
    EXPECT_FALSE(w.recordingShown());
}

TEST(GestureRow, TheManualEntryLoadsWhenItOpensAndSavesThroughValidation) {
    RowWindow w;
    auto* disclosure = findNamed<QToolButton>(&w.window, "manualEntryDisclosure");
    EXPECT_EQ(disclosure->text(), "Can't record? Enter shortcut manually");
    EXPECT_EQ(disclosure->accessibleDescription().toStdString(), GestureRow::kDisclosureHint);
    EXPECT_FALSE(findNamed<QWidget>(&w.window, "manualEntry")->isVisible());
    disclosure->click();
    platform::ui::testing::settle();
    ASSERT_TRUE(findNamed<QWidget>(&w.window, "manualEntry")->isVisible());
    auto* command = findNamed<QCheckBox>(&w.window, "command");
    auto* shift = findNamed<QCheckBox>(&w.window, "shift");
    auto* key = findNamed<platform::ui::MenuPicker>(&w.window, "primaryKey");
    auto* save = findNamed<platform::ui::PushButton>(&w.window, "save");
    EXPECT_TRUE(findNamed<QAbstractButton>(&w.window, "comboMode")->isChecked());
    EXPECT_TRUE(command->isChecked() && shift->isChecked());
    EXPECT_FALSE(findNamed<QCheckBox>(&w.window, "option")->isChecked());
    EXPECT_EQ(key->currentText(), "D");
    EXPECT_EQ(save->accessibleDescription(), "Save the shortcut you've built above.");
    EXPECT_EQ(key->accessibleName(), "Primary key for the combo");
    platform::ui::testing::expectScreenshot(&w.window, kShots / "gesture-row-manual-entry.png",
                                            {"shortcutStyle", "comboMode", "holdMode", "modifiersHeading", "command",
                                             "option", "control", "shift", "primaryKey", "comboNote", "save"});

    // Only Shift: nothing to save.
    command->click();
    EXPECT_FALSE(save->isEnabled());
    EXPECT_EQ(save->accessibleDescription(), "Pick the required pieces above first.");
    // ⌃ with F5: accepted here though the recorder cannot record it.
    shift->click();
    findNamed<QCheckBox>(&w.window, "control")->click();
    key->choose(44);  // F5
    ASSERT_EQ(key->currentText(), "F5");
    save->click();
    EXPECT_EQ(w.store.get(), Gesture::combo(96, ModifierFlags::control));
    EXPECT_EQ(w.pillText(), "Tap ⌃F5");
    // ⌘ Space: reserved, shown in the form.
    findNamed<QCheckBox>(&w.window, "control")->click();
    command->click();
    key->choose(36);  // Space
    save->click();
    EXPECT_EQ(findNamed<QLabel>(&w.window, "manualEntry/error")->text(), "⌘Space is reserved by macOS.");
    EXPECT_EQ(w.store.get(), Gesture::combo(96, ModifierFlags::control));

    // The recorder changes the gesture while the form is open: the form
    // keeps what it shows until it opens again.
    w.store.set(Gesture::hold(Hotkey::rightOption));
    EXPECT_TRUE(findNamed<QAbstractButton>(&w.window, "comboMode")->isChecked());
    disclosure->click();
    disclosure->click();
    platform::ui::testing::settle();
    EXPECT_TRUE(findNamed<QAbstractButton>(&w.window, "holdMode")->isChecked());
    EXPECT_TRUE(findNamed<QWidget>(&w.window, "holdSection")->isVisible());
    EXPECT_FALSE(findNamed<QWidget>(&w.window, "comboSection")->isVisible());
    EXPECT_EQ(findNamed<platform::ui::MenuPicker>(&w.window, "holdKey")->currentText(), "Right Option (⌥)");
    platform::ui::testing::expectScreenshot(&w.window, kShots / "gesture-row-manual-hold.png",
                                            {"holdMode", "holdKey", "holdNote", "save"});
}

}  // namespace
}  // namespace parlowen
