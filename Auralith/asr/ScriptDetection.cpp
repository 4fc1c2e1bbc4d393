#include "Auralith/asr/ScriptDetection.h"

#include <cstdint>

namespace auralith {

namespace {

constexpr char32_t kInvalid = 0xFFFD;

// Decodes the scalar at `i` and advances past it; malformed input gives U+FFFD
// and advances one byte.
char32_t nextScalar(std::string_view s, std::size_t& i) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    int length = 0;
    char32_t cp = 0;
    if ((b0 & 0xE0) == 0xC0) {
        length = 2;
        cp = b0 & 0x1F;
    } else if ((b0 & 0xF0) == 0xE0) {
        length = 3;
        cp = b0 & 0x0F;
    } else if ((b0 & 0xF8) == 0xF0) {
        length = 4;
        cp = b0 & 0x07;
    } else {
        ++i;
        return kInvalid;
    }
    if (i + length > s.size()) {
        ++i;
        return kInvalid;
    }
    for (int k = 1; k < length; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80) {
            ++i;
            return kInvalid;
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    static constexpr char32_t minimum[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < minimum[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++i;
        return kInvalid;
    }
    i += length;
    return cp;
}

template <class InScript>
bool containsOutside(std::string_view text, InScript inScript) {
    for (std::size_t i = 0; i < text.size();)
        if (!inScript(nextScalar(text, i))) return true;
    return false;
}

}  // namespace

bool containsNonLatinLetters(std::string_view text) {
    return containsOutside(text, [](char32_t c) {
        return (c >= 0x20 && c <= 0x7F) || (c >= 0xA0 && c <= 0x24F) || (c >= 0x300 && c <= 0x36F) ||
               (c >= 0x1E00 && c <= 0x1EFF);
    });
}

bool containsNonCyrillicLetters(std::string_view text) {
    return containsOutside(text, [](char32_t c) {
        return (c >= 0x20 && c <= 0x40) || (c >= 0x5B && c <= 0x60) || (c >= 0x7B && c <= 0x7F) ||
               (c >= 0x400 && c <= 0x4FF);
    });
}

}  // namespace auralith
