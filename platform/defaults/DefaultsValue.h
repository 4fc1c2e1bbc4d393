#pragma once

#include <concepts>
#include <cstdint>
#include <limits>
#include <map>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/values/Bytes.h"
#include "platform/values/Date.h"

namespace platform {

// One value of the user defaults. It keeps the type it was stored with: a
// float stays a float and an integer stays an integer across a reload.
class DefaultsValue {
public:
    enum class Type { boolean, integer, float32, float64, string, date, data, array, dictionary };
    using Array = std::vector<DefaultsValue>;
    using Dictionary = std::map<std::string, DefaultsValue>;

    DefaultsValue(bool v) : storage_(v) {}
    template <std::integral I>
        requires(!std::same_as<I, bool>)
    DefaultsValue(I v) : storage_(toInt64(v)) {}
    DefaultsValue(float v) : storage_(v) {}
    DefaultsValue(double v) : storage_(v) {}
    DefaultsValue(std::string v) : storage_(std::move(v)) {}
    DefaultsValue(std::string_view v) : storage_(std::string(v)) {}
    DefaultsValue(const char* v) : storage_(std::string(v ? v : "")) {}
    DefaultsValue(Date v) : storage_(v) {}
    DefaultsValue(Bytes v) : storage_(std::move(v)) {}
    DefaultsValue(Array v) : storage_(std::move(v)) {}
    DefaultsValue(Dictionary v) : storage_(std::move(v)) {}

    Type type() const { return static_cast<Type>(storage_.index()); }

    // The value when it has exactly type T (bool, std::int64_t, float, double,
    // std::string, Date, Bytes, Array, Dictionary); nullptr otherwise.
    template <class T>
    const T* get() const {
        return std::get_if<T>(&storage_);
    }

    // Equal type and value; two NaNs of the same type count as equal.
    friend bool operator==(const DefaultsValue& a, const DefaultsValue& b);

private:
    template <class I>
    static std::int64_t toInt64(I v) {
        if constexpr (std::is_unsigned_v<I> && sizeof(I) >= sizeof(std::int64_t))
            if (v > static_cast<I>(std::numeric_limits<std::int64_t>::max()))
                return std::numeric_limits<std::int64_t>::max();
        return static_cast<std::int64_t>(v);
    }

    // Alternative order matches Type.
    std::variant<bool, std::int64_t, float, double, std::string, Date, Bytes, Array, Dictionary> storage_;
};

using DefaultsArray = DefaultsValue::Array;
using DefaultsDictionary = DefaultsValue::Dictionary;

// "bool", "integer", "float", "double", "string", "date", "data", "array",
// "dictionary": also the type tags of the defaults file.
std::string_view defaultsTypeName(DefaultsValue::Type type);

}  // namespace platform
