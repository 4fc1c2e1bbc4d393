#include "platform/text/Unicode.h"

#include <algorithm>
#include <map>
#include <tuple>

#include <unicode/bytestream.h>
#include <unicode/casemap.h>
#include <unicode/coll.h>
#include <unicode/normalizer2.h>
#include <unicode/stringoptions.h>
#include <unicode/ubrk.h>
#include <unicode/uchar.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>
#include <unicode/utf8.h>

#include "platform/text/IcuSupport.h"

namespace platform::text {

// ---- ICU plumbing ---------------------------------------------------------------

namespace detail {

icu::UnicodeString toUtf16Text(std::string_view utf8) {
    icu::UnicodeString out;
    // Never more UTF-16 units than UTF-8 bytes (an ill-formed byte gives one U+FFFD).
    UChar* buffer = out.getBuffer(static_cast<int32_t>(utf8.size()) + 1);
    if (!buffer) return out;
    int32_t length = 0;
    std::size_t i = 0;
    while (i < utf8.size()) {
        const auto byte = static_cast<unsigned char>(utf8[i]);
        if (byte < 0x80) {
            buffer[length++] = byte;
            ++i;
            continue;
        }
        const auto d = decodeUtf8(utf8, i);
        U16_APPEND_UNSAFE(buffer, length, static_cast<UChar32>(d.codePoint));
        i += d.length;
    }
    out.releaseBuffer(length);
    return out;
}

std::string toUtf8(const icu::UnicodeString& text) {
    std::string out;
    text.toUTF8String(out);
    return out;
}

icu::BreakIterator& breakIterator(BreakKind kind, std::string_view locale) {
    thread_local std::map<std::pair<BreakKind, std::string>, std::unique_ptr<icu::BreakIterator>> cache;
    auto key = std::make_pair(kind, std::string(locale));
    auto it = cache.find(key);
    if (it != cache.end()) return *it->second;
    UErrorCode status = U_ZERO_ERROR;
    const icu::Locale loc = locale.empty() ? icu::Locale::getRoot() : icu::Locale(key.second.c_str());
    std::unique_ptr<icu::BreakIterator> created;
    switch (kind) {
        case BreakKind::character: created.reset(icu::BreakIterator::createCharacterInstance(loc, status)); break;
        case BreakKind::word: created.reset(icu::BreakIterator::createWordInstance(loc, status)); break;
        case BreakKind::sentence: created.reset(icu::BreakIterator::createSentenceInstance(loc, status)); break;
    }
    if (U_FAILURE(status) || !created) std::abort();  // ICU data missing: nothing can work
    return *cache.emplace(std::move(key), std::move(created)).first->second;
}

Utf8Iteration::Utf8Iteration(icu::BreakIterator& iterator, std::string_view text) {
    UErrorCode status = U_ZERO_ERROR;
    utext_ = utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status);
    if (U_FAILURE(status)) return;
    iterator.setText(utext_, status);
    ok_ = U_SUCCESS(status);
}

Utf8Iteration::~Utf8Iteration() {
    if (utext_) utext_close(utext_);
}

}  // namespace detail

namespace {

using detail::BreakKind;

std::vector<std::size_t> boundaries(BreakKind kind, std::string_view text, std::string_view locale) {
    std::vector<std::size_t> out{0};
    if (text.empty()) return out;
    auto& bi = detail::breakIterator(kind, locale);
    detail::Utf8Iteration iteration(bi, text);
    if (!iteration.ok()) return {0, text.size()};
    for (int32_t b = bi.next(); b != icu::BreakIterator::DONE; b = bi.next()) out.push_back(static_cast<std::size_t>(b));
    if (out.back() != text.size()) out.push_back(text.size());
    return out;
}

icu::StringPiece piece(std::string_view s) { return icu::StringPiece(s.data(), static_cast<int32_t>(s.size())); }

std::string localeId(std::string_view locale) { return std::string(locale); }

template <class Map>
std::string mapCase(std::string_view text, Map map) {
    std::string out;
    icu::StringByteSink<std::string> sink(&out);
    UErrorCode status = U_ZERO_ERROR;
    map(piece(text), sink, status);
    if (U_FAILURE(status)) return std::string(text);
    return out;
}

std::string normalize(std::string_view text, const icu::Normalizer2* (*instance)(UErrorCode&)) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* n = instance(status);
    if (U_FAILURE(status)) return std::string(text);
    std::string out;
    icu::StringByteSink<std::string> sink(&out);
    n->normalizeUTF8(0, piece(text), sink, nullptr, status);
    if (U_FAILURE(status)) return std::string(text);
    return out;
}

