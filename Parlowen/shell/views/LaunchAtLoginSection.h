#pragma once

#include <QWidget>

#include "Parlowen/shell/LoginItemManager.h"
#include "platform/runtime/Observable.h"

class QLabel;

namespace platform {
class Workspace;
}
namespace platform::ui {
class PushButton;
class Section;
class ToggleRow;
}  // namespace platform::ui

namespace parlowen {

// The "Startup" settings section: the launch-at-login switch, and while the
// system waits for the user's approval a notice with a button that opens
// the login-items settings. Owns its LoginItemManager for its lifetime and
// refreshes it each time it is shown, so a change made in the system
// settings shows when the section comes back.
// Children: "startup" (the section), "launchAtLogin" (its toggle row, with
// "toggle"), "approvalNotice", "approvalTitle", "approvalText",
// "approvalSymbol", "openLoginItems".
class LaunchAtLoginSection : public QWidget {
public:
    static constexpr const char* kLoginItemsURL = "x-apple.systempreferences:com.apple.LoginItems-Settings.extension";

    LaunchAtLoginSection(platform::LoginItemService& service, platform::Workspace& workspace,
                         QWidget* parent = nullptr);
    ~LaunchAtLoginSection() override;

    LoginItemManager& manager() { return manager_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void showStatus(platform::LoginItemStatus status);
    void tintSymbol();

    LoginItemManager manager_;
    platform::Workspace& workspace_;
    platform::ui::Section* section_;
    platform::ui::ToggleRow* toggle_;
    QWidget* notice_;
    QLabel* symbol_;
    QWidget* buttonRow_;
    platform::ui::PushButton* openButton_;
    platform::Subscription statusSubscription_;
};

}  // namespace parlowen
