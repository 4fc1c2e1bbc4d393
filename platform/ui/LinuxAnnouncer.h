#pragma once

#include <string>

#include "platform/log/Log.h"
#include "platform/ui/Announcer.h"

namespace platform::ui {

// Screen-reader announcements on Linux: logged under the given logger, and
// passed to the accessibility bridge where Qt can send one.
class LinuxAnnouncer final : public Announcer {
public:
    explicit LinuxAnnouncer(Logger log) : log_(std::move(log)) {}
    void announce(const std::string& text, AnnouncementPriority priority) override;

private:
    Logger log_;
};

}  // namespace platform::ui
