#include <gtest/gtest.h>

#include "platform/log/CaptureSink.h"
#include "platform/ui/LinuxAnnouncer.h"
#include "platform/ui/RecordingAnnouncer.h"

namespace platform::ui {
namespace {

TEST(LinuxAnnouncer, LogsThePriorityAndKeepsTheTextPrivate) {
    ScopedLogCapture capture;
    LinuxAnnouncer announcer(Logger("com.kelvatrum.Parlowen", "app"));
    announcer.announce("Dictated 12 words", AnnouncementPriority::high);

    auto line = capture->find("announce");
    ASSERT_TRUE(line);
    EXPECT_EQ(line->subsystem, "com.kelvatrum.Parlowen");
    EXPECT_EQ(line->category, "app");
    EXPECT_EQ(line->message, "announce priority=90 text=<private>");

    setRedactPrivate(false);
    announcer.announce("Dictated 12 words", AnnouncementPriority::medium);
    setRedactPrivate(true);
    EXPECT_TRUE(capture->contains("announce priority=50 text=Dictated 12 words"));
}

TEST(RecordingAnnouncer, KeepsAnnouncementsInOrder) {
    RecordingAnnouncer announcer;
    announcer.announce("first", AnnouncementPriority::high);
    announcer.announce("second", AnnouncementPriority::low);
    using A = RecordingAnnouncer::Announcement;
    EXPECT_EQ(announcer.announcements(),
              (std::vector<A>{{"first", AnnouncementPriority::high}, {"second", AnnouncementPriority::low}}));
}

}  // namespace
}  // namespace platform::ui
