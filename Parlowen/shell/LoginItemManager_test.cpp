#include "Parlowen/shell/LoginItemManager.h"

#include <gtest/gtest.h>

#include "platform/log/CaptureSink.h"

namespace parlowen {
namespace {

using platform::LoginItemStatus;

class LoginItemManagerTest : public ::testing::Test {
protected:
    platform::ScopedLogCapture logs;
    platform::ScriptedLoginItemService service;
    std::vector<std::string> published;
    platform::SubscriptionSet watching;

    void watch(LoginItemManager& manager) {
        watching += manager.isEnabledStream().dropFirst().subscribe(
            [this](const bool& v) { published.push_back(v ? "on" : "off"); });
        watching += manager.statusStream().dropFirst().subscribe(
            [this](const LoginItemStatus& s) { published.push_back(std::string(platform::toString(s))); });
    }
    std::vector<std::string> loginLines() {
        std::vector<std::string> out;
        for (const auto& l : logs->linesOfCategory("loginitem")) out.push_back(l.message);
        return out;
    }
};

TEST_F(LoginItemManagerTest, SwitchingOnRegistersAndSwitchingOffUnregisters) {
    LoginItemManager manager(service);
    EXPECT_FALSE(manager.isEnabled());
    EXPECT_EQ(manager.status(), LoginItemStatus::notRegistered);
    manager.setIsEnabled(true);
    EXPECT_EQ(service.registrations(), 1);
    EXPECT_TRUE(manager.isEnabled());
    EXPECT_EQ(manager.status(), LoginItemStatus::enabled);
    manager.setIsEnabled(false);
    EXPECT_EQ(service.unregistrations(), 1);
    EXPECT_EQ(manager.status(), LoginItemStatus::notRegistered);
    EXPECT_EQ(loginLines(), (std::vector<std::string>{"login item registered", "login item unregistered"}));
}

TEST_F(LoginItemManagerTest, WhenApprovalIsRequiredTheSwitchFallsBackOffAndApprovingShowsOnAtTheNextRefresh) {
    service.setRequiresApproval(true);
    LoginItemManager manager(service);
    watch(manager);
    manager.setIsEnabled(true);
    EXPECT_FALSE(manager.isEnabled());
    EXPECT_EQ(manager.status(), LoginItemStatus::requiresApproval);
    EXPECT_EQ(published, (std::vector<std::string>{"on", "requiresApproval", "off"}));
    EXPECT_EQ(service.registrations(), 1) << "the manager's own write back to off unregisters nothing";
    EXPECT_EQ(service.unregistrations(), 0);

    // The user approves in the system settings, then the section appears again.
    service.setStatus(LoginItemStatus::enabled);
    manager.refresh();
    EXPECT_TRUE(manager.isEnabled());
    EXPECT_EQ(manager.status(), LoginItemStatus::enabled);
    EXPECT_EQ(service.registrations(), 1);
}

TEST_F(LoginItemManagerTest, ARefreshThatFindsNothingChangedPublishesNothing) {
    service.setStatus(LoginItemStatus::enabled);
    LoginItemManager manager(service);
    watch(manager);
    manager.refresh();
    manager.refresh();
    EXPECT_TRUE(published.empty());
    EXPECT_EQ(service.statusReads(), 3);
}

TEST_F(LoginItemManagerTest, AFailedRegistrationIsLoggedAndTheSwitchReturnsToTheRealState) {
    LoginItemManager manager(service);
    service.failNextRegistration(platform::Error::make("LoginItem", 1, "x", "Operation not permitted"));
    manager.setIsEnabled(true);
    EXPECT_FALSE(manager.isEnabled());
    EXPECT_EQ(manager.status(), LoginItemStatus::notRegistered);
    ASSERT_TRUE(logs->find("login item update failed: Operation not permitted", platform::LogLevel::error));
}

TEST_F(LoginItemManagerTest, TheUninstallsManagerUnregistersAnEnabledItem) {
    service.setStatus(LoginItemStatus::enabled);
    LoginItemManager manager(service);
    ASSERT_TRUE(manager.isEnabled());
    manager.setIsEnabled(false);
    EXPECT_EQ(service.unregistrations(), 1);
    EXPECT_EQ(service.status(), LoginItemStatus::notRegistered);
}

}  // namespace
}  // namespace parlowen
