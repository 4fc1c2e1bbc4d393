#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Parlowen/brand/BrandColors.h"

namespace platform::ui {
void PrintTo(const Color& c, std::ostream* os) {
    *os << "rgb(" << c.red * 255 << ", " << c.green * 255 << ", " << c.blue * 255 << ", a=" << c.alpha << ")";
}
}  // namespace platform::ui

namespace parlowen {
namespace {

TEST(ColorFromHex, ReadsTheLeadingHexNumberAfterTrimmingAndRemovingHashes) {
    const Color amber = Color::rgb8(232, 160, 76);
    struct Case {
        std::string text;
        Color expected;
    };
    const std::vector<Case> cases{
        {"#E8A04C", amber},
        {"E8A04C", amber},
        {"0xE8A04C", amber},
        {"0XE8A04C", amber},
        {"  #e8a04c\n", amber},
        {"E8#A0#4C", amber},                            // every "#" goes before reading
        {"E8A04CFF", Color::rgb8(0xA0, 0x4C, 0xFF)},    // one 32-bit number, no alpha byte
        {"FFF", Color::rgb8(0x00, 0x0F, 0xFF)},         // short forms are not expanded
        {"", Color::black()},
        {"#", Color::black()},
        {"zz", Color::black()},                         // no hexadecimal digit
        {"12G4", Color::rgb8(0, 0, 0x12)},              // reading stops at the first non-digit
        {"0x", Color::black()},
        {"E8A04CE8A04CE8A04C", Color::white()},         // over 64 bits: the largest value, low bytes all FF
        {"1E8A04C", amber},                             // bits above 23 are ignored
        {"  \t\r\n", Color::black()},
        {" E8 A0 4C", Color::rgb8(0, 0, 0xE8)},         // inner blanks end the number
    };
    for (const auto& c : cases) EXPECT_EQ(colorFromHex(c.text), c.expected) << '"' << c.text << '"';
}

TEST(BrandColors, AreTheNineOpaqueBrandValuesMadeOnce) {
    EXPECT_EQ(brandAmber(), Color::rgb8(0xE8, 0xA0, 0x4C));
    EXPECT_EQ(brandAmberDeep(), Color::rgb8(0xD1, 0x7F, 0x2A));
    EXPECT_EQ(brandMoss(), Color::rgb8(0x5A, 0x7B, 0x5C));
    EXPECT_EQ(brandSage(), Color::rgb8(0x8F, 0xA4, 0x7C));
    EXPECT_EQ(brandCoral(), Color::rgb8(0xD9, 0x7E, 0x70));
    EXPECT_EQ(brandLinen(), Color::rgb8(0xF5, 0xEB, 0xDC));
    EXPECT_EQ(brandCream(), Color::rgb8(0xFA, 0xF3, 0xE7));
    EXPECT_EQ(brandInk(), Color::rgb8(0x3D, 0x2E, 0x22));
    EXPECT_EQ(brandNight(), Color::rgb8(0x1F, 0x1A, 0x14));
    EXPECT_EQ(&brandAmber(), &brandAmber());
    EXPECT_DOUBLE_EQ(brandInk().opacity(0.75).alpha, 0.75) << "translucency is formed at the point of use";
}

}  // namespace
}  // namespace parlowen
