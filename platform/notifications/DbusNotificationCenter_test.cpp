#include "platform/notifications/NotificationCenter.h"

#include <filesystem>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "platform/runtime/ManualExecutor.h"
#include "platform/runtime/WorkerPool.h"
#include "platform/testsupport/NotificationServer.h"
#include "platform/testsupport/Services.h"
#include "platform/testsupport/TempHome.h"

namespace platform {
namespace {

using Status = NotificationAuthorizationStatus;

template <class T>
T await(ManualExecutor& main, Task<T> task) {
    auto handle = spawn(main, std::move(task));
    EXPECT_TRUE(main.runUntil([&] { return handle.done(); }, std::chrono::seconds(60)));
    return handle.value();
}

TEST(DbusNotificationCenter, TheFirstPostStartsTheServerAndAReusedIdentifierReplacesTheNotification) {
    PARLOWEN_REQUIRE_OR_SKIP(testsupport::dunstInstalled());
    testsupport::DesktopSession desktop;
    PARLOWEN_REQUIRE_OR_SKIP(desktop.start());
    ManualExecutor main;
    WorkerPool background(1);
    DbusNotificationCenter center(background, desktop.environment());

    EXPECT_EQ(await(main, center.authorizationStatus()), Status::notDetermined) << "no server runs yet";
    auto granted = await(main, center.requestAuthorization());
    ASSERT_TRUE(granted) << granted.error().description;
    EXPECT_TRUE(*granted);
    EXPECT_EQ(await(main, center.authorizationStatus()), Status::authorized);

    NotificationRequest request{"podcast-ready-E621E1F8-C36C-495A-93FC-0C247A3E6E5F",
                                {"Podcast ready", "First render", true}};
    auto first = center.addNow(request);
    ASSERT_TRUE(first) << first.error().description;
    request.content.body = "Second render";
    auto posted = await(main, center.add(request));
    ASSERT_TRUE(posted) << posted.error().description;

    auto count = desktop.run({"dunstctl", "count", "displayed"});
    auto waiting = desktop.run({"dunstctl", "count", "waiting"});
    ASSERT_TRUE(count.ok()) << count.describe();
    EXPECT_EQ(std::stoi(count.out) + std::stoi(waiting.out), 1) << "one notification listed";

    // Another identifier is another notification; this one asks for no sound.
    ASSERT_TRUE(center.addNow({"other", {"Silent", "No sound", false}}));
    auto both = desktop.run({"dunstctl", "count", "displayed"});
    auto bothWaiting = desktop.run({"dunstctl", "count", "waiting"});
    EXPECT_EQ(std::stoi(both.out) + std::stoi(bothWaiting.out), 2);

    // Closing moves them to the history, where their texts can be read.
    ASSERT_TRUE(desktop.run({"dunstctl", "close-all"}).ok());
    auto kept = testsupport::notificationHistory(desktop);
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_NE(std::find(kept.begin(), kept.end(), std::pair<std::string, std::string>{"Podcast ready", "Second render"}),
              kept.end());
}

TEST(DbusNotificationCenter, WithNoServerTheStatusIsNotDeterminedAndTheRequestAnswersFalse) {
    // A bus without a display: activating dunst there fails, so nothing serves.
    testsupport::DbusSession bus;
    PARLOWEN_REQUIRE_OR_SKIP(bus.start());
    WorkerPool background(1);
    DbusNotificationCenter center(background, bus.environment().without("DISPLAY"));
    EXPECT_EQ(center.authorizationStatusNow(), Status::notDetermined);
    auto answer = center.requestAuthorizationNow();
    ASSERT_TRUE(answer) << answer.error().description;
    EXPECT_FALSE(*answer);
    EXPECT_FALSE(bus.hasOwner(DbusNotificationCenter::kServiceName));
    auto post = center.addNow({"x", {"Podcast ready", "t", true}});
    EXPECT_FALSE(post);
}

TEST(DbusNotificationCenter, WithoutASessionBusTheRequestFails) {
    testsupport::TempDir runtime;
    Environment env(std::map<std::string, std::string>{{"XDG_RUNTIME_DIR", runtime.path().string()}});
    ManualExecutor main;
    WorkerPool background(1);
    DbusNotificationCenter center(background, env);
    EXPECT_EQ(await(main, center.authorizationStatus()), Status::notDetermined);
    auto answer = await(main, center.requestAuthorization());
    ASSERT_FALSE(answer);
    EXPECT_NE(answer.error().description.find("no session bus"), std::string::npos);

    // An address where nothing listens is a bus error too.
    DbusNotificationCenter nowhere(background,
                                   Environment(std::map<std::string, std::string>{{"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + (runtime / "none").string()}}));
    EXPECT_FALSE(nowhere.requestAuthorizationNow());
}

}  // namespace
}  // namespace platform
