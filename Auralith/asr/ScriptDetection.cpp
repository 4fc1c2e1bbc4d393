#include "Auralith/asr/ScriptDetection.h"

#include "platform/text/Unicode.h"

namespace auralith {

namespace {

template <class InScript>
bool containsOutside(std::string_view text, InScript inScript) {
    // An ill-formed sequence decodes to U+FFFD, which lies outside every script here.
    for (std::size_t i = 0; i < text.size();) {
        const auto decoded = platform::text::decodeUtf8(text, i);
        if (!inScript(decoded.codePoint)) return true;
        i += decoded.length;
    }
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
