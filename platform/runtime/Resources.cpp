#include "platform/runtime/Resources.h"

#include <system_error>
#include <vector>

namespace platform {

std::filesystem::path executablePath() {
    std::error_code ec;
    auto p = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path() : p;
}

std::optional<std::filesystem::path> resourcePath(const std::string& name, const Environment& env) {
    std::vector<std::filesystem::path> roots;
    if (auto dir = env.get("PARLOWEN_RESOURCE_DIR"); dir && !dir->empty()) roots.emplace_back(*dir);
    if (auto exe = executablePath(); !exe.empty()) roots.push_back(exe.parent_path().parent_path() / "share/parlowen");
    roots.emplace_back(PARLOWEN_SOURCE_RESOURCES);
    for (const auto& root : roots) {
        std::error_code ec;
        auto candidate = root / name;
        if (std::filesystem::exists(candidate, ec)) return candidate;
    }
    return std::nullopt;
}

}  // namespace platform
