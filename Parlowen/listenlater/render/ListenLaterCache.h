#pragma once

#include <cstddef>
#include <filesystem>
#include <string_view>
#include <unordered_set>

#include "platform/values/Url.h"
#include "platform/values/Uuid.h"
#include "platform/values/XdgDirs.h"

namespace parlowen {

// The render cache: one folder holding every item's audio, hero image and
// podcast audio, each file named so that its first 36 characters are the item's
// identifier in upper-case UUID text. Pruning and removal rely on nothing else.
// No state besides the folder; nothing here fails loudly.
class ListenLaterCache {
public:
    static constexpr std::string_view kAppFolder = "com.kelvatrum.Parlowen";
    static constexpr std::string_view kLeafFolder = "listen-later";
    static constexpr std::string_view kPodcastSuffix = "-podcast.caf";

    // `cachesDirectory` is the user's caches folder; the cache is
    // <caches>/com.kelvatrum.Parlowen/listen-later/.
    explicit ListenLaterCache(std::filesystem::path cachesDirectory);
    static ListenLaterCache standard(const platform::XdgDirs& dirs);

    // The folder, created with its parents (a failure is ignored).
    std::filesystem::path directory() const;
    // `<UUID>.<ext>`: the article audio ("caf" for every renderer).
    platform::Url audioFileURL(const platform::Uuid& id, std::string_view ext) const;
    // `<UUID>-hero.<ext>`.
    platform::Url heroImageURL(const platform::Uuid& id, std::string_view ext) const;
    // `<UUID>-podcast.caf`: the one podcast file of an item, whichever renderer made it.
    platform::Url podcastAudioFileURL(const platform::Uuid& id) const;

    // Removes every entry whose name starts with an identifier that is not live
    // (compared as canonical upper-case text) and returns how many went. Entries
    // with shorter names or no identifier prefix are kept. 0 when the folder
    // cannot be listed.
    std::size_t pruneOrphans(const std::unordered_set<platform::Uuid>& liveIDs) const;
    // Removes every entry whose name begins with the item's identifier text.
    void removeFiles(const platform::Uuid& id) const;

private:
    std::filesystem::path folder_;
};

}  // namespace parlowen
