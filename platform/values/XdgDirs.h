#pragma once

#include <filesystem>
#include <optional>

#include "platform/runtime/Environment.h"

namespace platform {

// The user's base folders after the XDG Base Directory rules, read from an
// injected environment. A variable that is unset, empty or not an absolute path
// is ignored in favour of the default under HOME. Nothing is created here.
class XdgDirs {
public:
    explicit XdgDirs(Environment env);

    // HOME; when unset, the home folder of the user's passwd entry.
    std::filesystem::path homeDir() const;
    // $XDG_CONFIG_HOME or ~/.config (user defaults live below it).
    std::filesystem::path configHome() const;
    // $XDG_DATA_HOME or ~/.local/share: the "Application Support" folder.
    std::filesystem::path dataHome() const;
    // $XDG_CACHE_HOME or ~/.cache: the "Caches" folder.
    std::filesystem::path cacheHome() const;
    // $XDG_RUNTIME_DIR; nothing when unset (there is no safe default to invent).
    std::optional<std::filesystem::path> runtimeDir() const;
    // $XDG_DOCUMENTS_DIR, else the XDG_DOCUMENTS_DIR line of
    // <configHome>/user-dirs.dirs ("$HOME/..." or an absolute path), else ~/Documents.
    std::filesystem::path documentsDir() const;

private:
    std::optional<std::filesystem::path> absoluteVar(const char* name) const;
    Environment env_;
};

}  // namespace platform
