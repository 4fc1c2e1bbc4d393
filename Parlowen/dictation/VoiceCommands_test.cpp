#include "Parlowen/dictation/VoiceCommands.h"

#include <gtest/gtest.h>

namespace {

using parlowen::VoiceCommand;

const std::set<VoiceCommand> both{VoiceCommand::scratchThat, VoiceCommand::deleteThat};

struct CommandCase {
    const char* name;
    std::string input;
    std::string expected;
    std::set<VoiceCommand> enabled = both;
};

// The test list (and so each ctest name) shows the case's name; printed as
// raw bytes, its pointers would make the names differ from run to run.
void PrintTo(const CommandCase& c, std::ostream* os) { *os << c.name; }

class VoiceCommandsTest : public ::testing::TestWithParam<CommandCase> {};

TEST_P(VoiceCommandsTest, Applies) {
    EXPECT_EQ(parlowen::applyVoiceCommands(GetParam().input, GetParam().enabled), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, VoiceCommandsTest,
    ::testing::Values(
        CommandCase{"NothingEnabledPassesThroughUntrimmed", "  hello scratch that \n", "  hello scratch that \n", {}},
        CommandCase{"AnyEnabledTrims", "  hello world \n", "hello world"},
        CommandCase{"ScratchWithoutSentenceEndEmpties", "Hello world scratch that", ""},
        CommandCase{"ScratchKeepsFinishedSentence", "One. Two three scratch that", "One."},
        CommandCase{"ScratchRightAfterSentenceEnd", "One. Two. scratch that", "One. Two."},
        CommandCase{"DictationGoesOnAfterScratch", "One. Two scratch that Three.", "One.Three."},
        CommandCase{"PunctuationAfterPhraseStays", "One. Two. Scratch that.", "One. Two.."},
        CommandCase{"DeleteLastWord", "I like big delete that small cats", "I like small cats"},
        CommandCase{"CommandsActOneAfterAnother", "a b delete that delete that c", "c"},
        CommandCase{"DeleteTakesAttachedPunctuation", "Hi there, friend! delete that ok", "Hi there, ok"},
        CommandCase{"DeleteOnEmptyOutput", "delete that", ""},
        CommandCase{"CommandAtStart", "scratch that hello", "hello"},
        CommandCase{"MixedCase", "Keep this Scratch That", ""},
        CommandCase{"UpperCase", "keep this DELETE THAT", "keep"},
        CommandCase{"DoubleSpaceDoesNotMatch", "a scratch  that", "a scratch  that"},
        CommandCase{"MustBeginAWord", "a descratch that", "a descratch that"},
        CommandCase{"LetterAfterPhrase", "a scratch thatch", "a scratch thatch"},
        CommandCase{"DigitAfterPhrase", "a delete that2", "a delete that2"},
        CommandCase{"CombiningMarkOnLastLetter", "a delete that\u0301", "a delete that\u0301"},
        CommandCase{"OnlyDeleteEnabled", "a scratch that b delete that", "a scratch that", {VoiceCommand::deleteThat}},
        CommandCase{"OnlyScratchEnabled", "a delete that scratch that", "", {VoiceCommand::scratchThat}},
        CommandCase{"DecimalPointDoesNotEndSentence", "pi is 3.5 scratch that", ""},
        CommandCase{"SemicolonDoesNotEndSentence", "one; two scratch that", ""},
        CommandCase{"LineBreakDoesNotEndSentence", "one\ntwo scratch that", ""},
        CommandCase{"QuestionAndExclamationEndSentences", "Why? Now! later scratch that", "Why? Now!"},
        CommandCase{"DeleteMovesMarkBack", "One. Two. delete that delete that three scratch that", ""},
        CommandCase{"LineBreakAfterPhraseIsConsumed", "one two delete that\nthree", "one three"},
        CommandCase{"EmojiBeforePhraseIsNotABlank", "hi \U0001F44Bdelete that", "hi \U0001F44Bdelete that"},
        CommandCase{"EmojiWordIsDeletedWhole", "hi \U0001F468\u200D\U0001F469\u200D\U0001F467 delete that", "hi"},
        CommandCase{"NoBreakSpaceIsWhitespace", "one\u00A0delete that", ""},
        CommandCase{"NothingButCommands", "scratch that delete that", ""}));

}  // namespace
