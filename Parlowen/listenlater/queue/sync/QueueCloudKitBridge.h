#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "Parlowen/listenlater/queue/QueueService.h"
#include "Parlowen/listenlater/queue/sync/QueueDedupIndex.h"
#include "Parlowen/model/QueueItem.h"
#include "platform/clouddb/CloudDatabase.h"
#include "platform/log/Log.h"
#include "platform/runtime/Environment.h"
#include "platform/runtime/Observable.h"
#include "platform/runtime/Task.h"

namespace parlowen {

// Keeps the Listen Later queue in step with the private cloud database, where
// every entry is one "QueueItem" record named by its id in the default zone.
// Outgoing: every debounced change of the queue starts a push pass that saves
// entries whose content hash changed and deletes records of entries that left
// the queue. Incoming: `pullAll` hands records the queue lacks (pending,
// upgradable, failed but worth a retry) to the coordinator's callbacks.
//
// Main thread only. The bridge lives as long as the coordinator and must
// outlive the tasks it starts.
class QueueCloudKitBridge {
public:
    static constexpr const char* kDefaultContainerIdentifier = kCloudContainerIdentifier;
    // Present in the environment when the process runs under the test harness.
    static constexpr const char* kTestHarnessVariable = "XCTestConfigurationFilePath";
    static constexpr platform::Duration kDebounce = std::chrono::milliseconds(250);

    // Opens the private database of a container.
    using DatabaseFactory =
        std::function<std::shared_ptr<platform::CloudDatabase>(const std::string& containerIdentifier)>;

    struct Dependencies {
        platform::Executor& main;
        const platform::Environment& environment;
        DatabaseFactory openDatabase;
    };

    QueueCloudKitBridge(Dependencies deps, QueueService& queueService, std::string containerIdentifier,
                        std::function<void(QueueItem)> onPendingItemPulled,
                        std::function<void(QueueItem)> onUpgradableItemPulled,
                        std::function<std::string()> preferredEngineProvider, QueueDedupIndex& dedupIndex);
    ~QueueCloudKitBridge();
    QueueCloudKitBridge(const QueueCloudKitBridge&) = delete;
    QueueCloudKitBridge& operator=(const QueueCloudKitBridge&) = delete;

    // Nothing under the test harness.
    const std::shared_ptr<platform::CloudDatabase>& database() const { return database_; }

    // Subscribes to the queue (debounced) and starts the first pull. Once only.
    void start();
    // Starts a push pass over the items, or queues them behind the running pass.
    void handleItemsSnapshot(const std::vector<QueueItem>& items);
    // One push pass: deletes records of ids that left the queue, saves changed entries.
    platform::Task<void> pushChanges(std::set<platform::Uuid> localIDs, std::map<platform::Uuid, QueueItem> itemsByID);
    // Saves one entry, merging the server's reading position and completion.
    platform::Task<void> pushItem(QueueItem item);
    // Deletes one record; true when it is gone from the server (deleted, or
    // it was not there), so the id may leave the index.
    platform::Task<bool> pushDelete(platform::Uuid id);

    // The pending, upgradable and error-rescue pulls, one after another.
    platform::Task<void> pullAll();
    // What the coordinator runs when the window or menu opens and the application becomes active.
    platform::Task<void> refreshPendingItems();
    platform::Task<void> pullPendingItems();
    platform::Task<void> pullUpgradableItems();
    platform::Task<void> rescueErrorItems();

    static bool isUpgradable(const QueueItem& item, const std::string& preferredEngine);
    // SHA-256 over the twelve hashed texts joined by NUL; the first eight bytes, big-endian.
    static std::uint64_t contentHash(const QueueItem& item);

private:
    platform::Task<void> runPushPasses(std::vector<QueueItem> items);
    platform::Task<platform::Result<platform::CloudQueryResult>> query(QueueItem::State state);
    struct PullBatch {
        platform::CloudQueryResult result;
        std::set<platform::Uuid> known;  // the index's ids when the walk starts
    };
    // The frame every pull shares: the query and its failure rules (unknownItem
    // silent, anything else one line), then the ids the index knows.
    platform::Task<std::optional<PullBatch>> startPull(QueueItem::State state, std::string failurePrefix);
    // Already queued, or deleted here and waiting for its server delete.
    bool isHeldLocally(const platform::Uuid& id, const std::set<platform::Uuid>& known) const;

    platform::Executor& main_;
    std::shared_ptr<platform::CloudDatabase> database_;
    QueueService& queueService_;
    QueueDedupIndex& dedupIndex_;
    std::optional<platform::Subscription> observation_;
    std::function<void(QueueItem)> onPendingItemPulled_;
    std::function<void(QueueItem)> onUpgradableItemPulled_;
    std::function<std::string()> preferredEngineProvider_;
    // One push pass at a time; the newest snapshot that arrived meanwhile runs next.
    bool passRunning_ = false;
    std::optional<std::vector<QueueItem>> waitingSnapshot_;
    bool firstPassDone_ = false;
    platform::Logger log_{"com.kelvatrum.Parlowen", "cloudkit-bridge"};
    platform::Lifetime lifetime_;
};

}  // namespace parlowen
