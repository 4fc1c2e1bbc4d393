#include "Parlowen/dictation/HotkeyBadge.h"

#include <string_view>

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
    // The key's cap: the display string without its leading modifier symbols.
    const std::string display = combo.displayString();
    std::string_view rest = display;
    bool stripped = true;
    while (stripped) {
        stripped = false;
        for (std::string_view symbol : {"⌃", "⌥", "⇧", "⌘"}) {
            if (rest.starts_with(symbol)) {
                rest.remove_prefix(symbol.size());
                stripped = true;
            }
        }
    }
    if (!rest.empty()) labels.emplace_back(rest);
    return labels;
}

}  // namespace parlowen
