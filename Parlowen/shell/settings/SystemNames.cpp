#include "Parlowen/shell/settings/SystemNames.h"

#include <pwd.h>
#include <unistd.h>

#include <fstream>
#include <vector>

namespace parlowen {

std::string systemFullUserName() {
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd entry{};
    passwd* result = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &result) != 0 || !result || !result->pw_gecos)
        return {};
    std::string gecos = result->pw_gecos;
    return gecos.substr(0, gecos.find(','));
}

namespace {

// PRETTY_HOSTNAME from an environment-style file, unquoted.
std::optional<std::string> prettyHostName(const char* path) {
    std::ifstream in(path);
    std::string line;
    constexpr std::string_view key = "PRETTY_HOSTNAME=";
    while (std::getline(in, line)) {
        if (line.compare(0, key.size(), key) != 0) continue;
        std::string value = line.substr(key.size());
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        std::string unescaped;
        for (std::size_t i = 0; i < value.size(); ++i) {
            if (value[i] == '\\' && i + 1 < value.size()) ++i;
            unescaped += value[i];
        }
        if (!unescaped.empty()) return unescaped;
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> systemComputerName() {
    if (auto pretty = prettyHostName("/etc/machine-info")) return pretty;
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return std::nullopt;
    return std::string(name);
}

}  // namespace parlowen
