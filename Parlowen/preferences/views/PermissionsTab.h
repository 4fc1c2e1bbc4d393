#pragma once

// The Permissions tab: the four permissions with their states, a way to
// grant each missing one (explained first by the pre-screen, as a sheet) and
// a Refresh button. The rows follow every state the permissions manager
// publishes.

#include <functional>
#include <map>

#include <QPointer>
#include <QWidget>

#include "Parlowen/shell/PermissionsManager.h"
#include "platform/runtime/Executor.h"
#include "platform/runtime/Observable.h"
#include "platform/runtime/Task.h"
#include "platform/ui/Sheet.h"
#include "platform/ui/Surfaces.h"

class QLabel;

namespace platform {
class Workspace;
}
namespace platform::ui {
class PushButton;
class SymbolLabel;
}  // namespace platform::ui

namespace parlowen {

class PermissionPreScreen;

// One permission. Children: "status", "title", "explanation", "granted",
// "openSettings", "request".
class PermissionRow : public platform::ui::Card {
public:
    PermissionRow(PermissionKind kind, PermissionState state, std::function<void()> onRequest,
                  std::function<void()> onOpenSettings, QWidget* parent = nullptr);

    PermissionKind kind() const { return kind_; }
    PermissionState state() const { return state_; }
    // A fresh snapshot from the manager.
    void setState(PermissionState state);

    bool showingPreScreen() const { return sheet_ != nullptr; }
    // The open pre-screen sheet, if any.
    PermissionPreScreen* preScreen() const;
    platform::ui::Sheet* sheet() const { return sheet_; }

private:
    void showPreScreen();
    void closePreScreen();

    PermissionKind kind_;
    PermissionState state_;
    std::function<void()> onRequest_;
    std::function<void()> onOpenSettings_;
    platform::ui::SymbolLabel* status_;
    QLabel* granted_;
    platform::ui::PushButton* openSettings_;
    platform::ui::PushButton* request_;
    QPointer<platform::ui::Sheet> sheet_;
};

class PermissionsTab : public QWidget {
public:
    PermissionsTab(PermissionsManager& permissions, platform::Workspace& workspace, platform::Executor& main,
                   QWidget* parent = nullptr);
    ~PermissionsTab() override;

    PermissionRow* row(PermissionKind kind) const { return rows_.at(kind); }

    void grant(PermissionKind kind);
    void openSettings(PermissionKind kind);
    void refresh();

protected:
    void showEvent(QShowEvent* event) override;

private:
    PermissionState stateOf(PermissionKind kind) const;

    PermissionsManager& permissions_;
    platform::Workspace& workspace_;
    platform::Executor& main_;
    std::map<PermissionKind, PermissionRow*> rows_;
    platform::JoinHandle<void> onAppear_;
    platform::Subscription statesSubscription_;
};

}  // namespace parlowen
