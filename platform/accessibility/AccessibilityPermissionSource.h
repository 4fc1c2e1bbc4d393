#pragma once

#include "platform/accessibility/Accessibility.h"
#include "platform/permissions/PermissionSource.h"

namespace platform {

// The accessibility permission: 1 (trusted) while assistive technology is
// on, else 0. A request switches it on.
class AccessibilityPermissionSource : public PermissionSource {
public:
    explicit AccessibilityPermissionSource(Accessibility& accessibility) : accessibility_(accessibility) {}

    std::int64_t rawStatus() override { return accessibility_.isTrusted() ? 1 : 0; }
    Task<void> request() override { return requestImpl(this); }

private:
    static Task<void> requestImpl(AccessibilityPermissionSource* self);
    Accessibility& accessibility_;
};

}  // namespace platform
