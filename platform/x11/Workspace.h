#pragma once

// The workspace: which application is in front, the record of a running
// application, activation, and opening URLs. The X11 implementation lives
// in X11Workspace.h; ScriptedWorkspace is the test double.

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace platform {

struct RunningApplication {
    pid_t processIdentifier = 0;
    // The application's desktop-file id (see bundleIdentifier() in DesktopEntries.h).
    std::optional<std::string> bundleIdentifier;
    // The desktop entry's name, else the window class, else the process name.
    std::string localizedName;
    // The program file (/proc/<pid>/exe), when it can be read.
    std::optional<std::string> executablePath;
    // A Chromium, Electron or CEF program: recognised by its executable and
    // the libraries it has mapped (see isChromiumClassProgram()).
    bool isChromiumClass = false;
    // The application's top-level window (an X window id), 0 when it has none.
    std::uint64_t window = 0;
    // A terminal emulator, told by its window class (see isTerminalWindowClass()):
    // its copy and paste chords take Shift, and Ctrl+C interrupts its program.
    bool isTerminal = false;

    friend bool operator==(const RunningApplication&, const RunningApplication&) = default;
};

class Workspace {
public:
    virtual ~Workspace() = default;

    // The application that owns the active window; none when no window is active.
    virtual std::optional<RunningApplication> frontmostApplication() = 0;
    // The application record of a live process; none once it has ended.
    virtual std::optional<RunningApplication> runningApplication(pid_t pid) = 0;
    // Brings the application's window to the front and gives it the focus,
    // regardless of which application is active. True when the request was made.
    virtual bool activate(pid_t pid) = 0;
    // Hands a URL to the desktop. True when something took it.
    virtual bool openURL(const std::string& url) = 0;
};

// The test double: applications and the frontmost one as a test sets them;
// records activations and opened URLs. Thread-safe.
class ScriptedWorkspace : public Workspace {
public:
    std::optional<RunningApplication> frontmostApplication() override;
    std::optional<RunningApplication> runningApplication(pid_t pid) override;
    bool activate(pid_t pid) override;
    bool openURL(const std::string& url) override;

    // Adds or replaces the record of a running application.
    void addApplication(RunningApplication app);
    // The process ends: it is no longer running (nor frontmost).
    void terminate(pid_t pid);
    void setFrontmost(std::optional<pid_t> pid);
    // What activate() answers; a successful activation also makes the
    // application frontmost.
    void setActivationSucceeds(bool succeeds);
    void setOpenURLSucceeds(bool succeeds);

    std::vector<pid_t> activations() const;
    std::vector<std::string> openedURLs() const;

private:
    mutable std::mutex mutex_;
    std::map<pid_t, RunningApplication> apps_;
    std::optional<pid_t> frontmost_;
    bool activationSucceeds_ = true;
    bool openSucceeds_ = true;
    std::vector<pid_t> activations_;
    std::vector<std::string> opened_;
};

}  // namespace platform
