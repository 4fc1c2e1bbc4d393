#pragma once

// The process's resident memory size, as the kernel reports it in
// /proc/self/statm (resident pages times the page size).

#include <cstdint>
#include <filesystem>
#include <functional>

#include "platform/runtime/Error.h"

namespace platform {

// Reads the resident size in bytes; may fail. Tests pass their own.
using ResidentSizeReader = std::function<Result<std::uint64_t>()>;

// The second field of a statm file (resident pages) times the page size.
Result<std::uint64_t> readResidentSize(const std::filesystem::path& statm = "/proc/self/statm");

// The reader of this process's resident size.
ResidentSizeReader procResidentSizeReader();

}  // namespace platform
