#pragma once

// Keeps the program single-instance through a local socket named after the
// bundle identifier in the user's runtime folder. The first start listens on
// it; a later start hands the running one a reopen request and exits. This
// also keeps one process owning the global key grabs.

#include <functional>
#include <string>
#include <thread>

#include "platform/log/Log.h"
#include "platform/runtime/Environment.h"
#include "platform/runtime/Error.h"
#include "platform/runtime/Executor.h"
#include "platform/runtime/Observable.h"

namespace parlowen {

class SingleInstance {
public:
    enum class Role { primary, secondary };

    // "$XDG_RUNTIME_DIR/com.kelvatrum.Parlowen" (a per-user folder in /tmp without one).
    static std::string socketPath(const platform::Environment& environment);

    // Listens on `path` unless another instance answers there; a stale socket
    // file of an ended instance is replaced. `onReopen` runs on `main` for
    // every reopen request a later start sends.
    SingleInstance(std::string path, platform::Executor& main, std::function<void()> onReopen);
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // Secondary: a running instance took the reopen request. A failure to
    // listen leaves this start primary without hand-off (logged).
    Role role() const { return role_; }

private:
    void listen();

    std::string path_;
    platform::Executor& main_;
    std::function<void()> onReopen_;
    Role role_ = Role::primary;
    int listenFd_ = -1;
    int wakeFds_[2] = {-1, -1};
    std::thread listener_;
    platform::Lifetime lifetime_;
    platform::Logger log_;
};

}  // namespace parlowen
