#include "Parlowen/listenlater/queue/QueueService.h"

#include <algorithm>
#include <cmath>
#include <unordered_set>

#include <nlohmann/json.hpp>

#include "platform/text/Unicode.h"
#include "platform/values/Files.h"
#include "platform/values/Json.h"

namespace parlowen {

namespace fs = std::filesystem;
using platform::Uuid;

QueueService::QueueService(Dependencies deps, fs::path storageURL)
    : main_(deps.main),
      clock_(deps.clock),
      renderProgress_(deps.renderProgress),
      cache_(std::move(deps.cache)),
      removePodcastRecord_(std::move(deps.removePodcastRecord)),
      storageURL_(std::move(storageURL)) {
    load();
}

QueueService::~QueueService() = default;

fs::path QueueService::defaultStorageURL(const platform::XdgDirs& dirs) {
    return dirs.dataHome() / kAppFolder / kFileName;
}

std::optional<std::size_t> QueueService::indexOf(const std::vector<QueueItem>& items, const Uuid& id) {
    for (std::size_t i = 0; i < items.size(); ++i)
        if (items[i].id == id) return i;
    return std::nullopt;
}

// One announcement per field an operation sets, as observers expect.
template <class F>
void QueueService::change(std::size_t index, F mutate) {
    auto items = items_.get();
    mutate(items[index]);
    items_.set(std::move(items));
}

void QueueService::load() {
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(storageURL_, ec))) return;

    auto decoded = [&]() -> platform::Result<std::vector<QueueItem>> {
        auto bytes = platform::readFile(storageURL_);
        if (!bytes) return platform::fail(bytes.error());
        auto json = platform::decodeJson(platform::ByteView(*bytes));
        if (!json) return platform::fail(json.error());
        if (!json->is_array())
            return platform::fail(platform::Error::make(platform::kJsonErrorDomain,
                                                        static_cast<int>(platform::JsonErrorCode::typeMismatch),
                                                        "typeMismatch", "the queue file does not hold an array"));
        std::vector<QueueItem> items;
        const platform::Date now = clock_.now();
        for (const auto& element : *json) {
            auto item = QueueItem::fromJson(element, now);
            if (!item) return platform::fail(item.error());
            items.push_back(std::move(*item));
        }
        return items;
    }();

    if (decoded) {
        const std::size_t count = decoded->size();
        items_.set(std::move(*decoded));
        log_.info("loaded {} items from disk", count);
        return;
    }

    log_.error("load failed: {}", decoded.error().description);
    lastLoadWasClean_ = false;
    // Keep the unreadable file: the next change would otherwise replace it with an empty queue.
    auto moved = platform::moveAside(storageURL_, platform::corruptSuffix(clock_.now()));
    if (moved) {
        movedAsideFile_ = *moved;
        log_.error("moved the unreadable queue file aside to {}", moved->string());
    } else {
        writesBlockedReason_ = moved.error().description;
        log_.error("could not move the unreadable queue file aside, so it will not be written: {}",
                   moved.error().description);
    }
}

void QueueService::persist() {
    PARLOWEN_ASSERT_ON(main_);
    if (writesBlockedReason_) {
        log_.error("persist failed: {}", "the queue file could not be read and is kept as it is");
        return;
    }
    platform::Json array = platform::Json::array();
    for (const auto& item : items_.get()) array.push_back(item.toJson());
    auto text = platform::encodeJson(array);
    if (!text) {
        log_.error("persist failed: {}", text.error().description);
        return;
    }
    if (auto written = platform::writeFileAtomically(storageURL_, *text); !written)
        log_.error("persist failed: {}", written.error().description);
}

void QueueService::schedulePersist(bool immediately) {
    PARLOWEN_ASSERT_ON(main_);
    pendingPersist_.cancel();
    if (immediately) {
        pendingPersist_ = platform::ScopedTimer();
        persist();
        return;
    }
    pendingPersist_ = main_.postAfter(kPersistDelay, lifetime_.guard([this] {
        persist();
        pendingPersist_ = platform::ScopedTimer();
    }));
}

void QueueService::flushPendingPersist() {
    if (persistPending()) schedulePersist(true);
}

QueueItem QueueService::add(NewItem request) {
    PARLOWEN_ASSERT_ON(main_);
    QueueItem item = QueueItem::create({
        .id = Uuid::random(),
        .text = std::move(request.text),
        .title = std::move(request.title),
        .sourceApp = std::move(request.sourceApp),
        .sourceURL = std::move(request.sourceURL),
        .voiceEngine = std::move(request.voiceEngine),
        .voiceID = std::move(request.voiceID),
        .heroImageURL = std::move(request.heroImageURL),
        .state = QueueItem::State::rendering,
        .createdAt = clock_.now(),
    });
    auto items = items_.get();
    items.insert(items.begin(), item);
    items_.set(std::move(items));
    persist();
    log_.info("add: {} chars={} engine={} hero={}", item.id.uuidString(), platform::text::graphemeCount(item.text),
              item.voiceEngine, item.heroImageURL ? item.heroImageURL->lastPathComponent() : std::string("<none>"));
    return item;
}

