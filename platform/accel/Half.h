#pragma once

// IEEE 754 half-precision conversion, exact: single to half rounds to nearest
// with ties to even, values past the half range become infinity, NaN stays NaN
// (quieted, sign and the top payload bits kept). Half to single is exact.
// The bulk forms use the processor's conversion instructions when it has them
// and give the same bits as the scalar forms.

#include <cstdint>
#include <span>

namespace platform::accel {

using Half = std::uint16_t;  // the bit pattern of one half-precision number

Half floatToHalf(float value);
float halfToFloat(Half value);

// Converts min(source.size(), destination.size()) values, in order.
void convertFloatToHalf(std::span<const float> source, std::span<Half> destination);
void convertHalfToFloat(std::span<const Half> source, std::span<float> destination);

}  // namespace platform::accel
