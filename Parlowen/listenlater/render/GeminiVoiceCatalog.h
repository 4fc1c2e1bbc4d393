#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace parlowen {

// The prebuilt Gemini voices offered for the two podcast hosts, with the
// names and one-word characters the Listen Later window shows. The renderer
// does not consult it: any voice name is sent as given.
struct GeminiVoiceCatalog {
    struct Voice {
        std::string_view id;  // the service's voice name, sent as "voiceName"
        std::string_view displayName;
        std::string_view descriptor;

        friend bool operator==(const Voice&, const Voice&) = default;
    };

    // Host A's default first, host B's second.
    static constexpr std::array<Voice, 8> voices{{
        {"Puck", "Puck", "Upbeat"},
        {"Charon", "Charon", "Informative"},
        {"Kore", "Kore", "Firm"},
        {"Fenrir", "Fenrir", "Excitable"},
        {"Aoede", "Aoede", "Breezy"},
        {"Enceladus", "Enceladus", "Breathy"},
        {"Zephyr", "Zephyr", "Bright"},
        {"Leda", "Leda", "Youthful"},
    }};

    // The first voice whose id equals `id` exactly (case-sensitive).
    static std::optional<Voice> voice(std::string_view id);
    // "<displayName> — <descriptor>" for a listed voice, otherwise the name itself.
    static std::string label(std::string_view forVoiceID);
};

}  // namespace parlowen
