#pragma once

#include <string>

namespace platform {

// The shortest text that reads back as the same value, shaped the way the
// application has always printed numbers:
//   2.0 -> "2.0", 0.1 -> "0.1", 100.0 -> "100.0", -0.0 -> "-0.0",
//   1e16 -> "1e+16", 1e-5 -> "1e-05", 5e-324 -> "5e-324",
//   infinity -> "inf" / "-inf", NaN -> "nan" (or "-nan" when its sign bit is set).
// Decimal notation is used from 1e-4 up to the largest exactly representable
// integer run (2^53 for double, 2^24 for float); beyond either end the
// exponential form with a signed, at least two-digit exponent is used, and a
// one-digit mantissa carries no ".0".
std::string formatShortest(double value);

// The same rules with the digits of the shortest float that reads back as
// `value`: 0.1f -> "0.1" (not "0.10000000149011612"), 16777216.0f -> "16777216.0",
// 1e8f -> "1e+08".
std::string formatShortest(float value);

}  // namespace platform
