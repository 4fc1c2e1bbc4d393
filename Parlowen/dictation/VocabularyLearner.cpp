#include "Parlowen/dictation/VocabularyLearner.h"

#include <algorithm>
#include <map>
#include <unordered_set>

#include "Parlowen/shell/settings/PreferencesStore.h"
#include "platform/text/Unicode.h"

namespace parlowen {
namespace {

namespace text = platform::text;

using Table = std::map<std::string, std::int64_t>;

bool isWordScalar(char32_t c) {
    return c == U'\'' || (c >= U'0' && c <= U'9') || platform::text::isAlphabetic(c);
}

// Highest count first; equal counts by code points after canonical composition.
std::vector<VocabularyLearner::Suggestion> inSuggestionOrder(const Table& table) {
    struct Keyed {
        std::string key;
        VocabularyLearner::Suggestion suggestion;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(table.size());
    for (const auto& [word, count] : table) keyed.push_back({text::nfc(word), {word, count}});
    std::sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
        if (a.suggestion.count != b.suggestion.count) return a.suggestion.count > b.suggestion.count;
        if (a.key != b.key) return a.key < b.key;  // UTF-8 byte order is code-point order
        return a.suggestion.word < b.suggestion.word;
    });
    std::vector<VocabularyLearner::Suggestion> out;
    out.reserve(keyed.size());
    for (auto& k : keyed) out.push_back(std::move(k.suggestion));
    return out;
}

}  // namespace

VocabularyLearner::VocabularyLearner(PreferencesStore& preferences)
    : preferences(preferences), logger_("com.kelvatrum.Parlowen", "vocab-learner") {}

const std::unordered_set<std::string>& VocabularyLearner::stopWords() {
    static const std::unordered_set<std::string> words{
        "the",   "and",    "for",    "are",   "but",   "not",    "you",   "all",    "can",   "had",
        "her",   "was",    "one",    "our",   "out",   "day",    "get",   "has",    "him",   "his",
        "how",   "man",    "new",    "now",   "old",   "see",    "two",   "way",    "who",   "boy",
        "did",   "its",    "let",    "put",   "say",   "she",    "too",   "use",    "your",  "yours",
        "this",  "that",   "with",   "from",  "they",  "have",   "been",  "were",   "will",  "what",
        "when",  "where",  "which",  "would", "could", "should", "their", "them",   "then",  "than",
        "into",  "just",   "like",   "make",  "much",  "some",   "very",  "want",   "well",  "also",
        "back",  "down",   "even",   "good",  "here",  "knew",   "know",  "long",   "look",  "made",
        "many",  "more",   "most",   "must",  "need",  "next",   "only",  "over",   "said",  "same",
        "show",  "such",   "take",   "tell",  "thing", "think",  "told",  "took",   "turn",  "upon",
        "wait",  "went",   "while",  "year",  "yeah",  "okay",   "right", "really", "going", "thanks",
        "thank", "please",
    };
    return words;
}

std::vector<std::string> VocabularyLearner::words(std::string_view dictated) {
    // Composed first: a decomposed accent is not a letter and would split its word.
    const std::string input = text::nfc(dictated);
    std::vector<std::string> out;
    std::string current;
    auto finish = [&] {
        if (text::graphemeCount(current) >= minimumWordLength) out.push_back(current);
        current.clear();
    };
    for (std::size_t offset = 0; offset < input.size();) {
        const auto decoded = text::decodeUtf8(input, offset);
        if (decoded.valid && isWordScalar(decoded.codePoint))
            current.append(input.substr(offset, decoded.length));
        else
            finish();
        offset += decoded.length;
    }
    finish();
    return out;
}

void VocabularyLearner::learn(std::string_view input) {
    if (!preferences.learnFromDictation() || input.empty()) return;

    auto folded = [](std::string_view s) { return text::nfc(text::lowercased(s)); };
    std::unordered_set<std::string> knownHints;
    for (const auto& phrase : preferences.dictationContextualPhrases()) knownHints.insert(folded(phrase));

    const auto dictated = words(input);
    if (dictated.empty()) return;

    Table table = preferences.learnedVocabulary();
    for (const auto& word : dictated) {
        const auto lower = folded(word);
        if (stopWords().contains(lower) || knownHints.contains(lower)) continue;
        ++table[word];
    }
    if (table.size() > cap) {
        auto kept = inSuggestionOrder(table);
        kept.resize(keptAfterTrim);
        table.clear();
        for (auto& s : kept) table.emplace(std::move(s.word), s.count);
        logger_.info("learned vocabulary evicted to {} entries (cap {})", table.size(), cap);
    }
    preferences.learnedVocabulary.set(std::move(table));
}

std::vector<VocabularyLearner::Suggestion> VocabularyLearner::suggestions(std::ptrdiff_t limit) const {
    auto all = inSuggestionOrder(preferences.learnedVocabulary());
    all.resize(std::min(all.size(), static_cast<std::size_t>(std::max<std::ptrdiff_t>(limit, 0))));
    return all;
}

void VocabularyLearner::promote(std::string_view word) {
    const auto trimmed = text::trim(word);
    if (trimmed.empty()) return;
    auto hints = preferences.dictationContextualPhrases();
    if (std::find(hints.begin(), hints.end(), trimmed) == hints.end()) {
        hints.push_back(trimmed);
        preferences.dictationContextualPhrases.set(std::move(hints));
    }
    dismiss(word);
}

void VocabularyLearner::dismiss(std::string_view word) {
    auto table = preferences.learnedVocabulary();
    table.erase(std::string(word));
    preferences.learnedVocabulary.set(std::move(table));
}

void VocabularyLearner::reset() {
    preferences.learnedVocabulary.set({});
    logger_.info("learned vocabulary reset");
}

}  // namespace parlowen
