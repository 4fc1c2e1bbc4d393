#pragma once

#include <string>

namespace platform::ui {

// How urgently a screen reader should speak an announcement. The values match
// the priority levels the rest of the application talks in (high = 90).
enum class AnnouncementPriority : int { low = 10, medium = 50, high = 90 };

// Screen-reader announcements for results that need no answer.
class Announcer {
public:
    virtual ~Announcer() = default;
    virtual void announce(const std::string& text, AnnouncementPriority priority) = 0;
};

}  // namespace platform::ui
