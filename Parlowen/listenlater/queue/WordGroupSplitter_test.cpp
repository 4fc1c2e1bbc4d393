#include <gtest/gtest.h>

#include <fmt/format.h>

#include "Parlowen/listenlater/queue/WordGroupSplitter.h"

using namespace parlowen;

namespace {

// "w1 w2 … wN" joined by `separator`.
std::string words(int from, int to, const std::string& separator = " ") {
    std::string out;
    for (int i = from; i <= to; ++i) {
        if (i > from) out += separator;
        out += fmt::format("w{}", i);
    }
    return out;
}

using Groups = std::vector<std::string>;

TEST(WordGroupSplitter, NoWordsGiveNothing) {
    for (std::int64_t budget : {-5, 0, 80})
        for (const char* text : {"", " \t\n\r\n  ", "\u00A0\u3000\u2028"})
            EXPECT_EQ(splitIntoWordGroups(text, budget), Groups{}) << text << " " << budget;
}

TEST(WordGroupSplitter, ShortTextsComeBackUntouched) {
    const std::string two = "  alpha   beta \n";
    EXPECT_EQ(splitIntoWordGroups(two, 0), Groups{two});
    for (std::int64_t budget : {std::numeric_limits<std::int64_t>::min(), std::int64_t{-1}, std::int64_t{0},
                                std::int64_t{39}})
        EXPECT_EQ(splitIntoWordGroups(words(1, 8, "\n\n"), budget), Groups{words(1, 8, "\n\n")});
    EXPECT_EQ(splitIntoWordGroups(words(1, 9), 45), Groups{words(1, 9)});
    EXPECT_EQ(splitIntoWordGroups(words(1, 48), 240), Groups{words(1, 48)});
}

TEST(WordGroupSplitter, GroupSizeFollowsTheBudget) {
    struct Case {
        int wordCount;
        std::int64_t budget;
        Groups groups;
    };
    const Case cases[] = {
        {9, 39, {words(1, 8), "w9"}},
        {9, 44, {words(1, 8), "w9"}},
        {17, 80, {words(1, 16), "w17"}},
        {40, 80, {words(1, 16), words(17, 32), words(33, 40)}},
        {49, 240, {words(1, 48), "w49"}},
        {20, std::numeric_limits<std::int64_t>::max(), {words(1, 20)}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(splitIntoWordGroups(words(1, c.wordCount), c.budget), c.groups)
            << c.wordCount << " words, budget " << c.budget;
}

TEST(WordGroupSplitter, SplitGroupsJoinWordsWithSingleSpaces) {
    EXPECT_EQ(splitIntoWordGroups("\n\n" + words(1, 9, " \t\n\n  ") + "  \n", 0), (Groups{words(1, 8), "w9"}));
    // Punctuation stays with its word; a lone dash is a word of its own.
    EXPECT_EQ(splitIntoWordGroups("one, two. three - four five six seven eight", 0),
              (Groups{"one, two. three - four five six seven", "eight"}));
    // No-break and ideographic spaces separate words, a zero-width space does not.
    EXPECT_EQ(splitIntoWordGroups("a\u00A0b\u3000c d e f g h i\u200Bj", 0),
              (Groups{"a b c d e f g h", "i\u200Bj"}));
    EXPECT_EQ(splitIntoWordGroups("a\u2029b\u0085c\u2028d\re\ff\vg h i", 0), (Groups{"a b c d e f g h", "i"}));
    // A combining mark on a space belongs to that space and goes with it.
    EXPECT_EQ(splitIntoWordGroups("a \u0301b c d e f g h i", 0), (Groups{"a b c d e f g h", "i"}));
}

}  // namespace
