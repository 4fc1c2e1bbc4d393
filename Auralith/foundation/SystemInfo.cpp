#include "Auralith/foundation/SystemInfo.h"

#include <sys/resource.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <sstream>

#include <fmt/format.h>

#include "platform/values/Files.h"

namespace auralith {

std::string_view SystemInfo::architecture() {
#if defined(__x86_64__)
    return "x86_64";
#elif defined(__aarch64__)
    return "arm64";
#elif defined(__i386__)
    return "i386";
#else
    return "unknown";
#endif
}

std::string SystemInfo::formatMemory(std::uint64_t bytes) {
    static constexpr const char* units[] = {"bytes", "KB", "MB", "GB", "TB", "PB"};
    double value = static_cast<double>(bytes);
    int unit = 0;
    while (value >= 1024.0 && unit < 5) {
        value /= 1024.0;
        ++unit;
    }
    if (unit == 0) return fmt::format("{} {}", bytes, bytes == 1 ? "byte" : "bytes");
    const int decimals = unit == 1 ? 0 : unit == 2 ? 1 : 2;
    std::string number = fmt::format("{:.{}f}", value, decimals);
    if (number.find('.') != std::string::npos) {
        while (number.back() == '0') number.pop_back();
        if (number.back() == '.') number.pop_back();
    }
    return fmt::format("{} {}", number, units[unit]);
}

std::optional<std::string> SystemInfo::chipFromCpuInfo(std::string_view cpuinfo) {
    std::istringstream in{std::string(cpuinfo)};
    std::string line;
    std::optional<std::string> fallback;
    while (std::getline(in, line)) {
        const auto colon = line.find(':');
        if (colon == std::string::npos) continue;
        std::string key = line.substr(0, colon);
        while (!key.empty() && (key.back() == ' ' || key.back() == '\t')) key.pop_back();
        std::string value = line.substr(colon + 1);
        value.erase(0, value.find_first_not_of(" \t"));
        if (value.empty()) continue;
        if (key == "model name") return value;
        if ((key == "Hardware" || key == "Model") && !fallback) fallback = value;
    }
    return fallback;
}

std::string SystemInfo::summaryLine(std::string_view version, std::string_view chip, long activeCores, long cores,
                                    std::uint64_t memoryBytes, bool translated) {
    return fmt::format("Linux {}, arch={}, chip={}, cores={}/{}, mem={}, rosetta={}", version, architecture(), chip,
                       activeCores, cores, formatMemory(memoryBytes), translated ? "true" : "false");
}

namespace {

// The whole file as text; empty when it cannot be read.
std::string readText(const char* path) {
    auto bytes = platform::readFile(path);
    return bytes ? platform::toString(*bytes) : std::string();
}

std::string systemVersion() {
    std::string version;
    utsname u{};
    if (uname(&u) == 0) version = u.release;
    std::istringstream release{readText("/etc/os-release")};
    std::string line;
    while (std::getline(release, line)) {
        if (line.rfind("PRETTY_NAME=", 0) != 0) continue;
        std::string name = line.substr(12);
        if (name.size() >= 2 && (name.front() == '"' || name.front() == '\'')) name = name.substr(1, name.size() - 2);
        if (!name.empty()) version += (version.empty() ? "" : " ") + ("(" + name + ")");
    }
    return version.empty() ? std::string("unknown") : version;
}

std::optional<std::uint64_t> statusField(std::string_view field) {
    std::istringstream in{readText("/proc/self/status")};
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(field, 0) != 0 || line.size() <= field.size() || line[field.size()] != ':') continue;
        std::istringstream value(line.substr(field.size() + 1));
        std::uint64_t kb = 0;
        if (value >> kb) return kb * 1024;
    }
    return std::nullopt;
}

}  // namespace

std::string SystemInfo::summary() {
    const auto chip = chipFromCpuInfo(readText("/proc/cpuinfo")).value_or("UnknownChip");
    const long active = sysconf(_SC_NPROCESSORS_ONLN);
    const long configured = sysconf(_SC_NPROCESSORS_CONF);
    const long pages = sysconf(_SC_PHYS_PAGES), pageSize = sysconf(_SC_PAGESIZE);
    const std::uint64_t memory = pages > 0 && pageSize > 0 ? static_cast<std::uint64_t>(pages) * pageSize : 0;
    // Linux runs no translation layer for foreign binaries the way the original host did.
    return summaryLine(systemVersion(), chip, active, configured, memory, false);
}

std::optional<std::uint64_t> SystemInfo::residentMemory() { return statusField("VmRSS"); }

std::optional<std::uint64_t> SystemInfo::peakResidentMemory() {
    if (auto peak = statusField("VmHWM")) return peak;
    rusage usage{};
    if (getrusage(RUSAGE_SELF, &usage) == 0) return static_cast<std::uint64_t>(usage.ru_maxrss) * 1024;
    return std::nullopt;
}

SystemInfoReporter::SystemInfoReporter(platform::Executor& executor) : strand_(executor) {}

platform::Task<void> SystemInfoReporter::logSystemInfo(const AppLogger& logger) {
    co_await platform::resumeOn(strand_);
    if (didLog_) co_return;
    didLog_ = true;
    logger.info("Host environment: " + SystemInfo::summary());
}

}  // namespace auralith
