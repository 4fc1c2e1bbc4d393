#pragma once

// Stands in for work that ignores cancellation: a wait of `duration` on an
// executor's clock that never looks at the task's stop token.
//
//   Executor& ex = co_await currentExecutor();
//   co_await testsupport::WaitIgnoringCancellation{&ex, 5s};

#include <coroutine>

#include "platform/runtime/Executor.h"

namespace testsupport {

struct WaitIgnoringCancellation {
    platform::Executor* executor;
    platform::Duration duration;
    bool await_ready() { return false; }
    void await_suspend(std::coroutine_handle<> h) { executor->postAfter(duration, [h] { h.resume(); }); }
    void await_resume() {}
};

}  // namespace testsupport
