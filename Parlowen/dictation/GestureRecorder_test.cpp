#include "Parlowen/dictation/GestureRecorder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Parlowen/dictation/HotkeyManager.h"
#include "platform/runtime/ManualExecutor.h"
#include "platform/runtime/Observable.h"

namespace parlowen {
namespace {

using platform::KeyEvent;
using platform::KeyEventType;
using platform::modifierKeyFlags;
namespace Flag = platform::KeyEventFlag;

constexpr std::uint16_t kShiftKey = 56, kFunctionKey = 63, kCapsLockKey = 57;
constexpr std::uint16_t kRightOptionKey = 61, kRightCommandKey = 54, kLeftCommandKey = 55, kLeftOptionKey = 58,
                        kLeftControlKey = 59;
constexpr std::uint16_t kKeyA = 0, kKeyS = 1, kKeyD = 2, kKeyK = 40, kKeyN = 45, kKey4 = 21, kF5 = 96, kEscape = 53;

const Gesture kCmdShiftD = Gesture::combo(kKeyD, ModifierFlags::command | ModifierFlags::shift);
const std::vector<Gesture> kOthers{Gesture::combo(kKeyS, ModifierFlags::control | ModifierFlags::shift),
                                   Gesture::combo(kKeyN, ModifierFlags::command | ModifierFlags::shift),
                                   Gesture::combo(kKeyS, 0x160000)};

KeyEvent flags(std::uint16_t key, std::uint64_t f) { return {KeyEventType::flagsChanged, key, f, false}; }
KeyEvent down(std::uint16_t key, std::uint64_t f) { return {KeyEventType::keyDown, key, f, false}; }

// A monitor the test drives: it hands the field's handler to the test and
// notes its removal.
struct FakeMonitors {
    struct Monitor : platform::LocalKeyMonitor {
        explicit Monitor(FakeMonitors& o) : owner(o) {}
        ~Monitor() override { owner.handler = nullptr; ++owner.removed; }
        FakeMonitors& owner;
    };
    platform::LocalKeyHandler handler;
    int installed = 0;
    int removed = 0;
    bool offerNone = false;

    platform::LocalKeyMonitorFactory factory() {
        return [this](platform::LocalKeyHandler h) -> std::unique_ptr<platform::LocalKeyMonitor> {
            if (offerNone) return nullptr;
            ++installed;
            handler = std::move(h);
            return std::make_unique<Monitor>(*this);
        };
    }
    // Sends events as the window would: only while a monitor is installed.
    void send(const std::vector<KeyEvent>& events) {
        for (const auto& e : events)
            if (handler) {
                auto h = handler;
                h(e);
            }
    }
};

struct Field {
    platform::Observable<Gesture> store{kCmdShiftD};
    std::vector<Gesture> writes;
    FakeMonitors monitors;
    GestureFieldModel model;

    explicit Field(HotkeyManager* manager = nullptr, std::vector<Gesture> others = kOthers)
        : model(platform::ui::Property<Gesture>([this] { return store.get(); },
                                                [this](Gesture g) {
                                                    writes.push_back(g);
                                                    store.set(g);
                                                },
                                                store.stream()),
                std::move(others), manager, monitors.factory()) {}

