#include "Parlowen/listenlater/render/ListenLaterCache.h"

#include <optional>
#include <string>
#include <vector>

namespace parlowen {

namespace fs = std::filesystem;

namespace {
constexpr std::size_t kIdLength = 36;

// The folder's direct entries, hidden ones included; nothing when it cannot be listed.
std::optional<std::vector<fs::path>> listEntries(const fs::path& folder) {
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    if (ec) return std::nullopt;
    std::vector<fs::path> out;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec) return std::nullopt;
        out.push_back(it->path());
    }
    return out;
}

bool removeEntry(const fs::path& p) {
    std::error_code ec;
    fs::remove_all(p, ec);
    return !ec;
}
}  // namespace

ListenLaterCache::ListenLaterCache(fs::path cachesDirectory)
    : folder_(std::move(cachesDirectory) / kAppFolder / kLeafFolder) {}

ListenLaterCache ListenLaterCache::standard(const platform::XdgDirs& dirs) { return ListenLaterCache(dirs.cacheHome()); }

fs::path ListenLaterCache::directory() const {
    std::error_code ec;
    fs::create_directories(folder_, ec);
    return folder_;
}

platform::Url ListenLaterCache::audioFileURL(const platform::Uuid& id, std::string_view ext) const {
    return platform::Url::fromFilePath(directory() / (id.uuidString() + "." + std::string(ext)));
}

platform::Url ListenLaterCache::heroImageURL(const platform::Uuid& id, std::string_view ext) const {
    return platform::Url::fromFilePath(directory() / (id.uuidString() + "-hero." + std::string(ext)));
}

platform::Url ListenLaterCache::podcastAudioFileURL(const platform::Uuid& id) const {
    return platform::Url::fromFilePath(directory() / (id.uuidString() + std::string(kPodcastSuffix)));
}

std::size_t ListenLaterCache::pruneOrphans(const std::unordered_set<platform::Uuid>& liveIDs) const {
    std::unordered_set<std::string> live;
    for (const auto& id : liveIDs) live.insert(id.uuidString());
    auto entries = listEntries(folder_);
    if (!entries) return 0;
    std::size_t removed = 0;
    for (const auto& entry : *entries) {
        const std::string name = entry.filename().string();
        if (name.size() < kIdLength) continue;
        const std::string prefix = name.substr(0, kIdLength);
        if (!platform::Uuid::fromString(prefix)) continue;
        if (live.count(prefix)) continue;
        if (removeEntry(entry)) ++removed;
    }
    return removed;
}

void ListenLaterCache::removeFiles(const platform::Uuid& id) const {
    const std::string prefix = id.uuidString();
    auto entries = listEntries(folder_);
    if (!entries) return;
    for (const auto& entry : *entries)
        if (entry.filename().string().starts_with(prefix)) removeEntry(entry);
}

}  // namespace parlowen
