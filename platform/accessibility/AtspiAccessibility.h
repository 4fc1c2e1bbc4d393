#pragma once

#include <functional>
#include <optional>

#include "platform/accessibility/Accessibility.h"
#include "platform/runtime/Environment.h"

namespace platform {

// Accessibility on AT-SPI2 (libatspi). Trust is the accessibility bus's
// org.a11y.Status.IsEnabled switch, read on the session bus that `env`
// names; requestTrust() turns it on.
//
// libatspi's state is process-wide and not thread-safe: every call into it
// runs on one AT-SPI thread of the process, and callers (this object and the
// elements it hands out, on any thread) wait for it at most
// kCallBoundInTimeouts messaging timeouts, then fail with cannotComplete.
// That thread follows the focus events of every application, so a focus
// query answers at once from the element the last event named, while that
// element's process runs and owns the active window (`frontmostProcess`,
// the workspace's frontmost application, where it is given). Otherwise
// (no event seen yet, the focus lost, another application in front) the
// focused element is looked for in the active windows of the applications
// on the accessibility bus: through their Collection interface where they
// have one, else by walking the showing elements (bounded, and each query
// bounded by the messaging timeout, 0.5 s unless set), the frontmost
// application first. This process itself is never asked: its own bridge
// answers on the main thread, which may be the one waiting. libatspi itself
// finds the buses from this process's own DISPLAY and
// DBUS_SESSION_BUS_ADDRESS, once per process.
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
    // How long a caller waits for the AT-SPI thread, in messaging timeouts:
    // the thread may first finish another caller's work.
    static constexpr int kCallBoundInTimeouts = 4;

private:
    Status ensureConnected();
    Duration callBound() const;

    Environment env_;
    FrontmostProcess frontmostProcess_;
    Duration timeout_;
    bool connected_ = false;
};

}  // namespace platform
