#pragma once
// Private to platform/text: ICU plumbing shared by the implementation files.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <unicode/brkiter.h>
#include <unicode/unistr.h>
#include <unicode/utext.h>

namespace platform::text::detail {

// UTF-16 text with, for each UTF-16 index, the byte offset in the UTF-8 original
// (plus one entry for the end), so ICU's UTF-16 positions map back to bytes.
struct Utf16Text {
    icu::UnicodeString text;
    std::vector<std::size_t> byteOffset;
};
Utf16Text toUtf16(std::string_view utf8);
// The same UTF-16 text without the offset table, for whole-text scans that map
// their (increasing) positions back by walking forward instead.
icu::UnicodeString toUtf16Text(std::string_view utf8);
std::string toUtf8(const icu::UnicodeString& text);

enum class BreakKind { character, word, sentence };
// A break iterator for this thread (ICU iterators are not shareable between threads),
// created once per kind and locale.
icu::BreakIterator& breakIterator(BreakKind kind, std::string_view locale);

// Points `iterator` at UTF-8 text without copying; boundaries are then byte offsets.
class Utf8Iteration {
public:
    Utf8Iteration(icu::BreakIterator& iterator, std::string_view text);
    ~Utf8Iteration();
    Utf8Iteration(const Utf8Iteration&) = delete;
    Utf8Iteration& operator=(const Utf8Iteration&) = delete;
    bool ok() const { return ok_; }

private:
    UText* utext_ = nullptr;
    bool ok_ = false;
};

}  // namespace platform::text::detail
