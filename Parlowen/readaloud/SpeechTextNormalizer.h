#pragma once

// Turns text the user wants to hear (mark-down, e-mail, chat, developer text)
// into text a voice can read: mark-up and header lines go, and literals that
// sound bad read out (links, paths, code, addresses, hex numbers, UUIDs, long
// tokens) become short spoken forms, each recorded as a SpeechMark.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Parlowen/readaloud/SpeechMark.h"

namespace parlowen {

class SpeechTextNormalizer {
public:
    // Only how links are spoken differs between the modes.
    enum class Mode { read, listenLater };

    // Records the literals of one normalise call. Passes after a marking pass
    // keep rewriting the text, so no offset is taken until the end: each
    // literal is replaced by a marker (U+E000, the entry's index in decimal,
    // U+E001) and `resolve` turns markers into spoken text and character
    // ranges in one final scan.
    class MarkBuilder {
    public:
        struct Entry {
            SpeechMark::Kind kind = SpeechMark::Kind::link;
            std::string label;
            std::string literal;
            std::string spoken;  // said in place of the literal
            bool operator==(const Entry&) const = default;
        };

        // A marker's delimiters; the normaliser removes them from its input.
        static constexpr std::string_view kMarkerOpen = "\xEE\x80\x80";   // U+E000
        static constexpr std::string_view kMarkerClose = "\xEE\x80\x81";  // U+E001

        MarkBuilder() = default;
        MarkBuilder(const MarkBuilder&) = delete;
        MarkBuilder& operator=(const MarkBuilder&) = delete;

        // Appends an entry and returns its marker text.
        std::string record(SpeechMark::Kind kind, std::string label, std::string literal,
                           std::string spoken);

        // Replaces every well-formed marker that names an entry by the entry's
        // spoken text and returns that text with the marks in text order.
        // Anything else, malformed markers included, is copied as it is.
        std::pair<std::string, std::vector<SpeechMark>> resolve(std::string_view workingText) const;

        const std::vector<Entry>& entries() const { return entries_; }

    private:
        std::vector<Entry> entries_;
    };

    Mode mode = Mode::read;

    SpeechTextNormalizer() = default;
    explicit SpeechTextNormalizer(Mode m) : mode(m) {}

    // Pure: the same text and mode always give the same result; safe to call
    // from any thread, also concurrently.
    NormalizedSpeech normalize(std::string_view text) const;

    // For callers that hold only a mode.
    static NormalizedSpeech normalize(std::string_view text, Mode mode) {
        return SpeechTextNormalizer(mode).normalize(text);
    }

    bool operator==(const SpeechTextNormalizer&) const = default;
};

}  // namespace parlowen
