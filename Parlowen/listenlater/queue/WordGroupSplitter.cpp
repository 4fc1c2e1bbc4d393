#include "Parlowen/listenlater/queue/WordGroupSplitter.h"

#include <algorithm>

#include "platform/text/Unicode.h"

namespace parlowen {

namespace {
constexpr std::int64_t kMinimumGroupWords = 8;
constexpr std::int64_t kPhonemesPerWord = 5;
}  // namespace

std::vector<std::string> splitIntoWordGroups(std::string_view text, std::int64_t budget) {
    // A character is white space when its first code point has the White_Space
    // property, so a combining mark on a space is white space with it.
    std::vector<std::string_view> words;
    const auto bounds = platform::text::graphemeBoundaries(text);
    std::size_t wordStart = 0;
    for (std::size_t i = 0; i + 1 < bounds.size(); ++i) {
        const auto first = platform::text::decodeUtf8(text, bounds[i]);
        if (!platform::text::hasWhiteSpaceProperty(first.codePoint)) continue;
        if (bounds[i] > wordStart) words.push_back(text.substr(wordStart, bounds[i] - wordStart));
        wordStart = bounds[i + 1];
    }
    if (text.size() > wordStart) words.push_back(text.substr(wordStart));

    if (words.empty()) return {};
    const auto groupSize = static_cast<std::size_t>(std::max(kMinimumGroupWords, budget / kPhonemesPerWord));
    if (words.size() <= groupSize) return {std::string(text)};

    std::vector<std::string> groups;
    for (std::size_t i = 0; i < words.size(); i += groupSize) {
        std::string group;
        for (std::size_t j = i; j < std::min(words.size(), i + groupSize); ++j) {
            if (j > i) group += ' ';
            group += words[j];
        }
        groups.push_back(std::move(group));
    }
    return groups;
}

}  // namespace parlowen
