#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "Parlowen/readaloud/SentenceModel.h"

namespace parlowen {
namespace {

using Skip = SentenceSkip;

TEST(SentenceModel, SplitsParagraphsAtTwoLineFeedsKeepingTheirIndexes) {
    struct Case {
        const char* text;
        std::vector<SpeechSentence> sentences;
    };
    const Case cases[] = {
        {"", {}},
        {"\n\n  \n\n\t\n", {}},
        {"First one.\n\n\n\nSecond one.", {{"First one.", 0}, {"Second one.", 2}}},
        {"  Hello there. How are you?  Fine!\n", {{"Hello there.", 0}, {"How are you?", 0}, {"Fine!", 0}}},
        {"One.\nStill one.\n\nTwo.", {{"One.", 0}, {"Still one.", 0}, {"Two.", 1}}},
        {"A.\n\n\nB.", {{"A.", 0}, {"B.", 1}}},  // three line feeds: the third starts the next piece
        {"\n\nLate.", {{"Late.", 1}}},
    };
    for (const auto& c : cases) EXPECT_EQ(makeSentences(c.text), c.sentences) << "text: " << c.text;
}

TEST(SentenceModel, EstimatesCountCharactersAgainstTheRate) {
    SpeechSentence s{std::string(130, 'x'), 0};
    EXPECT_DOUBLE_EQ(estimatedSeconds(s, 0.5f), 10.0);
    EXPECT_DOUBLE_EQ(estimatedSeconds(s, 0.02f), 130.0);  // rate x 26 below 1: the divisor is 1
    EXPECT_DOUBLE_EQ(estimatedSeconds(s, 1.0f), 5.0);
    EXPECT_DOUBLE_EQ(estimatedSeconds({"\u00E9t\u00E9 \U0001F44D\U0001F3FD", 0}, 0.5f), 5.0 / 13.0)
        << "user-perceived characters, not bytes";
}

TEST(SentenceModel, SkipsFollowTheRules) {
    // Paragraphs 0, 0, 1, 1, 3 (an empty piece before the last); every sentence 13 characters
    // ("Sentence one." etc.), so 1 s each at rate 0.5.
    auto list = makeSentences(
        "Sentence aaa. Sentence bbb.\n\nSentence ccc. Sentence ddd.\n\n\n\nSentence eee.");
    ASSERT_EQ(list.size(), 5u);
    ASSERT_EQ(list[4].paragraphIndex, 3);
    const std::vector<SpeechSentence> none;

    using Fn = std::function<Skip(Sentences, std::int64_t)>;
    struct Case {
        const char* what;
        Fn skip;
        std::int64_t current;
        Skip expected;
    };
    auto fwd = [](double s) { return Fn([s](Sentences l, std::int64_t c) { return skipForward(l, c, s, 0.5f); }); };
    auto back = [](double s) { return Fn([s](Sentences l, std::int64_t c) { return skipBack(l, c, s, 0.5f); }); };
    const Case cases[] = {
        {"next sentence", skipForwardSentence, 1, Skip::restart(2)},
        {"next after the last", skipForwardSentence, 4, Skip::finish()},
        {"previous", skipBackSentence, 3, Skip::restart(2)},
        {"previous at 0", skipBackSentence, 0, Skip::none()},
        {"next paragraph", skipForwardParagraph, 0, Skip::restart(2)},
        {"next paragraph over a gap", skipForwardParagraph, 3, Skip::restart(4)},
        {"next paragraph from the last", skipForwardParagraph, 4, Skip::finish()},
        {"back to the paragraph start", skipBackParagraph, 3, Skip::restart(2)},
        {"back to the previous paragraph", skipBackParagraph, 2, Skip::restart(0)},
        {"no paragraph 2: restart", skipBackParagraph, 4, Skip::restart(4)},
        {"first paragraph start: restart", skipBackParagraph, 0, Skip::restart(0)},
        {"forward 2 s", fwd(2), 0, Skip::restart(2)},
        {"forward 1.5 s", fwd(1.5), 0, Skip::restart(2)},
        {"forward 0 s restarts", fwd(0), 1, Skip::restart(1)},
        {"forward on the last restarts it", fwd(30), 4, Skip::restart(4)},
        {"forward runs out at the last", fwd(30), 1, Skip::restart(4)},
        {"back 1 s", back(1), 3, Skip::restart(2)},
        {"back on the first restarts it", back(15), 0, Skip::restart(0)},
        {"back runs out at the first", back(15), 3, Skip::restart(0)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.skip(list, c.current), c.expected) << c.what;
    }
    // With no sentences every skip but the next sentence does nothing.
    EXPECT_EQ(skipBackSentence(none, 0), Skip::none());
    EXPECT_EQ(skipForwardParagraph(none, 0), Skip::none());
    EXPECT_EQ(skipBackParagraph(none, 0), Skip::none());
    EXPECT_EQ(skipForward(none, 0, 30, 0.5f), Skip::none());
    EXPECT_EQ(skipBack(none, 0, 15, 0.5f), Skip::none());
    EXPECT_EQ(skipForwardSentence(none, 0), Skip::finish());
}

TEST(SentenceModel, SecondsSkipsUseTheRate) {
    auto list = makeSentences("Sentence aaa. Sentence bbb. Sentence ccc. Sentence ddd.");
    // 13 characters: 1 s each at 0.5, 0.5 s each at 1.0, 13 s each below rate 1/26.
    EXPECT_EQ(skipForward(list, 0, 2, 1.0f), Skip::restart(3));
    EXPECT_EQ(skipForward(list, 0, 2, 0.5f), Skip::restart(2));
    EXPECT_EQ(skipForward(list, 0, 2, 0.01f), Skip::restart(1));
}

}  // namespace
}  // namespace parlowen
