#include "Auralith/foundation/Language.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "Auralith/asr/ScriptDetection.h"
#include "platform/text/Unicode.h"

namespace auralith {

namespace {
constexpr std::array<Language, 18> kLanguages = {
    Language::english,  Language::spanish,   Language::french,    Language::german,     Language::italian,
    Language::portuguese, Language::romanian, Language::polish,   Language::czech,      Language::slovak,
    Language::slovenian, Language::croatian, Language::bosnian,   Language::russian,    Language::ukrainian,
    Language::belarusian, Language::bulgarian, Language::serbian};
constexpr std::array<std::string_view, 18> kCodes = {"en", "es", "fr", "de", "it", "pt", "ro", "pl", "cs",
                                                     "sk", "sl", "hr", "bs", "ru", "uk", "be", "bg", "sr"};
}  // namespace

std::span<const Language> allLanguages() { return kLanguages; }

std::string_view rawValue(Language language) { return kCodes[static_cast<std::size_t>(language)]; }

std::optional<Language> languageFromRawValue(std::string_view raw) {
    for (std::size_t i = 0; i < kCodes.size(); ++i)
        if (kCodes[i] == raw) return kLanguages[i];
    return std::nullopt;
}

Script script(Language language) {
    return static_cast<int>(language) >= static_cast<int>(Language::russian) ? Script::cyrillic : Script::latin;
}

std::optional<TokenLanguageFilter::Selection> TokenLanguageFilter::selectToken(
    std::span<const int> candidateIds, std::span<const float> logits,
    const std::unordered_map<int, std::string>& vocabulary, Script script) {
    const std::size_t n = std::min(candidateIds.size(), logits.size());
    static constexpr std::string_view kBoundary = "\u2581";
    std::optional<std::size_t> chosen;
    for (std::size_t i = 0; i < n; ++i) {
        auto it = vocabulary.find(candidateIds[i]);
        if (it == vocabulary.end()) continue;
        std::string text;
        for (std::size_t p = 0; p < it->second.size();) {
            if (it->second.compare(p, kBoundary.size(), kBoundary) == 0) {
                p += kBoundary.size();
            } else {
                text += it->second[p++];
            }
        }
        const bool eligible = text.empty() || (script == Script::latin ? !containsNonLatinLetters(text)
                                                                       : !containsNonCyrillicLetters(text));
        if (eligible && (!chosen || logits[i] > logits[*chosen])) chosen = i;
    }
    if (!chosen) return std::nullopt;
    const int id = candidateIds[*chosen];
    float m = logits[0];
    for (std::size_t i = 1; i < n; ++i) m = std::max(m, logits[i]);
    if (std::isinf(m) || std::isnan(m)) return Selection{id, 0.0f};
    float s = 0;
    for (std::size_t i = 0; i < n; ++i) s += std::exp(logits[i] - m);
    float p = 0;
    if (s > 0) p = std::clamp(std::exp(logits[*chosen] - m) / s, 0.0f, 1.0f);
    if (std::isnan(p)) p = 0;
    return Selection{id, p};
}

std::size_t StringUtils::levenshteinDistance(std::string_view a, std::string_view b) {
    auto clusters = [](std::string_view text) {
        std::vector<std::string> out;
        const auto bounds = platform::text::graphemeBoundaries(text);
        for (std::size_t i = 0; i + 1 < bounds.size(); ++i)
            out.push_back(platform::text::nfc(text.substr(bounds[i], bounds[i + 1] - bounds[i])));
        return out;
    };
    return levenshteinDistance(clusters(a), clusters(b));
}

}  // namespace auralith
