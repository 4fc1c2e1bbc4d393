#pragma once

// The 28 voices of the on-device neural voice that the application offers,
// in picker order; the first, "af_heart", is the default.

#include <array>
#include <optional>
#include <string_view>

namespace parlowen {

struct KokoroVoiceCatalog {
    enum class Gender { female, male };
    enum class Accent { american, british };

    struct Voice {
        std::string_view id;
        std::string_view displayName;
        Gender gender = Gender::female;
        Accent accent = Accent::american;

        friend bool operator==(const Voice&, const Voice&) = default;
    };

    static const std::array<Voice, 28>& voices();
    // The voice whose id equals `id` exactly.
    static std::optional<Voice> voice(std::string_view id);
};

}  // namespace parlowen
