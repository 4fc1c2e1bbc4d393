#pragma once
// Private to platform/text: ICU plumbing shared by the implementation files.

#include <memory>
#include <string>
#include <string_view>

#include <unicode/brkiter.h>
#include <unicode/unistr.h>
#include <unicode/utext.h>

namespace platform::text::detail {

// The UTF-16 form of UTF-8 text; an ill-formed sequence becomes one U+FFFD.
// Scans that need byte offsets map ICU's UTF-16 positions back by walking forward.
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
