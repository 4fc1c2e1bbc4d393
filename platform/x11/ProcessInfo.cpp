#include "platform/x11/ProcessInfo.h"

#include <array>
#include <filesystem>
#include <fstream>
#include <set>
#include <string_view>
#include <system_error>

namespace platform {

namespace fs = std::filesystem;

namespace {
fs::path procPath(pid_t pid) { return fs::path("/proc") / std::to_string(pid); }
}  // namespace

bool processIsAlive(pid_t pid) {
    if (pid <= 0) return false;
    std::ifstream stat(procPath(pid) / "stat");
    std::string line;
    if (!std::getline(stat, line)) return false;
    // The state follows the parenthesised name, which may itself hold ")".
    auto close = line.rfind(')');
    if (close == std::string::npos || line.size() < close + 3) return false;
    char state = line[close + 2];
    return state != 'Z' && state != 'X';
}

std::optional<std::string> processExecutablePath(pid_t pid) {
    std::error_code ec;
    fs::path exe = fs::read_symlink(procPath(pid) / "exe", ec);
    if (ec || exe.empty()) return std::nullopt;
    std::string s = exe.string();
    constexpr std::string_view deleted = " (deleted)";
    if (s.size() > deleted.size() && s.ends_with(deleted)) s.resize(s.size() - deleted.size());
    return s;
}

std::string processName(pid_t pid) {
    std::ifstream in(procPath(pid) / "comm");
    std::string name;
    std::getline(in, name);
    return name;
}

std::vector<std::string> processMappedFiles(pid_t pid) {
    std::ifstream in(procPath(pid) / "maps");
    std::vector<std::string> files;
    std::set<std::string> seen;
    std::string line;
    while (std::getline(in, line)) {
        // address perms offset dev inode path; the path starts at the first "/".
        auto slash = line.find('/');
        if (slash == std::string::npos) continue;
        std::string path = line.substr(slash);
        if (seen.insert(path).second) files.push_back(std::move(path));
    }
    return files;
}

bool isChromiumClassProgram(const std::string& executablePath, const std::vector<std::string>& mappedFiles) {
    static constexpr std::array<std::string_view, 12> kPrograms = {
        "chrome",  "chromium", "chromium-browser", "google-chrome", "brave", "brave-browser",
        "msedge",  "vivaldi-bin", "opera", "yandex_browser", "electron", "cefclient"};
    static constexpr std::array<std::string_view, 4> kBesideProgram = {
        "v8_context_snapshot.bin", "snapshot_blob.bin", "chrome_100_percent.pak", "resources/electron.asar"};
    for (const auto& file : mappedFiles) {
        std::string name = fs::path(file).filename().string();
        if (name == "libcef.so" || name.starts_with("libcef.so.")) return true;
    }
    if (executablePath.empty()) return false;
    fs::path exe(executablePath);
    std::string name = exe.filename().string();
    for (auto program : kPrograms)
        if (name == program) return true;
    std::error_code ec;
    for (auto file : kBesideProgram)
        if (fs::exists(exe.parent_path() / file, ec)) return true;
    return false;
}

}  // namespace platform
