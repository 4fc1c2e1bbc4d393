#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "platform/log/Log.h"
#include "platform/runtime/Environment.h"
#include "platform/runtime/Strand.h"
#include "platform/runtime/Task.h"
#include "platform/values/Uuid.h"

namespace parlowen {

// For every queue entry the cloud sync has pushed, the content hash it was
// pushed with: unchanged entries are not pushed again, and ids it knows that
// the queue no longer holds are deleted on the server. Kept in
// "queue-dedup-index.json" as {"items":{"<UUID>":"<decimal hash>"}}.
//
// Serialises its own operations on a strand over `background`; callers await
// them. The file is read on first use; every change rewrites the whole file in
// the background, writes reaching the disk in call order.
class QueueDedupIndex {
public:
    static constexpr const char* kFileName = "queue-dedup-index.json";
    static constexpr const char* kAppFolder = "com.kelvatrum.Parlowen";

    // <data home>/com.kelvatrum.Parlowen/queue-dedup-index.json, the folder
    // created here; the temporary folder stands in when the data home cannot
    // be created.
    static std::filesystem::path defaultFileURL(const platform::Environment& env);

    QueueDedupIndex(platform::Executor& background, std::filesystem::path fileURL);
    QueueDedupIndex(const QueueDedupIndex&) = delete;
    QueueDedupIndex& operator=(const QueueDedupIndex&) = delete;

    const std::filesystem::path& fileURL() const { return fileURL_; }

    platform::Task<std::optional<std::uint64_t>> hash(platform::Uuid id);
    platform::Task<std::set<platform::Uuid>> knownIDs();
    // Stores the hash and writes the file, also when the hash did not change.
    platform::Task<void> setHash(std::uint64_t hash, platform::Uuid id);
    // Writes the file only when the id was there.
    platform::Task<void> remove(platform::Uuid id);

private:
    void loadIfNeeded();
    // Schedules a write of the whole index after the one scheduled before it.
    void persist();

    platform::Executor& background_;
    platform::Strand strand_;
    std::filesystem::path fileURL_;
    std::map<platform::Uuid, std::uint64_t> cache_;
    bool loaded_ = false;
    platform::JoinHandle<void> inFlightPersist_;
    platform::Logger log_{"com.kelvatrum.Parlowen", "queue-dedup-index"};
};

}  // namespace parlowen
