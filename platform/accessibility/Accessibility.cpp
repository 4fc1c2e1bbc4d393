#include "platform/accessibility/Accessibility.h"

namespace platform {

Error accessibilityError(AccessibilityErrorCode code, std::string description) {
    const char* name = "failure";
    switch (code) {
        case AccessibilityErrorCode::failure: name = "failure"; break;
        case AccessibilityErrorCode::illegalArgument: name = "illegalArgument"; break;
        case AccessibilityErrorCode::invalidElement: name = "invalidElement"; break;
        case AccessibilityErrorCode::cannotComplete: name = "cannotComplete"; break;
        case AccessibilityErrorCode::attributeUnsupported: name = "attributeUnsupported"; break;
        case AccessibilityErrorCode::notImplemented: name = "notImplemented"; break;
        case AccessibilityErrorCode::apiDisabled: name = "apiDisabled"; break;
        case AccessibilityErrorCode::noValue: name = "noValue"; break;
    }
    return Error::make(kAccessibilityErrorDomain, static_cast<int>(code), name, std::move(description));
}

}  // namespace platform
