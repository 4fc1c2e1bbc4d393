#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/runtime/Environment.h"
#include "platform/x11/DesktopEntries.h"
#include "platform/x11/Workspace.h"

namespace platform {

class X11Connection;

// The workspace on X11: the active window from the window manager's
// _NET_ACTIVE_WINDOW (without a window manager, the window holding the
// input focus), a window's process from _NET_WM_PID (else the X-Resource
// client id), activation by a _NET_ACTIVE_WINDOW request, and program facts
// from /proc. Each call uses the calling thread's connection to the display
// that DISPLAY names in `env`; desktop entries come from `env`'s XDG folders.
class X11Workspace : public Workspace {
public:
    using UrlOpener = std::function<bool(const std::string& url)>;

    // `openUrl` takes the URLs of openURL(); without one, openURL() fails.
    explicit X11Workspace(Environment env, UrlOpener openUrl = {});

    std::optional<RunningApplication> frontmostApplication() override;
    std::optional<RunningApplication> runningApplication(pid_t pid) override;
    bool activate(pid_t pid) override;
    bool openURL(const std::string& url) override;

    // The top-level window that is active now (0 when none).
    std::uint64_t activeWindow();
    // The process that owns a window, when it can be told.
    std::optional<pid_t> windowProcess(std::uint64_t window);

private:
    X11Connection* connection();
    std::uint64_t windowOfProcess(X11Connection& c, pid_t pid);
    RunningApplication describe(X11Connection* c, pid_t pid, std::uint64_t window);
    const DesktopEntries& desktopEntries();

    Environment env_;
    UrlOpener openUrl_;
    std::mutex entriesMutex_;
    std::shared_ptr<const DesktopEntries> entries_;
    std::string entriesStamp_;
};

}  // namespace platform
