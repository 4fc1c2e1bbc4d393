#pragma once

#include <functional>
#include <optional>

#include "platform/accessibility/Accessibility.h"
#include "platform/runtime/Environment.h"

namespace platform {

// Accessibility on AT-SPI2 (libatspi). Trust is the accessibility bus's
// org.a11y.Status.IsEnabled switch, read on the session bus that `env`
// names; requestTrust() turns it on. The focused element is looked for in
// the active windows of the applications on the accessibility bus: through
// their Collection interface where they have one, else by walking the
// showing elements (bounded, and each query bounded by the messaging
// timeout, 0.5 s unless set). The application that owns the active window
// (`frontmostProcess`, the workspace's frontmost application) is asked
// first; this process itself is never asked, since its own bridge answers
// on the thread that would be waiting. libatspi itself finds the buses from
// this process's own DISPLAY and DBUS_SESSION_BUS_ADDRESS. Main thread only.
class AtspiAccessibility : public Accessibility {
public:
    using FrontmostProcess = std::function<std::optional<pid_t>()>;
    explicit AtspiAccessibility(Environment env, FrontmostProcess frontmostProcess = {});
    ~AtspiAccessibility() override;

    bool isTrusted() override;
    Status requestTrust() override;
    void setMessagingTimeout(Duration timeout) override;
    Result<std::shared_ptr<AccessibleElement>> focusedElement() override;

    // The most elements one search visits in an application without Collection.
    static constexpr int kSearchBudget = 3000;

private:
    Status ensureConnected();

    Environment env_;
    FrontmostProcess frontmostProcess_;
    Duration timeout_;
    bool connected_ = false;
};

}  // namespace platform
