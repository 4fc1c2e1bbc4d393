#include "platform/memory/ResidentMemory.h"

#include <unistd.h>

#include <fstream>

namespace platform {
namespace {
constexpr const char* kDomain = "ResidentMemory";

Error readError(const std::filesystem::path& path, std::string why) {
    return Error::make(kDomain, 1, "unreadable", path.string() + ": " + std::move(why));
}
}  // namespace

Result<std::uint64_t> readResidentSize(const std::filesystem::path& statm) {
    std::ifstream in(statm);
    if (!in) return fail(readError(statm, "cannot be opened"));
    // size resident shared text lib data dt, all in pages.
    std::uint64_t size = 0, resident = 0;
    if (!(in >> size >> resident)) return fail(readError(statm, "no resident page count"));
    const long page = ::sysconf(_SC_PAGESIZE);
    if (page <= 0) return fail(readError(statm, "no page size"));
    return resident * static_cast<std::uint64_t>(page);
}

ResidentSizeReader procResidentSizeReader() {
    return [] { return readResidentSize(); };
}

}  // namespace platform
