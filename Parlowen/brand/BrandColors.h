#pragma once

// The brand's colours and the hexadecimal colour parser behind them. The
// brand colours never follow the theme; translucent variants are formed
// where they are used (`brandInk().opacity(0.75)`).

#include <string_view>

#include "platform/ui/Color.h"

namespace parlowen {

using platform::ui::Color;

// Parses a hexadecimal colour text; never fails (unreadable text is black).
// Blanks and line breaks around the text are removed, then every "#"
// anywhere in it; the longest leading hexadecimal number (optional "0x")
// is read as an unsigned 64-bit value (saturating at the largest one) and
// its low 24 bits are red, green and blue. Opacity is 1. Short forms are not
// expanded and a fourth byte is not an alpha value.
Color colorFromHex(std::string_view text);

// Each made once, on first use.
const Color& brandAmber();      // E8A04C
const Color& brandAmberDeep();  // D17F2A
const Color& brandMoss();       // 5A7B5C
const Color& brandSage();       // 8FA47C
const Color& brandCoral();      // D97E70
const Color& brandLinen();      // F5EBDC
const Color& brandCream();      // FAF3E7
const Color& brandInk();        // 3D2E22
const Color& brandNight();      // 1F1A14

}  // namespace parlowen