std::weak_ordering toOrdering(int c) {
    return c < 0 ? std::weak_ordering::less : c > 0 ? std::weak_ordering::greater : std::weak_ordering::equivalent;
}

}  // namespace

// ---- Code points ----------------------------------------------------------------

DecodedCodePoint decodeUtf8(std::string_view text, std::size_t offset) {
    if (offset >= text.size()) return {};
    const auto* s = reinterpret_cast<const uint8_t*>(text.data());
    int32_t i = static_cast<int32_t>(offset);
    const int32_t length = static_cast<int32_t>(text.size());
    UChar32 c;
    U8_NEXT(s, i, length, c);
    const std::size_t consumed = static_cast<std::size_t>(i) - offset;
    if (c < 0) return {0xFFFD, consumed, false};
    return {static_cast<char32_t>(c), consumed, true};
}

bool isValidUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto d = decodeUtf8(text, i);
        if (!d.valid) return false;
        i += d.length;
    }
    return true;
}

void appendUtf8(std::string& out, char32_t c) {
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
    uint8_t buf[4];
    int32_t n = 0;
    U8_APPEND_UNSAFE(buf, n, c);
    out.append(reinterpret_cast<const char*>(buf), static_cast<std::size_t>(n));
}

std::u32string toUtf32(std::string_view text) {
    std::u32string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto d = decodeUtf8(text, i);
        out.push_back(d.codePoint);
        i += d.length;
    }
    return out;
}

std::string fromUtf32(std::u32string_view codePoints) {
    std::string out;
    out.reserve(codePoints.size());
    for (char32_t c : codePoints) appendUtf8(out, c);
    return out;
}

std::size_t codePointCount(std::string_view text) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < text.size(); ++n) i += decodeUtf8(text, i).length;
    return n;
}

// ---- Graphemes ------------------------------------------------------------------

std::vector<std::size_t> graphemeBoundaries(std::string_view text) {
    return boundaries(BreakKind::character, text, "");
}

std::size_t graphemeCount(std::string_view text) { return graphemeBoundaries(text).size() - 1; }

std::string graphemePrefix(std::string_view text, std::size_t count) { return graphemeSlice(text, 0, count); }

std::string graphemeSlice(std::string_view text, std::size_t start, std::size_t count) {
    const auto b = graphemeBoundaries(text);
    const std::size_t clusters = b.size() - 1;
    if (start >= clusters) return {};
    const std::size_t end = std::min(clusters, start + std::min(count, clusters - start));
    return std::string(text.substr(b[start], b[end] - b[start]));
}

TextOffsets::TextOffsets(std::string_view text) : graphemeByte_(graphemeBoundaries(text)) {
    cpByte_.reserve(text.size() + 1);
    cpUtf16_.reserve(text.size() + 1);
    std::size_t utf16 = 0;
    for (std::size_t i = 0; i < text.size();) {
        const auto d = decodeUtf8(text, i);
        cpByte_.push_back(i);
        cpUtf16_.push_back(utf16);
        utf16 += d.codePoint >= 0x10000 ? 2 : 1;
        i += d.length;
    }
    cpByte_.push_back(text.size());
    cpUtf16_.push_back(utf16);
}

namespace {
// Index of the last entry <= value in an ascending table whose first entry is 0.
std::size_t indexAtOrBefore(const std::vector<std::size_t>& table, std::size_t value) {
    return static_cast<std::size_t>(std::upper_bound(table.begin(), table.end(), value) - table.begin()) - 1;
}
}  // namespace

std::size_t TextOffsets::utf16FromByte(std::size_t byteOffset) const {
    return cpUtf16_[indexAtOrBefore(cpByte_, byteOffset)];
}
std::size_t TextOffsets::byteFromUtf16(std::size_t utf16Offset) const {
    return cpByte_[indexAtOrBefore(cpUtf16_, utf16Offset)];
}
std::size_t TextOffsets::codePointFromByte(std::size_t byteOffset) const {
    return indexAtOrBefore(cpByte_, byteOffset);
}
std::size_t TextOffsets::byteFromCodePoint(std::size_t codePointOffset) const {
    return cpByte_[std::min(codePointOffset, cpByte_.size() - 1)];
}
std::size_t TextOffsets::graphemeFromByte(std::size_t byteOffset) const {
    return indexAtOrBefore(graphemeByte_, byteOffset);
}
std::size_t TextOffsets::byteFromGrapheme(std::size_t graphemeIndex) const {
    return graphemeByte_[std::min(graphemeIndex, graphemeByte_.size() - 1)];
}

