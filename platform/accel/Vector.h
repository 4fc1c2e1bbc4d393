#pragma once

// Small vector routines that need a precise contract.

#include <cstddef>
#include <optional>
#include <span>

namespace platform::accel {

template <class T>
struct MaxIndex {
    std::size_t index = 0;
    T value{};
};

// The largest value and its index; on ties the lowest index wins. NaN values
// never win over a number; a list of only NaN gives index 0. Nothing for an
// empty list.
std::optional<MaxIndex<float>> argmax(std::span<const float> values);
std::optional<MaxIndex<double>> argmax(std::span<const double> values);

}  // namespace platform::accel
