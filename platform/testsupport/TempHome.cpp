#include "platform/testsupport/TempHome.h"

#include <atomic>
#include <cstdlib>
#include <string>
#include <system_error>
#include <unistd.h>

namespace testsupport {
namespace {
std::filesystem::path g_root;

void removeRoot() {
    std::error_code ec;
    if (!g_root.empty()) std::filesystem::remove_all(g_root, ec);
}
}  // namespace

const std::filesystem::path& processTempRoot() { return g_root; }

void isolateHome() {
    if (!g_root.empty()) return;
    std::string templ = (std::filesystem::temp_directory_path() / "parlowen-test-XXXXXX").string();
    if (!mkdtemp(templ.data())) std::abort();
    g_root = templ;
    auto make = [](const char* var, const std::filesystem::path& p) {
        std::filesystem::create_directories(p);
        setenv(var, p.c_str(), 1);
    };
    make("HOME", g_root / "home");
    make("XDG_CONFIG_HOME", g_root / "home/.config");
    make("XDG_DATA_HOME", g_root / "home/.local/share");
    make("XDG_CACHE_HOME", g_root / "home/.cache");
    std::filesystem::create_directories(g_root / "run");
    std::filesystem::permissions(g_root / "run", std::filesystem::perms::owner_all);
    setenv("XDG_RUNTIME_DIR", (g_root / "run").c_str(), 1);
    std::atexit(removeRoot);
}

TempDir::TempDir() {
    static std::atomic<int> counter{0};
    isolateHome();
    path_ = g_root / ("tmp-" + std::to_string(counter++));
    std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

}  // namespace testsupport
