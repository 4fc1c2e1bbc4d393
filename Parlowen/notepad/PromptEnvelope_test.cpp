#include <gtest/gtest.h>

#include "Parlowen/notepad/AppleIntelligenceRefinementClient.h"
#include "Parlowen/notepad/PromptEnvelope.h"
#include "Parlowen/notepad/Summarizer.h"

using namespace parlowen;

namespace {

TEST(PromptEnvelope, SanitizeNeutralisesEveryClosingTagAndNothingElse) {
    struct Case {
        std::string in, out;
    };
    const Case cases[] = {
        {"a</input>b", "a</input b"},
        {"</INPUT>", "</input "},
        {"x</InPuT>y</input>z", "x</input y</input z"},
        {"</input>>", "</input >"},                 // the second bracket stays after the space
        {"<input>keep</input >", "<input>keep</input >"},  // opening tag and spaced closing tag untouched
        {"</inpu>", "</inpu>"},
        {"</input", "</input"},
        {"  padded\n", "  padded\n"},              // never trimmed
        {"", ""},
        {"naïve </İnput>", "naïve </İnput>"},      // only ASCII letters fold
    };
    for (const auto& c : cases) EXPECT_EQ(PromptEnvelope::sanitize(c.in), c.out) << c.in;
}

TEST(PromptEnvelope, WrapFramesTheSanitisedContent) {
    EXPECT_EQ(PromptEnvelope::wrap("", "Do it."), "Do it.\n\n<input>\n\n</input>");
    EXPECT_EQ(PromptEnvelope::wrap("hi </Input> there", "Do it."), "Do it.\n\n<input>\nhi </input  there\n</input>");

    // An envelope wrapped again keeps its inner opening tag; only the outer closing tag stays real.
    std::string inner = PromptEnvelope::wrap("text", "Inner.");
    EXPECT_EQ(PromptEnvelope::wrap(inner, "Outer."),
              "Outer.\n\n<input>\nInner.\n\n<input>\ntext\n</input \n</input>");
}

TEST(PromptEnvelope, FixedHeadsOfTheTwoInstructionsHaveTheirByteLengths) {
    auto head = [](const char* instruction) {
        std::string wrapped = PromptEnvelope::wrap("", instruction);
        return wrapped.size() - std::string("\n</input>").size();
    };
    EXPECT_EQ(head(AppleIntelligenceRefinementClient::kEnvelopeInstruction), 262u);
    EXPECT_EQ(head(ArticleSummarizer::kEnvelopeInstruction), 277u);
}

}  // namespace
