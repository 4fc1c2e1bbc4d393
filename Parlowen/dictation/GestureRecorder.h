#pragma once

// The logic of the shortcut recorder and of the manual shortcut entry,
// kept apart from their widgets (views/GestureRow.h). Both write a new
// gesture through the same binding, after the same validation, and only
// then. Main thread only.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Parlowen/model/Gesture.h"
#include "Parlowen/model/RawEnum.h"
#include "platform/keyevents/LocalKeyMonitor.h"
#include "platform/ui/Property.h"

namespace parlowen {

class HotkeyManager;

// The recorder pill: records a gesture from the live keyboard. While it
// records, the hotkey manager is paused (so the current gestures are read
// as candidates instead of firing) and a local monitor consumes every key
// event of the window.
class GestureFieldModel {
public:
    // Escape cancels, with any modifiers.
    static constexpr std::uint16_t kEscapeKeyCode = 53;
    // Shift, Control, Option, Command and Function: what a combination keeps.
    static constexpr std::uint64_t kComboFlagsMask = 0x9E0000;
    // Bits 16 to 31: the device-independent part of a flags-changed event.
    static constexpr std::uint64_t kDeviceIndependentMask = 0xFFFF0000;
    static constexpr const char* kShiftOnlyMessage =
        "Shift alone won't work — add ⌘, ⌥, or ⌃, or press a single ⌘/⌥/⌃ key.";
    static constexpr const char* kFunctionMessage = "The 🌐 (Function) key can't be used. Try ⌘, ⌥, ⌃, or ⇧.";

    // `hotkey` may be null (nothing is paused); `installMonitor` may return
    // no monitor (nothing is recorded then).
    GestureFieldModel(platform::ui::Property<Gesture> gesture, std::vector<Gesture> otherGestures,
                      HotkeyManager* hotkey, platform::LocalKeyMonitorFactory installMonitor);
    // Stops a recording still running, so the manager is never left paused.
    ~GestureFieldModel();
    GestureFieldModel(const GestureFieldModel&) = delete;
    GestureFieldModel& operator=(const GestureFieldModel&) = delete;

    platform::ui::Property<Gesture> gesture;
    std::vector<Gesture> otherGestures;
    HotkeyManager* hotkey;

    bool isRecording() const { return isRecording_; }
    std::uint64_t liveModifiers() const { return liveModifiers_; }
    std::optional<Hotkey> pressedModifier() const { return pressedModifier_; }
    bool comboFired() const { return comboFired_; }
    const std::optional<std::string>& error() const { return error_; }
    bool hasMonitor() const { return monitor_ != nullptr; }

    // The idle pill's action: clears the message and starts recording.
    void beginRecording();
    // When the recording pill comes on screen: resets the key state,
    // pauses the hotkey manager and installs the monitor (once).
    void installMonitor();
    // Removes the monitor and resumes the hotkey manager. Keeps the message;
    // harmless when nothing records.
    void stopRecording();
    // One event of the monitor.
    void handle(const platform::KeyEvent& event);
    // Validates `candidate`, writes it or shows the message, and stops.
    void commit(const Gesture& candidate);
    // "Press a key…", or the held modifiers (⌃⌥⇧⌘) and "…".
    std::string promptText() const;

    // Called after every change of the state above (for the view).
    std::function<void()> onChange;

private:
    void changed();

    platform::LocalKeyMonitorFactory installMonitor_;
    bool isRecording_ = false;
    std::uint64_t liveModifiers_ = 0;
    std::optional<Hotkey> pressedModifier_;
    bool comboFired_ = false;
    std::optional<std::string> error_;
    std::unique_ptr<platform::LocalKeyMonitor> monitor_;
};

// The kinds of gesture the manual entry builds.
enum class ManualGestureEntryMode { combo, hold };

template <>
struct EnumCases<ManualGestureEntryMode> {
    static constexpr std::string_view typeName = "ManualGestureEntry.Mode";
    static constexpr std::array cases{EnumCase{ManualGestureEntryMode::combo, "combo"},
                                      EnumCase{ManualGestureEntryMode::hold, "hold"}};
};

// "Tap a combo (⌘⇧D, etc.)" / "Hold a single modifier key".
std::string_view title(ManualGestureEntryMode mode);

// The primary keys the manual entry offers, in menu order.
enum class ManualKeyChoice {
    a, b, c, d, e, f, g, h, i, j, k, l, m, n, o, p, q, r, s, t, u, v, w, x, y, z,
    digit0, digit1, digit2, digit3, digit4, digit5, digit6, digit7, digit8, digit9,
    space, returnKey, tabKey, escape,
    f1, f2, f3, f4, f5, f6, f7, f8, f9, f10, f11, f12,
};

template <>
struct EnumCases<ManualKeyChoice> {
    static constexpr std::string_view typeName = "ManualKeyChoice";
    static const std::array<EnumCase<ManualKeyChoice>, 52> cases;
};

// The menu label ("A", "0", "Space", "F1", ...) and the virtual key code.
std::string_view label(ManualKeyChoice choice);
std::uint16_t keyCode(ManualKeyChoice choice);

// The form behind "Can't record? Enter shortcut manually".
class ManualGestureEntryModel {
public:
    using Mode = ManualGestureEntryMode;

    static constexpr const char* kSaveHint = "Save the shortcut you've built above.";
    static constexpr const char* kMissingPiecesHint = "Pick the required pieces above first.";

    // The hold keys offered: Right Control, Right Option, Right Command.
    static const std::array<Hotkey, 3>& holdKeyChoices();

    ManualGestureEntryModel(platform::ui::Property<Gesture> gesture, std::vector<Gesture> otherGestures);

    platform::ui::Property<Gesture> gesture;
    std::vector<Gesture> otherGestures;

    Mode mode = Mode::combo;
    bool commandOn = false;
    bool optionOn = false;
    bool controlOn = false;
    bool shiftOn = false;
    ManualKeyChoice selectedKey = ManualKeyChoice::a;
    Hotkey selectedHoldKey = Hotkey::rightControl;
    std::optional<std::string> error;

    // Fills the form from the bound gesture (each time the form opens);
    // keys the menus lack keep the current choice.
    void loadFromGesture();
    // Hold mode, or a combination with at least one of ⌘, ⌥, ⌃.
    bool canSave() const;
    // The save button's accessibility hint.
    std::string saveHint() const;
    // The gesture the form describes.
    Gesture candidate() const;
    // Validates the candidate; writes it, or shows the message.
    void save();
};

}  // namespace parlowen
