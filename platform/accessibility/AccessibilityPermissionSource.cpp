#include "platform/accessibility/AccessibilityPermissionSource.h"

#include "platform/log/Log.h"

namespace platform {

Task<void> AccessibilityPermissionSource::requestImpl(AccessibilityPermissionSource* self) {
    if (auto s = self->accessibility_.requestTrust(); !s) {
        static const Logger log("com.kelvatrum.Parlowen", "accessibility");
        log.error("could not switch assistive technology on: {}", s.error().description);
    }
    co_return;
}

}  // namespace platform
