#include "Auralith/asr/ScriptDetection.h"

#include <gtest/gtest.h>

namespace auralith {
namespace {

TEST(ScriptDetectionTest, LatinAndCyrillicRanges) {
    struct Case {
        const char* text;
        bool nonLatin;
        bool nonCyrillic;
    };
    const Case cases[] = {
        {"", false, false},
        {"hello", false, true},
        {"12, 34!", false, false},        // digits, blank and punctuation belong to both
        {"straße", false, true},          // U+00DF
        {"łódź", false, true},            // U+0142, U+00F3, U+017A
        {"și", false, true},              // U+0219
        {"e\xCC\x81", false, true},       // combining acute U+0301
        {"Ḁ", false, true},               // U+1E00
        {"привет", true, false},
        {"при вет 42", true, false},
        {"привет hi", true, true},
        {"αβ", true, true},               // Greek
        {"ʃ", true, true},                // IPA U+0283
        {"\t", true, true},               // control characters are outside
        {"\x7F", false, false},
        {"\xA0", true, true},             // a lone continuation byte is not text
        {"\xE2\x96", true, true},         // truncated sequence
        {"\xC0\xAF", true, true},         // over-long encoding
    };
    for (const auto& c : cases) {
        EXPECT_EQ(containsNonLatinLetters(c.text), c.nonLatin) << c.text;
        EXPECT_EQ(containsNonCyrillicLetters(c.text), c.nonCyrillic) << c.text;
    }
}

}  // namespace
}  // namespace auralith
