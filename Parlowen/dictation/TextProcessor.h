#pragma once

#include <string>
#include <string_view>

namespace parlowen {

// Turns the raw text of a finished dictation into text ready for insertion:
// spoken punctuation and line-break words become the characters they name,
// spaces before punctuation go, runs of blanks shrink to one, blanks around
// line breaks go, and the ends are trimmed. Stateless; any thread.
struct TextProcessor {
    std::string process(std::string_view text) const;
};

}  // namespace parlowen
