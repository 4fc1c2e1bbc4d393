#include "Auralith/foundation/Language.h"

#include <gtest/gtest.h>

#include <cmath>

namespace auralith {
namespace {

TEST(LanguageTest, RawValuesAndScripts) {
    EXPECT_EQ(allLanguages().size(), 18u);
    EXPECT_EQ(languageFromRawValue("en"), Language::english);
    EXPECT_FALSE(languageFromRawValue("EN"));
    EXPECT_FALSE(languageFromRawValue("en-US"));
    EXPECT_EQ(languageFromRawValue("sr"), Language::serbian);
    EXPECT_EQ(script(Language::serbian), Script::cyrillic);
    EXPECT_EQ(script(Language::bosnian), Script::latin);
    int cyrillic = 0;
    for (Language l : allLanguages()) {
        EXPECT_EQ(languageFromRawValue(rawValue(l)), l);
        cyrillic += script(l) == Script::cyrillic;
    }
    EXPECT_EQ(cyrillic, 5);
}

TEST(LanguageTest, TokenFilterTable) {
    const std::unordered_map<int, std::string> vocab{
        {1, "\u2581"},          {2, "\u2581при"},    {3, "\u2581hi"},      {4, "\u258112,"},
        {5, "straße"},          {6, "łza"},          {7, "și"},            {8, "\u2581мир"},
        {9, "αβ"},              {10, "привет"},
    };
    struct Case {
        const char* what;
        std::vector<int> ids;
        std::vector<float> logits;
        Script script;
        std::optional<int> chosen;
    };
    const Case cases[] = {
        {"marker only, latin", {1}, {0}, Script::latin, 1},
        {"marker only, cyrillic", {1}, {0}, Script::cyrillic, 1},
        {"cyrillic letters", {3, 2}, {9, 1}, Script::cyrillic, 2},
        {"ascii letters are not cyrillic", {3}, {1}, Script::cyrillic, std::nullopt},
        {"digits and a comma", {4}, {1}, Script::cyrillic, 4},
        {"latin extended", {9, 5, 6, 7}, {9, 1, 2, 3}, Script::latin, 7},
        {"greek is not latin", {9}, {1}, Script::latin, std::nullopt},
        {"ties go to the earlier", {8, 2}, {2, 2}, Script::cyrillic, 8},
        {"unknown ids", {100, 101, 102}, {1, 2, 3}, Script::latin, std::nullopt},
        {"ids cut to the logits", {10, 3}, {1}, Script::latin, std::nullopt},
    };
    for (const auto& c : cases) {
        auto r = TokenLanguageFilter::selectToken(c.ids, c.logits, vocab, c.script);
        EXPECT_EQ(r ? std::optional<int>(r->tokenId) : std::nullopt, c.chosen) << c.what;
    }
    EXPECT_FALSE(TokenLanguageFilter::selectToken(std::vector<int>{1}, std::vector<float>{1}, {}, Script::latin));
}

TEST(LanguageTest, TokenFilterProbabilityIsTheShareAmongAllCandidates) {
    const std::unordered_map<int, std::string> vocab{{1, "a"}, {2, "б"}};
    auto r = TokenLanguageFilter::selectToken(std::vector<int>{1, 2}, std::vector<float>{2.0f, 5.0f}, vocab, Script::latin);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->tokenId, 1);
    EXPECT_NEAR(r->probability, 1.0 / (1.0 + std::exp(3.0)), 1e-6);
    auto inf = TokenLanguageFilter::selectToken(std::vector<int>{1, 2}, std::vector<float>{1.0f, INFINITY}, vocab,
                                                Script::latin);
    ASSERT_TRUE(inf);
    EXPECT_EQ(inf->probability, 0.0f);
    auto only = TokenLanguageFilter::selectToken(std::vector<int>{1}, std::vector<float>{3.0f}, vocab, Script::latin);
    EXPECT_EQ(only->probability, 1.0f);
}

TEST(LanguageTest, LevenshteinTable) {
    struct Case {
        const char* a;
        const char* b;
        std::size_t distance;
    };
    const Case cases[] = {
        {"saturday", "sunday", 3}, {"", "abc", 3}, {"abc", "", 3}, {"abc", "abc", 0}, {"ab", "ba", 2},
        {"caf\u00e9", "cafe\u0301", 0},   // precomposed and combining forms are one character
        {"\u00e9", "e", 1},
        {"👍🏽a", "a", 1},              // an emoji with its modifier is one character
    };
    for (const auto& c : cases) EXPECT_EQ(StringUtils::levenshteinDistance(c.a, c.b), c.distance) << c.a << " / " << c.b;
    EXPECT_EQ(StringUtils::levenshteinDistance(std::vector<int>{1, 2, 3}, std::vector<int>{1, 3}), 1u);
    EXPECT_EQ(StringUtils::levenshteinDistance(std::vector<std::string>{}, std::vector<std::string>{"a", "b"}), 2u);
}

}  // namespace
}  // namespace auralith
