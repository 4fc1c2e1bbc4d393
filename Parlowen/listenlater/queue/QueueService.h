#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Parlowen/listenlater/queue/RenderProgressStore.h"
#include "Parlowen/listenlater/render/ListenLaterCache.h"
#include "Parlowen/model/QueueItem.h"
#include "platform/log/Log.h"
#include "platform/runtime/Executor.h"
#include "platform/runtime/Observable.h"
#include "platform/values/Date.h"
#include "platform/values/XdgDirs.h"

namespace parlowen {

// The one store of the Listen Later queue: the list of items (newest insertion
// first), announced to observers on every change and saved as a JSON array to
// "listen-later-queue.json". Main thread only; failures are logged, never
// returned. Play positions are written 500 ms after the last update of a burst,
// everything else at once.
class QueueService {
public:
    static constexpr const char* kFileName = "listen-later-queue.json";
    static constexpr const char* kAppFolder = "com.kelvatrum.Parlowen";
    static constexpr platform::Duration kPersistDelay = std::chrono::milliseconds(500);
    static constexpr double kCompletionFraction = 0.95;

    struct Dependencies {
        platform::Executor& main;
        const platform::Clock& clock;
        RenderProgressStore& renderProgress;
        ListenLaterCache cache;
        // Removes the item's podcast render record; called by delete after the write.
        std::function<void(const platform::Uuid&)> removePodcastRecord;
    };

    // What `add` takes; an absent title is derived from the text, an empty one stays.
    struct NewItem {
        std::string text;
        std::optional<std::string> title;
        std::optional<std::string> sourceApp;
        std::optional<platform::Url> sourceURL;
        std::string voiceEngine;
        std::string voiceID;
        std::optional<platform::Url> heroImageURL;
    };

    // <Application Support>/com.kelvatrum.Parlowen/listen-later-queue.json.
    static std::filesystem::path defaultStorageURL(const platform::XdgDirs& dirs);

    // Loads the file before returning. A file that cannot be read or decoded is
    // moved aside as "<file>.corrupt-<timestamp>" and the queue starts empty;
    // `lastLoadWasClean()` then says so.
    QueueService(Dependencies deps, std::filesystem::path storageURL);
    ~QueueService();
    QueueService(const QueueService&) = delete;
    QueueService& operator=(const QueueService&) = delete;

    std::vector<QueueItem> items() const { return items_.get(); }
    // Whether an item with this id is queued, without copying the queue.
    bool contains(const platform::Uuid& id) const;
    // The current items, then every change (delivered before the store holds it).
    platform::Stream<std::vector<QueueItem>> itemsStream() const { return items_.stream(); }
    const std::filesystem::path& storageURL() const { return storageURL_; }

    // False when the queue file existed but could not be read: the empty queue
    // does not mean the user deleted everything, and whoever mirrors the queue
    // elsewhere must not treat missing items as deletions.
    bool lastLoadWasClean() const { return lastLoadWasClean_; }
    // Where the unreadable file was moved, when it was.
    const std::optional<std::filesystem::path>& movedAsideFile() const { return movedAsideFile_; }

    // A new item at the front, in state rendering, written at once.
    QueueItem add(NewItem item);
    void setHeroImage(const platform::Uuid& id, const platform::Url& url);
    // Inserts the item unchanged at the front; false when its id is already queued.
    bool ingest(QueueItem item);
    // Audio, duration, state ready, no error; the render progress entry goes.
    void markAudioReady(const platform::Uuid& id, const platform::Url& audioFileURL, double durationSec);
    // For `error` also the error text (none when not given) and the progress entry goes.
    void setState(const platform::Uuid& id, QueueItem::State state, std::optional<std::string> error = std::nullopt);
    // Items neither failed nor archived, newest createdAt first (stable).
    std::vector<QueueItem> activeItems() const;
    // Removes the item, writes, removes its cache files and podcast record; also
    // for an id that is not queued.
    void remove(const platform::Uuid& id);
    // Sets the position; the first time it reaches 95 % of a known duration,
    // completedAt is set and the queue is written at once.
    void updatePlayedThru(const platform::Uuid& id, double position);

    // Writes the whole list now.
    void persist();
    // Writes now, or once 500 ms pass without another delayed request.
    void schedulePersist(bool immediately);
    bool persistPending() const { return pendingPersist_.active(); }
    // Writes a waiting delayed write now (for the terminate path).
    void flushPendingPersist();

private:
    void load();
    static std::optional<std::size_t> indexOf(const std::vector<QueueItem>& items, const platform::Uuid& id);
    template <class F>
    void change(std::size_t index, F mutate);

    platform::Executor& main_;
    const platform::Clock& clock_;
    RenderProgressStore& renderProgress_;
    ListenLaterCache cache_;
    std::function<void(const platform::Uuid&)> removePodcastRecord_;
    std::filesystem::path storageURL_;
    platform::Observable<std::vector<QueueItem>> items_;
    platform::ScopedTimer pendingPersist_;
    bool lastLoadWasClean_ = true;
    // Set when an unreadable file could not be moved aside: it is never overwritten.
    std::optional<std::string> writesBlockedReason_;
    std::optional<std::filesystem::path> movedAsideFile_;
    platform::Logger log_{"com.kelvatrum.Parlowen", "listen-later"};
    platform::Lifetime lifetime_;
};

// Deletes the render-cache files of no queued item and returns how many went.
// Nothing after a queue file that could not be read: the queue is empty then,
// and its items' audio would go with it.
std::size_t pruneOrphanedRenders(const QueueService& queue, const ListenLaterCache& cache);

}  // namespace parlowen
