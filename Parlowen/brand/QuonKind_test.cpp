#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <set>
#include <string>

#include "Parlowen/brand/QuonKind.h"
#include "Parlowen/brand/SecureRandom.h"

namespace parlowen {
namespace {

using enum QuonKind;

class ScriptedWords : public RandomWordSource {
public:
    explicit ScriptedWords(std::deque<std::uint64_t> words) : words_(std::move(words)) {}
    std::uint64_t nextWord() override {
        ++drawn;
        if (words_.empty()) {
            ADD_FAILURE() << "more words drawn than scripted";
            return 0;
        }
        auto w = words_.front();
        words_.pop_front();
        return w;
    }
    int drawn = 0;

private:
    std::deque<std::uint64_t> words_;
};

constexpr std::uint64_t kQuarter = std::uint64_t{1} << 62;

TEST(QuonKind, PosesNameTheirImagesAndFamilies) {
    struct Row {
        QuonKind kind;
        const char* asset;
        std::vector<QuonKind> family;
    };
    const std::vector<Row> table{
        {listening, "quon-listening", {listening, notetakingTall, notetakingSide, listeningMicClassic}},
        {reading, "quon-reading", {reading, readingEngaged, readingClassic}},
        {thinking, "quon-thinking", {thinking, thinkingCute, thinking2, thinking3}},
        {dozing, "quon-dozing", {dozing, idle1, idle2}},
        {success, "quon-portrait-direct", {success}},
        {concerned, "quon-portrait-direct", {concerned}},
        {idle1, "quon-idle-1", {idle1}},
        {idle2, "quon-idle-2", {idle2}},
        {readingEngaged, "quon-reading-engaged", {readingEngaged}},
        {readingClassic, "quon-reading-classic", {readingClassic}},
        {thinkingCute, "quon-thinking-cute", {thinkingCute}},
        {thinking2, "quon-thinking-2", {thinking2}},
        {thinking3, "quon-thinking-3", {thinking3}},
        {notetakingTall, "notetaking-tall", {notetakingTall}},
        {notetakingSide, "notetaking-side", {notetakingSide}},
        {listeningMicClassic, "listening-mic-classic", {listeningMicClassic}},
        {portraitCurious, "quon-portrait-curious", {portraitCurious}},
        {portraitUpward, "quon-portrait-upward", {portraitUpward}},
        {portraitDirect, "quon-portrait-direct", {portraitDirect}},
        {sceneHero, "quon-scene-hero", {sceneHero}},
        {sceneMic, "quon-scene-mic", {sceneMic}},
        {scenePapers, "quon-scene-papers", {scenePapers}},
    };
    ASSERT_EQ(allQuonKinds().size(), table.size());
    for (std::size_t i = 0; i < table.size(); ++i) {
        EXPECT_EQ(allQuonKinds()[i], table[i].kind) << "declaration order at " << i;
        EXPECT_EQ(assetName(table[i].kind), table[i].asset) << i;
        EXPECT_EQ(variants(table[i].kind), table[i].family) << i;
    }
    EXPECT_EQ(mascotAssetNames().size(), 20u) << "success and concerned share the direct portrait";
}

TEST(QuonKind, RandomVariantDrawsUniformlyFromTheFamily) {
    // The high part of word x bound picks the member: quarters of the word range.
    ScriptedWords words({0, kQuarter, 2 * kQuarter, 3 * kQuarter + 5, ~std::uint64_t{0}});
    EXPECT_EQ(randomVariant(listening, words), listening);
    EXPECT_EQ(randomVariant(listening, words), notetakingTall);
    EXPECT_EQ(randomVariant(listening, words), notetakingSide);
    EXPECT_EQ(randomVariant(listening, words), listeningMicClassic);
    EXPECT_EQ(randomVariant(listening, words), listeningMicClassic);

    ScriptedWords none({});
    EXPECT_EQ(randomVariant(sceneMic, none), sceneMic) << "a family of one needs no draw";
    EXPECT_EQ(none.drawn, 0);
}

TEST(BoundedRandom, RedrawsTheWordsThatWouldBiasTheResult) {
    // For 3 members, 2^64 mod 3 = 1 word is surplus: the word 0 (low half of
    // 0 x 3 is 0, below the threshold 1) is drawn again.
    ScriptedWords words({0, 0, std::uint64_t{1} << 63});
    EXPECT_EQ(boundedRandom(3, words), 1u);
    EXPECT_EQ(words.drawn, 3);
    ScriptedWords dozingWords({0, ~std::uint64_t{0}});
    EXPECT_EQ(randomVariant(dozing, dozingWords), idle2);
    EXPECT_EQ(dozingWords.drawn, 2);

    // A word whose low half is small but not below the threshold is kept.
    ScriptedWords kept({1});  // 1 x 3: low half 3, threshold 1
    EXPECT_EQ(boundedRandom(3, kept), 0u);
    EXPECT_EQ(kept.drawn, 1);

    // For a power of two nothing is surplus, so 0 is kept.
    ScriptedWords powerOfTwo({0});
    EXPECT_EQ(boundedRandom(4, powerOfTwo), 0u);

    // A bound near 2^64 rejects many words: 2^64 mod (2^63 + 1) = 2^63 - 1.
    const std::uint64_t big = (std::uint64_t{1} << 63) + 1;
    ScriptedWords bigWords({2, std::uint64_t{1} << 63});
    EXPECT_EQ(boundedRandom(big, bigWords), (std::uint64_t{1} << 62));
    EXPECT_EQ(bigWords.drawn, 2);
}

TEST(SecureRandomWords, GivesEveryMemberRoughlyItsShare) {
    std::map<QuonKind, int> counts;
    constexpr int kDraws = 8000;
    for (int i = 0; i < kDraws; ++i) ++counts[randomVariant(thinking)];
    ASSERT_EQ(counts.size(), 4u);
    for (const auto& [kind, n] : counts) {
        EXPECT_GT(n, kDraws / 4 - 400) << static_cast<int>(kind);  // about 9 standard deviations
        EXPECT_LT(n, kDraws / 4 + 400) << static_cast<int>(kind);
    }
    std::set<std::uint64_t> words;
    for (int i = 0; i < 100; ++i) words.insert(SecureRandomWords::shared().nextWord());
    EXPECT_EQ(words.size(), 100u);
}

}  // namespace
}  // namespace parlowen
