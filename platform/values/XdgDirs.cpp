#include "platform/values/XdgDirs.h"

#include <fstream>
#include <pwd.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace platform {
namespace fs = std::filesystem;

XdgDirs::XdgDirs(Environment env) : env_(std::move(env)) {}

std::optional<fs::path> XdgDirs::absoluteVar(const char* name) const {
    auto value = env_.get(name);
    if (!value || value->empty() || (*value)[0] != '/') return std::nullopt;
    return fs::path(*value);
}

fs::path XdgDirs::homeDir() const {
    if (auto home = absoluteVar("HOME")) return *home;
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buf(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd pw{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &pw, buf.data(), buf.size(), &found) == 0 && found && found->pw_dir)
        return fs::path(found->pw_dir);
    return fs::path("/");
}

fs::path XdgDirs::configHome() const { return absoluteVar("XDG_CONFIG_HOME").value_or(homeDir() / ".config"); }

fs::path XdgDirs::dataHome() const { return absoluteVar("XDG_DATA_HOME").value_or(homeDir() / ".local/share"); }

fs::path XdgDirs::cacheHome() const { return absoluteVar("XDG_CACHE_HOME").value_or(homeDir() / ".cache"); }

std::optional<fs::path> XdgDirs::runtimeDir() const { return absoluteVar("XDG_RUNTIME_DIR"); }

fs::path XdgDirs::documentsDir() const {
    if (auto docs = absoluteVar("XDG_DOCUMENTS_DIR")) return *docs;
    std::ifstream in(configHome() / "user-dirs.dirs");
    std::string line;
    static constexpr std::string_view kKey = "XDG_DOCUMENTS_DIR=\"";
    while (std::getline(in, line)) {
        if (line.rfind(kKey, 0) != 0) continue;
        const auto close = line.rfind('"');
        if (close < kKey.size()) break;
        std::string value = line.substr(kKey.size(), close - kKey.size());
        // The file's own rules: "$HOME/<relative>" or an absolute path, nothing else.
        if (value == "$HOME" || value == "$HOME/") return homeDir();
        if (value.rfind("$HOME/", 0) == 0) return homeDir() / value.substr(6);
        if (!value.empty() && value[0] == '/') return fs::path(value);
        break;
    }
    return homeDir() / "Documents";
}

}  // namespace platform
