#include "Parlowen/shell/settings/PerAppRule.h"

#include <gtest/gtest.h>

#include <unordered_set>

#include <nlohmann/json.hpp>

namespace {

using parlowen::DictationEngineMode;
using parlowen::PerAppRule;
using parlowen::ReadAloudEngineKind;

const platform::Uuid kId = *platform::Uuid::fromString("E621E1F8-C36C-495A-93FC-0C247A3E6E5F");

PerAppRule rule(std::string bundleId, std::string appName = "App") {
    PerAppRule r;
    r.id = kId;
    r.bundleId = std::move(bundleId);
    r.appName = std::move(appName);
    return r;
}

std::string encoded(const PerAppRule& r) { return *platform::encodeJson(parlowen::toJson(r)); }

platform::Result<PerAppRule> decode(std::string_view text) {
    return parlowen::fromJson<PerAppRule>(*platform::decodeJson(text));
}

TEST(PerAppRuleJson, WritesOptionalMembersOnlyWhenPresent) {
    EXPECT_EQ(encoded(rule("com.apple.mail", "Mail")),
              R"({"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","bundleId":"com.apple.mail","appName":"Mail",)"
              R"("extraContextualPhrases":[],"disableCleanUpPill":false})");

    PerAppRule full = rule("com.tinyspeck.slackmacgap", "Slack");
    full.engineMode = DictationEngineMode::groq;
    full.toneID = "slack";
    full.extraContextualPhrases = {"Kubernetes", "Parlowen"};
    full.disableCleanUpPill = true;
    full.readAloudEngine = ReadAloudEngineKind::elevenlabs;
    full.readAloudVoiceIdentifier = "voice-1";
    EXPECT_EQ(encoded(full),
              R"({"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","bundleId":"com.tinyspeck.slackmacgap",)"
              R"("appName":"Slack","engineMode":"groq","toneID":"slack",)"
              R"("extraContextualPhrases":["Kubernetes","Parlowen"],"disableCleanUpPill":true,)"
              R"("readAloudEngine":"elevenlabs","readAloudVoiceIdentifier":"voice-1"})");
    EXPECT_EQ(decode(encoded(full)).value(), full);
}

TEST(PerAppRuleJson, ReadingIsLenientAboutAbsentMembersOnly) {
    auto minimal = decode(R"({})");
    ASSERT_TRUE(minimal.has_value());
    EXPECT_EQ(minimal->bundleId, "");
    EXPECT_EQ(minimal->appName, "");
    EXPECT_FALSE(minimal->engineMode || minimal->toneID || minimal->readAloudEngine ||
                 minimal->readAloudVoiceIdentifier);
    EXPECT_TRUE(minimal->extraContextualPhrases.empty());
    EXPECT_FALSE(minimal->disableCleanUpPill);
    // No stored id: a new one at every read.
    EXPECT_NE(minimal->id, decode(R"({})")->id);
    EXPECT_FALSE(minimal->id.isNil());

    auto nulls = decode(R"({"id":"e621e1f8-c36c-495a-93fc-0c247a3e6e5f","engineMode":null,"toneID":null,)"
                        R"("extraContextualPhrases":null,"disableCleanUpPill":null,"future":{"x":1}})");
    ASSERT_TRUE(nulls.has_value());
    EXPECT_EQ(nulls->id, kId);
    EXPECT_FALSE(nulls->engineMode.has_value());

    const char* failing[] = {
        R"({"engineMode":"turbo"})",
        R"({"readAloudEngine":"AppleSpeech"})",
        R"({"id":"not-a-uuid"})",
        R"({"id":7})",
        R"({"bundleId":1})",
        R"({"disableCleanUpPill":"yes"})",
        R"({"extraContextualPhrases":"one"})",
        R"({"extraContextualPhrases":["one",2]})",
        R"(["com.apple.mail"])",
    };
    for (const char* text : failing) EXPECT_FALSE(decode(text).has_value()) << text;
}

TEST(PerAppRule, LookupTakesTheFirstExactMatch) {
    PerAppRule first = rule("com.apple.mail", "First");
    PerAppRule second = rule("com.apple.mail", "Second");
    PerAppRule blank = rule("", "Blank");
    PerAppRule notes = rule("com.apple.Notes", "Notes");
    std::vector<PerAppRule> rules{blank, first, second, notes};

    EXPECT_EQ(PerAppRule::lookup("com.apple.mail", rules)->appName, "First");
    std::swap(rules[1], rules[2]);
    EXPECT_EQ(PerAppRule::lookup("com.apple.mail", rules)->appName, "Second");

    EXPECT_FALSE(PerAppRule::lookup(std::nullopt, rules).has_value());  // no bundle identifier
    EXPECT_FALSE(PerAppRule::lookup("com.apple.notes", rules).has_value());  // case-sensitive
    EXPECT_FALSE(PerAppRule::lookup("com.apple.Safari", rules).has_value());
    EXPECT_FALSE(PerAppRule::lookup("com.apple.mail", {}).has_value());
    EXPECT_EQ(PerAppRule::lookup("", rules)->appName, "Blank");

    // Canonically equal identifiers match, as text equality does.
    std::vector<PerAppRule> accented{rule("org.caf\u00E9.app", "Caf\u00E9")};
    EXPECT_TRUE(PerAppRule::lookup("org.cafe\u0301.app", accented).has_value());
}

TEST(PerAppRule, DefaultRules) {
    const auto& rules = PerAppRule::defaultRules();
    ASSERT_EQ(rules.size(), 4u);
    const std::tuple<const char*, const char*, std::optional<std::string>, bool> expected[] = {
        {"com.apple.mail", "Mail", "email", false},
        {"com.tinyspeck.slackmacgap", "Slack", "slack", false},
        {"com.apple.MobileSMS", "Messages", "casual", false},
        {"com.apple.Notes", "Notes", std::nullopt, true},
    };
    std::set<platform::Uuid> ids;
    for (std::size_t i = 0; i < rules.size(); ++i) {
        const auto& [bundle, name, tone, noPill] = expected[i];
        EXPECT_EQ(rules[i].bundleId, bundle);
        EXPECT_EQ(rules[i].appName, name);
        EXPECT_EQ(rules[i].toneID, tone);
        EXPECT_EQ(rules[i].disableCleanUpPill, noPill);
        EXPECT_FALSE(rules[i].engineMode || rules[i].readAloudEngine || rules[i].readAloudVoiceIdentifier);
        EXPECT_TRUE(rules[i].extraContextualPhrases.empty());
        ids.insert(rules[i].id);
    }
    EXPECT_EQ(ids.size(), 4u);
    EXPECT_EQ(PerAppRule::defaultRules(), rules);  // built once: same ids
}

TEST(PerAppRule, EqualityAndHashCoverEveryField) {
    const PerAppRule base = rule("a");
    std::vector<PerAppRule> variants(9, base);
    variants[0].id = platform::Uuid::random();
    variants[1].bundleId = "b";
    variants[2].appName = "Other";
    variants[3].engineMode = DictationEngineMode::speed;
    variants[4].toneID = "";
    variants[5].extraContextualPhrases = {""};
    variants[6].disableCleanUpPill = true;
    variants[7].readAloudEngine = ReadAloudEngineKind::appleSpeech;
    variants[8].readAloudVoiceIdentifier = "";
    std::unordered_set<PerAppRule> set{base, base};
    for (const auto& v : variants) {
        EXPECT_NE(v, base);
        set.insert(v);
    }
    EXPECT_EQ(set.size(), 10u);
}

}  // namespace
