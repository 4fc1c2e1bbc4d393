#include <gtest/gtest.h>

#include "Parlowen/notepad/Tones.h"
#include "platform/text/Unicode.h"

using namespace parlowen;

namespace {

TEST(Tones, BuiltInListsInChipOrder) {
    std::vector<std::string> toneIds, agentIds;
    for (const auto& t : builtInTones()) {
        toneIds.push_back(t.id);
        EXPECT_TRUE(t.isBuiltIn);
        EXPECT_TRUE(t.symbolName.has_value());
        EXPECT_EQ(t.systemPrompt.find('\n'), std::string::npos) << t.id;
    }
    for (const auto& a : builtInAgents()) {
        agentIds.push_back(a.id);
        EXPECT_TRUE(a.isBuiltIn);
        EXPECT_EQ(a.systemPrompt.find('\n'), std::string::npos) << a.id;
    }
    EXPECT_EQ(toneIds, (std::vector<std::string>{"email", "casual", "professional", "concise", "slack", "code-comment"}));
    EXPECT_EQ(agentIds, (std::vector<std::string>{"summarize", "bulleted-list", "expand", "action-items"}));
    EXPECT_EQ(builtInTones()[5].displayName, "Code comment");
    EXPECT_EQ(builtInAgents()[3].oneLiner, "Pull out concrete tasks as a Markdown checklist.");
}

TEST(Tones, RuleTextIsTwoLineFeedsAndOneLineOf290CharactersInAll) {
    EXPECT_EQ(platform::text::graphemeCount(kTonePromptSuffix), 290u);
    EXPECT_TRUE(kTonePromptSuffix.starts_with("\n\nReturn ONLY the rewritten text. Do not preface"));
    EXPECT_EQ(kTonePromptSuffix.find('\n', 2), std::string_view::npos);
}

TEST(Tones, FullPromptIsTheTrimmedPromptAnEmptyLineAndTheRuleText) {
    const std::string rule(kTonePromptSuffix);
    const std::pair<std::string, std::string> cases[] = {
        {"Be terse.", "Be terse." + rule},
        {"  Be terse. \t\n\n \u2028", "Be terse." + rule},  // one empty line before the rule, whatever trailed
        {"\n\nPirate voice\n", "Pirate voice" + rule},
        {"", rule},
        {" \n ", rule},
    };
    for (const auto& [prompt, expected] : cases) {
        Tone t{"custom-1", "Custom", std::nullopt, prompt, false};
        EXPECT_EQ(fullSystemPrompt(t), expected) << prompt;
    }
    const Tone& email = builtInTones().front();
    EXPECT_EQ(fullSystemPrompt(email), email.systemPrompt + rule);
}

}  // namespace