void QueueService::setHeroImage(const Uuid& id, const platform::Url& url) {
    PARLOWEN_ASSERT_ON(main_);
    const auto items = items_.get();
    auto index = indexOf(items, id);
    if (!index || items[*index].heroImageURL == url) return;
    change(*index, [&](QueueItem& item) { item.heroImageURL = url; });
    persist();
    log_.info("hero-image: {} {}", id.uuidString(), url.lastPathComponent());
}

bool QueueService::ingest(QueueItem item) {
    PARLOWEN_ASSERT_ON(main_);
    if (indexOf(items_.get(), item.id)) return false;
    const std::string id = item.id.uuidString();
    const std::size_t chars = platform::text::graphemeCount(item.text);
    const std::string state(rawValue(item.state));
    auto items = items_.get();
    items.insert(items.begin(), std::move(item));
    items_.set(std::move(items));
    persist();
    log_.info("ingest: {} chars={} state={}", id, chars, state);
    return true;
}

void QueueService::markAudioReady(const Uuid& id, const platform::Url& audioFileURL, double durationSec) {
    PARLOWEN_ASSERT_ON(main_);
    auto index = indexOf(items_.get(), id);
    if (!index) return;
    // A duration that is not a finite number could never be written to the file
    // again; it counts as "could not be measured".
    if (!std::isfinite(durationSec)) durationSec = 0;
    change(*index, [&](QueueItem& item) { item.audioFileURL = audioFileURL; });
    change(*index, [&](QueueItem& item) { item.durationSec = durationSec; });
    change(*index, [&](QueueItem& item) { item.state = QueueItem::State::ready; });
    change(*index, [&](QueueItem& item) { item.renderError.reset(); });
    renderProgress_.clear(id);
    persist();
    log_.info("audio-ready: {} duration={:.6f}s", id.uuidString(), durationSec);
}

void QueueService::setState(const Uuid& id, QueueItem::State state, std::optional<std::string> error) {
    PARLOWEN_ASSERT_ON(main_);
    auto index = indexOf(items_.get(), id);
    if (!index) return;
    change(*index, [&](QueueItem& item) { item.state = state; });
    if (state == QueueItem::State::error) {
        change(*index, [&](QueueItem& item) { item.renderError = std::move(error); });
        renderProgress_.clear(id);
    }
    persist();
    log_.info("state: {} \u2192 {}", id.uuidString(), rawValue(state));
}

bool QueueService::contains(const platform::Uuid& id) const {
    return items_.read([&](const std::vector<QueueItem>& items) { return indexOf(items, id).has_value(); });
}

std::vector<QueueItem> QueueService::activeItems() const {
    std::vector<QueueItem> active;
    for (const auto& item : items_.get())
        if (item.state != QueueItem::State::error && item.state != QueueItem::State::archived) active.push_back(item);
    std::stable_sort(active.begin(), active.end(),
                     [](const QueueItem& a, const QueueItem& b) { return a.createdAt > b.createdAt; });
    return active;
}

void QueueService::remove(const Uuid& id) {
    PARLOWEN_ASSERT_ON(main_);
    auto items = items_.get();
    const auto removed = std::erase_if(items, [&](const QueueItem& item) { return item.id == id; });
    if (removed > 0) items_.set(std::move(items));
    persist();
    cache_.removeFiles(id);
    if (removePodcastRecord_) removePodcastRecord_(id);
    log_.info("delete: {}", id.uuidString());
}

void QueueService::updatePlayedThru(const Uuid& id, double position) {
    PARLOWEN_ASSERT_ON(main_);
    // A position that is not a finite number would make the file unwritable.
    if (!std::isfinite(position)) return;
    const auto items = items_.get();
    auto index = indexOf(items, id);
    if (!index) return;
    change(*index, [&](QueueItem& item) { item.playedThru = position; });
    const QueueItem& item = items[*index];
    if (item.durationSec > 0 && position / item.durationSec >= kCompletionFraction && !item.completedAt) {
        change(*index, [&](QueueItem& i) { i.completedAt = clock_.now(); });
        schedulePersist(true);
        return;
    }
    schedulePersist(false);
}

std::size_t pruneOrphanedRenders(const QueueService& queue, const ListenLaterCache& cache) {
    if (!queue.lastLoadWasClean()) {
        platform::Logger("com.kelvatrum.Parlowen", "listen-later")
            .info("queue did not load cleanly; render cache left as it is");
        return 0;
    }
    std::unordered_set<platform::Uuid> live;
    for (const auto& item : queue.items()) live.insert(item.id);
    return cache.pruneOrphans(live);
}

}  // namespace parlowen
