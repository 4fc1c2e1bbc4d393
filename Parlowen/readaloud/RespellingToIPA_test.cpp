#include <gtest/gtest.h>

#include <string>

#include "Parlowen/readaloud/RespellingToIPA.h"

namespace parlowen {
namespace {

struct Case {
    const char* respelling;
    const char* ipa;
};

TEST(RespellingToIPA, ConvertsByTheLongestPatternWithOneStressMark) {
    const Case cases[] = {
        {"koo-ber-NET-eez", "kub\u025D\u02C8n\u025Btiz"},
        {"SHAH-tay", "\u02C8\u0283\u00E6hte\u026A"},
        {"tomato", "t\u0251m\u00E6t\u0251"},
        {"NET-EEZ", "\u02C8n\u025Btiz"},            // capitals after the first stressed syllable do nothing
        {"ba-NAN-a", "b\u00E6\u02C8n\u00E6n\u00E6"},
        {"BA-NAN-a", "\u02C8b\u00E6n\u00E6n\u00E6"},
        {"night", "na\u026At"},                      // "igh" before "i"
        {"thigh", "\u00F0a\u026A"},                  // "th" is always voiced
        {"x", "ks"},
        {"qu", "kw"},
        {"tch", "t\u0283"},                          // not "t" + "tʃ"
        {"church", "t\u0283\u025Dt\u0283"},
        {"a b", "\u00E6 b"},                         // a blank inside a syllable is copied
        {"-ab--cd-", "\u00E6bkd"},                   // empty pieces add no syllable
        {"caf\u00E9 42", "k\u00E6f\u00E9 42"},       // letters outside a-z and digits pass through
        {"cafe\u0301", "k\u00E6fe\u0301"},           // e + combining accent is one character, not "e"
        {" \tgo\t ", "g\u0251"},
        {"", ""},
        {" \t ", ""},
        {"---", ""},
        {"  -  ", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(respellingToIPA(c.respelling), c.ipa) << "respelling: " << c.respelling;
}

TEST(RespellingToIPA, NewlinesAreNotTrimmed) {
    // Only spaces and tabs are trimmed, so a line break stays as a character.
    EXPECT_EQ(respellingToIPA("go\n"), "g\u0251\n");
}

TEST(RespellingToIPA, UppercaseOutsideAsciiMarksTheStress) {
    EXPECT_EQ(respellingToIPA("ma-\u00C9"), "m\u00E6\u02C8\u00E9");
}

}  // namespace
}  // namespace parlowen
