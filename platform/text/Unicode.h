#pragma once

#include <compare>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Unicode text helpers over UTF-8 std::string. "Characters" as users perceive them
// are extended grapheme clusters; offsets are byte offsets unless a name says otherwise.
namespace platform::text {

// ---- Code points -------------------------------------------------------------

struct DecodedCodePoint {
    char32_t codePoint = 0;  // U+FFFD for an ill-formed sequence
    std::size_t length = 0;  // bytes consumed (at least 1 unless at the end)
    bool valid = false;
};

// Decodes the code point that starts at `offset`. An ill-formed sequence yields
// U+FFFD and consumes its maximal ill-formed prefix, so decoding always advances.
DecodedCodePoint decodeUtf8(std::string_view text, std::size_t offset);
bool isValidUtf8(std::string_view text);
// Appends the UTF-8 form of `codePoint` (surrogates and values past U+10FFFF become U+FFFD).
void appendUtf8(std::string& out, char32_t codePoint);
std::u32string toUtf32(std::string_view text);
std::string fromUtf32(std::u32string_view codePoints);
std::size_t codePointCount(std::string_view text);

// ---- Grapheme clusters -----------------------------------------------------

std::size_t graphemeCount(std::string_view text);
// Byte offsets of every cluster boundary, from 0 to text.size() inclusive
// ("" gives {0}). A CRLF pair, a ZWJ family, a flag and e + U+0301 are one cluster each.
std::vector<std::size_t> graphemeBoundaries(std::string_view text);
// The first `count` clusters (all of them if there are fewer).
std::string graphemePrefix(std::string_view text, std::size_t count);
// `count` clusters starting at cluster `start`, clipped to the text.
std::string graphemeSlice(std::string_view text, std::size_t start, std::size_t count);

// Converts positions between byte offsets, UTF-16 offsets, code-point offsets and
// grapheme indices of one text (built once, then each lookup is a binary search).
// A position inside a unit maps to the start of that unit; positions past the end
// map to the end.
class TextOffsets {
public:
    explicit TextOffsets(std::string_view text);

    std::size_t byteCount() const { return cpByte_.back(); }
    std::size_t utf16Count() const { return cpUtf16_.back(); }
    std::size_t codePointCount() const { return cpByte_.size() - 1; }
    std::size_t graphemeCount() const { return graphemeByte_.size() - 1; }

    std::size_t utf16FromByte(std::size_t byteOffset) const;
    std::size_t byteFromUtf16(std::size_t utf16Offset) const;
    std::size_t codePointFromByte(std::size_t byteOffset) const;
    std::size_t byteFromCodePoint(std::size_t codePointOffset) const;
    std::size_t graphemeFromByte(std::size_t byteOffset) const;
    std::size_t byteFromGrapheme(std::size_t graphemeIndex) const;
    std::size_t graphemeFromCodePoint(std::size_t codePointOffset) const {
        return graphemeFromByte(byteFromCodePoint(codePointOffset));
    }
    std::size_t codePointFromGrapheme(std::size_t graphemeIndex) const {
        return codePointFromByte(byteFromGrapheme(graphemeIndex));
    }

private:
    std::vector<std::size_t> cpByte_;   // byte offset of each code point, then the end
    std::vector<std::size_t> cpUtf16_;  // UTF-16 offset of each code point, then the end
    std::vector<std::size_t> graphemeByte_;
};

// ---- Character sets and trimming --------------------------------------------

enum class CharacterSet {
    whitespaces,             // general category Zs, and tab
    newlines,                // LF, VT, FF, CR, U+0085, U+2028, U+2029
    whitespacesAndNewlines,  // both of the above (general category Z, tab, LF, VT, FF, CR, U+0085)
};
bool isWhitespace(char32_t c);
bool isNewline(char32_t c);
bool isWhitespaceOrNewline(char32_t c);
bool contains(CharacterSet set, char32_t c);
// The Unicode White_Space property (includes no-break spaces, tab, CR, LF, NEL, ...).
bool hasWhiteSpaceProperty(char32_t c);
// Properties of single code points (a character is usually asked about by its first one).
bool isAlphabetic(char32_t c);    // the Alphabetic property
bool hasNumericType(char32_t c);  // any numeric type (digits, fractions, roman numerals, ...)
bool isAlphanumeric(char32_t c);  // general category L*, M* or N*
bool isUppercase(char32_t c);     // the Uppercase property
bool isPunctuation(char32_t c);   // general category P*
// The runs of characters between white space, where a character (grapheme
// cluster) is white space when its first code point has the White_Space
// property: a combining mark on a space is white space with it.
std::vector<std::string_view> whiteSpaceSeparatedWords(std::string_view text);
// One line of text for a list or a title: line feeds and tabs become spaces,
// the characters that are exactly a space split it into pieces joined by one
// space (so runs collapse and none stay at either end; a space carrying a
// combining mark is a character of its own and stays), other blanks pass
// through, and a result of more than `limit` characters is cut to `kept`
// characters followed by "…".
std::string oneLinePreview(std::string_view text, std::size_t limit, std::size_t kept);

// Removes code points of `set` from both ends (code point by code point, so a CRLF
// at the end goes as a whole and a combining mark is never split from its base).
std::string trim(std::string_view text, CharacterSet set = CharacterSet::whitespacesAndNewlines);

// ---- Case ---------------------------------------------------------------------

// Full Unicode case mappings ("ß" uppercases to "SS"). `locale` "" is the root
// locale (locale-independent); "tr" or "lt" give their special rules.
std::string lowercased(std::string_view text, std::string_view locale = "");
std::string uppercased(std::string_view text, std::string_view locale = "");
// Each run of non-blank characters (words are delimited only by white space and line
// breaks) gets its first character titlecased and the rest lowercased: "hELLO wORLD" ->
// "Hello World", "don't" -> "Don't", "hello-world" -> "Hello-world".
std::string capitalized(std::string_view text, std::string_view locale = "");
// Compares by full case folding, then code point order: "Straße" equals "STRASSE".
std::weak_ordering caseInsensitiveCompare(std::string_view a, std::string_view b);
// The locale's collation ignoring case but not accents, as for sorting names in a list.
std::weak_ordering localizedCaseInsensitiveCompare(std::string_view a, std::string_view b,
                                                   std::string_view locale);

// ---- Normalisation ------------------------------------------------------------

std::string nfc(std::string_view text);
std::string nfd(std::string_view text);
std::string nfkc(std::string_view text);

// ---- Word and sentence segments ---------------------------------------------

struct TextRange {
    std::size_t begin = 0;  // byte offsets
    std::size_t end = 0;
    std::size_t size() const { return end - begin; }
    std::string_view of(std::string_view text) const { return text.substr(begin, end - begin); }
    friend bool operator==(const TextRange&, const TextRange&) = default;
};

struct WordSegment {
    TextRange range;
    // Letters, numbers, kana or ideographs; false for blanks and punctuation.
    bool isWordLike = false;
    friend bool operator==(const WordSegment&, const WordSegment&) = default;
};

// Every segment between word boundaries, covering the whole text in order.
std::vector<WordSegment> wordSegments(std::string_view text, std::string_view locale = "");
// Only the word-like segments.
std::vector<TextRange> words(std::string_view text, std::string_view locale = "");
// Sentences, each with its trailing blanks and line break, covering the whole text.
std::vector<TextRange> sentences(std::string_view text, std::string_view locale = "");

}  // namespace platform::text
