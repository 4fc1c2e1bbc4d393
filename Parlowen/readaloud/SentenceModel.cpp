#include "Parlowen/readaloud/SentenceModel.h"

#include <algorithm>

#include "platform/text/Unicode.h"

namespace parlowen {

namespace text = platform::text;

std::vector<SpeechSentence> makeSentences(std::string_view input, std::string_view locale) {
    std::vector<SpeechSentence> out;
    std::int64_t paragraph = 0;
    std::size_t start = 0;
    while (true) {
        auto split = input.find("\n\n", start);
        auto piece = input.substr(start, split == std::string_view::npos ? std::string_view::npos : split - start);
        std::string trimmed = text::trim(piece);
        if (!trimmed.empty()) {
            for (const auto& range : text::sentences(trimmed, locale)) {
                std::string sentence = text::trim(range.of(trimmed));
                if (!sentence.empty()) out.push_back({std::move(sentence), paragraph});
            }
        }
        if (split == std::string_view::npos) break;
        start = split + 2;
        ++paragraph;
    }
    return out;
}

double estimatedSeconds(const SpeechSentence& sentence, float rate) {
    double perSecond = std::max(static_cast<double>(rate) * 26.0, 1.0);
    return static_cast<double>(text::graphemeCount(sentence.text)) / perSecond;
}

namespace {
std::int64_t clampIndex(Sentences s, std::int64_t i) {
    return std::clamp<std::int64_t>(i, 0, static_cast<std::int64_t>(s.size()) - 1);
}
}  // namespace

SentenceSkip skipForwardSentence(Sentences s, std::int64_t current) {
    if (current + 1 < static_cast<std::int64_t>(s.size())) return SentenceSkip::restart(current + 1);
    return SentenceSkip::finish();
}

SentenceSkip skipBackSentence(Sentences s, std::int64_t current) {
    if (current > 0 && !s.empty()) return SentenceSkip::restart(clampIndex(s, current - 1));
    return SentenceSkip::none();
}

SentenceSkip skipForwardParagraph(Sentences s, std::int64_t current) {
    if (s.empty()) return SentenceSkip::none();
    std::int64_t paragraph = s[clampIndex(s, current)].paragraphIndex;
    for (std::size_t i = 0; i < s.size(); ++i)
        if (s[i].paragraphIndex > paragraph) return SentenceSkip::restart(static_cast<std::int64_t>(i));
    return SentenceSkip::finish();
}

SentenceSkip skipBackParagraph(Sentences s, std::int64_t current) {
    if (s.empty()) return SentenceSkip::none();
    current = clampIndex(s, current);
    std::int64_t paragraph = s[current].paragraphIndex;
    std::int64_t first = current;
    for (std::size_t i = 0; i < s.size(); ++i)
        if (s[i].paragraphIndex == paragraph) {
            first = static_cast<std::int64_t>(i);
            break;
        }
    if (first < current) return SentenceSkip::restart(first);
    if (paragraph > 0)
        for (std::size_t i = 0; i < s.size(); ++i)
            if (s[i].paragraphIndex == paragraph - 1) return SentenceSkip::restart(static_cast<std::int64_t>(i));
    return SentenceSkip::restart(current);
}

SentenceSkip skipForward(Sentences s, std::int64_t current, double seconds, float rate) {
    if (s.empty()) return SentenceSkip::none();
    std::int64_t index = clampIndex(s, current);
    const std::int64_t last = static_cast<std::int64_t>(s.size()) - 1;
    double sum = 0;
    while (sum < seconds && index < last) {
        ++index;
        sum += estimatedSeconds(s[index], rate);
    }
    return SentenceSkip::restart(index);
}

SentenceSkip skipBack(Sentences s, std::int64_t current, double seconds, float rate) {
    if (s.empty()) return SentenceSkip::none();
    std::int64_t index = clampIndex(s, current);
    double sum = 0;
    while (sum < seconds && index > 0) {
        --index;
        sum += estimatedSeconds(s[index], rate);
    }
    return SentenceSkip::restart(index);
}

}  // namespace parlowen
