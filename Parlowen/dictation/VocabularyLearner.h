#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "platform/log/Log.h"

namespace parlowen {

class PreferencesStore;

// Counts the uncommon words the user dictates, so the preferences can offer
// the frequent ones as recognition hints. Keeps no state of its own: every
// operation reads the settings and writes them back, so several learners may
// share one store. Main thread only.
class VocabularyLearner {
public:
    struct Suggestion {
        std::string word;
        std::int64_t count = 0;
        friend bool operator==(const Suggestion&, const Suggestion&) = default;
    };

    static constexpr std::size_t minimumWordLength = 3;  // characters
    static constexpr std::size_t cap = 1000;             // the table is trimmed past this many entries
    static constexpr std::size_t keptAfterTrim = 800;

    explicit VocabularyLearner(PreferencesStore& preferences);

    // Counts the words of a finished text (while learning is switched on).
    void learn(std::string_view text);
    // The learned words, most frequent first, at most `limit` of them.
    std::vector<Suggestion> suggestions(std::ptrdiff_t limit) const;
    // Makes a learned word a recognition hint and forgets it as a suggestion.
    void promote(std::string_view word);
    // Forgets a learned word.
    void dismiss(std::string_view word);
    // Forgets every learned word.
    void reset();

    // Lower-case words that are never counted.
    static const std::unordered_set<std::string>& stopWords();
    // The words of a text that may be counted (before stop words and hints
    // are left out): runs of letters, ASCII digits and "'" of at least
    // `minimumWordLength` characters, in order, canonically composed.
    static std::vector<std::string> words(std::string_view text);

    PreferencesStore& preferences;

private:
    platform::Logger logger_;
};

}  // namespace parlowen
