#include "Parlowen/listenlater/queue/WordGroupSplitter.h"

#include <algorithm>

#include "platform/text/Unicode.h"

namespace parlowen {

namespace {
constexpr std::int64_t kMinimumGroupWords = 8;
constexpr std::int64_t kPhonemesPerWord = 5;
}  // namespace

std::vector<std::string> splitIntoWordGroups(std::string_view text, std::int64_t budget) {
    const auto words = platform::text::whiteSpaceSeparatedWords(text);

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
