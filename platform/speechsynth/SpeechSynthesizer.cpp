#include "platform/speechsynth/SpeechSynthesizer.h"

#include <algorithm>
#include <cmath>

namespace platform {
namespace {

std::string lower(std::string_view s) {
    std::string out(s);
    for (auto& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::string primary(std::string_view code) { return lower(code.substr(0, code.find_first_of("-_"))); }

}  // namespace

float clampSpeechRate(float rate) {
    if (std::isnan(rate)) return kSpeechDefaultRate;
    return std::clamp(rate, kSpeechMinimumRate, kSpeechMaximumRate);
}

std::optional<SpeechVoice> findVoice(const std::vector<SpeechVoice>& voices, std::string_view identifier) {
    for (auto& v : voices)
        if (v.identifier == identifier) return v;
    return std::nullopt;
}

std::optional<SpeechVoice> voiceForLanguage(const std::vector<SpeechVoice>& all, std::string_view languageCode) {
    std::string wanted = lower(languageCode);
    for (char& c : wanted)
        if (c == '_') c = '-';
    for (auto& v : all)
        if (lower(v.language) == wanted) return v;
    std::string prim = primary(wanted);
    if (prim.empty()) return std::nullopt;
    for (auto& v : all)
        if (lower(v.language) == prim) return v;
    for (auto& v : all) {
        auto slash = v.identifier.rfind('/');
        if (lower(std::string_view(v.identifier).substr(slash == std::string::npos ? 0 : slash + 1)) == prim) return v;
    }
    for (auto& v : all)
        if (primary(v.language) == prim) return v;
    return std::nullopt;
}

std::string languageCodeFromEnvironment(const Environment& environment) {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        auto value = environment.get(name);
        if (!value || value->empty()) continue;
        std::string_view v = *value;
        v = v.substr(0, v.find_first_of(".@"));
        if (v.empty() || v == "C" || v == "POSIX") return "en-US";
        std::string code(v);
        for (char& c : code)
            if (c == '_') c = '-';
        return code;
    }
    return "en-US";
}

}  // namespace platform
