#include "Parlowen/dictation/CharacterProperties.h"

#include <unicode/uchar.h>

namespace parlowen::characters {

bool isAlphabetic(char32_t c) { return u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_ALPHABETIC); }

bool hasNumericType(char32_t c) {
    return u_getIntPropertyValue(static_cast<UChar32>(c), UCHAR_NUMERIC_TYPE) != U_NT_NONE;
}

bool isAlphanumeric(char32_t c) {
    constexpr auto mask = U_GC_L_MASK | U_GC_M_MASK | U_GC_N_MASK;
    return (U_GET_GC_MASK(static_cast<UChar32>(c)) & mask) != 0;
}

bool isUppercase(char32_t c) { return u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_UPPERCASE); }

}  // namespace parlowen::characters
