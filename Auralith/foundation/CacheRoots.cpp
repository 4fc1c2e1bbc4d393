#include "Auralith/foundation/CacheRoots.h"

#include <fmt/format.h>

#include <system_error>

#include "platform/values/Files.h"
#include "platform/values/XdgDirs.h"

namespace auralith {

namespace fs = std::filesystem;

fs::path MLModelConfigurationUtils::defaultModelsDirectory(const platform::Environment& environment,
                                                          std::optional<std::string_view> repositoryFolder) {
    fs::path dir = platform::XdgDirs(environment).dataHome() / "Auralith" / "Models";
    if (repositoryFolder) dir /= fs::path(*repositoryFolder);
    return dir;
}

platform::ml::ModelConfiguration MLModelConfigurationUtils::defaultConfiguration(
    platform::ml::ComputeUnits computeUnits) {
    return platform::ml::ModelConfiguration{computeUnits, true};
}

platform::Status createFolders(const fs::path& folder) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec)
        return platform::fail(platform::fileError(platform::FileErrorCode::writeFailed,
                                                  fmt::format("Cannot create the folder {}: {}", folder.string(),
                                                              ec.message())));
    return platform::ok();
}

namespace {
platform::Result<fs::path> ensureFolder(fs::path path) {
    std::error_code ec;
    if (fs::exists(fs::symlink_status(path, ec))) return path;
    if (auto made = createFolders(path); !made) return platform::fail(made.error());
    return path;
}
}  // namespace

platform::Result<fs::path> ttsCacheRoot(const platform::Environment& environment) {
    return ensureFolder(platform::XdgDirs(environment).homeDir() / ".cache" / "auralith");
}

platform::Result<fs::path> ttsModelsCacheDirectory(const platform::Environment& environment) {
    return ensureFolder(platform::XdgDirs(environment).homeDir() / ".cache" / "auralith" / "Models");
}

}  // namespace auralith