// ---- Character sets -------------------------------------------------------------

bool isWhitespace(char32_t c) { return c == U'\t' || u_charType(static_cast<UChar32>(c)) == U_SPACE_SEPARATOR; }

bool isNewline(char32_t c) { return (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029; }

bool isWhitespaceOrNewline(char32_t c) {
    // General category Z covers Zs, Zl (U+2028) and Zp (U+2029).
    return isWhitespace(c) || isNewline(c);
}

bool contains(CharacterSet set, char32_t c) {
    switch (set) {
        case CharacterSet::whitespaces: return isWhitespace(c);
        case CharacterSet::newlines: return isNewline(c);
        case CharacterSet::whitespacesAndNewlines: return isWhitespaceOrNewline(c);
    }
    return false;
}

bool hasWhiteSpaceProperty(char32_t c) { return u_isUWhiteSpace(static_cast<UChar32>(c)); }

bool isAlphabetic(char32_t c) { return u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_ALPHABETIC); }

bool hasNumericType(char32_t c) {
    return u_getIntPropertyValue(static_cast<UChar32>(c), UCHAR_NUMERIC_TYPE) != U_NT_NONE;
}

bool isAlphanumeric(char32_t c) {
    constexpr auto mask = U_GC_L_MASK | U_GC_M_MASK | U_GC_N_MASK;
    return (U_GET_GC_MASK(static_cast<UChar32>(c)) & mask) != 0;
}

bool isUppercase(char32_t c) { return u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_UPPERCASE); }

bool isPunctuation(char32_t c) { return u_ispunct(static_cast<UChar32>(c)); }

std::vector<std::string_view> whiteSpaceSeparatedWords(std::string_view text) {
    std::vector<std::string_view> words;
    const auto bounds = graphemeBoundaries(text);
    std::size_t wordStart = 0;
    for (std::size_t i = 0; i + 1 < bounds.size(); ++i) {
        if (!hasWhiteSpaceProperty(decodeUtf8(text, bounds[i]).codePoint)) continue;
        if (bounds[i] > wordStart) words.push_back(text.substr(wordStart, bounds[i] - wordStart));
        wordStart = bounds[i + 1];
    }
    if (text.size() > wordStart) words.push_back(text.substr(wordStart));
    return words;
}

std::string oneLinePreview(std::string_view text, std::size_t limit, std::size_t kept) {
    std::string flat(text);
    for (char& c : flat)
        if (c == '\n' || c == '\t') c = ' ';
    const auto bounds = graphemeBoundaries(flat);
    std::string joined;
    std::size_t pieceStart = 0;
    auto flush = [&](std::size_t end) {
        if (end > pieceStart) {
            if (!joined.empty()) joined += ' ';
            joined.append(flat, pieceStart, end - pieceStart);
        }
    };
    for (std::size_t i = 0; i + 1 < bounds.size(); ++i) {
        if (bounds[i + 1] - bounds[i] == 1 && flat[bounds[i]] == ' ') {
            flush(bounds[i]);
            pieceStart = bounds[i + 1];
        }
    }
    flush(flat.size());
    if (graphemeCount(joined) <= limit) return joined;
    return graphemePrefix(joined, kept) + "\u2026";
}

std::string trim(std::string_view text, CharacterSet set) {
    std::size_t begin = 0;
    while (begin < text.size()) {
        const auto d = decodeUtf8(text, begin);
        if (!d.valid || !contains(set, d.codePoint)) break;
        begin += d.length;
    }
    std::size_t end = begin;  // end of the last code point outside the set
    for (std::size_t i = begin; i < text.size();) {
        const auto d = decodeUtf8(text, i);
        i += d.length;
        if (!d.valid || !contains(set, d.codePoint)) end = i;
    }
    return std::string(text.substr(begin, end - begin));
}

// ---- Case -------------------------------------------------------------------------

std::string lowercased(std::string_view text, std::string_view locale) {
    const std::string loc = localeId(locale);
    return mapCase(text, [&](icu::StringPiece s, icu::ByteSink& sink, UErrorCode& st) {
        icu::CaseMap::utf8ToLower(loc.c_str(), 0, s, sink, nullptr, st);
    });
}

std::string uppercased(std::string_view text, std::string_view locale) {
    const std::string loc = localeId(locale);
    return mapCase(text, [&](icu::StringPiece s, icu::ByteSink& sink, UErrorCode& st) {
        icu::CaseMap::utf8ToUpper(loc.c_str(), 0, s, sink, nullptr, st);
    });
}

