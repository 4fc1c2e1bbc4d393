#pragma once

#include "Parlowen/model/RawEnum.h"

namespace parlowen {

// The language model the user chose for rewrites and podcast scripts. Stored
// as its raw value (plain text); its identity is the raw value.
enum class CleanUpModel { appleIntelligence, sonnet46, opus47 };

template <>
struct EnumCases<CleanUpModel> {
    static constexpr std::string_view typeName = "CleanUpModel";
    static constexpr std::array cases{
        EnumCase{CleanUpModel::appleIntelligence, "apple-intelligence"},
        EnumCase{CleanUpModel::sonnet46, "claude-sonnet-4-6"},
        EnumCase{CleanUpModel::opus47, "claude-opus-4-7"},
    };
};

// "Apple Intelligence", "Claude Sonnet 4.6", "Claude Opus 4.7".
std::string_view displayName(CleanUpModel model);
constexpr bool isOnDevice(CleanUpModel model) { return model == CleanUpModel::appleIntelligence; }

}  // namespace parlowen
