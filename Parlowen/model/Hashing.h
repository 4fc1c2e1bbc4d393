#pragma once

#include <cstddef>
#include <functional>
#include <optional>

namespace parlowen {

// Folds one more hash into a running seed (order matters).
inline void hashCombine(std::size_t& seed, std::size_t h) {
    seed ^= h + 0x9E3779B97F4A7C15ull + (seed << 6) + (seed >> 2);
}

template <class T>
void hashValue(std::size_t& seed, const T& value) {
    hashCombine(seed, std::hash<T>{}(value));
}

// A presence flag, then the value when present.
template <class T>
void hashValue(std::size_t& seed, const std::optional<T>& value) {
    hashCombine(seed, value.has_value());
    if (value) hashValue(seed, *value);
}

}  // namespace parlowen
