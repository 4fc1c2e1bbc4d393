#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace parlowen {

// Cuts `text` into groups of whole words for re-chunked synthesis. `budget` is a
// phoneme count; the group size is the larger of 8 words and budget / 5. Words
// are runs of characters (grapheme clusters) between white space. No word gives
// an empty list; at most one group's worth gives the text itself, untouched;
// otherwise each group is its words joined by single spaces, and only the last
// group may be short.
std::vector<std::string> splitIntoWordGroups(std::string_view text, std::int64_t budget);

}  // namespace parlowen
