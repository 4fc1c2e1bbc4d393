#pragma once

// The permission pre-screen: what the user will see next, why Parlowen needs
// the permission and what it does not do with it. It requests nothing
// itself; whoever shows it (a sheet of the Permissions tab, or its own
// floating window below) decides what confirm and cancel do.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include <QPointer>
#include <QWidget>

#include "Parlowen/shell/PermissionsManager.h"
#include "platform/runtime/Executor.h"
#include "platform/runtime/Observable.h"
#include "platform/runtime/Task.h"
#include "platform/ui/WindowHost.h"

namespace platform {
class Workspace;
}
namespace platform::ui {
class PushButton;
}  // namespace platform::ui

namespace parlowen {

class PreferencesStore;

class PermissionPreScreen : public QWidget {
public:
    static constexpr int kWidth = 440;

    // Children: "headerSymbol", "heading", "subtitle", "expectation/title",
    // "expectation/body", "why/...", "doesnt/...", "notNow", "primary".
    PermissionPreScreen(PermissionKind kind, PermissionState currentState, std::function<void()> onConfirm,
                        std::function<void()> onCancel, QWidget* parent = nullptr);

    static std::string expectationText(PermissionKind kind, PermissionState state);

    PermissionKind kind() const { return kind_; }
    PermissionState currentState() const { return currentState_; }
    platform::ui::PushButton* primaryButton() const { return primary_; }
    platform::ui::PushButton* notNowButton() const { return notNow_; }

private:
    PermissionKind kind_;
    PermissionState currentState_;
    platform::ui::PushButton* primary_;
    platform::ui::PushButton* notNow_;
};

// The pre-screen in its own small floating window, shown when a dictation or
// read-aloud gesture finds a permission missing. Main thread only.
class PermissionPreScreenWindowController {
public:
    // With `preferences`, the window follows the selected theme.
    PermissionPreScreenWindowController(PermissionsManager& permissions, platform::Workspace& workspace,
                                        platform::Executor& main, PreferencesStore* preferences = nullptr);
    ~PermissionPreScreenWindowController();
    PermissionPreScreenWindowController(const PermissionPreScreenWindowController&) = delete;
    PermissionPreScreenWindowController& operator=(const PermissionPreScreenWindowController&) = delete;

    // Shows the window for `kind` with its state read from the system and
    // returns at once; an open window is reused.
    void present(PermissionKind kind, std::function<void()> completion = {});

    // The window; null until the first presentation and after it closed.
    platform::ui::WindowHost* window() const { return window_; }
    PermissionPreScreen* view() const;

private:
    void confirm(PermissionKind kind, PermissionState state, std::uint64_t generation,
                 std::function<void()> completion);
    void cancel(std::function<void()> completion);
    static platform::Task<void> confirmTask(PermissionPreScreenWindowController* self, std::weak_ptr<void> alive,
                                            PermissionsManager* permissions, platform::Workspace* workspace,
                                            platform::Executor* main, PermissionKind kind, PermissionState state,
                                            std::uint64_t generation, std::function<void()> completion);
    void finish(std::uint64_t generation, std::function<void()> completion);
    void windowWillClose();

    PermissionsManager& permissions_;
    platform::Workspace& workspace_;
    platform::Executor& main_;
    PreferencesStore* preferences_;
    QPointer<platform::ui::WindowHost> window_;
    platform::Subscription theme_;
    // Each presentation's number: a confirm that finishes after a later
    // presentation reused the window leaves that window alone.
    std::uint64_t generation_ = 0;
    platform::Lifetime lifetime_;
};

}  // namespace parlowen
