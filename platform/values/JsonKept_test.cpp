#include <gtest/gtest.h>

#include "platform/values/JsonKept.h"

namespace platform {
namespace {

std::vector<std::string> strings(const std::vector<std::string_view>& views) {
    return {views.begin(), views.end()};
}

TEST(JsonKept, ElementTextsAreExactlyAsWritten) {
    struct Row {
        const char* text;
        std::vector<std::string> elements;
    };
    const Row rows[] = {
        {"[]", {}},
        {" [ ] ", {}},
        {"[1,2]", {"1", "2"}},
        {"[ 1 ,\n\t2.50 ]", {"1", "2.50"}},
        {R"([{"a":[1,{"b":"]"}]} , "x,y" ,"q\"],[" , null])",
         {R"({"a":[1,{"b":"]"}]})", R"("x,y")", R"("q\"],[")", "null"}},
        {R"([{ "spaced" : true }])", {R"({ "spaced" : true })"}},
        {R"(["\\", "\\\""])", {R"("\\")", R"("\\\"")"}},
    };
    for (const auto& row : rows) {
        auto texts = jsonArrayElementTexts(row.text);
        ASSERT_TRUE(texts) << row.text;
        EXPECT_EQ(strings(*texts), row.elements) << row.text;
    }
    for (const char* bad : {"{}", "[1,", "7", ""}) EXPECT_FALSE(jsonArrayElementTexts(bad)) << bad;
}

TEST(JsonKept, MemberTextsKeepKeysAndValuesAsWritten) {
    auto members = jsonObjectMemberTexts(R"({ "a" : 1 , "caf\u00e9":{"x":[1,"}"]},"big":18446744073709551616 })");
    ASSERT_TRUE(members);
    ASSERT_EQ(members->size(), 3u);
    EXPECT_EQ((*members)[0].key, "a");
    EXPECT_EQ((*members)[0].valueText, "1");
    EXPECT_EQ((*members)[1].key, "caf\u00e9");
    EXPECT_EQ((*members)[1].keyText, R"("caf\u00e9")");
    EXPECT_EQ((*members)[1].valueText, R"({"x":[1,"}"]})");
    EXPECT_EQ((*members)[2].valueText, "18446744073709551616");
    EXPECT_FALSE(jsonObjectMemberTexts("[1]"));
}

TEST(JsonKept, KeptElementsStayInTheirPlaces) {
    KeptJsonEntries kept;
    kept.elementRead();
    kept.keepElement(R"({ "future" : 1 })");
    kept.elementRead();
    kept.keepElement("7");
    EXPECT_EQ(kept.size(), 2u);
    struct Row {
        std::vector<std::string> now;
        const char* written;
    };
    const Row rows[] = {
        {{R"("A")", R"("B")"}, R"(["A",{ "future" : 1 },"B",7])"},
        {{R"("A")", R"("B")", R"("C")"}, R"(["A",{ "future" : 1 },"B",7,"C"])"},
        {{R"("B")"}, R"(["B",{ "future" : 1 },7])"},
        {{}, R"([{ "future" : 1 },7])"},
    };
    for (const auto& row : rows) EXPECT_EQ(kept.writeArray(row.now), row.written);
    EXPECT_EQ(KeptJsonEntries().writeArray({"1", "2"}), "[1,2]");
}

TEST(JsonKept, KeptMembersJoinInKeyOrderAndGiveWayToReadOnes) {
    auto members = jsonObjectMemberTexts(R"({"b":1.5,"d":18446744073709551616})");
    ASSERT_TRUE(members);
    KeptJsonEntries kept;
    for (const auto& m : *members) kept.keepMember(m);
    EXPECT_EQ(kept.writeObject({{"a", "1"}, {"c", "3"}}), R"({"a":1,"b":1.5,"c":3,"d":18446744073709551616})");
    EXPECT_EQ(kept.writeObject({{"b", "2"}}), R"({"b":2,"d":18446744073709551616})");
    EXPECT_EQ(KeptJsonEntries().writeObject({{"k\"", "1"}}), R"({"k\"":1})");
}

}  // namespace
}  // namespace platform
