#pragma once

#include "Parlowen/model/RawEnum.h"

namespace parlowen {

// Spoken editing commands of dictation. Applying them belongs to the text tools.
enum class VoiceCommand { scratchThat, deleteThat };

template <>
struct EnumCases<VoiceCommand> {
    static constexpr std::string_view typeName = "VoiceCommand";
    static constexpr std::array cases{EnumCase{VoiceCommand::scratchThat, "scratchThat"},
                                      EnumCase{VoiceCommand::deleteThat, "deleteThat"}};
};

// "scratch that", "delete that".
std::string_view spokenPhrase(VoiceCommand command);
// The preferences' title (with typographic quotation marks) and description.
std::string_view title(VoiceCommand command);
std::string_view description(VoiceCommand command);

}  // namespace parlowen
