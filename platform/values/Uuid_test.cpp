#include "platform/values/Uuid.h"

#include <set>
#include <unordered_set>

#include <gtest/gtest.h>

namespace {

using platform::Uuid;

TEST(Uuid, ReadsEitherCaseAndPrintsUpperCase) {
    const char* upper = "E621E1F8-C36C-495A-93FC-0C247A3E6E5F";
    for (const char* text : {upper, "e621e1f8-c36c-495a-93fc-0c247a3e6e5f", "e621E1F8-c36C-495a-93FC-0c247a3E6E5f"}) {
        auto u = Uuid::fromString(text);
        ASSERT_TRUE(u) << text;
        EXPECT_EQ(u->uuidString(), upper);
        EXPECT_EQ(u->bytes()[0], 0xE6);
        EXPECT_EQ(u->bytes()[15], 0x5F);
    }
}

TEST(Uuid, RejectsMalformedText) {
    for (const char* text : {
             "",
             "E621E1F8C36C495A93FC0C247A3E6E5F",        // no hyphens
             "{E621E1F8-C36C-495A-93FC-0C247A3E6E5F}",  // braces
             " E621E1F8-C36C-495A-93FC-0C247A3E6E5F",   // blank
             "E621E1F8-C36C-495A-93FC-0C247A3E6E5",     // short
             "E621E1F8-C36C-495A-93FC-0C247A3E6E5FF",   // long
             "E621E1F8-C36C-495A-93FC0-C247A3E6E5F",    // hyphen moved
             "G621E1F8-C36C-495A-93FC-0C247A3E6E5F",    // not hex
             "E621E1F8-C36C-495A-93FC-0C247A3E6E5+",
         })
        EXPECT_FALSE(Uuid::fromString(text)) << text;
}

TEST(Uuid, RandomIsVersion4AndRoundTrips) {
    std::unordered_set<Uuid> seen;
    for (int i = 0; i < 200; ++i) {
        const Uuid u = Uuid::random();
        EXPECT_EQ(u.bytes()[6] >> 4, 4);
        EXPECT_EQ(u.bytes()[8] & 0xC0, 0x80);
        const std::string text = u.uuidString();
        EXPECT_EQ(text[14], '4');
        EXPECT_EQ(Uuid::fromString(text), u);
        seen.insert(u);
    }
    EXPECT_EQ(seen.size(), 200u);
}

TEST(Uuid, OrdersByBytesAndDefaultsToNil) {
    auto a = *Uuid::fromString("00000000-0000-0000-0000-000000000001");
    auto b = *Uuid::fromString("00000000-0000-0000-0000-000000000100");
    EXPECT_LT(a, b);
    EXPECT_TRUE(Uuid().isNil());
    EXPECT_FALSE(a.isNil());
    EXPECT_EQ(std::set<Uuid>({b, a, b}).size(), 2u);
}

}  // namespace
