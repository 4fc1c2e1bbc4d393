#include "platform/defaults/DefaultsValue.h"

#include <cmath>

namespace platform {

bool operator==(const DefaultsValue& a, const DefaultsValue& b) {
    if (a.storage_.index() != b.storage_.index()) return false;
    return std::visit(
        [&](const auto& x) {
            using T = std::decay_t<decltype(x)>;
            const T& y = std::get<T>(b.storage_);
            if constexpr (std::is_floating_point_v<T>)
                return x == y || (std::isnan(x) && std::isnan(y));
            else
                return x == y;
        },
        a.storage_);
}

std::string_view defaultsTypeName(DefaultsValue::Type type) {
    switch (type) {
        case DefaultsValue::Type::boolean: return "bool";
        case DefaultsValue::Type::integer: return "integer";
        case DefaultsValue::Type::float32: return "float";
        case DefaultsValue::Type::float64: return "double";
        case DefaultsValue::Type::string: return "string";
        case DefaultsValue::Type::date: return "date";
        case DefaultsValue::Type::data: return "data";
        case DefaultsValue::Type::array: return "array";
        case DefaultsValue::Type::dictionary: return "dictionary";
    }
    return "unknown";
}

}  // namespace platform
