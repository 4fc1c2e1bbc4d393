#include "platform/values/Json.h"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace {

using namespace platform;

bool failsWith(const auto& result, JsonErrorCode code) {
    return !result && result.error().domain == kJsonErrorDomain && result.error().code == static_cast<int>(code);
}

TEST(Json, EncodesCompactlyInInsertionOrder) {
    Json j;
    j["zeta"] = 1;
    j["alpha"] = Json::array({true, nullptr, "x/y"});
    j["mid"] = {{"b", 2.5}, {"a", "é"}};
    EXPECT_EQ(encodeJson(j).value(), R"({"zeta":1,"alpha":[true,null,"x/y"],"mid":{"b":2.5,"a":"é"}})");
}

TEST(Json, RefusesToWriteNonFiniteNumbersOrBrokenText) {
    Json j = {{"ok", 1.0}, {"list", {1.0, std::numeric_limits<double>::quiet_NaN()}}};
    EXPECT_TRUE(failsWith(encodeJson(j), JsonErrorCode::notEncodable));
    EXPECT_TRUE(failsWith(encodeJson(Json(std::numeric_limits<double>::infinity())), JsonErrorCode::notEncodable));
    EXPECT_TRUE(failsWith(encodeJson(Json("\xFF\xFE")), JsonErrorCode::notEncodable));
}

TEST(Json, DecodeReportsErrorsInsteadOfThrowing) {
    auto good = decodeJson(std::string_view(R"( {"b":1,"a":[2]} )"));
    ASSERT_TRUE(good);
    EXPECT_EQ(good->begin().key(), "b");  // order of the text is kept
    for (const char* bad : {"", "{", "{\"a\":1,}", "[1] [2]", "nul", "\"\xFF\""})
        EXPECT_TRUE(failsWith(decodeJson(std::string_view(bad)), JsonErrorCode::invalidJson)) << bad;
    EXPECT_TRUE(decodeJson(asBytes("[1,2]")));
}

TEST(Json, TypedReadersAreStrict) {
    const Json o = Json::parse(R"({
        "s": "text", "i": 42, "whole": 3.0, "frac": 3.5, "big": 1e19, "neg": -7,
        "d": 2, "b": true, "n": null, "u": "e621e1f8-c36c-495a-93fc-0c247a3e6e5f",
        "badUuid": "nope", "date": 86400.5, "obj": {}, "arr": []})");

    EXPECT_EQ(requireString(o, "s").value(), "text");
    EXPECT_EQ(requireInt64(o, "i").value(), 42);
    EXPECT_EQ(requireInt64(o, "whole").value(), 3);
    EXPECT_EQ(requireInt64(o, "neg").value(), -7);
    EXPECT_EQ(requireDouble(o, "d").value(), 2.0);
    EXPECT_EQ(requireBool(o, "b").value(), true);
    EXPECT_EQ(requireUuid(o, "u").value().uuidString(), "E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
    EXPECT_EQ(requireDate(o, "date").value().timeIntervalSinceReferenceDate(), 86400.5);
    EXPECT_TRUE(requireObject(o, "obj"));
    EXPECT_TRUE(requireArray(o, "arr"));

    EXPECT_TRUE(failsWith(requireString(o, "missing"), JsonErrorCode::keyNotFound));
    EXPECT_TRUE(failsWith(requireString(o, "n"), JsonErrorCode::keyNotFound));
    EXPECT_TRUE(failsWith(requireString(o, "i"), JsonErrorCode::typeMismatch));
    EXPECT_TRUE(failsWith(requireBool(o, "i"), JsonErrorCode::typeMismatch));
    EXPECT_TRUE(failsWith(requireInt64(o, "s"), JsonErrorCode::typeMismatch));
    EXPECT_TRUE(failsWith(requireInt64(o, "frac"), JsonErrorCode::invalidValue));
    EXPECT_TRUE(failsWith(requireInt64(o, "big"), JsonErrorCode::invalidValue));
    EXPECT_TRUE(failsWith(requireUuid(o, "badUuid"), JsonErrorCode::invalidValue));
    EXPECT_TRUE(failsWith(requireObject(o, "arr"), JsonErrorCode::typeMismatch));
    EXPECT_TRUE(failsWith(requireString(Json::array(), "s"), JsonErrorCode::notAnObject));

    EXPECT_EQ(optionalString(o, "s").value(), "text");
    EXPECT_EQ(optionalString(o, "missing").value(), std::nullopt);
    EXPECT_EQ(optionalDouble(o, "n").value(), std::nullopt);
    EXPECT_TRUE(failsWith(optionalDouble(o, "s"), JsonErrorCode::typeMismatch));
    EXPECT_EQ(optionalUuid(o, "missing").value(), std::nullopt);
    EXPECT_TRUE(failsWith(optionalUuid(o, "badUuid"), JsonErrorCode::invalidValue));
}

TEST(Json, Int64LimitsAreExact) {
    const Json o = Json::parse(R"({"max": 9223372036854775807, "over": 9223372036854775808, "min": -9223372036854775808})");
    EXPECT_EQ(requireInt64(o, "max").value(), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(requireInt64(o, "min").value(), std::numeric_limits<std::int64_t>::min());
    EXPECT_TRUE(failsWith(requireInt64(o, "over"), JsonErrorCode::invalidValue));
}

}  // namespace
