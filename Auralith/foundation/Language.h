#pragma once

// The language hint of speech recognition, its script, the token filter that
// keeps transducer decoding in the hinted script, and edit distances.

#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace auralith {

enum class Script { latin, cyrillic };

enum class Language {
    english, spanish, french, german, italian, portuguese, romanian, polish, czech, slovak, slovenian,
    croatian, bosnian, russian, ukrainian, belarusian, bulgarian, serbian,
};

// Every language in declaration order.
std::span<const Language> allLanguages();
std::string_view rawValue(Language language);  // "en", "es", ...
// Exact and case-sensitive: "en" gives english, "EN" and "en-US" nothing.
std::optional<Language> languageFromRawValue(std::string_view raw);
Script script(Language language);

struct TokenLanguageFilter {
    struct Selection {
        int tokenId = 0;
        float probability = 0;
        friend bool operator==(const Selection&, const Selection&) = default;
    };
    // Of the first min(ids, logits) candidates, the one with the largest logit
    // whose text (without "▁") is empty or entirely in the script, earliest on
    // ties, with its softmax share among all those candidates; nothing when
    // none qualifies.
    static std::optional<Selection> selectToken(std::span<const int> candidateIds, std::span<const float> logits,
                                                const std::unordered_map<int, std::string>& vocabulary,
                                                Script script);
};

struct StringUtils {
    // Edit distance between user-perceived characters; canonically equivalent
    // characters are equal (a precomposed letter and its decomposed form).
    static std::size_t levenshteinDistance(std::string_view a, std::string_view b);

    // Edit distance between two lists.
    template <class T>
    static std::size_t levenshteinDistance(std::span<const T> a, std::span<const T> b) {
        if (a.empty()) return b.size();
        if (b.empty()) return a.size();
        const std::size_t cols = b.size() + 1;
        std::vector<std::size_t> table((a.size() + 1) * cols);
        for (std::size_t j = 0; j < cols; ++j) table[j] = j;
        for (std::size_t i = 1; i <= a.size(); ++i) {
            table[i * cols] = i;
            for (std::size_t j = 1; j < cols; ++j) {
                const std::size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
                table[i * cols + j] = std::min({table[(i - 1) * cols + j] + 1, table[i * cols + j - 1] + 1,
                                                table[(i - 1) * cols + j - 1] + cost});
            }
        }
        return table.back();
    }
    template <class T>
    static std::size_t levenshteinDistance(const std::vector<T>& a, const std::vector<T>& b) {
        return levenshteinDistance(std::span<const T>(a), std::span<const T>(b));
    }
};

}  // namespace auralith
