#include "Parlowen/preferences/PermissionSettings.h"

#include "platform/runtime/Task.h"
#include "platform/x11/Workspace.h"

namespace parlowen {

void openPermissionSettings(PermissionKind kind, PermissionsManager& permissions, platform::Workspace& workspace,
                            platform::Executor& main) {
    if (kind == PermissionKind::accessibility) {
        if (permissions.currentState(kind) != PermissionState::granted)
            platform::spawn(main, permissions.request(kind));
        return;
    }
    workspace.openURL(PermissionsManager::settingsURL(kind));
}

}  // namespace parlowen
