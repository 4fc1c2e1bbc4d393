#pragma once

// Helpers shared by the podcast tests.

#include <string>
#include <string_view>
#include <vector>

#include "platform/log/CaptureSink.h"

namespace parlowen::podcasttest {

// The messages of one log category, in order.
inline std::vector<std::string> messagesOf(platform::ScopedLogCapture& log, std::string_view category) {
    std::vector<std::string> out;
    for (const auto& line : log->linesOfCategory(category)) out.push_back(line.message);
    return out;
}

}  // namespace parlowen::podcasttest
