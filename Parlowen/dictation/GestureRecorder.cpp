#include "Parlowen/dictation/GestureRecorder.h"

#include <algorithm>

#include "Parlowen/dictation/HotkeyManager.h"

namespace parlowen {

using platform::KeyEvent;
using platform::KeyEventType;

// ---- GestureFieldModel ----------------------------------------------------------

GestureFieldModel::GestureFieldModel(platform::ui::Property<Gesture> g, std::vector<Gesture> others,
                                     HotkeyManager* manager, platform::LocalKeyMonitorFactory install)
    : gesture(std::move(g)),
      otherGestures(std::move(others)),
      hotkey(manager),
      installMonitor_(std::move(install)) {}

GestureFieldModel::~GestureFieldModel() {
    onChange = nullptr;
    if (isRecording_ || monitor_) stopRecording();
}

void GestureFieldModel::changed() {
    if (onChange) onChange();
}

void GestureFieldModel::beginRecording() {
    error_.reset();
    isRecording_ = true;
    changed();
}

void GestureFieldModel::installMonitor() {
    if (monitor_) return;
    liveModifiers_ = 0;
    pressedModifier_.reset();
    comboFired_ = false;
    if (hotkey) hotkey->setRecordingMode(true);
    if (installMonitor_) monitor_ = installMonitor_([this](const KeyEvent& event) { handle(event); });
    changed();
}

void GestureFieldModel::stopRecording() {
    monitor_.reset();
    isRecording_ = false;
    liveModifiers_ = 0;
    pressedModifier_.reset();
    comboFired_ = false;
    if (hotkey) hotkey->setRecordingMode(false);
    changed();
}

void GestureFieldModel::handle(const KeyEvent& event) {
    if (event.type == KeyEventType::keyDown) {
        if (event.keyCode == kEscapeKeyCode) {
            stopRecording();
            return;
        }
        comboFired_ = true;
        commit(Gesture::combo(event.keyCode, event.flags & kComboFlagsMask));
        return;
    }
    if (event.type != KeyEventType::flagsChanged) return;

    const std::uint64_t flags = event.flags & kDeviceIndependentMask;
    const std::uint64_t live = liveModifiers_;
    if (live == 0 && flags != 0) {
        // The first modifier down from all-up is the one a hold records.
        pressedModifier_ = hotkeyFromKeyCode(event.keyCode);
    } else if (live != 0 && flags == 0) {
        if (!comboFired_ && pressedModifier_) {
            commit(Gesture::hold(*pressedModifier_));
        } else if (!comboFired_) {
            error_ = (live & ModifierFlags::function) ? kFunctionMessage : kShiftOnlyMessage;
        }
        pressedModifier_.reset();
        comboFired_ = false;
    }
    liveModifiers_ = flags;
    changed();
}

void GestureFieldModel::commit(const Gesture& candidate) {
    if (auto message = candidate.validationMessage(otherGestures)) {
        error_ = std::move(message);
    } else {
        gesture.set(candidate);
        error_.reset();
    }
    stopRecording();
}

std::string GestureFieldModel::promptText() const {
    if (liveModifiers_ == 0) return "Press a key…";
    return KeyCombo::modifierSymbols(liveModifiers_) + "…";
}

// ---- Manual entry -----------------------------------------------------------------

std::string_view title(ManualGestureEntryMode mode) {
    return mode == ManualGestureEntryMode::combo ? "Tap a combo (⌘⇧D, etc.)" : "Hold a single modifier key";
}

namespace {

struct KeyChoiceInfo {
    ManualKeyChoice choice;
    std::string_view raw;
    std::string_view label;
    std::uint16_t keyCode;
};

using K = ManualKeyChoice;
constexpr std::array<KeyChoiceInfo, 52> kKeyChoices{{
    {K::a, "a", "A", 0},       {K::b, "b", "B", 11},      {K::c, "c", "C", 8},       {K::d, "d", "D", 2},
    {K::e, "e", "E", 14},      {K::f, "f", "F", 3},       {K::g, "g", "G", 5},       {K::h, "h", "H", 4},
    {K::i, "i", "I", 34},      {K::j, "j", "J", 38},      {K::k, "k", "K", 40},      {K::l, "l", "L", 37},
    {K::m, "m", "M", 46},      {K::n, "n", "N", 45},      {K::o, "o", "O", 31},      {K::p, "p", "P", 35},
    {K::q, "q", "Q", 12},      {K::r, "r", "R", 15},      {K::s, "s", "S", 1},       {K::t, "t", "T", 17},
    {K::u, "u", "U", 32},      {K::v, "v", "V", 9},       {K::w, "w", "W", 13},      {K::x, "x", "X", 7},
    {K::y, "y", "Y", 16},      {K::z, "z", "Z", 6},
    {K::digit0, "digit0", "0", 29}, {K::digit1, "digit1", "1", 18}, {K::digit2, "digit2", "2", 19},
    {K::digit3, "digit3", "3", 20}, {K::digit4, "digit4", "4", 21}, {K::digit5, "digit5", "5", 23},
    {K::digit6, "digit6", "6", 22}, {K::digit7, "digit7", "7", 26}, {K::digit8, "digit8", "8", 28},
    {K::digit9, "digit9", "9", 25},
    {K::space, "space", "Space", 49}, {K::returnKey, "returnKey", "Return", 36}, {K::tabKey, "tabKey", "Tab", 48},
    {K::escape, "escape", "Escape", 53},
    {K::f1, "f1", "F1", 122},  {K::f2, "f2", "F2", 120},  {K::f3, "f3", "F3", 99},   {K::f4, "f4", "F4", 118},
    {K::f5, "f5", "F5", 96},   {K::f6, "f6", "F6", 97},   {K::f7, "f7", "F7", 98},   {K::f8, "f8", "F8", 100},
    {K::f9, "f9", "F9", 101},  {K::f10, "f10", "F10", 109}, {K::f11, "f11", "F11", 103}, {K::f12, "f12", "F12", 111},
}};

const KeyChoiceInfo& info(ManualKeyChoice choice) { return kKeyChoices[static_cast<std::size_t>(choice)]; }

constexpr std::array<EnumCase<ManualKeyChoice>, 52> makeCases() {
    std::array<EnumCase<ManualKeyChoice>, 52> out{};
    for (std::size_t i = 0; i < kKeyChoices.size(); ++i) out[i] = {kKeyChoices[i].choice, kKeyChoices[i].raw};
    return out;
}

}  // namespace

const std::array<EnumCase<ManualKeyChoice>, 52> EnumCases<ManualKeyChoice>::cases = makeCases();

std::string_view label(ManualKeyChoice choice) { return info(choice).label; }
std::uint16_t keyCode(ManualKeyChoice choice) { return info(choice).keyCode; }

const std::array<Hotkey, 3>& ManualGestureEntryModel::holdKeyChoices() {
    static constexpr std::array<Hotkey, 3> keys{Hotkey::rightControl, Hotkey::rightOption, Hotkey::rightCommand};
    return keys;
}

ManualGestureEntryModel::ManualGestureEntryModel(platform::ui::Property<Gesture> g, std::vector<Gesture> others)
    : gesture(std::move(g)), otherGestures(std::move(others)) {}

void ManualGestureEntryModel::loadFromGesture() {
    const Gesture current = gesture.get();
    if (auto combo = current.keyCombo()) {
        mode = Mode::combo;
        commandOn = (combo->modifiers & ModifierFlags::command) != 0;
        optionOn = (combo->modifiers & ModifierFlags::option) != 0;
        controlOn = (combo->modifiers & ModifierFlags::control) != 0;
        shiftOn = (combo->modifiers & ModifierFlags::shift) != 0;
        for (const auto& k : kKeyChoices) {
            if (k.keyCode != combo->keyCode) continue;
            selectedKey = k.choice;
            break;
        }
        return;
    }
    mode = Mode::hold;
    const Hotkey held = *current.hotkey();
    const auto& choices = holdKeyChoices();
    if (std::find(choices.begin(), choices.end(), held) != choices.end()) selectedHoldKey = held;
}

bool ManualGestureEntryModel::canSave() const { return mode == Mode::hold || commandOn || optionOn || controlOn; }

std::string ManualGestureEntryModel::saveHint() const { return canSave() ? kSaveHint : kMissingPiecesHint; }

Gesture ManualGestureEntryModel::candidate() const {
    if (mode == Mode::hold) return Gesture::hold(selectedHoldKey);
    std::uint64_t modifiers = 0;
    if (commandOn) modifiers |= ModifierFlags::command;
    if (optionOn) modifiers |= ModifierFlags::option;
    if (controlOn) modifiers |= ModifierFlags::control;
    if (shiftOn) modifiers |= ModifierFlags::shift;
    return Gesture::combo(keyCode(selectedKey), modifiers);
}

void ManualGestureEntryModel::save() {
    const Gesture built = candidate();
    if (auto message = built.validationMessage(otherGestures)) {
        error = std::move(message);
        return;
    }
    gesture.set(built);
    error.reset();
}

}  // namespace parlowen