    // A click on the pill; the recording pill comes on screen.
    void click() {
        model.beginRecording();
        model.installMonitor();
    }
};

TEST(GestureField, RecordingTable) {
    const std::uint64_t rOpt = modifierKeyFlags(kRightOptionKey), rCmd = modifierKeyFlags(kRightCommandKey),
                        lCmd = modifierKeyFlags(kLeftCommandKey), lOpt = modifierKeyFlags(kLeftOptionKey),
                        lCtl = modifierKeyFlags(kLeftControlKey), shift = modifierKeyFlags(kShiftKey);
    struct Case {
        const char* name;
        std::vector<KeyEvent> events;
        std::vector<Gesture> written;
        std::optional<std::string> error;
        bool recording;
    };
    const std::vector<Case> cases{
        {"shift alone keeps recording with the shift message",
         {flags(kShiftKey, shift), flags(kShiftKey, 0)}, {}, GestureFieldModel::kShiftOnlyMessage, true},
        {"function alone keeps recording with the function message",
         {flags(kFunctionKey, ModifierFlags::function), flags(kFunctionKey, 0)}, {},
         GestureFieldModel::kFunctionMessage, true},
        {"a key-down with the function bit is refused and ends the recording",
         {down(kF5, ModifierFlags::function)}, {}, GestureFieldModel::kFunctionMessage, false},
        {"right option, right command, both released: a hold of right option",
         {flags(kRightOptionKey, rOpt), flags(kRightCommandKey, rOpt | rCmd), flags(kRightOptionKey, rCmd),
          flags(kRightCommandKey, 0)},
         {Gesture::hold(Hotkey::rightOption)}, std::nullopt, false},
        {"left command alone: a hold of left command",
         {flags(kLeftCommandKey, lCmd), flags(kLeftCommandKey, 0)}, {Gesture::hold(Hotkey::leftCommand)},
         std::nullopt, false},
        {"control held, then S: ⌃S (device bits dropped)",
         {flags(kLeftControlKey, lCtl), down(kKeyS, lCtl)}, {Gesture::combo(kKeyS, ModifierFlags::control)},
         std::nullopt, false},
        {"escape cancels", {down(kEscape, 0)}, {}, std::nullopt, false},
        {"escape with modifiers cancels too",
         {flags(kLeftCommandKey, lCmd), down(kEscape, lCmd | shift)}, {}, std::nullopt, false},
        {"a bare letter is refused", {down(kKeyA, 0)}, {}, "Add ⌘, ⌥, or ⌃ — Shift alone isn't enough.", false},
        {"⇧⌘4 is reserved", {down(kKey4, lCmd | shift)}, {}, "⇧⌘4 is reserved by macOS.", false},
        {"another row's gesture is refused", {down(kKeyN, lCmd | shift)}, {},
         "Already used by another Parlowen shortcut.", false},
        {"the row's own gesture is accepted unchanged", {down(kKeyD, lCmd | shift)}, {kCmdShiftD}, std::nullopt,
         false},
        {"caps lock: a modifier hold never records, a combination does",
         {flags(kCapsLockKey, Flag::capsLock), flags(kRightOptionKey, Flag::capsLock | rOpt),
          flags(kRightOptionKey, Flag::capsLock), down(kKeyS, Flag::capsLock | lCtl)},
         {Gesture::combo(kKeyS, ModifierFlags::control)}, std::nullopt, false},
        {"caps lock alone never ends in a hold",
         {flags(kCapsLockKey, Flag::capsLock), flags(kLeftOptionKey, Flag::capsLock | lOpt),
          flags(kLeftOptionKey, Flag::capsLock)},
         {}, std::nullopt, true},
    };
    for (const auto& c : cases) {
        Field f;
        f.click();
        f.monitors.send(c.events);
        EXPECT_EQ(f.writes, c.written) << c.name;
        EXPECT_EQ(f.model.error(), c.error) << c.name;
        EXPECT_EQ(f.model.isRecording(), c.recording) << c.name;
        EXPECT_EQ(f.model.hasMonitor(), c.recording) << c.name;
        EXPECT_EQ(f.store.get(), c.written.empty() ? kCmdShiftD : c.written.back()) << c.name;
    }
}

TEST(GestureField, AShiftMessageIsReplacedByTheNextCombinationAndAMessageOutlivesTheRecording) {
    Field f;
    f.click();
    f.monitors.send({flags(kShiftKey, modifierKeyFlags(kShiftKey)), flags(kShiftKey, 0)});
    ASSERT_EQ(f.model.error(), GestureFieldModel::kShiftOnlyMessage);
    const std::uint64_t optCmd = modifierKeyFlags(kLeftOptionKey) | modifierKeyFlags(kLeftCommandKey);
    f.monitors.send({flags(kLeftOptionKey, modifierKeyFlags(kLeftOptionKey)), flags(kLeftCommandKey, optCmd),
                     down(kKeyK, optCmd)});
    EXPECT_EQ(f.writes, std::vector<Gesture>{Gesture::combo(kKeyK, ModifierFlags::option | ModifierFlags::command)});
    EXPECT_EQ(f.model.error(), std::nullopt);

    // A refusal's message stays through stopRecording and goes with the next click.
    f.click();
    f.monitors.send({down(kKeyA, 0)});
    EXPECT_TRUE(f.model.error());
    f.model.stopRecording();
    f.model.stopRecording();
    EXPECT_TRUE(f.model.error());
    f.model.beginRecording();
    EXPECT_EQ(f.model.error(), std::nullopt);
    EXPECT_TRUE(f.model.isRecording());
}

TEST(GestureField, PromptShowsTheHeldModifiersInControlOptionShiftCommandOrder) {
    struct Case {
        std::uint64_t flags;
        const char* prompt;
    };
    const std::vector<Case> cases{
        {0, "Press a key…"},
        {ModifierFlags::shift | ModifierFlags::command | Flag::leftShift | Flag::rightCommand, "⇧⌘…"},
        {ModifierFlags::command | ModifierFlags::shift | ModifierFlags::option | ModifierFlags::control, "⌃⌥⇧⌘…"},
        {ModifierFlags::option, "⌥…"},
        {Flag::capsLock, "…"},
    };
    for (const auto& c : cases) {
        Field f;
        f.click();
        f.monitors.send({flags(kLeftControlKey, c.flags)});
        EXPECT_EQ(f.model.promptText(), c.prompt) << std::hex << c.flags;
    }
}

TEST(GestureField, InstallingTwiceKeepsOneMonitorAndNoMonitorMeansNothingIsRecorded) {
    Field f;
    f.click();
    f.model.installMonitor();
    EXPECT_EQ(f.monitors.installed, 1);

    Field none;
    none.monitors.offerNone = true;
    none.click();
    EXPECT_TRUE(none.model.isRecording());
    EXPECT_FALSE(none.model.hasMonitor());
    none.model.handle(down(kKeyD, 0));  // nothing could deliver it, but even so: refused, nothing written
    EXPECT_TRUE(none.writes.empty());
}

// The hotkey manager is paused exactly while a recording runs: a gesture in
// use is read as a candidate instead of firing, and fires again afterwards.
TEST(GestureField, RecordingPausesTheHotkeyManagerAndLeavingTheScreenResumesIt) {
    platform::ManualExecutor main;
    platform::ScriptedKeyEventSource source;
    const KeyCombo cmdShiftD = *kCmdShiftD.keyCombo();
    HotkeyManager manager(source, main, {Hotkey::rightOption}, {cmdShiftD});
    std::vector<std::string> seen;
    manager.setOnComboTrigger([&](KeyCombo c) { seen.push_back("combo " + c.displayString()); });
    manager.setOnHoldDown([&](Hotkey h) { seen.push_back("down " + std::string(caseName(h))); });
    ASSERT_TRUE(manager.start());
    const std::uint64_t cmdShift = modifierKeyFlags(kLeftCommandKey) | modifierKeyFlags(kShiftKey);

    Field f(&manager);
    EXPECT_FALSE(manager.recordingMode());
    f.model.beginRecording();
    EXPECT_FALSE(manager.recordingMode());  // not before the recording pill shows
    f.model.installMonitor();
    EXPECT_TRUE(manager.recordingMode());
    EXPECT_TRUE(source.swallowed().empty());  // the grabs are released
    EXPECT_EQ(source.pushKeyDown(kKeyD, cmdShift), platform::KeyEventVerdict::pass);
    EXPECT_EQ(source.pushFlags(modifierKeyFlags(kRightOptionKey), kRightOptionKey), platform::KeyEventVerdict::pass);
    source.pushFlags(0, kRightOptionKey);
    main.runUntilIdle();
    EXPECT_TRUE(seen.empty());

    // The same keys reach the field: the row's own gesture, accepted.
    f.monitors.send({down(kKeyD, cmdShift)});
    EXPECT_FALSE(manager.recordingMode());
    EXPECT_EQ(source.swallowed(), (std::vector<platform::KeyChord>{{kKeyD, cmdShiftD.modifiers}}));
    EXPECT_EQ(source.pushKeyDown(kKeyD, cmdShift), platform::KeyEventVerdict::drop);
    main.runUntilIdle();
    EXPECT_EQ(seen, std::vector<std::string>{"combo ⇧⌘D"});

    // Leaving the page mid-recording: the manager works again, the gesture is unchanged.
    f.click();
    EXPECT_TRUE(manager.recordingMode());
    f.monitors.send({flags(kLeftCommandKey, modifierKeyFlags(kLeftCommandKey))});
    f.model.stopRecording();
    EXPECT_FALSE(manager.recordingMode());
    EXPECT_EQ(f.monitors.removed, 2);
    EXPECT_EQ(f.store.get(), kCmdShiftD);
    EXPECT_EQ(f.writes.size(), 1u);

    // A field destroyed mid-recording never leaves the manager paused.
    {
        Field gone(&manager);
        gone.click();
        EXPECT_TRUE(manager.recordingMode());
    }
    EXPECT_FALSE(manager.recordingMode());
    manager.stop();
}

// ---- Manual entry ------------------------------------------------------------------

struct Entry {
    platform::Observable<Gesture> store;
    int writes = 0;
    ManualGestureEntryModel model;

