#pragma once

#include <string_view>

namespace auralith {

// True as soon as one Unicode scalar lies outside U+0020–U+007F,
// U+00A0–U+024F, U+0300–U+036F and U+1E00–U+1EFF; false for a text with none
// (the empty text included). Bytes that are not valid UTF-8 count as outside.
bool containsNonLatinLetters(std::string_view text);

// True as soon as one Unicode scalar lies outside U+0020–U+0040,
// U+005B–U+0060, U+007B–U+007F and U+0400–U+04FF (so ASCII letters count as
// outside); false otherwise.
bool containsNonCyrillicLetters(std::string_view text);

}  // namespace auralith
