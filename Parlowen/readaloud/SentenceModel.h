#pragma once

// The sentence list every read-aloud engine speaks from, and where each skip
// leads. Engines keep the list and the current index; these functions only decide.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace parlowen {

struct SpeechSentence {
    std::string text;                // trimmed, never empty
    std::int64_t paragraphIndex = 0;  // its piece's position in the text split at "\n\n"

    friend bool operator==(const SpeechSentence&, const SpeechSentence&) = default;
};

// Paragraphs are the pieces between two line feeds ("\n\n"); empty pieces keep
// their place, so indexes can have gaps. Each trimmed, non-empty paragraph is
// cut into sentences by the locale's sentence rules; blank sentences are left out.
std::vector<SpeechSentence> makeSentences(std::string_view text, std::string_view locale = "");

// Seconds a sentence takes at `rate`: its user-perceived characters divided
// by the larger of rate x 26 and 1.
double estimatedSeconds(const SpeechSentence& sentence, float rate);

// Where a skip leads: nowhere, to a sentence to restart from its beginning
// (possibly the current one), or past the end (stop, then finished).
struct SentenceSkip {
    enum class Kind { none, restart, finish };
    Kind kind = Kind::none;
    std::int64_t index = 0;  // restart only

    static SentenceSkip none() { return {}; }
    static SentenceSkip restart(std::int64_t index) { return {Kind::restart, index}; }
    static SentenceSkip finish() { return {Kind::finish, 0}; }

    friend bool operator==(const SentenceSkip&, const SentenceSkip&) = default;
};

using Sentences = std::span<const SpeechSentence>;

// The next sentence; past the last one, finish.
SentenceSkip skipForwardSentence(Sentences sentences, std::int64_t current);
// The previous sentence; at sentence 0 nothing.
SentenceSkip skipBackSentence(Sentences sentences, std::int64_t current);
// The first sentence of a later paragraph; none left, finish. Empty list: nothing.
SentenceSkip skipForwardParagraph(Sentences sentences, std::int64_t current);
// The start of the current paragraph; when already there, the first sentence of
// the paragraph numbered one less (if it exists). Always restarts. Empty: nothing.
SentenceSkip skipBackParagraph(Sentences sentences, std::int64_t current);
// Moves sentence by sentence, adding each reached sentence's estimate, until
// `seconds` are covered or the last (first) sentence is reached. Empty: nothing.
SentenceSkip skipForward(Sentences sentences, std::int64_t current, double seconds, float rate);
SentenceSkip skipBack(Sentences sentences, std::int64_t current, double seconds, float rate);

}  // namespace parlowen
