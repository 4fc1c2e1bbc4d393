#include "Parlowen/listenlater/queue/sync/QueueCloudKitBridge.h"

#include <cmath>
#include <limits>

#include <fmt/format.h>

#include "Parlowen/listenlater/queue/RenderFailureExplanation.h"
#include "platform/values/Bytes.h"

namespace parlowen {

using platform::CloudErrorCode;
using platform::CloudRecordID;
using platform::CloudZoneID;
using platform::Task;
using platform::Uuid;

namespace {

CloudRecordID recordIDOf(const Uuid& id) { return CloudRecordID{id.uuidString(), CloudZoneID::defaultZone()}; }

// Locale-independent, six decimals.
std::string sixDecimals(double value) { return fmt::format("{:.6f}", value); }

// Whole milliseconds since 1970, truncated toward zero.
std::string unixMilliseconds(platform::Date date) {
    const double ms = std::trunc(date.timeIntervalSince1970() * 1000.0);
    constexpr double limit = 9.2e18;  // inside the signed 64-bit range
    if (!std::isfinite(ms)) return "0";
    return std::to_string(static_cast<std::int64_t>(std::clamp(ms, -limit, limit)));
}

}  // namespace

QueueCloudKitBridge::QueueCloudKitBridge(Dependencies deps, QueueService& queueService, std::string containerIdentifier,
                                         std::function<void(QueueItem)> onPendingItemPulled,
                                         std::function<void(QueueItem)> onUpgradableItemPulled,
                                         std::function<std::string()> preferredEngineProvider,
                                         QueueDedupIndex& dedupIndex)
    : main_(deps.main),
      queueService_(queueService),
      dedupIndex_(dedupIndex),
      onPendingItemPulled_(std::move(onPendingItemPulled)),
      onUpgradableItemPulled_(std::move(onUpgradableItemPulled)),
      preferredEngineProvider_(std::move(preferredEngineProvider)) {
    if (deps.environment.has(kTestHarnessVariable)) {
        log_.info("XCTest environment detected — skipping CKContainer init");
    } else if (deps.openDatabase) {
        database_ = deps.openDatabase(containerIdentifier);
    }
}

QueueCloudKitBridge::~QueueCloudKitBridge() { lifetime_.end(); }

std::uint64_t QueueCloudKitBridge::contentHash(const QueueItem& item) {
    const std::string duration = sixDecimals(item.durationSec);
    const std::string created = unixMilliseconds(item.createdAt);
    const std::string played = sixDecimals(item.playedThru);
    const std::string completed = item.completedAt ? unixMilliseconds(*item.completedAt) : std::string();
    const std::string_view parts[] = {
        item.text,
        item.title,
        item.sourceApp ? std::string_view(*item.sourceApp) : std::string_view(),
        item.sourceURL ? std::string_view(item.sourceURL->absoluteString()) : std::string_view(),
        item.voiceEngine,
        item.voiceID,
        duration,
        rawValue(item.state),
        created,
        played,
        completed,
        item.renderError ? std::string_view(*item.renderError) : std::string_view(),
    };
    // Fed piece by piece, so a long article is not copied just to be hashed.
    platform::Sha256Hasher hasher;
    const char nul = '\0';
    bool first = true;
    for (std::string_view part : parts) {
        if (!first) hasher.update(platform::asBytes(std::string_view(&nul, 1)));
        first = false;
        hasher.update(platform::asBytes(part));
    }
    const platform::Bytes digest = hasher.finish();
    std::uint64_t value = 0;
    for (int i = 0; i < 8; ++i) value = (value << 8) | static_cast<std::uint8_t>(digest[static_cast<std::size_t>(i)]);
    return value;
}

void QueueCloudKitBridge::start() {
    PARLOWEN_ASSERT_ON(main_);
    if (observation_) return;
    observation_ = queueService_.itemsStream().debounce(main_, kDebounce).subscribe(
        lifetime_.guard([this](const std::vector<QueueItem>& items) { handleItemsSnapshot(items); }));
    log_.info("started observing QueueService for CloudKit push");
    (void)platform::spawn(main_, pullAll());
}

void QueueCloudKitBridge::handleItemsSnapshot(const std::vector<QueueItem>& items) {
    PARLOWEN_ASSERT_ON(main_);
    // Overlapping passes could land an older save after a newer one and leave
    // the server stale under a current hash; the latest waiting snapshot wins.
    if (passRunning_) {
        waitingSnapshot_ = items;
        return;
    }
    passRunning_ = true;
    (void)platform::spawn(main_, runPushPasses(items));
}

Task<void> QueueCloudKitBridge::runPushPasses(std::vector<QueueItem> items) {
    for (;;) {
        std::set<Uuid> localIDs;
        std::map<Uuid, QueueItem> itemsByID;
        for (auto& item : items) {
            localIDs.insert(item.id);
            itemsByID.emplace(item.id, std::move(item));
        }
        co_await pushChanges(std::move(localIDs), std::move(itemsByID));
        if (!waitingSnapshot_) break;
        items = std::move(*waitingSnapshot_);
        waitingSnapshot_.reset();
    }
    passRunning_ = false;
}

Task<void> QueueCloudKitBridge::pushChanges(std::set<Uuid> localIDs, std::map<Uuid, QueueItem> itemsByID) {
    const std::set<Uuid> known = co_await dedupIndex_.knownIDs();
    // An unclean load means the queue lost entries the user never deleted: the
    // first pass forgets them instead of deleting them on the server.
    const bool forgetMissing = !firstPassDone_ && !queueService_.lastLoadWasClean();
    firstPassDone_ = true;
    for (const Uuid& id : known) {
        if (localIDs.count(id)) continue;
        if (forgetMissing) {
            co_await dedupIndex_.remove(id);
            continue;
        }
        // The id stays in the index until the server no longer has the record,
        // so a failed delete is tried again by the next pass.
        const bool gone = co_await pushDelete(id);
        if (gone) co_await dedupIndex_.remove(id);
    }
    for (auto& [id, item] : itemsByID) {
        const std::uint64_t h = contentHash(item);
        const std::optional<std::uint64_t> stored = co_await dedupIndex_.hash(id);
        if (stored == h) continue;
        co_await dedupIndex_.setHash(h, id);
        co_await pushItem(item);
    }
}

Task<bool> QueueCloudKitBridge::pushDelete(Uuid id) {
    if (!database_) co_return true;
    const std::string name = id.uuidString();
    const platform::Status deleted = co_await database_->deleteRecord(recordIDOf(id));
    if (deleted) {
        log_.info("pushed delete {}", name);
        co_return true;
    }
    if (platform::isCloudError(deleted.error(), CloudErrorCode::unknownItem)) co_return true;
    log_.error("delete failed for {}: {}", name, deleted.error().description);
    co_return false;
}

Task<void> QueueCloudKitBridge::pushItem(QueueItem item) {
    if (!database_) co_return;
    const std::string name = item.id.uuidString();
    platform::CloudRecord record = item.makeRecord(CloudZoneID::defaultZone());

    std::vector<CloudRecordID> fetchIDs{recordIDOf(item.id)};
    std::optional<std::vector<std::string>> mergedKeys = std::vector<std::string>{"playedThru", "completedAt"};
    auto fetched = co_await database_->fetchRecords(std::move(fetchIDs), std::move(mergedKeys));
    std::optional<platform::CloudRecord> server;
    std::optional<platform::Error> fetchFailure;
    if (!fetched) {
        fetchFailure = fetched.error();
    } else {
        for (auto& result : *fetched) {
            if (result.recordID.recordName != name) continue;
            if (result.result) server = std::move(*result.result);
            else fetchFailure = result.result.error();
            break;
        }
    }
    // Only "not there yet" lets the save go ahead unmerged: saving over a
    // record we could not read would lower its position or drop its completion.
    if (fetchFailure && !platform::isCloudError(*fetchFailure, CloudErrorCode::unknownItem)) {
        log_.error("push failed for {}: {}", name, fetchFailure->description);
        co_await dedupIndex_.remove(item.id);
        co_return;
    }
    if (server) {
        const double serverPosition = server->number("playedThru").value_or(0);
        record.set("playedThru", std::max(item.playedThru, serverPosition));
        const std::optional<platform::Date> serverCompletion = server->date("completedAt");
        std::optional<platform::Date> completion = item.completedAt;
        if (serverCompletion && (!completion || *serverCompletion < *completion)) completion = serverCompletion;
        if (completion) record.set("completedAt", *completion);
    }

    std::vector<platform::CloudRecord> toSave;
    toSave.push_back(std::move(record));
    auto saved = co_await database_->saveRecords(std::move(toSave));
    std::optional<platform::Error> saveFailure;
    if (!saved) {
        saveFailure = saved.error();
    } else {
        for (const auto& result : *saved) {
            if (!result.result) {
                saveFailure = result.result.error();
                break;
            }
        }
    }
    if (saveFailure) {
        log_.error("push failed for {}: {}", name, saveFailure->description);
        co_await dedupIndex_.remove(item.id);
        co_return;
    }
    log_.info("pushed {} state={}", name, rawValue(item.state));
}

// ---- Pulls

Task<void> QueueCloudKitBridge::pullAll() {
    co_await pullPendingItems();
    co_await pullUpgradableItems();
    co_await rescueErrorItems();
}

Task<void> QueueCloudKitBridge::refreshPendingItems() { co_await pullAll(); }

Task<platform::Result<platform::CloudQueryResult>> QueueCloudKitBridge::query(QueueItem::State state) {
    platform::CloudQuery q{kQueueItemRecordType,
                           platform::CloudQuery::Equals{"state", std::string(rawValue(state))},
                           {platform::CloudSortDescriptor{"createdAt", false}}};
    // The first batch only: what does not fit waits for a later refresh.
    auto result = co_await database_->queryRecords(std::move(q), std::nullopt, std::nullopt,
                                                   platform::kCloudMaximumResults);
    co_return result;
}

bool QueueCloudKitBridge::isHeldLocally(const Uuid& id, const std::set<Uuid>& known) const {
    // Read anew for every record: a callback may have queued an earlier one.
    if (queueService_.contains(id)) return true;
    // Known to the index but no longer queued: deleted here, its server delete
    // still to come. Handing it over would bring the deleted item back.
    return known.count(id) != 0;
}

Task<std::optional<QueueCloudKitBridge::PullBatch>> QueueCloudKitBridge::startPull(QueueItem::State state,
                                                                                    std::string failurePrefix) {
    auto result = co_await query(state);
    if (!result) {
        if (!platform::isCloudError(result.error(), CloudErrorCode::unknownItem))
            log_.error("{}{}", failurePrefix, result.error().description);
        co_return std::nullopt;
    }
    std::set<Uuid> known = co_await dedupIndex_.knownIDs();
    co_return PullBatch{std::move(*result), std::move(known)};
}

Task<void> QueueCloudKitBridge::pullPendingItems() {
    if (!database_) co_return;
    std::optional<PullBatch> batch = co_await startPull(QueueItem::State::pendingRender, "pendingRender fetch failed: ");
    if (!batch) co_return;
    const std::set<Uuid>& known = batch->known;
    long count = 0;
    for (const auto& match : batch->result.matchResults) {
        if (!match.result) {
            log_.error("pending fetch result failed: {}", match.result.error().description);
            continue;
        }
        std::optional<QueueItem> item = QueueItem::fromRecord(*match.result);
        if (!item || isHeldLocally(item->id, known)) continue;
        if (onPendingItemPulled_) onPendingItemPulled_(std::move(*item));
        ++count;
    }
    if (count > 0) log_.info("pulled {} pendingRender items", count);
}

bool QueueCloudKitBridge::isUpgradable(const QueueItem& item, const std::string& preferredEngine) {
    if (item.state != QueueItem::State::ready) return false;
    if (!item.audioFileURL) return false;
    if (item.playedThru != 0) return false;
    if (item.text.empty()) return false;
    return QueueItem::canonicalEngine(item.voiceEngine) != QueueItem::canonicalEngine(preferredEngine);
}

Task<void> QueueCloudKitBridge::pullUpgradableItems() {
    if (!database_) co_return;
    const std::string preferred = preferredEngineProvider_ ? preferredEngineProvider_() : std::string();
    if (preferred.empty()) co_return;
    std::optional<PullBatch> batch = co_await startPull(QueueItem::State::ready, "upgradable fetch failed: ");
    if (!batch) co_return;
    const std::set<Uuid>& known = batch->known;
    long count = 0;
    for (const auto& match : batch->result.matchResults) {
        if (!match.result) {
            log_.error("ready fetch result failed: {}", match.result.error().description);
            continue;
        }
        std::optional<QueueItem> item = QueueItem::fromRecord(*match.result);
        if (!item || !isUpgradable(*item, preferred) || isHeldLocally(item->id, known)) continue;
        if (onUpgradableItemPulled_) onUpgradableItemPulled_(std::move(*item));
        ++count;
    }
    if (count > 0) log_.info("offered {} upgradable items (preferred={})", count, preferred);
}

Task<void> QueueCloudKitBridge::rescueErrorItems() {
    if (!database_) co_return;
    std::optional<PullBatch> batch = co_await startPull(QueueItem::State::error, "error-item rescue fetch failed: ");
    if (!batch) co_return;
    const std::set<Uuid>& known = batch->known;
    long count = 0;
    for (const auto& match : batch->result.matchResults) {
        if (!match.result) continue;
        std::optional<QueueItem> item = QueueItem::fromRecord(*match.result);
        if (!item || !item->sourceURL || isHeldLocally(item->id, known)) continue;
        if (RenderFailureExplanation(item->renderError).action != RenderFailureExplanation::Action::retry) continue;
        item->state = QueueItem::State::pendingRender;
        item->renderError.reset();
        if (onPendingItemPulled_) onPendingItemPulled_(std::move(*item));
        ++count;
    }
    if (count > 0) log_.info("rescued {} error items for re-render", count);
}

}  // namespace parlowen
