// The shortcut recorder on a real desktop: a gesture row bound to the JSON
// settings file, beside the running X11 gesture tap with ⇧⌘D registered.
// Clicks and keys go through XTest, as a user's would.

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QVBoxLayout>
#include <QWidget>

#include "Parlowen/dictation/HotkeyManager.h"
#include "Parlowen/dictation/views/GestureRow.h"
#include "Parlowen/shell/settings/PreferencesStore.h"
#include "Parlowen/shell/views/SettingProperty.h"
#include "platform/defaults/JsonFileUserDefaults.h"
#include "platform/keyevents/KeyEventSource.h"
#include "platform/runtime/QtMainExecutor.h"
#include "platform/testsupport/OnDisplay.h"
#include "platform/ui/Finders.h"

// Last: Xlib's macros (Status, None, ...) would clash with the names above.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace parlowen {
namespace {

using platform::ui::findNamed;

struct XInput {
    Display* display = XOpenDisplay(nullptr);
    ~XInput() {
        if (display) XCloseDisplay(display);
    }
    KeyCode code(KeySym sym) const { return XKeysymToKeycode(display, sym); }
    void press(KeyCode code, bool down) {
        XTestFakeKeyEvent(display, code, down ? True : False, 0);
        XFlush(display);
    }
    // Presses the keys in order, then releases them in reverse order.
    void chord(std::initializer_list<KeySym> syms) {
        std::vector<KeyCode> codes;
        for (auto s : syms) codes.push_back(code(s));
        for (auto c : codes) press(c, true);
        for (auto it = codes.rbegin(); it != codes.rend(); ++it) press(*it, false);
    }
    void click(QPoint global) {
        XTestFakeMotionEvent(display, -1, global.x(), global.y(), 0);
        XTestFakeButtonEvent(display, 1, True, 0);
        XTestFakeButtonEvent(display, 1, False, 0);
        XFlush(display);
    }
};

// The dictation gesture as a fresh reader of the settings file finds it.
Gesture storedGesture(const std::filesystem::path& file) {
    platform::JsonFileUserDefaults defaults(file);
    PreferencesStore store(defaults, {});
    return store.dictationGesture.get();
}

TEST(GestureRowDesktop, RecordsFromTheKeyboardWhileTheGestureTapStandsAside) {
    if (!testsupport::onDisplayChild()) {
        testsupport::DesktopSession desktop;
        PARLOWEN_REQUIRE_OR_SKIP(desktop.start());
        return testsupport::runCurrentTestOnDisplay(desktop.environment(), std::chrono::seconds(90));
    }
    const auto env = platform::Environment::fromProcess();
    XInput input;
    ASSERT_NE(input.display, nullptr);

    const auto settingsFile = std::filesystem::path(env.get("XDG_CONFIG_HOME").value()) / "gesture-row.json";
    platform::JsonFileUserDefaults defaults(settingsFile);
    PreferencesStore store(defaults, {});
    ASSERT_EQ(store.dictationGesture.get(), PreferencesStore::dictationDefaultGesture());  // ⇧⌘D

    platform::QtMainExecutor main;
    auto source = platform::makeX11KeyEventSource(env);
    HotkeyManager manager(*source, main, {}, {*store.dictationGesture.get().keyCombo()});
    int triggers = 0;
    manager.setOnComboTrigger([&](KeyCombo) { ++triggers; });
    ASSERT_TRUE(manager.start());

    QWidget window;
    window.setWindowTitle(QStringLiteral("Shortcuts"));
    auto* box = new QVBoxLayout(&window);
    auto* row = new GestureRow("waveform", QStringLiteral("Dictation"), QStringLiteral("Hold or press to dictate"),
                               settingProperty(store.dictationGesture),
                               {store.readAloudGesture.get(), store.notepadGesture.get(),
                                store.summarizeReadAloudGesture.get()},
                               &manager);
    box->addWidget(row);
    window.resize(520, 160);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(testsupport::pumpUntil([&] { return window.isActiveWindow(); }, std::chrono::seconds(20)));

    auto& model = row->field()->model();
    auto clickPill = [&] {
        auto* pill = findNamed<QWidget>(&window, "idlePill");
        ASSERT_TRUE(pill->isVisible());
        input.click(pill->mapToGlobal(pill->rect().center()));
        ASSERT_TRUE(testsupport::pumpUntil([&] { return model.hasMonitor(); }));
        EXPECT_TRUE(manager.recordingMode());
    };
    auto pillText = [&] { return findNamed<QLabel>(&window, "gestureName")->text().toStdString(); };

    // ⇧⌘D, the gesture in use, reaches the window (its grab is released)
    // and is taken again unchanged; the tap reports nothing.
    int writes = 0;
    auto counting = store.dictationGesture.subscribe([&](const Gesture&) { ++writes; });
    writes = 0;
    clickPill();
    input.chord({XK_Super_L, XK_Shift_L, XK_d});
    ASSERT_TRUE(testsupport::pumpUntil([&] { return !model.isRecording(); }));
    EXPECT_EQ(writes, 1);
    EXPECT_EQ(model.error(), std::nullopt);
    EXPECT_EQ(store.dictationGesture.get(), PreferencesStore::dictationDefaultGesture());
    EXPECT_FALSE(manager.recordingMode());
    testsupport::pumpUntil([] { return false; }, std::chrono::milliseconds(300));  // let stray events arrive
    EXPECT_EQ(triggers, 0);
    EXPECT_EQ(storedGesture(settingsFile), PreferencesStore::dictationDefaultGesture());

    // Right Alt alone records a hold of Right Option, written to the file.
    clickPill();
    const KeyCode altR = 108;  // by key code: the keysym would also press Alt_L under xdotool's rules
    input.press(altR, true);
    input.press(altR, false);
    ASSERT_TRUE(testsupport::pumpUntil([&] { return !model.isRecording(); }));
    EXPECT_EQ(store.dictationGesture.get(), Gesture::hold(Hotkey::rightOption));
    EXPECT_EQ(pillText(), "Hold Right Option (⌥)");
    EXPECT_EQ(storedGesture(settingsFile), Gesture::hold(Hotkey::rightOption));

    // Shift alone: the message, and recording goes on until Escape.
    clickPill();
    input.chord({XK_Shift_L});
    ASSERT_TRUE(testsupport::pumpUntil([&] { return model.error().has_value(); }));
    EXPECT_EQ(*model.error(), GestureFieldModel::kShiftOnlyMessage);
    EXPECT_EQ(findNamed<QLabel>(&window, "gestureField/error")->text().toStdString(),
              GestureFieldModel::kShiftOnlyMessage);
    EXPECT_TRUE(model.isRecording());
    input.chord({XK_Escape});
    ASSERT_TRUE(testsupport::pumpUntil([&] { return !model.isRecording(); }));
    EXPECT_EQ(store.dictationGesture.get(), Gesture::hold(Hotkey::rightOption));

    // Recording over: the combination fires the tap again.
    input.chord({XK_Super_L, XK_Shift_L, XK_d});
    EXPECT_TRUE(testsupport::pumpUntil([&] { return triggers == 1; }, std::chrono::seconds(10)));
    manager.stop();
}

}  // namespace
}  // namespace parlowen
