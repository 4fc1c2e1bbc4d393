#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/log/Log.h"
#include "platform/pasteboard/Pasteboard.h"
#include "platform/runtime/Executor.h"
#include "platform/runtime/Task.h"

namespace parlowen {

// One borrowing of the general pasteboard (save, change, put back). Runs on
// the main executor; it should return promptly once its stop token is set
// (cancellable sleeps end early) and always resume anyone waiting on it.
using PasteboardOperation = std::move_only_function<platform::Task<void>()>;

// Runs pasteboard borrowings one after another so that no two overlap, each
// under a watchdog that asks it to stop after `kTimeout`. The application
// keeps one for its whole life. Main thread only.
class PasteboardArbiter {
public:
    static constexpr platform::Duration kTimeout = std::chrono::seconds(5);

    explicit PasteboardArbiter(platform::Executor& main);

    // Queues `operation` and returns at once. It starts only after every
    // earlier operation has returned; nothing comes back to the caller (an
    // operation that must answer resumes its caller itself).
    void enqueue(PasteboardOperation operation);

    // A deep copy of the pasteboard's items that stays valid after it is
    // cleared and can be written back. Types whose data cannot be read are
    // left out. Callers take it inside their operation.
    static std::vector<platform::PasteboardItem> snapshotItems(const platform::Pasteboard& pasteboard);
    // Writes a snapshot back, unless it is empty (nothing to put back) or the
    // pasteboard's change count is no longer `expectedChangeCount` (another
    // writer has claimed it since). What it did goes to `log`.
    static void restoreItems(platform::Pasteboard& pasteboard, const std::vector<platform::PasteboardItem>& snapshot,
                             std::int64_t expectedChangeCount, const platform::Logger& log);

private:
    platform::Executor& main_;
    platform::JoinHandle<void> tail_;  // the last queued operation
};

}  // namespace parlowen
