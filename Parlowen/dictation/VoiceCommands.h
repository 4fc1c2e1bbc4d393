#pragma once

#include <set>
#include <string>
#include <string_view>

#include "Parlowen/model/VoiceCommand.h"

namespace parlowen {

// Applies the spoken editing commands in `enabled` to a transcript: "scratch
// that" drops everything since the last sentence end, "delete that" the last
// word. Phrases match whole words, in any letter case, one space apart. With
// no command enabled the text comes back untouched; otherwise the result is
// trimmed. Pure.
std::string applyVoiceCommands(std::string_view text, const std::set<VoiceCommand>& enabled);

}  // namespace parlowen
