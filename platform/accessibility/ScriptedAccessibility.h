#pragma once

// Test doubles: an element whose answers, text and selection a test sets,
// and a system-wide view with a scripted trust and focus.

#include <optional>
#include <vector>

#include "platform/accessibility/Accessibility.h"

namespace platform {

class ScriptedAccessibleElement : public AccessibleElement {
public:
    Result<pid_t> processIdentifier() override { return pid; }
    Result<std::string> roleName() override { return role; }
    Result<bool> isSelectedTextSettable() override { return settable; }
    // Edits `text` the way a text field does (code-point offsets) unless
    // `setFailure` is set; every call is recorded.
    Status setSelectedText(const std::string& text) override;
    Result<std::string> selectedText() override;
    Result<AccessibleTextRange> selectionRange() override;
    Result<std::string> value() override { return text; }
    Result<AccessibleWindow> window() override { return containingWindow; }

    Result<pid_t> pid = 0;
    Result<std::string> role = std::string("text");
    Result<bool> settable = true;
    std::optional<Error> setFailure;
    std::string text;
    AccessibleTextRange selection;  // start == end: the caret
    std::vector<std::string> writes;
    Result<AccessibleWindow> containingWindow = AccessibleWindow{.subrole = kStandardWindowSubrole};
};

class ScriptedAccessibility : public Accessibility {
public:
    bool isTrusted() override { return trusted; }
    Status requestTrust() override;
    void setMessagingTimeout(Duration timeout) override { timeouts.push_back(timeout); }
    Result<std::shared_ptr<AccessibleElement>> focusedElement() override;

    bool trusted = true;
    // What a trust request leaves behind.
    bool trustAfterRequest = true;
    int trustRequests = 0;
    Result<std::shared_ptr<AccessibleElement>> focused = std::shared_ptr<AccessibleElement>();
    int focusQueries = 0;
    std::vector<Duration> timeouts;
};

}  // namespace platform
