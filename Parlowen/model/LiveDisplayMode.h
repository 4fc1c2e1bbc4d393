#pragma once

#include "Parlowen/model/RawEnum.h"

namespace parlowen {

// Whether dictation shows the live-transcript panel.
enum class LiveDisplayMode { off, hud };

template <>
struct EnumCases<LiveDisplayMode> {
    static constexpr std::string_view typeName = "LiveDisplayMode";
    static constexpr std::array cases{EnumCase{LiveDisplayMode::off, "off"}, EnumCase{LiveDisplayMode::hud, "hud"}};
};

}  // namespace parlowen
