#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/memory/ResidentMemory.h"
#include "platform/runtime/Executor.h"
#include "platform/runtime/Observable.h"
#include "platform/runtime/Task.h"

namespace parlowen {

// Writes the application's resident memory size to the log at start-up and
// then once a minute, so that growth over a long run can be read from the
// journal. Main thread only; the reading itself runs on `background`.
class MemoryMonitor {
public:
    static constexpr std::uint64_t intervalSeconds = 60;

    MemoryMonitor(platform::Executor& main, platform::Executor& background, platform::ResidentSizeReader reader);
    ~MemoryMonitor();
    MemoryMonitor(const MemoryMonitor&) = delete;
    MemoryMonitor& operator=(const MemoryMonitor&) = delete;

    // Logs a "startup" sample, then one sample every interval. Does nothing
    // while already running.
    void start();
    // Ends the sampling; a wait in progress ends at once and logs nothing.
    void stop();
    bool isRunning() const { return task_.valid(); }

    // Logs one sample, with the note when it is given and not empty.
    platform::Task<void> sample(std::optional<std::string> note = std::nullopt);

private:
    platform::Executor& main_;
    platform::Executor& background_;
    platform::ResidentSizeReader reader_;
    platform::Lifetime lifetime_;
    platform::JoinHandle<void> task_;
};

}  // namespace parlowen
