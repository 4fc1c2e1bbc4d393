#include "Parlowen/shell/views/LaunchAtLoginSection.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QVBoxLayout>

#include "Parlowen/shell/views/ThemePalette.h"
#include "platform/log/CaptureSink.h"
#include "platform/ui/Buttons.h"
#include "platform/ui/Finders.h"
#include "platform/ui/Forms.h"
#include "platform/ui/ScreenshotTesting.h"
#include "platform/ui/Surfaces.h"
#include "platform/x11/Workspace.h"

namespace parlowen {
namespace {

using platform::LoginItemStatus;
using platform::ui::findNamed;

const std::filesystem::path kShots = PARLOWEN_SCREENSHOT_DIR;

class LaunchAtLoginSectionTest : public ::testing::Test {
protected:
    platform::ScopedLogCapture logs;
    platform::ScriptedLoginItemService service;
    platform::ScriptedWorkspace workspace;
    platform::ui::ThemedBackground window;

    LaunchAtLoginSection* make() {
        window.resize(520, 320);
        auto* box = new QVBoxLayout(&window);
        auto* section = new LaunchAtLoginSection(service, workspace);
        box->addWidget(section);
        box->addStretch();
        return section;
    }
    platform::ui::Switch* toggle() { return findNamed<platform::ui::Switch>(&window, "launchAtLogin/toggle"); }
    bool noticeShown() { return findNamed<QWidget>(&window, "approvalNotice")->isVisible(); }
    bool buttonShown() { return findNamed<QWidget>(&window, "openLoginItems")->isVisible(); }
};

TEST_F(LaunchAtLoginSectionTest, ShowsTheRegistrationAndTheSwitchRegisters) {
    service.setStatus(LoginItemStatus::enabled);
    make();
    window.show();
    platform::ui::testing::settle();
    EXPECT_EQ(findNamed<QLabel>(&window, "startup/header")->text(), "Startup");
    EXPECT_EQ(findNamed<QLabel>(&window, "launchAtLogin/title")->text(), "Launch Parlowen at login");
    EXPECT_TRUE(toggle()->isChecked());
    EXPECT_FALSE(noticeShown());
    EXPECT_FALSE(buttonShown());
    toggle()->click();
    EXPECT_FALSE(toggle()->isChecked());
    EXPECT_EQ(service.unregistrations(), 1);
}

TEST_F(LaunchAtLoginSectionTest, ApprovalRequiredTurnsTheSwitchBackOffAndOffersTheLoginItemsSettings) {
    setThemePalette(&window, hearthPalette());
    service.setRequiresApproval(true);
    auto* section = make();
    window.show();
    platform::ui::testing::settle();
    toggle()->click();
    EXPECT_EQ(service.registrations(), 1);
    EXPECT_FALSE(toggle()->isChecked());
    EXPECT_EQ(section->manager().status(), LoginItemStatus::requiresApproval);
    EXPECT_TRUE(noticeShown());
    EXPECT_TRUE(buttonShown());
    EXPECT_EQ(findNamed<QLabel>(&window, "approvalTitle")->text(), "Approval required");
    platform::ui::testing::expectScreenshot(&window, kShots / "launch-at-login-approval.png",
                                            {"startup/header", "launchAtLogin/toggle", "approvalSymbol",
                                             "approvalTitle", "approvalText", "openLoginItems", "startup/footer"});

    findNamed<platform::ui::PushButton>(&window, "openLoginItems")->click();
    EXPECT_EQ(workspace.openedURLs(),
              std::vector<std::string>{"x-apple.systempreferences:com.apple.LoginItems-Settings.extension"});

    // Approved in the system settings; the section is shown again.
    service.setStatus(LoginItemStatus::enabled);
    section->hide();
    section->show();
    platform::ui::testing::settle();
    EXPECT_TRUE(toggle()->isChecked());
    EXPECT_FALSE(noticeShown());
    EXPECT_EQ(service.registrations(), 1) << "showing the new state registers nothing";
}

TEST_F(LaunchAtLoginSectionTest, ScreenshotInTheDarkTheme) {
    setThemePalette(&window, duskPalette());
    service.setStatus(LoginItemStatus::requiresApproval);
    make();
    platform::ui::testing::expectScreenshot(&window, kShots / "launch-at-login-dark.png",
                                            {"launchAtLogin/toggle", "approvalText", "openLoginItems"});
}

}  // namespace
}  // namespace parlowen
