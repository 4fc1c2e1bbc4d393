#pragma once

// Readable test failure output for speech marks.

#include <ostream>

#include "Parlowen/readaloud/SpeechMark.h"

namespace parlowen {

inline void PrintTo(const SpeechMark& m, std::ostream* os) {
    *os << SpeechMark::rawValue(m.kind) << " \"" << m.label << "\" \"" << m.literal << "\" "
        << m.range.lowerBound << "..<" << m.range.upperBound;
}

}  // namespace parlowen
