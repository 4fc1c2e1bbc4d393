#include "platform/text/Unicode.h"

#include <gtest/gtest.h>

namespace {

using namespace platform::text;

const std::string kFamily = "\U0001F469\u200D\U0001F469\u200D\U0001F467";  // 👩‍👩‍👧, 18 bytes
const std::string kFlags = "\U0001F1E9\U0001F1EA\U0001F1EB\U0001F1F7";      // 🇩🇪🇫🇷
const std::string kAcute = "e\u0301";                                         // e + combining acute
const std::string kThumb = "\U0001F44D\U0001F3FD";                             // 👍🏽

TEST(Graphemes, CountsUserPerceivedCharacters) {
    const std::pair<std::string, std::size_t> cases[] = {
        {"", 0},          {"abc", 3},        {kFamily, 1},           {kFlags, 2},
        {kAcute, 1},      {"\r\n", 1},       {"a\r\nb", 3},          {"\n\r", 2},
        {kThumb, 1},      {"caf" + kAcute + "!", 5},
    };
    for (const auto& [text, count] : cases) EXPECT_EQ(graphemeCount(text), count) << text;
}

TEST(Graphemes, BoundariesPrefixAndSlice) {
    const std::string text = "a" + kFamily + kAcute + "\r\n" + kFlags;
    EXPECT_EQ(graphemeBoundaries(text), (std::vector<std::size_t>{0, 1, 19, 22, 24, 32, 40}));
    EXPECT_EQ(graphemeBoundaries(""), std::vector<std::size_t>{0});

    EXPECT_EQ(graphemePrefix(text, 2), "a" + kFamily);
    EXPECT_EQ(graphemePrefix(text, 0), "");
    EXPECT_EQ(graphemePrefix(text, 99), text);
    EXPECT_EQ(graphemeSlice(text, 2, 2), kAcute + "\r\n");
    EXPECT_EQ(graphemeSlice(text, 5, 10), "\U0001F1EB\U0001F1F7");
    EXPECT_EQ(graphemeSlice(text, 6, 1), "");
}

TEST(TextOffsets, ConvertsBetweenAllFourUnits) {
    // a | é (2 bytes) | 😀 (4 bytes, 2 UTF-16 units) | e + U+0301 (3 bytes, 2 code points) | \r\n
    const std::string text = "a\u00E9\U0001F600" + kAcute + "\r\n";
    const TextOffsets o(text);
    EXPECT_EQ(o.byteCount(), 12u);
    EXPECT_EQ(o.utf16Count(), 8u);
    EXPECT_EQ(o.codePointCount(), 7u);
    EXPECT_EQ(o.graphemeCount(), 5u);

    const struct {
        std::size_t byte, utf16, codePoint, grapheme;
    } starts[] = {{0, 0, 0, 0}, {1, 1, 1, 1}, {3, 2, 2, 2}, {7, 4, 3, 3}, {10, 6, 5, 4}, {12, 8, 7, 5}};
    for (const auto& s : starts) {
        EXPECT_EQ(o.utf16FromByte(s.byte), s.utf16);
        EXPECT_EQ(o.byteFromUtf16(s.utf16), s.byte);
        EXPECT_EQ(o.codePointFromByte(s.byte), s.codePoint);
        EXPECT_EQ(o.byteFromCodePoint(s.codePoint), s.byte);
        EXPECT_EQ(o.graphemeFromByte(s.byte), s.grapheme);
        EXPECT_EQ(o.byteFromGrapheme(s.grapheme), s.byte);
    }
    // Inside a unit: the unit's start.
    EXPECT_EQ(o.utf16FromByte(5), 2u);          // inside 😀
    EXPECT_EQ(o.byteFromUtf16(3), 3u);          // low surrogate of 😀
    EXPECT_EQ(o.graphemeFromCodePoint(4), 3u);  // the combining mark belongs to e
    EXPECT_EQ(o.graphemeFromCodePoint(6), 4u);  // LF of CRLF
    EXPECT_EQ(o.codePointFromGrapheme(4), 5u);
    // Past the end: the end.
    EXPECT_EQ(o.byteFromGrapheme(99), 12u);
    EXPECT_EQ(o.utf16FromByte(99), 8u);

    const TextOffsets empty("");
    EXPECT_EQ(empty.graphemeCount(), 0u);
    EXPECT_EQ(empty.byteFromCodePoint(3), 0u);
}

TEST(CodePoints, DecodeEncodeAndIllFormedInput) {
    const std::string text = "A\u00E9\u20AC\U0001F600";
    EXPECT_EQ(toUtf32(text), (std::u32string{U'A', U'\u00E9', U'\u20AC', U'\U0001F600'}));
    EXPECT_EQ(fromUtf32(toUtf32(text)), text);
    EXPECT_EQ(codePointCount(text), 4u);
    EXPECT_TRUE(isValidUtf8(text));

    for (const char* bad : {"\xFF", "\xC0\xAF", "\xED\xA0\x80", "\xE2\x82", "\xF4\x90\x80\x80"})
        EXPECT_FALSE(isValidUtf8(bad)) << bad;
    const auto d = decodeUtf8("\xE2\x82" "A", 0);  // truncated euro sign, then A
    EXPECT_FALSE(d.valid);
    EXPECT_EQ(d.codePoint, 0xFFFDu);
    EXPECT_EQ(d.length, 2u);
    EXPECT_EQ(decodeUtf8("\xE2\x82" "A", 2).codePoint, U'A');

    std::string out;
    appendUtf8(out, 0xD800);
    appendUtf8(out, 0x110000);
    EXPECT_EQ(out, "\uFFFD\uFFFD");
}

TEST(Trim, TheThreeSets) {
    const std::string nbsp = "\u00A0", ideographic = "\u3000", nel = "\u0085", ls = "\u2028";
    const struct {
        std::string text;
        CharacterSet set;
        std::string expected;
    } cases[] = {
        {" \t hi there \t ", CharacterSet::whitespaces, "hi there"},
        {"\n hi \n", CharacterSet::whitespaces, "\n hi \n"},
        {nbsp + ideographic + "x" + nbsp, CharacterSet::whitespaces, "x"},
        {"\r\n\vhi\f" + nel + ls, CharacterSet::newlines, "hi"},
        {" \nhi\n ", CharacterSet::newlines, " \nhi\n "},
        {" \r\n\t" + nbsp + "hi" + ls + "\u2029" + nel + "\r\n", CharacterSet::whitespacesAndNewlines, "hi"},
        {"  ", CharacterSet::whitespacesAndNewlines, ""},
        {"", CharacterSet::whitespaces, ""},
        {kAcute + " ", CharacterSet::whitespaces, kAcute},
        {"\u200Bx\u200B", CharacterSet::whitespacesAndNewlines, "\u200Bx\u200B"},  // zero-width space is Cf
    };
    for (const auto& c : cases) EXPECT_EQ(trim(c.text, c.set), c.expected) << c.text;

    EXPECT_TRUE(isWhitespace(U'\u2009'));
    EXPECT_FALSE(isWhitespace(U'\n'));
    EXPECT_TRUE(isNewline(U'\u2029'));
    EXPECT_FALSE(isNewline(U' '));
    EXPECT_TRUE(hasWhiteSpaceProperty(U'\u00A0'));
    EXPECT_TRUE(hasWhiteSpaceProperty(U'\u0085'));
    EXPECT_FALSE(hasWhiteSpaceProperty(U'\u200B'));

    using Words = std::vector<std::string_view>;
    const std::pair<std::string_view, Words> words[] = {
        {"", {}},
        {" \t\n ", {}},
        {"one  two\u00A0three\n", {"one", "two", "three"}},
        {"a \u0301b", {"a", "b"}},              // the accent rides on the space
        {"\u200Bzero\u200Bwidth", {"\u200Bzero\u200Bwidth"}},  // not white space
        {"👩‍👩‍👧 x", {"👩‍👩‍👧", "x"}},
    };
    for (const auto& [text, expected] : words) EXPECT_EQ(whiteSpaceSeparatedWords(text), expected) << text;
}

TEST(CharacterProperties, OfSingleCodePoints) {
    EXPECT_TRUE(isAlphabetic(U'\u00E9'));
    EXPECT_FALSE(isAlphabetic(U'1'));
    EXPECT_TRUE(hasNumericType(U'\u00BD'));  // ½
    EXPECT_TRUE(hasNumericType(U'\u216B'));  // Roman numeral twelve
    EXPECT_FALSE(hasNumericType(U'x'));
    EXPECT_TRUE(isAlphanumeric(U'\u0301'));  // a combining mark
    EXPECT_FALSE(isAlphanumeric(U'-'));
    EXPECT_TRUE(isUppercase(U'\u00C4'));
    EXPECT_FALSE(isUppercase(U'a'));
    EXPECT_TRUE(isPunctuation(U'\u00BF'));  // ¿
    EXPECT_FALSE(isPunctuation(U'+'));      // a math symbol
}

TEST(OneLinePreview, FoldsCollapsesAndCutsByCharacters) {
    const std::pair<std::string, std::string> rows[] = {
        {"  a\n\nb\tc  ", "a b c"},
        {"a\u00A0 b", "a\u00A0 b"},                    // other blanks pass through
        {"a \u0301b", "a \u0301b"},                     // a space with a combining mark stays
        {"abcdef", "abcdef"},                           // exactly the limit
        {"abcdefg", "abcd\u2026"},                      // cut to the kept count
        {"\U0001F469\u200D\U0001F4BB\U0001F469\u200D\U0001F4BB\U0001F469\u200D\U0001F4BB\U0001F469\u200D\U0001F4BBxyz",
         "\U0001F469\u200D\U0001F4BB\U0001F469\u200D\U0001F4BB\U0001F469\u200D\U0001F4BB\U0001F469\u200D\U0001F4BB\u2026"},
        {"", ""},
    };
    for (const auto& [text, expected] : rows) EXPECT_EQ(oneLinePreview(text, 6, 4), expected) << text;
}

TEST(Case, MappingsAndComparison) {
    EXPECT_EQ(uppercased("straße"), "STRASSE");
    EXPECT_EQ(lowercased("ÀÉÎ ΣΑΣ"), "àéî σας");  // final sigma
    EXPECT_EQ(uppercased("istanbul"), "ISTANBUL");
    EXPECT_EQ(uppercased("istanbul", "tr"), "\u0130STANBUL");
    EXPECT_EQ(lowercased("I", "tr"), "\u0131");

    EXPECT_EQ(capitalized("hELLO wORLD"), "Hello World");
    EXPECT_EQ(capitalized("don't stop-me\tnow\n\u00E9t\u00E9"), "Don't Stop-me\tNow\n\u00C9t\u00E9");
    EXPECT_EQ(capitalized("  ǆungla 42abc "), "  ǅungla 42abc ");

    EXPECT_EQ(caseInsensitiveCompare("Straße", "STRASSE"), std::weak_ordering::equivalent);
    EXPECT_EQ(caseInsensitiveCompare("apple", "Banana"), std::weak_ordering::less);
    EXPECT_EQ(caseInsensitiveCompare("b", "A"), std::weak_ordering::greater);

    EXPECT_EQ(localizedCaseInsensitiveCompare("apple", "Banana", "en_US"), std::weak_ordering::less);
    EXPECT_EQ(localizedCaseInsensitiveCompare("USB Mic", "usb mic", "en_US"), std::weak_ordering::equivalent);
    EXPECT_NE(localizedCaseInsensitiveCompare("resume", "résumé", "en_US"), std::weak_ordering::equivalent);
    EXPECT_EQ(localizedCaseInsensitiveCompare("Äpfel", "Zebra", "de_DE"), std::weak_ordering::less);
}

TEST(Normalization, ComposedDecomposedAndCompatibility) {
    EXPECT_EQ(nfc(kAcute), "\u00E9");
    EXPECT_EQ(nfd("\u00E9"), kAcute);
    EXPECT_EQ(nfc("\u00E9"), "\u00E9");
    EXPECT_EQ(nfkc("\uFB01 \u2460 \uFF21"), "fi 1 A");
    EXPECT_EQ(nfc("\uFB01"), "\uFB01");  // compatibility forms survive NFC
    EXPECT_EQ(graphemeCount(nfd("\u00C5ngstr\u00F6m")), 8u);
}

TEST(Breaks, WordsWithTheirKind) {
    const std::string text = "Hello, world! It's 42\u00A0km.";
    std::vector<std::string> wordTexts;
    for (auto r : words(text)) wordTexts.emplace_back(r.of(text));
    EXPECT_EQ(wordTexts, (std::vector<std::string>{"Hello", "world", "It's", "42", "km"}));

    const auto segments = wordSegments(text);
    ASSERT_FALSE(segments.empty());
    EXPECT_EQ(segments.front().range.begin, 0u);
    EXPECT_EQ(segments.back().range.end, text.size());
    for (std::size_t i = 1; i < segments.size(); ++i) EXPECT_EQ(segments[i].range.begin, segments[i - 1].range.end);
    EXPECT_EQ(segments[1], (WordSegment{{5, 6}, false}));  // ","

    // Byte ranges stay right after multi-byte text.
    const std::string mixed = "caf\u00E9 \U0001F600 na\u00EFve";
    const auto w = words(mixed);
    ASSERT_EQ(w.size(), 2u);
    EXPECT_EQ(w[1].of(mixed), "na\u00EFve");
    EXPECT_TRUE(words("").empty());
}

TEST(Breaks, Sentences) {
    const std::string text = "Hello there. How are you?\nFine! \u00C7a va.";
    std::vector<std::string> parts;
    for (auto r : sentences(text)) parts.emplace_back(r.of(text));
    EXPECT_EQ(parts, (std::vector<std::string>{"Hello there. ", "How are you?\n", "Fine! ", "\u00C7a va."}));
    EXPECT_TRUE(sentences("").empty());
}

}  // namespace
