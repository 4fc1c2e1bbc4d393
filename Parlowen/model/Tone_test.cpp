#include "Parlowen/model/Tone.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

namespace {

using parlowen::AgentCommand;
using parlowen::Tone;

std::string encoded(const auto& value) { return *platform::encodeJson(parlowen::toJson(value)); }

TEST(Tone, JsonFormWithAndWithoutSymbol) {
    const Tone plain{"pirate", "Pirate", std::nullopt, "Talk like a pirate.", false};
    EXPECT_EQ(encoded(plain),
              R"({"id":"pirate","displayName":"Pirate","systemPrompt":"Talk like a pirate.","isBuiltIn":false})");
    const Tone withSymbol{"email", "Email", "envelope", "Write mail.", true};
    EXPECT_EQ(encoded(withSymbol),
              R"({"id":"email","displayName":"Email","symbolName":"envelope","systemPrompt":"Write mail.","isBuiltIn":true})");

    for (const auto& tone : {plain, withSymbol}) {
        auto back = parlowen::fromJson<Tone>(*platform::decodeJson(encoded(tone)));
        ASSERT_TRUE(back.has_value());
        EXPECT_EQ(*back, tone);
    }
}

TEST(Tone, ReadingRequiresEveryMemberButTheSymbol) {
    const char* bad[] = {
        R"({"id":"x","displayName":"X","systemPrompt":"p"})",
        R"({"id":"x","displayName":"X","isBuiltIn":false})",
        R"({"displayName":"X","systemPrompt":"p","isBuiltIn":false})",
        R"({"id":"x","displayName":"X","systemPrompt":"p","isBuiltIn":"no"})",
        R"({"id":"x","displayName":"X","systemPrompt":"p","isBuiltIn":false,"symbolName":3})",
        R"(["x"])",
    };
    for (const char* text : bad) EXPECT_FALSE(parlowen::fromJson<Tone>(*platform::decodeJson(text))) << text;
    auto nullSymbol = parlowen::fromJson<Tone>(
        *platform::decodeJson(R"({"isBuiltIn":false,"systemPrompt":"p","symbolName":null,"displayName":"X","id":"x"})"));
    ASSERT_TRUE(nullSymbol.has_value());
    EXPECT_FALSE(nullSymbol->symbolName.has_value());
}

TEST(Tone, EqualityAndHashCoverEveryField) {
    const Tone a{"x", "X", std::nullopt, "p", false};
    Tone b = a;
    EXPECT_EQ(a, b);
    EXPECT_EQ(std::hash<Tone>{}(a), std::hash<Tone>{}(b));
    b.isBuiltIn = true;
    EXPECT_NE(a, b);
    Tone c = a;
    c.symbolName = "";
    EXPECT_NE(a, c);
    EXPECT_NE(std::hash<Tone>{}(a), std::hash<Tone>{}(c));
}

TEST(AgentCommand, JsonForm) {
    const AgentCommand agent{"summarize", "Summarize", "text.alignleft", "Compress.", "You are a summarizer.", true};
    EXPECT_EQ(encoded(agent),
              R"({"id":"summarize","displayName":"Summarize","symbolName":"text.alignleft","oneLiner":"Compress.","systemPrompt":"You are a summarizer.","isBuiltIn":true})");
    EXPECT_EQ(parlowen::fromJson<AgentCommand>(*platform::decodeJson(encoded(agent))).value(), agent);
    EXPECT_FALSE(parlowen::fromJson<AgentCommand>(
        *platform::decodeJson(R"({"id":"a","displayName":"A","systemPrompt":"p","isBuiltIn":true})")));
}

}  // namespace
