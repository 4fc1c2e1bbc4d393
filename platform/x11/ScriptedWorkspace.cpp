#include "platform/x11/Workspace.h"

namespace platform {

std::optional<RunningApplication> ScriptedWorkspace::frontmostApplication() {
    std::lock_guard lock(mutex_);
    if (!frontmost_) return std::nullopt;
    auto it = apps_.find(*frontmost_);
    if (it == apps_.end()) return std::nullopt;
    return it->second;
}

std::optional<RunningApplication> ScriptedWorkspace::runningApplication(pid_t pid) {
    std::lock_guard lock(mutex_);
    auto it = apps_.find(pid);
    if (it == apps_.end()) return std::nullopt;
    return it->second;
}

bool ScriptedWorkspace::activate(pid_t pid) {
    std::lock_guard lock(mutex_);
    activations_.push_back(pid);
    if (!activationSucceeds_ || !apps_.count(pid)) return false;
    frontmost_ = pid;
    return true;
}

bool ScriptedWorkspace::openURL(const std::string& url) {
    std::lock_guard lock(mutex_);
    opened_.push_back(url);
    return openSucceeds_;
}

void ScriptedWorkspace::addApplication(RunningApplication app) {
    std::lock_guard lock(mutex_);
    pid_t pid = app.processIdentifier;
    apps_[pid] = std::move(app);
}

void ScriptedWorkspace::terminate(pid_t pid) {
    std::lock_guard lock(mutex_);
    apps_.erase(pid);
    if (frontmost_ == pid) frontmost_.reset();
}

void ScriptedWorkspace::setFrontmost(std::optional<pid_t> pid) {
    std::lock_guard lock(mutex_);
    frontmost_ = pid;
}

void ScriptedWorkspace::setActivationSucceeds(bool succeeds) {
    std::lock_guard lock(mutex_);
    activationSucceeds_ = succeeds;
}

void ScriptedWorkspace::setOpenURLSucceeds(bool succeeds) {
    std::lock_guard lock(mutex_);
    openSucceeds_ = succeeds;
}

std::vector<pid_t> ScriptedWorkspace::activations() const {
    std::lock_guard lock(mutex_);
    return activations_;
}

std::vector<std::string> ScriptedWorkspace::openedURLs() const {
    std::lock_guard lock(mutex_);
    return opened_;
}

}  // namespace platform
