#include "Parlowen/brand/BrandColors.h"

#include <cstdint>
#include <limits>
#include <string>

namespace parlowen {
namespace {

bool isTrimmed(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

Color colorFromHex(std::string_view text) {
    while (!text.empty() && isTrimmed(text.front())) text.remove_prefix(1);
    while (!text.empty() && isTrimmed(text.back())) text.remove_suffix(1);
    std::string digits;
    digits.reserve(text.size());
    for (char c : text)
        if (c != '#') digits += c;

    std::string_view rest = digits;
    if (rest.size() >= 2 && rest[0] == '0' && (rest[1] == 'x' || rest[1] == 'X')) rest.remove_prefix(2);

    std::uint64_t value = 0;
    for (char c : rest) {
        const int d = hexDigit(c);
        if (d < 0) break;
        if (value > (std::numeric_limits<std::uint64_t>::max() >> 4)) {
            value = std::numeric_limits<std::uint64_t>::max();  // too large: saturates, and stays so
            continue;
        }
        value = (value << 4) | static_cast<std::uint64_t>(d);
    }
    return Color::rgb8(static_cast<int>((value >> 16) & 0xFF), static_cast<int>((value >> 8) & 0xFF),
                       static_cast<int>(value & 0xFF));
}

// Function-local statics: made once, on first use, safely from any thread.
const Color& brandAmber() { static const Color c = colorFromHex("E8A04C"); return c; }
const Color& brandAmberDeep() { static const Color c = colorFromHex("D17F2A"); return c; }
const Color& brandMoss() { static const Color c = colorFromHex("5A7B5C"); return c; }
const Color& brandSage() { static const Color c = colorFromHex("8FA47C"); return c; }
const Color& brandCoral() { static const Color c = colorFromHex("D97E70"); return c; }
const Color& brandLinen() { static const Color c = colorFromHex("F5EBDC"); return c; }
const Color& brandCream() { static const Color c = colorFromHex("FAF3E7"); return c; }
const Color& brandInk() { static const Color c = colorFromHex("3D2E22"); return c; }
const Color& brandNight() { static const Color c = colorFromHex("1F1A14"); return c; }

}  // namespace parlowen