std::string capitalized(std::string_view text, std::string_view locale) {
    const std::string loc = localeId(locale);
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        // Copy the blanks, then titlecase the following run of non-blanks as one unit.
        std::size_t wordStart = i;
        while (wordStart < text.size()) {
            const auto d = decodeUtf8(text, wordStart);
            if (!hasWhiteSpaceProperty(d.codePoint)) break;
            wordStart += d.length;
        }
        out.append(text.substr(i, wordStart - i));
        std::size_t wordEnd = wordStart;
        while (wordEnd < text.size()) {
            const auto d = decodeUtf8(text, wordEnd);
            if (hasWhiteSpaceProperty(d.codePoint)) break;
            wordEnd += d.length;
        }
        if (wordEnd > wordStart) {
            out += mapCase(text.substr(wordStart, wordEnd - wordStart),
                           [&](icu::StringPiece s, icu::ByteSink& sink, UErrorCode& st) {
                               icu::CaseMap::utf8ToTitle(loc.c_str(),
                                                         U_TITLECASE_WHOLE_STRING | U_TITLECASE_NO_BREAK_ADJUSTMENT,
                                                         nullptr, s, sink, nullptr, st);
                           });
        }
        i = wordEnd;
    }
    return out;
}

std::weak_ordering caseInsensitiveCompare(std::string_view a, std::string_view b) {
    const auto ua = detail::toUtf16Text(a);
    const auto ub = detail::toUtf16Text(b);
    UErrorCode status = U_ZERO_ERROR;
    const int c = u_strCaseCompare(ua.getBuffer(), ua.length(), ub.getBuffer(), ub.length(),
                                   U_FOLD_CASE_DEFAULT | U_COMPARE_CODE_POINT_ORDER, &status);
    return toOrdering(c);
}

std::weak_ordering localizedCaseInsensitiveCompare(std::string_view a, std::string_view b, std::string_view locale) {
    thread_local std::map<std::string, std::unique_ptr<icu::Collator>> collators;
    auto& collator = collators[std::string(locale)];
    if (!collator) {
        UErrorCode status = U_ZERO_ERROR;
        collator.reset(icu::Collator::createInstance(icu::Locale(std::string(locale).c_str()), status));
        if (U_FAILURE(status) || !collator) {
            collator.reset();
            return caseInsensitiveCompare(a, b);
        }
        collator->setStrength(icu::Collator::SECONDARY);
    }
    UErrorCode status = U_ZERO_ERROR;
    const auto r = collator->compareUTF8(piece(a), piece(b), status);
    return toOrdering(r == UCOL_LESS ? -1 : r == UCOL_GREATER ? 1 : 0);
}

// ---- Normalisation ----------------------------------------------------------------

std::string nfc(std::string_view text) { return normalize(text, &icu::Normalizer2::getNFCInstance); }
std::string nfd(std::string_view text) { return normalize(text, &icu::Normalizer2::getNFDInstance); }
std::string nfkc(std::string_view text) { return normalize(text, &icu::Normalizer2::getNFKCInstance); }

// ---- Words and sentences ----------------------------------------------------------

std::vector<WordSegment> wordSegments(std::string_view text, std::string_view locale) {
    std::vector<WordSegment> out;
    if (text.empty()) return out;
    auto& bi = detail::breakIterator(BreakKind::word, locale);
    detail::Utf8Iteration iteration(bi, text);
    if (!iteration.ok()) return out;
    std::size_t previous = 0;
    for (int32_t b = bi.next(); b != icu::BreakIterator::DONE; b = bi.next()) {
        // The rule status belongs to the segment that ends at the current boundary.
        const bool wordLike = bi.getRuleStatus() >= UBRK_WORD_NONE_LIMIT;
        out.push_back({{previous, static_cast<std::size_t>(b)}, wordLike});
        previous = static_cast<std::size_t>(b);
    }
    return out;
}

std::vector<TextRange> words(std::string_view text, std::string_view locale) {
    std::vector<TextRange> out;
    for (const auto& segment : wordSegments(text, locale))
        if (segment.isWordLike) out.push_back(segment.range);
    return out;
}

std::vector<TextRange> sentences(std::string_view text, std::string_view locale) {
    const auto b = boundaries(BreakKind::sentence, text, locale);
    std::vector<TextRange> out;
    for (std::size_t i = 0; i + 1 < b.size(); ++i) out.push_back({b[i], b[i + 1]});
    return out;
}

}  // namespace platform::text
