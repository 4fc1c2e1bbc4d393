#include "Parlowen/dictation/TextProcessor.h"

#include <gtest/gtest.h>

namespace {

struct CleanUpCase {
    const char* name;
    std::string input;
    std::string expected;
};

// The test list (and so each ctest name) shows the case's name; printed as
// raw bytes, its pointers would make the names differ from run to run.
void PrintTo(const CleanUpCase& c, std::ostream* os) { *os << c.name; }

class TextProcessorTest : public ::testing::TestWithParam<CleanUpCase> {};

TEST_P(TextProcessorTest, Cleans) { EXPECT_EQ(parlowen::TextProcessor{}.process(GetParam().input), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    Table, TextProcessorTest,
    ::testing::Values(
        CleanUpCase{"CommaAndPeriod", "hello comma world period", "hello, world."},
        CleanUpCase{"QuestionMark", "Is it ready question mark", "Is it ready?"},
        CleanUpCase{"ExclamationPoint", "Great exclamation point", "Great!"},
        CleanUpCase{"ExclamationMark", "Great exclamation mark", "Great!"},
        CleanUpCase{"AnyLetterCase", "Stop Period NEW LINE go PERIOD", "Stop.\ngo."},
        CleanUpCase{"NewParagraph", "first new paragraph second", "first\n\nsecond"},
        CleanUpCase{"TrailingLineBreaksTrimmed", "done new line", "done"},
        CleanUpCase{"TrailingParagraphTrimmed", "done new paragraph", "done"},
        CleanUpCase{"LeadingLineBreakTrimmed", "new line start", "start"},
        CleanUpCase{"SemicolonIsNotSemiPlusColon", "one semicolon two colon three", "one; two: three"},
        CleanUpCase{"WordsContainingCommandsStay", "periodic commas semicolons periods", "periodic commas semicolons periods"},
        CleanUpCase{"SingleTabStays", "a\tb", "a\tb"},
        CleanUpCase{"MixedBlankRunsBecomeOneSpace", "a \t b\t\tc   d", "a b c d"},
        CleanUpCase{"TabBeforePunctuationIsNotRemoved", "a\t,", "a\t,"},
        CleanUpCase{"SpacesBeforePunctuationGo", "wait   , what  ?", "wait, what?"},
        CleanUpCase{"BlanksAroundLineFeedsGo", "a   \n   b \n\n c", "a\nb\n\nc"},
        CleanUpCase{"Empty", "", ""},
        CleanUpCase{"AllBlank", " \t\n  \n", ""},
        CleanUpCase{"UnicodeWhitespaceTrimmed", "\u00A0hi\u2029", "hi"}));

}  // namespace
