#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json_fwd.hpp>

#include "platform/runtime/Error.h"
#include "platform/values/Bytes.h"
#include "platform/values/Date.h"
#include "platform/values/Uuid.h"

namespace platform {

// JSON values keep their members in insertion order, so written objects list
// their members in the order the code adds them.
using Json = nlohmann::ordered_json;

// Errors of the JSON helpers: domain "json".
inline constexpr const char* kJsonErrorDomain = "json";
enum class JsonErrorCode {
    invalidJson = 1,   // not JSON text (syntax, invalid UTF-8)
    notAnObject = 2,   // a member was asked of something that is not an object
    keyNotFound = 3,   // a required member is absent (or null)
    typeMismatch = 4,  // a member has another JSON type than asked
    invalidValue = 5,  // right type, unusable value (integer out of range, malformed UUID)
    notEncodable = 6,  // a non-finite number or invalid UTF-8 in a string
};
// An error of this domain, with the code's case name; for readers of
// JSON-backed formats that report their own mismatches.
Error jsonError(JsonErrorCode code, std::string description);

// Compact text (no blanks, no line breaks), members in their stored order.
// Fails rather than writing a NaN or infinity as null.
Result<std::string> encodeJson(const Json& value);
// Reads one JSON value; anything but blanks after it is an error.
Result<Json> decodeJson(std::string_view text);
Result<Json> decodeJson(ByteView bytes);

// Typed member readers for hand-written decoders. `object` must be a JSON object.
// "require" fails with keyNotFound when the member is absent or null; "optional"
// gives nothing then. Either fails with typeMismatch when the member has another type.
// Integers accept whole numbers written with a fraction ("3.0") and reject 3.5 and
// values out of range; doubles accept integers. Booleans never come from numbers.
Result<const Json*> requireMember(const Json& object, std::string_view key);
Result<const Json*> optionalMember(const Json& object, std::string_view key);  // nullptr when absent

Result<std::string> requireString(const Json& object, std::string_view key);
Result<std::optional<std::string>> optionalString(const Json& object, std::string_view key);
Result<double> requireDouble(const Json& object, std::string_view key);
Result<std::optional<double>> optionalDouble(const Json& object, std::string_view key);
Result<std::int64_t> requireInt64(const Json& object, std::string_view key);
Result<std::optional<std::int64_t>> optionalInt64(const Json& object, std::string_view key);
// The same integer rules for a value that is no member (an array element);
// `what` names it in the error ("An element of \"hours\"").
Result<std::int64_t> int64Value(const Json& value, std::string_view what);
Result<bool> requireBool(const Json& object, std::string_view key);
Result<std::optional<bool>> optionalBool(const Json& object, std::string_view key);
// A UUID in its text form (either case).
Result<Uuid> requireUuid(const Json& object, std::string_view key);
Result<std::optional<Uuid>> optionalUuid(const Json& object, std::string_view key);
// A date as a number of seconds since the reference date.
Result<Date> requireDate(const Json& object, std::string_view key);
Result<std::optional<Date>> optionalDate(const Json& object, std::string_view key);
// Members that hold an object or an array.
Result<const Json*> requireObject(const Json& object, std::string_view key);
Result<const Json*> requireArray(const Json& object, std::string_view key);

}  // namespace platform
