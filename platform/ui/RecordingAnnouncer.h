#pragma once

#include <string>
#include <vector>

#include "platform/ui/Announcer.h"

namespace platform::ui {

// Test double: keeps every announcement in order.
class RecordingAnnouncer final : public Announcer {
public:
    struct Announcement {
        std::string text;
        AnnouncementPriority priority;
        friend bool operator==(const Announcement&, const Announcement&) = default;
    };

    void announce(const std::string& text, AnnouncementPriority priority) override {
        announcements_.push_back({text, priority});
    }

    const std::vector<Announcement>& announcements() const { return announcements_; }
    void clear() { announcements_.clear(); }

private:
    std::vector<Announcement> announcements_;
};

}  // namespace platform::ui
