#pragma once

// Accessibility: the element that has the keyboard focus in another
// application, its role, its text and selection, and writing text into it.
// The AT-SPI implementation lives in AtspiAccessibility.h; the scripted
// doubles are in ScriptedAccessibility.h.

#include <sys/types.h>

#include <memory>
#include <optional>
#include <string>

#include "platform/runtime/Error.h"
#include "platform/runtime/Executor.h"

namespace platform {

// Failures carry the accessibility status codes that log lines print.
enum class AccessibilityErrorCode : int {
    failure = -25200,
    illegalArgument = -25201,
    invalidElement = -25202,
    cannotComplete = -25204,  // no answer within the messaging timeout, or the application is gone
    attributeUnsupported = -25205,
    notImplemented = -25208,
    apiDisabled = -25211,     // the accessibility bus is off or unreachable
    noValue = -25212,
};
inline constexpr const char* kAccessibilityErrorDomain = "Accessibility";
Error accessibilityError(AccessibilityErrorCode code, std::string description);

// The role name of a password field: a secure text field.
inline constexpr const char* kPasswordTextRole = "password text";

// Character offsets (Unicode code points), end exclusive.
struct AccessibleTextRange {
    int start = 0;
    int end = 0;
    friend bool operator==(const AccessibleTextRange&, const AccessibleTextRange&) = default;
};

// The top-level window an element sits in, as far as a text insertion
// cares: a modal window or a dialog is not where dictated text belongs.
struct AccessibleWindow {
    bool modal = false;
    // "AXDialog" for dialogs, alerts and file choosers, "AXSystemDialog"
    // for the system's own, "AXStandardWindow" for any other window; none
    // when the kind cannot be told.
    std::optional<std::string> subrole;
    friend bool operator==(const AccessibleWindow&, const AccessibleWindow&) = default;
};
inline constexpr const char* kStandardWindowSubrole = "AXStandardWindow";
inline constexpr const char* kDialogSubrole = "AXDialog";
inline constexpr const char* kSystemDialogSubrole = "AXSystemDialog";

// One element of another application's user interface. Main thread only.
class AccessibleElement {
public:
    virtual ~AccessibleElement() = default;

    virtual Result<pid_t> processIdentifier() = 0;
    // The role's name: "text", "password text", "entry", "push button", ...
    virtual Result<std::string> roleName() = 0;
    // Whether setSelectedText() can write here: editable text that is editable now.
    virtual Result<bool> isSelectedTextSettable() = 0;
    // Replaces the selection with `text`, or inserts it at the caret when
    // nothing is selected, without the clipboard and without activating the
    // application.
    virtual Status setSelectedText(const std::string& text) = 0;
    virtual Result<std::string> selectedText() = 0;
    // The first selection; an empty range at the caret when nothing is selected.
    virtual Result<AccessibleTextRange> selectionRange() = 0;
    // The whole text.
    virtual Result<std::string> value() = 0;
    // The window around the element; fails when there is none.
    virtual Result<AccessibleWindow> window() = 0;
};

// The system-wide view. Main thread only.
class Accessibility {
public:
    virtual ~Accessibility() = default;

    // Whether assistive technology is switched on, so that applications
    // publish their elements (the accessibility permission's "trusted").
    virtual bool isTrusted() = 0;
    // Switches assistive technology on. Applications that start afterwards
    // (and toolkits that follow the switch) publish their elements.
    virtual Status requestTrust() = 0;
    // How long one query may wait for an application's answer.
    virtual void setMessagingTimeout(Duration timeout) = 0;
    // The element with the keyboard focus; nullptr when the query worked but
    // no element has the focus.
    virtual Result<std::shared_ptr<AccessibleElement>> focusedElement() = 0;
};

}  // namespace platform
