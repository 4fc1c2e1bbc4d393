#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>

#include "platform/runtime/Task.h"

namespace platform {

// One system permission as the platform reports it: a raw status value in the
// platform's own numbering (the application maps it to its states), and a
// request that may show the system's prompt.
//
// Raw values by permission:
//   microphone         0 not determined, 1 restricted, 2 denied, 3 authorised
//   speech recognition 0 not determined, 1 denied, 2 restricted, 3 authorised
//   accessibility      1 trusted, 0 not trusted
//   input monitoring   0 granted, 1 denied, 2 unknown (not decided)
class PermissionSource {
public:
    virtual ~PermissionSource() = default;
    virtual std::int64_t rawStatus() = 0;
    // Asks the system; completes when the system's request call has answered
    // (which for some permissions is at once, before the user decides).
    virtual Task<void> request() = 0;
};

// The test double: a status a test sets, and a request that can change it.
class ScriptedPermissionSource : public PermissionSource {
public:
    explicit ScriptedPermissionSource(std::int64_t raw = 0) : raw_(raw) {}

    std::int64_t rawStatus() override {
        std::lock_guard lock(mutex_);
        return raw_;
    }
    Task<void> request() override { return doRequest(this); }

    void setRawStatus(std::int64_t raw) {
        std::lock_guard lock(mutex_);
        raw_ = raw;
    }
    // The status a request leaves behind (the user's answer), if any.
    void answerRequestWith(std::optional<std::int64_t> raw) {
        std::lock_guard lock(mutex_);
        answer_ = raw;
    }
    int requestCount() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }

private:
    static Task<void> doRequest(ScriptedPermissionSource* self) {
        std::lock_guard lock(self->mutex_);
        ++self->requests_;
        if (self->answer_) self->raw_ = *self->answer_;
        co_return;
    }

    mutable std::mutex mutex_;
    std::int64_t raw_;
    std::optional<std::int64_t> answer_;
    int requests_ = 0;
};

}  // namespace platform
