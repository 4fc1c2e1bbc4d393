#include "Parlowen/model/RawEnum.h"

#include <fmt/core.h>
#include <nlohmann/json.hpp>

#include "platform/values/Json.h"

namespace parlowen {

namespace detail {

platform::Json rawValueJson(std::string_view raw) { return platform::Json(std::string(raw)); }

platform::Result<std::string> stringFromJson(const platform::Json& json, std::string_view typeName) {
    if (!json.is_string())
        return platform::fail(
            jsonError(platform::JsonErrorCode::typeMismatch,
                      fmt::format("Expected to decode {} from a string but found {} instead.", typeName, json.type_name())));
    return json.get<std::string>();
}

platform::Error unknownRawValue(std::string_view typeName, std::string_view raw) {
    return jsonError(platform::JsonErrorCode::invalidValue,
                     fmt::format("Cannot initialize {} from invalid String value {}", typeName, raw));
}

}  // namespace detail
}  // namespace parlowen
