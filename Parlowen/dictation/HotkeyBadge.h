#pragma once

// The keycap labels of a gesture, as the gesture badge draws them: one cap
// for a held key ("⌥ Right"), or one per modifier (⌃ ⌥ ⇧ ⌘) then the key.

#include <string>
#include <vector>

#include "Parlowen/model/Gesture.h"

namespace parlowen {

// What a badge draws: a hold of one key or a combination.
using HotkeyBadgeTrigger = Gesture;

std::vector<std::string> keycapLabels(const HotkeyBadgeTrigger& trigger);

}  // namespace parlowen
