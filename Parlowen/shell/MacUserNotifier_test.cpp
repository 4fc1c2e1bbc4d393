#include "Parlowen/shell/MacUserNotifier.h"

#include <gtest/gtest.h>

#include "platform/log/CaptureSink.h"
#include "platform/runtime/ManualExecutor.h"

namespace parlowen {
namespace {

using Status = platform::NotificationAuthorizationStatus;

const platform::Uuid kItem = *platform::Uuid::fromString("e621e1f8-c36c-495a-93fc-0c247a3e6e5f");

class MacUserNotifierTest : public ::testing::Test {
protected:
    platform::ScopedLogCapture logs;
    platform::ManualExecutor main;
    platform::ScriptedNotificationCenter center;
    MacUserNotifier notifier{center};

    void post(const std::string& title) {
        auto h = platform::spawn(main, notifier.notifyPodcastReady(kItem, title));
        main.runUntilIdle();
        ASSERT_TRUE(h.done());
    }
    std::vector<std::string> lines() {
        std::vector<std::string> out;
        for (const auto& l : logs->linesOfCategory("notify")) out.push_back(l.message);
        return out;
    }
};

TEST_F(MacUserNotifierTest, StatusDecidesWhetherToPostAndTheAnswerIsCached) {
    struct Case {
        Status status;
        platform::Result<bool> answer;
        bool posts;
        int requests;
        std::vector<std::string> lines;
    };
    const std::string posted = "posted podcast-ready: E621E1F8-C36C-495A-93FC-0C247A3E6E5F";
    const platform::Error busDown = platform::Error::make("Notifications", 1, "x", "no session bus");
    const std::vector<Case> table{
        {Status::authorized, true, true, 0, {posted}},
        {Status::provisional, true, true, 0, {posted}},
        {Status::denied, true, false, 0, {"notification auth previously denied; not re-prompting"}},
        {Status::notDetermined, true, true, 1, {"notification auth requested → granted=true", posted}},
        {Status::ephemeral, true, true, 1, {"notification auth requested → granted=true", posted}},
        {Status::notDetermined, false, false, 1, {"notification auth requested → granted=false"}},
        {Status::notDetermined, platform::fail(busDown), false, 1,
         {"notification auth request failed: no session bus"}},
    };
    for (std::size_t i = 0; i < table.size(); ++i) {
        const Case& c = table[i];
        SCOPED_TRACE(i);
        logs->clear();
        platform::ScriptedNotificationCenter fresh(c.status);
        fresh.answerRequestWith(c.answer);
        MacUserNotifier n(fresh);
        for (int round = 0; round < 2; ++round) {
            auto h = platform::spawn(main, n.notifyPodcastReady(kItem, "Episode"));
            main.runUntilIdle();
            ASSERT_TRUE(h.done());
        }
        EXPECT_EQ(fresh.added().size(), c.posts ? 2u : 0u);
        EXPECT_EQ(fresh.statusQueries(), 1) << "the second post uses the cached answer";
        EXPECT_EQ(fresh.requests(), c.requests);
        auto expected = c.lines;
        if (c.posts) expected.push_back(posted);
        EXPECT_EQ(lines(), expected);
        EXPECT_EQ(n.authGranted(), c.posts);
    }
}

TEST_F(MacUserNotifierTest, PostsPodcastReadyWithTheItemTitleUnderAStableIdentifier) {
    center.setStatus(Status::authorized);
    post("How Rivers Bend");
    post("How Rivers Bend (new render)");
    auto added = center.added();
    ASSERT_EQ(added.size(), 2u);
    EXPECT_EQ(added[0].identifier, "podcast-ready-E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
    EXPECT_EQ(added[1].identifier, added[0].identifier) << "a later render replaces the earlier notification";
    EXPECT_EQ(added[0].content.title, "Podcast ready");
    EXPECT_EQ(added[0].content.body, "How Rivers Bend");
    EXPECT_TRUE(added[0].content.defaultSound);
}

TEST_F(MacUserNotifierTest, AFailedPostIsLoggedAndTheCallEndsNormally) {
    center.setStatus(Status::authorized);
    center.failAddWith(platform::Error::make("Notifications", 1, "x", "Notify failed: server gone"));
    post("Episode");
    ASSERT_TRUE(logs->find("failed to post podcast-ready: Notify failed: server gone", platform::LogLevel::error));
}

}  // namespace
}  // namespace parlowen
