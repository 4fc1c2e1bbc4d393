#include "Parlowen/dictation/HotkeyBadge.h"

#include <gtest/gtest.h>

namespace parlowen {
namespace {

using Labels = std::vector<std::string>;

TEST(HotkeyBadge, KeycapLabels) {
    struct Case {
        Gesture trigger;
        Labels expected;
    };
    const std::vector<Case> cases{
        {Gesture::hold(Hotkey::rightOption), {"⌥ Right"}},
        {Gesture::hold(Hotkey::leftCommand), {"⌘ Left"}},
        {Gesture::hold(Hotkey::rightControl), {"⌃ Right"}},
        // Control, shift and a letter: ⌃ then ⇧, whatever order the bits were set in.
        {Gesture::combo(0x02, ModifierFlags::shift | ModifierFlags::control), {"⌃", "⇧", "D"}},
        {Gesture::combo(0x31, ModifierFlags::command | ModifierFlags::option), {"⌥", "⌘", "Space"}},
        {Gesture::combo(0x60, 0), {"F5"}},  // no modifiers: the key cap alone
    };
    for (const auto& c : cases) EXPECT_EQ(keycapLabels(c.trigger), c.expected) << c.trigger.displayName();
}

}  // namespace
}  // namespace parlowen