    explicit Entry(Gesture initial, std::vector<Gesture> others = kOthers)
        : store(initial),
          model(platform::ui::Property<Gesture>([this] { return store.get(); },
                                                [this](Gesture g) {
                                                    ++writes;
                                                    store.set(g);
                                                },
                                                store.stream()),
                std::move(others)) {}
};

TEST(ManualGestureEntry, KeyChoicesAreTheFiftyTwoMenuKeysInOrder) {
    const auto all = allCases<ManualKeyChoice>();
    ASSERT_EQ(all.size(), 52u);
    EXPECT_EQ(rawValue(ManualKeyChoice::returnKey), "returnKey");
    EXPECT_EQ(rawValue(ManualKeyChoice::digit7), "digit7");
    std::string labels;
    for (auto k : all) labels += std::string(label(k)) + " ";
    EXPECT_EQ(labels,
              "A B C D E F G H I J K L M N O P Q R S T U V W X Y Z 0 1 2 3 4 5 6 7 8 9 Space Return Tab Escape "
              "F1 F2 F3 F4 F5 F6 F7 F8 F9 F10 F11 F12 ");
    // Every key's display name agrees with its label, except where the gesture
    // uses its own symbols.
    for (auto k : all) {
        const std::string name = KeyCombo::keyName(keyCode(k));
        if (k == ManualKeyChoice::returnKey) EXPECT_EQ(name, "↩");
        else if (k == ManualKeyChoice::tabKey) EXPECT_EQ(name, "⇥");
        else if (k == ManualKeyChoice::escape) EXPECT_EQ(name, "esc");
        else EXPECT_EQ(name, label(k)) << rawValue(k);
    }
    EXPECT_EQ(title(ManualGestureEntryMode::combo), "Tap a combo (⌘⇧D, etc.)");
    EXPECT_EQ(title(ManualGestureEntryMode::hold), "Hold a single modifier key");
    EXPECT_EQ(rawValue(ManualGestureEntryMode::hold), "hold");
    EXPECT_EQ(ManualGestureEntryModel::holdKeyChoices(),
              (std::array<Hotkey, 3>{Hotkey::rightControl, Hotkey::rightOption, Hotkey::rightCommand}));
}

TEST(ManualGestureEntry, LoadsTheFormFromTheGesture) {
    {
        Entry e(kCmdShiftD);
        e.model.loadFromGesture();
        EXPECT_EQ(e.model.mode, ManualGestureEntryMode::combo);
        EXPECT_TRUE(e.model.commandOn && e.model.shiftOn);
        EXPECT_FALSE(e.model.optionOn || e.model.controlOn);
        EXPECT_EQ(e.model.selectedKey, ManualKeyChoice::d);
    }
    {
        Entry e(Gesture::hold(Hotkey::rightOption));
        e.model.loadFromGesture();
        EXPECT_EQ(e.model.mode, ManualGestureEntryMode::hold);
        EXPECT_EQ(e.model.selectedHoldKey, Hotkey::rightOption);
    }
    {
        // A left-hand hold is not offered: the form keeps Right Control, and saving writes it.
        Entry e(Gesture::hold(Hotkey::leftOption));
        e.model.loadFromGesture();
        EXPECT_EQ(e.model.mode, ManualGestureEntryMode::hold);
        EXPECT_EQ(e.model.selectedHoldKey, Hotkey::rightControl);
        e.model.save();
        EXPECT_EQ(e.store.get(), Gesture::hold(Hotkey::rightControl));
    }
    {
        // ⌘← : the menu has no arrows, so "A" stays and saving writes ⌘A.
        Entry e(Gesture::combo(123, ModifierFlags::command));
        e.model.loadFromGesture();
        EXPECT_TRUE(e.model.commandOn);
        EXPECT_EQ(e.model.selectedKey, ManualKeyChoice::a);
        e.model.save();
        EXPECT_EQ(e.store.get(), Gesture::combo(kKeyA, ModifierFlags::command));
    }
}

TEST(ManualGestureEntry, SavesThroughTheSameValidation) {
    struct Case {
        const char* name;
        bool cmd, opt, ctl, shift;
        ManualKeyChoice key;
        bool canSave;
        std::optional<std::string> error;  // when saved
    };
    const std::vector<Case> cases{
        {"only shift", false, false, false, true, ManualKeyChoice::d, false, std::nullopt},
        {"⌘ Space is reserved", true, false, false, false, ManualKeyChoice::space, true, "⌘Space is reserved by macOS."},
        {"⌥⌘ Escape is reserved", true, true, false, false, ManualKeyChoice::escape, true,
         "⌥⌘esc is reserved by macOS."},
        {"⌃ Escape is fine", false, false, true, false, ManualKeyChoice::escape, true, std::nullopt},
        {"⌃⌥ F5 is fine", false, true, true, false, ManualKeyChoice::f5, true, std::nullopt},
        {"another row's gesture", true, false, false, true, ManualKeyChoice::n, true,
         "Already used by another Parlowen shortcut."},
    };
    for (const auto& c : cases) {
        Entry e(Gesture::hold(Hotkey::rightOption));
        e.model.mode = ManualGestureEntryMode::combo;
        e.model.commandOn = c.cmd;
        e.model.optionOn = c.opt;
        e.model.controlOn = c.ctl;
        e.model.shiftOn = c.shift;
        e.model.selectedKey = c.key;
        EXPECT_EQ(e.model.canSave(), c.canSave) << c.name;
        EXPECT_EQ(e.model.saveHint(), c.canSave ? "Save the shortcut you've built above."
                                                : "Pick the required pieces above first.")
            << c.name;
        if (!c.canSave) continue;
        e.model.save();
        EXPECT_EQ(e.model.error, c.error) << c.name;
        EXPECT_EQ(e.store.get(), c.error ? Gesture::hold(Hotkey::rightOption) : e.model.candidate()) << c.name;
        EXPECT_EQ(e.writes, c.error ? 0 : 1) << c.name;
    }

    // Saving the row's own gesture is accepted and changes nothing; a later save clears an earlier message.
    Entry own(kCmdShiftD);
    own.model.error = "old";
    own.model.loadFromGesture();
    own.model.save();
    EXPECT_EQ(own.store.get(), kCmdShiftD);
    EXPECT_EQ(own.model.error, std::nullopt);
    // Hold mode can always be saved.
    own.model.mode = ManualGestureEntryMode::hold;
    own.model.commandOn = own.model.shiftOn = false;
    EXPECT_TRUE(own.model.canSave());
}

}  // namespace
}  // namespace parlowen
