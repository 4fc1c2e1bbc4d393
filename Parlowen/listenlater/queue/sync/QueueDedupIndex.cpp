#include "Parlowen/listenlater/queue/sync/QueueDedupIndex.h"

#include <charconv>

#include <nlohmann/json.hpp>

#include "platform/values/Files.h"
#include "platform/values/XdgDirs.h"

namespace parlowen {

namespace fs = std::filesystem;
using platform::Task;
using platform::Uuid;

namespace {

// The texts a decoder gives for a document of the wrong shape.
constexpr const char* kWrongFormat = "The data couldn’t be read because it isn’t in the correct format.";
constexpr const char* kMissing = "The data couldn’t be read because it is missing.";

// Digits only, within the unsigned 64-bit range (no sign, blank or prefix).
std::optional<std::uint64_t> parseHash(const std::string& text) {
    std::uint64_t value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

using Entries = std::map<Uuid, std::uint64_t>;

platform::Result<Entries> decode(const std::string& text) {
    auto failure = [](int code, const char* caseName, const char* description) {
        return platform::fail(platform::Error::make("QueueDedupIndex", code, caseName, description));
    };
    auto json = nlohmann::json::parse(text, nullptr, false);
    if (json.is_discarded() || !json.is_object()) return failure(1, "dataCorrupted", kWrongFormat);
    auto items = json.find("items");
    if (items == json.end() || items->is_null()) return failure(2, "keyNotFound", kMissing);
    if (!items->is_object()) return failure(3, "typeMismatch", kWrongFormat);
    Entries out;
    for (const auto& [key, value] : items->items()) {
        // A value that is not a string makes the whole document of the wrong type.
        if (!value.is_string()) return failure(3, "typeMismatch", kWrongFormat);
        auto id = Uuid::fromString(key);
        auto hash = parseHash(value.get_ref<const std::string&>());
        if (id && hash) out.insert_or_assign(*id, *hash);
    }
    return out;
}

Task<void> writeIndex(platform::JoinHandle<void> previous, std::map<std::string, std::string> snapshot,
                      fs::path file) {
    if (previous.valid()) co_await previous;
    nlohmann::json items = nlohmann::json::object();
    for (auto& [id, hash] : snapshot) items[id] = std::move(hash);
    nlohmann::json document = nlohmann::json::object();
    document["items"] = std::move(items);
    const std::string text = document.dump();
    auto written = platform::writeFileAtomically(file, text);
    if (!written) {
        static const platform::Logger log("com.kelvatrum.Parlowen", "queue-dedup-index");
        log.error("dedup index write failed: {}", written.error().description);
    }
}

}  // namespace

fs::path QueueDedupIndex::defaultFileURL(const platform::Environment& env) {
    std::error_code ec;
    fs::path support = platform::XdgDirs(env).dataHome();
    fs::create_directories(support, ec);
    if (ec) {
        const std::string tmp = env.value("TMPDIR");
        support = (!tmp.empty() && fs::path(tmp).is_absolute()) ? fs::path(tmp) : fs::path("/tmp");
    }
    const fs::path folder = support / kAppFolder;
    if (!fs::exists(folder, ec)) fs::create_directories(folder, ec);  // a failure shows at the first write
    return folder / kFileName;
}

QueueDedupIndex::QueueDedupIndex(platform::Executor& background, fs::path fileURL)
    : background_(background), strand_(background), fileURL_(std::move(fileURL)) {}

void QueueDedupIndex::loadIfNeeded() {
    if (loaded_) return;
    loaded_ = true;  // a failed read is not tried again in this run
    std::error_code ec;
    if (!fs::exists(fileURL_, ec)) return;
    auto bytes = platform::readFile(fileURL_);
    auto decoded = bytes ? decode(platform::toString(*bytes)) : platform::fail(bytes.error());
    if (!decoded) {
        log_.error("dedup index decode failed, starting fresh: {}", decoded.error().description);
        return;
    }
    cache_ = std::move(*decoded);
    log_.info("loaded {} dedup entries from disk", cache_.size());
}

void QueueDedupIndex::persist() {
    std::map<std::string, std::string> snapshot;
    for (const auto& [id, hash] : cache_) snapshot.emplace(id.uuidString(), std::to_string(hash));
    platform::JoinHandle<void> previous = inFlightPersist_;
    inFlightPersist_ = platform::spawn(background_, writeIndex(std::move(previous), std::move(snapshot), fileURL_));
}

Task<std::optional<std::uint64_t>> QueueDedupIndex::hash(Uuid id) {
    co_await platform::resumeOn(strand_);
    loadIfNeeded();
    std::optional<std::uint64_t> found;
    if (auto it = cache_.find(id); it != cache_.end()) found = it->second;
    co_return found;
}

Task<std::set<Uuid>> QueueDedupIndex::knownIDs() {
    co_await platform::resumeOn(strand_);
    loadIfNeeded();
    std::set<Uuid> ids;
    for (const auto& [id, hash] : cache_) ids.insert(id);
    co_return ids;
}

Task<void> QueueDedupIndex::setHash(std::uint64_t hash, Uuid id) {
    co_await platform::resumeOn(strand_);
    loadIfNeeded();
    cache_.insert_or_assign(id, hash);
    persist();
}

Task<void> QueueDedupIndex::remove(Uuid id) {
    co_await platform::resumeOn(strand_);
    loadIfNeeded();
    if (cache_.erase(id) != 0) persist();
}

}  // namespace parlowen
