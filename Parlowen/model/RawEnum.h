#pragma once

// Enumerations with text raw values, and the JSON codec every stored value uses.
//
// An enumeration takes part by specialising `EnumCases<E>` with its cases in
// declaration order:
//
//   template <> struct EnumCases<Theme> {
//       static constexpr std::string_view typeName = "Theme";
//       static constexpr std::array cases{EnumCase{Theme::hearth, "hearth"}, ...};
//   };
//
// It then gets rawValue(), fromRawValue<E>(), allCases<E>() and a JSON form
// that is its raw value as a JSON string (any other text fails to decode).

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/runtime/Error.h"
#include "platform/values/Json.h"

namespace parlowen {

template <class E>
struct EnumCase {
    E value;
    std::string_view raw;
};
template <class E>
EnumCase(E, const char*) -> EnumCase<E>;

template <class E>
struct EnumCases;

template <class E>
concept RawValueEnum = requires {
    EnumCases<E>::cases;
    EnumCases<E>::typeName;
};

template <RawValueEnum E>
constexpr std::string_view rawValue(E e) {
    for (const auto& c : EnumCases<E>::cases)
        if (c.value == e) return c.raw;
    return {};
}

// The case whose raw value equals `raw` exactly (case-sensitive), else nothing.
template <RawValueEnum E>
constexpr std::optional<E> fromRawValue(std::string_view raw) {
    for (const auto& c : EnumCases<E>::cases)
        if (c.raw == raw) return c.value;
    return std::nullopt;
}

// Every case, in declaration order.
template <RawValueEnum E>
constexpr auto allCases() {
    constexpr auto& table = EnumCases<E>::cases;
    std::array<E, table.size()> out{};
    for (std::size_t i = 0; i < table.size(); ++i) out[i] = table[i].value;
    return out;
}

// ---- JSON codec --------------------------------------------------------------

// Specialised per stored type: static Json encode(const T&) and
// static platform::Result<T> decode(const Json&).
template <class T>
struct JsonCodec;

// Hand-written decoders report mismatches as the platform's member readers do.
using platform::jsonError;

namespace detail {
platform::Json rawValueJson(std::string_view raw);
// The JSON value must be a string.
platform::Result<std::string> stringFromJson(const platform::Json& json, std::string_view typeName);
platform::Error unknownRawValue(std::string_view typeName, std::string_view raw);
}  // namespace detail

template <RawValueEnum E>
struct JsonCodec<E> {
    static auto encode(E e) { return detail::rawValueJson(rawValue(e)); }
    static platform::Result<E> decode(const platform::Json& json) {
        auto raw = detail::stringFromJson(json, EnumCases<E>::typeName);
        if (!raw) return platform::fail(raw.error());
        if (auto e = fromRawValue<E>(*raw)) return *e;
        return platform::fail(detail::unknownRawValue(EnumCases<E>::typeName, *raw));
    }
};

// (Deduced return types keep this header free of the full JSON library.)
template <class T>
auto toJson(const T& value) {
    return JsonCodec<T>::encode(value);
}

template <class T>
platform::Result<T> fromJson(const platform::Json& json) {
    return JsonCodec<T>::decode(json);
}

}  // namespace parlowen
