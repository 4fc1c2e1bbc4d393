#include "Parlowen/dictation/VocabularyLearner.h"

#include <gtest/gtest.h>

#include <fmt/format.h>

#include "Parlowen/shell/settings/SettingsTestSupport.h"
#include "platform/text/Unicode.h"

namespace {

using parlowen::VocabularyLearner;
using Table = std::map<std::string, std::int64_t>;
using Strings = std::vector<std::string>;

class VocabularyLearnerTest : public settingstest::StoreTest {
protected:
    void SetUp() override {
        prefs->learnFromDictation.set(true);
        prefs->dictationContextualPhrases.set({});
        prefs->learnedVocabulary.set({});
    }
    Table table() const { return prefs->learnedVocabulary(); }

    std::unique_ptr<parlowen::PreferencesStore> prefs = open();
    VocabularyLearner learner{*prefs};
};

TEST_F(VocabularyLearnerTest, SplitsIntoCountedWords) {
    struct Case {
        std::string text;
        Strings words;
    };
    const Case cases[] = {
        {"I shipped the Kubernetes cluster to staging", {"shipped", "the", "Kubernetes", "cluster", "staging"}},
        {"state-of-the-art", {"state", "the", "art"}},
        {"don't", {"don't"}},
        {"don\u2019t", {"don"}},  // a typographic apostrophe splits the word
        {"in 2024 we had 12 v2 x99", {"2024", "had", "x99"}},
        {"Ok go", {}},
        {"\u00E9t\u00E9 \u540D\u524D\u3067\u3059", {"\u00E9t\u00E9", "\u540D\u524D\u3067\u3059"}},
        {"caf\xFF" "fee", {"caf", "fee"}},  // ill-formed bytes separate words
        {"cafe\u0301s", {"caf\u00E9s"}},      // composed first, so an accent does not split a word
        {"", {}},
    };
    for (const auto& c : cases) EXPECT_EQ(VocabularyLearner::words(c.text), c.words) << c.text;
}

TEST_F(VocabularyLearnerTest, LearnCountsUncommonWordsAsDictated) {
    learner.learn("I shipped the Kubernetes cluster to staging");
    EXPECT_EQ(table(), (Table{{"Kubernetes", 1}, {"cluster", 1}, {"shipped", 1}, {"staging", 1}}));

    learner.learn("Parser parser Parser THE Thanks");
    EXPECT_EQ(table().at("Parser"), 2);
    EXPECT_EQ(table().at("parser"), 1);
    EXPECT_FALSE(table().contains("THE"));
    EXPECT_FALSE(table().contains("Thanks"));

    // Stored as the settings' JSON, so it survives a restart.
    EXPECT_EQ(open()->learnedVocabulary(), table());
}

TEST_F(VocabularyLearnerTest, HintsAreNotCounted) {
    prefs->dictationContextualPhrases.set({"kubernetes", "machine learning"});
    learner.learn("Kubernetes machine learning");
    EXPECT_EQ(table(), (Table{{"machine", 1}, {"learning", 1}}));
}

TEST_F(VocabularyLearnerTest, NothingHappensWhileOffOrWithoutWords) {
    prefs->learnFromDictation.set(false);
    const int writes = defaults.writeCount();
    learner.learn("Kubernetes cluster");
    learner.learn("");
    prefs->learnFromDictation.set(true);
    const int afterSwitch = defaults.writeCount();
    learner.learn("a b ok -- !!");
    EXPECT_EQ(defaults.writeCount(), afterSwitch);
    EXPECT_EQ(afterSwitch, writes + 1);
    EXPECT_TRUE(table().empty());

    // Words that are all stop words still store the (unchanged) table.
    learner.learn("the and thanks");
    EXPECT_EQ(defaults.writeCount(), afterSwitch + 1);
}

TEST_F(VocabularyLearnerTest, TrimsPastTheCapToTheBestEightHundred) {
    Table start;
    for (int i = 0; i < 1000; ++i) start[fmt::format("w{:04}", i)] = i < 500 ? 2 : 1;
    prefs->learnedVocabulary.set(start);
    learner.learn("w0999");  // an existing entry: still 1000 entries, no trim
    EXPECT_EQ(table().size(), 1000u);
    EXPECT_FALSE(logs->contains("evicted"));

    learner.learn("Zeta");  // entry 1001
    const auto after = table();
    ASSERT_EQ(after.size(), 800u);
    // All count-2 entries stay (w0999 too); of the count-1 ones, "Zeta" sorts
    // before the lower-case "w…" words and the rest are taken in code-point order.
    EXPECT_TRUE(after.contains("w0000") && after.contains("w0499") && after.contains("w0999"));
    EXPECT_TRUE(after.contains("Zeta"));
    EXPECT_TRUE(after.contains("w0797"));
    EXPECT_FALSE(after.contains("w0798"));
    const auto line = logs->find("evicted");
    ASSERT_TRUE(line);
    EXPECT_EQ(line->message, "learned vocabulary evicted to 800 entries (cap 1000)");
    EXPECT_EQ(line->category, "vocab-learner");
    EXPECT_EQ(line->level, platform::LogLevel::info);
}

TEST_F(VocabularyLearnerTest, SuggestionsByCountThenCodePoints) {
    prefs->learnedVocabulary.set({{"beta", 3}, {"Alpha", 3}, {"gamma", 5}});
    using S = VocabularyLearner::Suggestion;
    EXPECT_EQ(learner.suggestions(8), (std::vector<S>{{"gamma", 5}, {"Alpha", 3}, {"beta", 3}}));
    EXPECT_EQ(learner.suggestions(1), (std::vector<S>{{"gamma", 5}}));
    EXPECT_TRUE(learner.suggestions(0).empty());
    EXPECT_TRUE(learner.suggestions(-1).empty());
}

TEST_F(VocabularyLearnerTest, CanonicallyEqualSpellingsAreOneWord) {
    learner.learn("caf\u00E9 cafe\u0301");
    EXPECT_EQ(table(), (Table{{"caf\u00E9", 2}}));
}

TEST_F(VocabularyLearnerTest, PromoteAddsTrimmedHintOnceAndForgetsWordAsPassed) {
    prefs->dictationContextualPhrases.set({"Parlowen"});
    prefs->learnedVocabulary.set({{"Kubernetes", 4}, {" Kubernetes ", 1}, {"staging", 2}});

    learner.promote(" Kubernetes ");
    EXPECT_EQ(prefs->dictationContextualPhrases(), (Strings{"Parlowen", "Kubernetes"}));
    EXPECT_EQ(table(), (Table{{"Kubernetes", 4}, {"staging", 2}}));

    learner.promote("Kubernetes");
    EXPECT_EQ(prefs->dictationContextualPhrases(), (Strings{"Parlowen", "Kubernetes"}));
    EXPECT_EQ(table(), (Table{{"staging", 2}}));

    const int writes = defaults.writeCount();
    learner.promote(" \n\t ");
    EXPECT_EQ(defaults.writeCount(), writes);
}

TEST_F(VocabularyLearnerTest, DismissAndReset) {
    prefs->learnedVocabulary.set({{"alpha", 1}, {"beta", 2}});
    learner.dismiss("Alpha");  // no such entry: the table is stored unchanged
    learner.dismiss("alpha");
    EXPECT_EQ(table(), (Table{{"beta", 2}}));

    learner.reset();
    EXPECT_TRUE(table().empty());
    EXPECT_TRUE(open()->learnedVocabulary().empty());
    EXPECT_TRUE(logs->contains("learned vocabulary reset", platform::LogLevel::info));
}

TEST_F(VocabularyLearnerTest, StopWordsAreTheFixedList) {
    EXPECT_EQ(VocabularyLearner::stopWords().size(), 112u);
    for (const auto& w : VocabularyLearner::stopWords()) EXPECT_EQ(w, platform::text::lowercased(w));
}

}  // namespace
