#include "Parlowen/shell/UninstallManager.h"

#include <filesystem>
#include <system_error>

#include "Parlowen/shell/LoginItemManager.h"
#include "platform/log/Log.h"
#include "platform/values/XdgDirs.h"

namespace parlowen {
namespace {

namespace fs = std::filesystem;

const platform::Logger& uninstallLog() {
    static const platform::Logger log("com.kelvatrum.Parlowen", "uninstall");
    return log;
}

// Removes `folder` when it exists: the line for `removed`, or `errorPrefix`
// and the reason for `errors`. A missing folder adds nothing.
void removeFolder(const fs::path& folder, const std::string& removedLine, const std::string& errorPrefix,
                  UninstallManager::Result& result) {
    std::error_code ec;
    const auto status = fs::symlink_status(folder, ec);
    if (status.type() == fs::file_type::not_found) return;
    if (ec) {
        result.errors.push_back(errorPrefix + ": " + ec.message());
        return;
    }
    fs::remove_all(folder, ec);
    if (ec)
        result.errors.push_back(errorPrefix + ": " + ec.message());
    else
        result.removed.push_back(removedLine);
}

}  // namespace

UninstallManager::Result UninstallManager::uninstall(const Dependencies& deps) {
    Result result;

    // 1. The cloud-service keys. Groq, Google AI Studio and the share-upload
    //    secret stay.
    int deleted = 0;
    for (auto key : {KeychainStore::Key::openAI, KeychainStore::Key::cartesia, KeychainStore::Key::elevenLabs,
                     KeychainStore::Key::anthropic}) {
        if (!deps.keychain.exists(key)) continue;
        if (auto removed = deps.keychain.remove(key))
            ++deleted;
        else
            result.errors.push_back("Keychain " + KeychainStore::service(key) + ": " + removed.error().description);
    }
    if (deleted > 0)
        result.removed.push_back(std::to_string(deleted) + " Keychain entr" + (deleted == 1 ? "y" : "ies"));

    // 2. Preferences: the whole domain (its file goes with it).
    deps.defaults.removeDomain();
    result.removed.push_back("All app preferences");

    const platform::XdgDirs dirs(deps.environment);
    // 3. Caches.
    removeFolder(dirs.cacheHome() / "com.kelvatrum.Parlowen", "App caches", "App caches", result);
    // 4. The speech package's models and voice packs.
    removeFolder(dirs.homeDir() / ".cache" / "auralith", "Quon voice packs + neural models", "Auralith cache", result);

    // 5. The login item; a failed unregistration is logged by the manager.
    LoginItemManager loginItem(deps.loginItems);
    if (loginItem.isEnabled()) {
        loginItem.setIsEnabled(false);
        result.removed.push_back("Launch at login");
    }

    uninstallLog().info("uninstall complete — removed {} items, errors {}", result.removed.size(),
                        result.errors.size());
    return result;
}

}  // namespace parlowen
