#include "Parlowen/dictation/HotkeyBadge.h"

namespace parlowen {

namespace {

std::string holdLabel(Hotkey key) {
    switch (key) {
        case Hotkey::leftCommand: return "⌘ Left";
        case Hotkey::leftOption: return "⌥ Left";
        case Hotkey::leftControl: return "⌃ Left";
        case Hotkey::rightCommand: return "⌘ Right";
        case Hotkey::rightOption: return "⌥ Right";
        case Hotkey::rightControl: return "⌃ Right";
    }
    return {};
}

}  // namespace

std::vector<std::string> keycapLabels(const HotkeyBadgeTrigger& trigger) {
    if (auto key = trigger.hotkey()) return {holdLabel(*key)};
    const KeyCombo combo = *trigger.keyCombo();
    std::vector<std::string> labels;
    if (combo.modifiers & ModifierFlags::control) labels.push_back("⌃");
    if (combo.modifiers & ModifierFlags::option) labels.push_back("⌥");
    if (combo.modifiers & ModifierFlags::shift) labels.push_back("⇧");
    if (combo.modifiers & ModifierFlags::command) labels.push_back("⌘");
    labels.push_back(KeyCombo::keyName(combo.keyCode));
    return labels;
}

}  // namespace parlowen
