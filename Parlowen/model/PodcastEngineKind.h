#pragma once

#include "Parlowen/model/RawEnum.h"

namespace parlowen {

// Which renderer makes podcast audio: the on-device voices or the multi-speaker cloud voices.
enum class PodcastEngineKind { kokoro, gemini };

template <>
struct EnumCases<PodcastEngineKind> {
    static constexpr std::string_view typeName = "PodcastEngineKind";
    static constexpr std::array cases{EnumCase{PodcastEngineKind::kokoro, "kokoro"},
                                      EnumCase{PodcastEngineKind::gemini, "gemini"}};
};

}  // namespace parlowen
