#pragma once

// Unicode properties of single code points that the dictation text tools
// test ("is this character a letter?" asks about its first scalar).

namespace parlowen::characters {

bool isAlphabetic(char32_t c);      // the Alphabetic property
bool hasNumericType(char32_t c);    // any numeric type (digits, fractions, roman numerals, ...)
bool isAlphanumeric(char32_t c);    // general category L*, M* or N*
bool isUppercase(char32_t c);       // the Uppercase property

}  // namespace parlowen::characters
