#include "platform/values/Json.h"

#include <cmath>
#include <limits>

#include <fmt/core.h>
#include <nlohmann/json.hpp>

namespace platform {
Error jsonError(JsonErrorCode code, std::string description) {
    static constexpr const char* kCases[] = {"",           "invalidJson",  "notAnObject",
                                             "keyNotFound", "typeMismatch", "invalidValue",
                                             "notEncodable"};
    return Error::make(kJsonErrorDomain, static_cast<int>(code), kCases[static_cast<int>(code)],
                       std::move(description));
}

namespace {

Error mismatch(std::string_view key, std::string_view expected, const Json& found) {
    return jsonError(JsonErrorCode::typeMismatch,
                     fmt::format("Member \"{}\" is {}, expected {}", key, found.type_name(), expected));
}

bool hasNonFinite(const Json& value) {
    if (value.is_number_float()) return !std::isfinite(value.get<double>());
    if (value.is_structured()) {
        for (const auto& item : value)
            if (hasNonFinite(item)) return true;
    }
    return false;
}

// Runs a reader on a member that may be absent: absent or null -> nothing.
template <class T, class Read>
Result<std::optional<T>> optionalOf(const Json& object, std::string_view key, Read read) {
    auto member = optionalMember(object, key);
    if (!member) return fail(member.error());
    if (*member == nullptr) return std::optional<T>{};
    auto value = read(**member);
    if (!value) return fail(value.error());
    return std::optional<T>(std::move(*value));
}

template <class T, class Read>
Result<T> requireOf(const Json& object, std::string_view key, Read read) {
    auto member = requireMember(object, key);
    if (!member) return fail(member.error());
    return read(**member);
}

auto readString(std::string_view key) {
    return [key](const Json& v) -> Result<std::string> {
        if (!v.is_string()) return fail(mismatch(key, "a string", v));
        return v.get<std::string>();
    };
}

auto readDouble(std::string_view key) {
    return [key](const Json& v) -> Result<double> {
        if (!v.is_number()) return fail(mismatch(key, "a number", v));
        return v.get<double>();
    };
}

// `what` names the value in errors ("Member \"x\"", "An element of \"y\"").
Result<std::int64_t> int64From(const Json& v, const std::string& what) {
    if (v.is_number_integer()) {
        if (v.is_number_unsigned() &&
            v.get<std::uint64_t>() > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            return fail(jsonError(JsonErrorCode::invalidValue, fmt::format("{} does not fit a 64-bit integer", what)));
        return v.get<std::int64_t>();
    }
    if (!v.is_number_float())
        return fail(jsonError(JsonErrorCode::typeMismatch, fmt::format("{} is {}, expected an integer", what, v.type_name())));
    const double d = v.get<double>();
    // 2^63 itself is out of range; every double below it converts exactly.
    if (d != std::trunc(d) || d < -0x1.0p63 || d >= 0x1.0p63)
        return fail(jsonError(JsonErrorCode::invalidValue, fmt::format("{} is not a 64-bit integer", what)));
    return static_cast<std::int64_t>(d);
}

auto readInt64(std::string_view key) {
    return [key](const Json& v) -> Result<std::int64_t> { return int64From(v, fmt::format("Member \"{}\"", key)); };
}

auto readBool(std::string_view key) {
    return [key](const Json& v) -> Result<bool> {
        if (!v.is_boolean()) return fail(mismatch(key, "a Boolean", v));
        return v.get<bool>();
    };
}

auto readUuid(std::string_view key) {
    return [key](const Json& v) -> Result<Uuid> {
        if (!v.is_string()) return fail(mismatch(key, "a UUID string", v));
        auto u = Uuid::fromString(v.get_ref<const std::string&>());
        if (!u) return fail(jsonError(JsonErrorCode::invalidValue,
                                      fmt::format("Member \"{}\" is not a valid UUID", key)));
        return *u;
    };
}

auto readDate(std::string_view key) {
    return [key](const Json& v) -> Result<Date> {
        if (!v.is_number()) return fail(mismatch(key, "a number of seconds", v));
        return Date::fromTimeIntervalSinceReferenceDate(v.get<double>());
    };
}

}  // namespace

Result<std::string> encodeJson(const Json& value) {
    if (hasNonFinite(value))
        return fail(jsonError(JsonErrorCode::notEncodable, "A non-finite number cannot be written as JSON"));
    try {
        return value.dump();
    } catch (const Json::exception& e) {
        return fail(jsonError(JsonErrorCode::notEncodable, e.what()));
    }
}

Result<Json> decodeJson(std::string_view text) {
    try {
        return Json::parse(text);
    } catch (const Json::exception& e) {
        return fail(jsonError(JsonErrorCode::invalidJson, e.what()));
    }
}

Result<Json> decodeJson(ByteView bytes) {
    return decodeJson(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

Result<const Json*> optionalMember(const Json& object, std::string_view key) {
    if (!object.is_object())
        return fail(jsonError(JsonErrorCode::notAnObject,
                              fmt::format("Expected an object holding \"{}\", found {}", key, object.type_name())));
    auto it = object.find(key);
    if (it == object.end() || it->is_null()) return static_cast<const Json*>(nullptr);
    return &*it;
}

Result<const Json*> requireMember(const Json& object, std::string_view key) {
    auto member = optionalMember(object, key);
    if (!member) return member;
    if (*member == nullptr)
        return fail(jsonError(JsonErrorCode::keyNotFound, fmt::format("Missing member \"{}\"", key)));
    return member;
}

Result<std::string> requireString(const Json& o, std::string_view k) { return requireOf<std::string>(o, k, readString(k)); }
Result<std::optional<std::string>> optionalString(const Json& o, std::string_view k) {
    return optionalOf<std::string>(o, k, readString(k));
}
Result<double> requireDouble(const Json& o, std::string_view k) { return requireOf<double>(o, k, readDouble(k)); }
Result<std::optional<double>> optionalDouble(const Json& o, std::string_view k) {
    return optionalOf<double>(o, k, readDouble(k));
}
Result<std::int64_t> requireInt64(const Json& o, std::string_view k) {
    return requireOf<std::int64_t>(o, k, readInt64(k));
}
Result<std::optional<std::int64_t>> optionalInt64(const Json& o, std::string_view k) {
    return optionalOf<std::int64_t>(o, k, readInt64(k));
}
Result<std::int64_t> int64Value(const Json& value, std::string_view what) {
    return int64From(value, std::string(what));
}
Result<bool> requireBool(const Json& o, std::string_view k) { return requireOf<bool>(o, k, readBool(k)); }
Result<std::optional<bool>> optionalBool(const Json& o, std::string_view k) {
    return optionalOf<bool>(o, k, readBool(k));
}
Result<Uuid> requireUuid(const Json& o, std::string_view k) { return requireOf<Uuid>(o, k, readUuid(k)); }
Result<std::optional<Uuid>> optionalUuid(const Json& o, std::string_view k) {
    return optionalOf<Uuid>(o, k, readUuid(k));
}
Result<Date> requireDate(const Json& o, std::string_view k) { return requireOf<Date>(o, k, readDate(k)); }
Result<std::optional<Date>> optionalDate(const Json& o, std::string_view k) {
    return optionalOf<Date>(o, k, readDate(k));
}

Result<const Json*> requireObject(const Json& o, std::string_view k) {
    auto member = requireMember(o, k);
    if (member && !(*member)->is_object()) return fail(mismatch(k, "an object", **member));
    return member;
}

Result<const Json*> requireArray(const Json& o, std::string_view k) {
    auto member = requireMember(o, k);
    if (member && !(*member)->is_array()) return fail(mismatch(k, "an array", **member));
    return member;
}

}  // namespace platform
