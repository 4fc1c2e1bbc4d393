#pragma once

// What the speech-text normaliser hands back: the speakable text and one mark
// per literal it replaced (links, paths, code blocks, addresses, opaque tokens),
// so that the read-aloud panel can show what was skipped and let the user copy it.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace parlowen {

struct SpeechMark {
    enum class Kind { link, path, code, email, opaque };

    // Half-open range of offsets in user-perceived characters (grapheme
    // clusters) of the speakable text; it may be empty.
    struct Range {
        std::int64_t lowerBound = 0;
        std::int64_t upperBound = 0;
        std::int64_t count() const { return upperBound - lowerBound; }
        bool operator==(const Range&) const = default;
    };

    Kind kind = Kind::link;
    std::string label;    // host, last path component, "code", "email", "hex" or "ID"
    std::string literal;  // the replaced text
    Range range;          // where its spoken replacement lies in the speakable text

    bool operator==(const SpeechMark&) const = default;

    // The kinds' raw values equal their case names; reading one is exact and
    // case-sensitive.
    static std::string_view rawValue(Kind kind);
    static std::optional<Kind> kindFromRawValue(std::string_view raw);
};

struct NormalizedSpeech {
    std::string text;               // what is to be spoken
    std::vector<SpeechMark> marks;  // in text order, ranges never overlap

    bool operator==(const NormalizedSpeech&) const = default;
};

}  // namespace parlowen
