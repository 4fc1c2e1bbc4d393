#pragma once

// Where the user grants a permission by hand. On this desktop no settings
// panel can grant accessibility: the desktop's assistive-technology switch,
// which the accessibility source's request turns on, is the grant. The
// Permissions tab, the pre-screen and onboarding all go through this one
// function.

#include "Parlowen/shell/PermissionsManager.h"
#include "platform/runtime/Executor.h"

namespace platform {
class Workspace;
}

namespace parlowen {

// Accessibility: requests it (a task on `main`), nothing once granted.
// Every other kind: opens its settings pane through the workspace.
void openPermissionSettings(PermissionKind kind, PermissionsManager& permissions, platform::Workspace& workspace,
                            platform::Executor& main);

}  // namespace parlowen
