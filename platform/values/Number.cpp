#include "platform/values/Number.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string_view>

namespace platform {
namespace {

template <class F>
std::string shape(F value, F largestExactInteger) {
    const bool negative = std::signbit(value);
    if (std::isnan(value)) return negative ? "-nan" : "nan";
    if (std::isinf(value)) return negative ? "-inf" : "inf";
    if (value == F(0)) return negative ? "-0.0" : "0.0";

    // Shortest round-trip digits in scientific form: [-]d[.ddd]e[+-]xx
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
    std::string_view sci(buf, static_cast<std::size_t>(res.ptr - buf));
    if (negative) sci.remove_prefix(1);
    const auto e = sci.find('e');
    std::string digits;
    for (char c : sci.substr(0, e))
        if (c != '.') digits.push_back(c);
    const int exponent = std::atoi(std::string(sci.substr(e + 1)).c_str());

    std::string out = negative ? "-" : "";
    if (exponent < -4 || std::fabs(value) > largestExactInteger) {
        out += digits[0];
        if (digits.size() > 1) {
            out += '.';
            out.append(digits, 1);
        }
        out += 'e';
        out += exponent < 0 ? '-' : '+';
        const int magnitude = std::abs(exponent);
        if (magnitude < 10) out += '0';
        out += std::to_string(magnitude);
        return out;
    }
    if (exponent >= 0) {
        const auto intDigits = static_cast<std::size_t>(exponent) + 1;
        if (digits.size() <= intDigits) {
            out += digits;
            out.append(intDigits - digits.size(), '0');
            out += ".0";
        } else {
            out.append(digits, 0, intDigits);
            out += '.';
            out.append(digits, intDigits);
        }
        return out;
    }
    out += "0.";
    out.append(static_cast<std::size_t>(-exponent - 1), '0');
    out += digits;
    return out;
}

}  // namespace

std::string formatShortest(double value) { return shape(value, 0x1.0p53); }

std::string formatShortest(float value) { return shape(value, 0x1.0p24f); }

}  // namespace platform
