#pragma once

// Turns a respelling that anyone can type ("koo-ber-NET-eez": hyphenated
// syllables, the stressed one in capitals, everyday spelling patterns) into
// the IPA text the on-device voice speaks in place of the word.

#include <string>
#include <string_view>

namespace parlowen {

// "" when there is nothing to convert; never fails. Any thread.
std::string respellingToIPA(std::string_view respelling);

// One syllable, already lower-cased: a greedy left-to-right scan that takes the
// longest spelling pattern at each position and copies anything else unchanged.
std::string syllableToIPA(std::string_view syllable);

}  // namespace parlowen
