#include "Parlowen/readaloud/RespellingToIPA.h"

#include <array>
#include <vector>


#include "platform/text/Unicode.h"

namespace parlowen {
namespace {

struct Grapheme {
    std::string_view letters;
    std::string_view ipa;
};

// Matching order: three letters, then two, then one, so the longest pattern wins.
constexpr std::array<Grapheme, 42> kRespellingGraphemes{{
    {"igh", "a\u026A"}, {"tch", "t\u0283"},
    {"th", "\u00F0"},   {"sh", "\u0283"},       {"ch", "t\u0283"},       {"ph", "f"},
    {"wh", "w"},        {"ng", "\u014B"},       {"ck", "k"},             {"qu", "kw"},
    {"zh", "\u0292"},   {"ee", "i"},            {"oo", "u"},             {"ea", "i"},
    {"ai", "e\u026A"},  {"ay", "e\u026A"},      {"oa", "o\u028A"},       {"ow", "o\u028A"},
    {"ou", "a\u028A"},  {"oi", "\u0254\u026A"}, {"oy", "\u0254\u026A"},  {"aw", "\u0254"},
    {"au", "\u0254"},   {"ew", "u"},            {"ie", "a\u026A"},       {"oh", "o\u028A"},
    {"uh", "\u0259"},   {"er", "\u025D"},       {"ir", "\u025D"},        {"ur", "\u025D"},
    {"ar", "\u0251\u0279"}, {"or", "\u0254\u0279"},
    {"a", "\u00E6"},    {"e", "\u025B"},        {"i", "\u026A"},         {"o", "\u0251"},
    {"u", "\u028C"},    {"y", "i"},             {"c", "k"},              {"j", "d\u0292"},
    {"r", "\u0279"},    {"x", "ks"},
}};

constexpr std::string_view kPrimaryStress = "\u02C8";

bool hasUppercase(std::string_view text) {
    for (char32_t c : platform::text::toUtf32(text))
        if (platform::text::isUppercase(c)) return true;
    return false;
}

}  // namespace

std::string syllableToIPA(std::string_view syllable) {
    if (syllable.empty()) return {};
    // Compare whole user-perceived characters, so "e" plus a combining accent
    // never matches the plain "e" pattern.
    auto bounds = platform::text::graphemeBoundaries(syllable);
    std::vector<std::string_view> chars;
    for (std::size_t k = 0; k + 1 < bounds.size(); ++k)
        chars.push_back(syllable.substr(bounds[k], bounds[k + 1] - bounds[k]));

    std::string out;
    std::size_t i = 0;
    while (i < chars.size()) {
        const Grapheme* match = nullptr;
        for (const auto& row : kRespellingGraphemes) {
            if (chars.size() - i < row.letters.size()) continue;
            bool equal = true;
            for (std::size_t j = 0; j < row.letters.size() && equal; ++j)
                equal = chars[i + j].size() == 1 && chars[i + j][0] == row.letters[j];
            if (equal) {
                match = &row;
                break;
            }
        }
        if (match) {
            out += match->ipa;
            i += match->letters.size();
        } else {
            out += chars[i];
            ++i;
        }
    }
    return out;
}

std::string respellingToIPA(std::string_view respelling) {
    std::string trimmed = platform::text::trim(respelling, platform::text::CharacterSet::whitespaces);
    if (trimmed.empty()) return {};

    std::vector<std::string_view> syllables;
    std::string_view rest = trimmed;
    while (true) {
        auto dash = rest.find('-');
        auto piece = rest.substr(0, dash);
        if (!piece.empty()) syllables.push_back(piece);
        if (dash == std::string_view::npos) break;
        rest.remove_prefix(dash + 1);
    }
    if (syllables.empty()) return {};

    std::size_t stressed = syllables.size();
    for (std::size_t k = 0; k < syllables.size(); ++k) {
        if (hasUppercase(syllables[k])) {
            stressed = k;
            break;
        }
    }

    std::string out;
    for (std::size_t k = 0; k < syllables.size(); ++k) {
        if (k == stressed) out += kPrimaryStress;
        out += syllableToIPA(platform::text::lowercased(syllables[k]));
    }
    return out;
}

}  // namespace parlowen
