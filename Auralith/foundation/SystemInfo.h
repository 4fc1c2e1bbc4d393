#pragma once

// A one-line description of the host that every model loader logs once per
// process, and the process's memory use.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "Auralith/foundation/AppLogger.h"
#include "platform/runtime/Strand.h"
#include "platform/runtime/Task.h"

namespace auralith {

struct SystemInfo {
    // "Linux <kernel release> (<distribution>), arch=x86_64, chip=<processor>,
    //  cores=<online>/<configured>, mem=16 GB, rosetta=false". Never fails.
    static std::string summary();
    static std::optional<std::uint64_t> residentMemory();
    static std::optional<std::uint64_t> peakResidentMemory();

    // The pieces, for tests.
    static std::string summaryLine(std::string_view version, std::string_view chip, long activeCores, long cores,
                                   std::uint64_t memoryBytes, bool translated);
    // Memory style byte count: binary units named KB, MB, GB, TB; no decimals
    // up to KB, one for MB, two above, trailing zeros dropped ("16 GB", "1.5 GB").
    static std::string formatMemory(std::uint64_t bytes);
    // The processor's name from a /proc/cpuinfo text, or nothing.
    static std::optional<std::string> chipFromCpuInfo(std::string_view cpuinfo);
    static std::string_view architecture();
};

class SystemInfoReporter {
public:
    explicit SystemInfoReporter(platform::Executor& executor);
    // Logs "Host environment: " + the summary at info through `logger`, the
    // first time only; later calls, from any component, log nothing.
    platform::Task<void> logSystemInfo(const AppLogger& logger);

private:
    platform::Strand strand_;
    bool didLog_ = false;
};

}  // namespace auralith
