#include "Parlowen/listenlater/render/GeminiVoiceCatalog.h"

namespace parlowen {

std::optional<GeminiVoiceCatalog::Voice> GeminiVoiceCatalog::voice(std::string_view id) {
    for (const Voice& v : voices)
        if (v.id == id) return v;
    return std::nullopt;
}

std::string GeminiVoiceCatalog::label(std::string_view forVoiceID) {
    auto found = voice(forVoiceID);
    if (!found) return std::string(forVoiceID);
    return std::string(found->displayName) + " \u2014 " + std::string(found->descriptor);
}

}  // namespace parlowen
