#pragma once

#include "Parlowen/model/RawEnum.h"

namespace parlowen {

// The colour themes of the application's own windows (setting `selectedTheme`).
// The palettes belong to the view layer.
enum class Theme { hearth, summit, alpineDawn, dusk, chestnut };

template <>
struct EnumCases<Theme> {
    static constexpr std::string_view typeName = "Theme";
    static constexpr std::array cases{
        EnumCase{Theme::hearth, "hearth"}, EnumCase{Theme::summit, "summit"},
        EnumCase{Theme::alpineDawn, "alpineDawn"}, EnumCase{Theme::dusk, "dusk"},
        EnumCase{Theme::chestnut, "chestnut"},
    };
};

}  // namespace parlowen
