#include "Parlowen/dictation/QuickAddHint.h"

#include <algorithm>

#include "Parlowen/shell/settings/PreferencesStore.h"
#include "platform/text/Unicode.h"

namespace parlowen {
namespace {

namespace text = platform::text;

bool isWordScalar(char32_t c) { return c == U'\'' || c == U'-' || platform::text::isAlphanumeric(c); }

// The pieces of `input` between separators, empty ones dropped.
std::vector<std::string_view> pieces(std::string_view input) {
    std::vector<std::string_view> out;
    std::size_t start = 0;
    for (std::size_t offset = 0; offset < input.size();) {
        const auto decoded = text::decodeUtf8(input, offset);
        if (!decoded.valid || !isWordScalar(decoded.codePoint)) {
            if (offset > start) out.push_back(input.substr(start, offset - start));
            start = offset + decoded.length;
        }
        offset += decoded.length;
    }
    if (input.size() > start) out.push_back(input.substr(start));
    return out;
}

std::string_view trimApostrophesAndHyphens(std::string_view piece) {
    const auto first = piece.find_first_not_of("'-");
    if (first == std::string_view::npos) return {};
    return piece.substr(first, piece.find_last_not_of("'-") - first + 1);
}

}  // namespace

std::vector<std::string> QuickAddHint::extractCandidates(std::string_view input, std::ptrdiff_t limit) {
    std::unordered_set<std::string> seen;
    std::vector<std::string> capitalised;
    std::vector<std::string> long_;
    for (const auto piece : pieces(input)) {
        const auto word = trimApostrophesAndHyphens(piece);
        const auto length = text::graphemeCount(word);
        if (length < 2) continue;
        auto lower = text::nfc(text::lowercased(word));
        if (QuickAddHintModel::stopWords().contains(lower) || !seen.insert(std::move(lower)).second) continue;
        if (platform::text::isUppercase(text::decodeUtf8(word, 0).codePoint))
            capitalised.emplace_back(word);
        else if (length >= 5)
            long_.emplace_back(word);
    }
    capitalised.insert(capitalised.end(), std::make_move_iterator(long_.begin()), std::make_move_iterator(long_.end()));
    capitalised.resize(std::min(capitalised.size(), static_cast<std::size_t>(std::max<std::ptrdiff_t>(limit, 0))));
    return capitalised;
}

const std::unordered_set<std::string>& QuickAddHintModel::stopWords() {
    static const std::unordered_set<std::string> words{
        "a",  "an",   "and",  "are",  "as",   "at",   "be",   "but",  "by",    "do",   "for",
        "from", "had", "has", "have", "he",   "her",  "his",  "i",    "if",    "in",   "is",
        "it", "its",  "me",   "my",   "no",   "not",  "of",   "on",   "or",    "so",   "that",
        "the", "this", "to",  "up",   "us",   "was",  "we",   "were", "what",  "when", "where",
        "who", "will", "with", "would", "you", "your", "yes", "im",   "am",    "ok",
    };
    return words;
}

QuickAddHintModel::QuickAddHintModel(PreferencesStore& preferences,
                                     std::function<std::vector<std::string>()> recentWordsProvider,
                                     platform::Executor& mainExecutor)
    : preferences(preferences), recentWordsProvider(std::move(recentWordsProvider)), main_(mainExecutor) {}

QuickAddHintModel::~QuickAddHintModel() = default;

bool QuickAddHintModel::add(std::string_view input) {
    const auto word = text::trim(input);
    if (word.empty()) return false;
    auto hints = preferences.dictationContextualPhrases();
    if (std::find(hints.begin(), hints.end(), word) != hints.end()) {
        lastAddedConfirmation.set("“" + word + "” is already in your hints.");
        scheduleDismiss(dismissDelayAfterDuplicate);
        return false;
    }
    hints.push_back(word);
    preferences.dictationContextualPhrases.set(std::move(hints));
    lastAddedConfirmation.set("Added “" + word + "” to Recognition Hints.");
    scheduleDismiss(dismissDelayAfterAdding);
    return true;
}

bool QuickAddHintModel::canAdd(std::string_view entry) { return !text::trim(entry).empty(); }

void QuickAddHintModel::willShow() {
    recentWords.set(recentWordsProvider ? recentWordsProvider() : std::vector<std::string>{});
    focusToken.set(focusToken() + 1);
}

void QuickAddHintModel::pickRecentWord(const std::string& word) {
    entry.set(word);
    focusToken.set(focusToken() + 1);
}

void QuickAddHintModel::panelWillClose() {
    entry.set("");
    lastAddedConfirmation.set(std::nullopt);
    ++showing_;
}

void QuickAddHintModel::scheduleDismiss(platform::Duration delay) {
    // Not cancelled by a later add: each confirmation closes the panel on its
    // own schedule, as long as the panel has not been closed in between.
    main_.postAfter(delay, lifetime_.guard([this, showing = showing_] {
        if (showing == showing_ && onDismiss) onDismiss();
    }));
}

}  // namespace parlowen
