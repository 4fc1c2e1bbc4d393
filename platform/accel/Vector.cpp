#include "platform/accel/Vector.h"

#include <cmath>

namespace platform::accel {

namespace {
template <class T>
std::optional<MaxIndex<T>> argmaxOf(std::span<const T> values) {
    if (values.empty()) return std::nullopt;
    std::size_t start = 0;
    while (start < values.size() && std::isnan(values[start])) ++start;
    if (start == values.size()) return MaxIndex<T>{0, values[0]};
    MaxIndex<T> best{start, values[start]};
    for (std::size_t i = start + 1; i < values.size(); ++i) {
        if (values[i] > best.value) best = {i, values[i]};  // strict: an equal later value never wins
    }
    return best;
}
}  // namespace

std::optional<MaxIndex<float>> argmax(std::span<const float> values) { return argmaxOf(values); }
std::optional<MaxIndex<double>> argmax(std::span<const double> values) { return argmaxOf(values); }

}  // namespace platform::accel
