#include "Parlowen/podcast/PodcastRenderStore.h"

#include <nlohmann/json.hpp>
#include <system_error>

#include "platform/values/Files.h"

namespace parlowen {

namespace fs = std::filesystem;
using platform::Json;
using platform::Result;

// ---- Record ------------------------------------------------------------------

Json PodcastRender::toJson() const {
    Json json = Json::object();
    json["state"] = std::string(rawValue(state));
    if (scriptText) json["scriptText"] = *scriptText;
    if (audioURL) json["audioURL"] = audioURL->absoluteString();
    if (durationSec) json["durationSec"] = *durationSec;
    if (hostAVoiceID) json["hostAVoiceID"] = *hostAVoiceID;
    if (hostBVoiceID) json["hostBVoiceID"] = *hostBVoiceID;
    if (error) json["error"] = *error;
    if (renderedAt) json["renderedAt"] = renderedAt->timeIntervalSinceReferenceDate();
    json["playedThru"] = playedThru;
    return json;
}

Result<PodcastRender> PodcastRender::fromJson(const Json& json) {
    PodcastRender render;
    // The member readers fail on a record that is not an object.
    auto stateMember = platform::requireMember(json, "state");
    if (!stateMember) return platform::fail(stateMember.error());
    auto state = parlowen::fromJson<State>(**stateMember);
    if (!state) return platform::fail(state.error());
    render.state = *state;

    auto readText = [&](std::string_view key, std::optional<std::string>& into) -> platform::Status {
        auto value = platform::optionalString(json, key);
        if (!value) return platform::fail(value.error());
        into = std::move(*value);
        return {};
    };
    for (auto [key, field] : {std::pair{"scriptText", &render.scriptText}, std::pair{"hostAVoiceID", &render.hostAVoiceID},
                              std::pair{"hostBVoiceID", &render.hostBVoiceID}, std::pair{"error", &render.error}})
        if (auto read = readText(key, *field); !read) return platform::fail(read.error());

    auto audio = platform::optionalString(json, "audioURL");
    if (!audio) return platform::fail(audio.error());
    if (*audio) {
        auto url = platform::Url::parse(**audio);
        if (!url)
            return platform::fail(
                platform::jsonError(platform::JsonErrorCode::invalidValue, "\"audioURL\" is not a URL"));
        render.audioURL = std::move(*url);
    }
    auto duration = platform::optionalDouble(json, "durationSec");
    if (!duration) return platform::fail(duration.error());
    render.durationSec = *duration;
    auto renderedAt = platform::optionalDate(json, "renderedAt");
    if (!renderedAt) return platform::fail(renderedAt.error());
    render.renderedAt = *renderedAt;
    auto played = platform::optionalDouble(json, "playedThru");
    if (!played) return platform::fail(played.error());
    render.playedThru = played->value_or(0);
    return render;
}

platform::CloudRecord PodcastRender::toRecord(const platform::Uuid& itemID,
                                              const platform::CloudZoneID& zoneID) const {
    const std::string name = itemID.uuidString();
    platform::CloudRecord record(cloudKitRecordType, platform::CloudRecordID{name, zoneID});
    record.set("itemID", name);
    record.set("state", std::string(rawValue(state)));
    if (scriptText) record.set("scriptText", *scriptText);
    if (durationSec) record.set("durationSec", *durationSec);
    if (hostAVoiceID) record.set("hostAVoiceID", *hostAVoiceID);
    if (hostBVoiceID) record.set("hostBVoiceID", *hostBVoiceID);
    if (error) record.set("error", *error);
    if (renderedAt) record.set("renderedAt", *renderedAt);
    std::error_code ec;
    if (audioURL && audioURL->isFileURL() && fs::is_regular_file(audioURL->filePath(), ec))
        record.set("audio", platform::CloudAsset{*audioURL});
    return record;
}

std::optional<std::pair<platform::Uuid, PodcastRender>> PodcastRender::fromRecord(const platform::CloudRecord& record) {
    if (record.recordType() != cloudKitRecordType) return std::nullopt;
    auto id = platform::Uuid::fromString(record.recordName());
    if (!id) return std::nullopt;
    auto stateText = record.string("state");
    if (!stateText) return std::nullopt;
    auto state = fromRawValue<State>(*stateText);
    if (!state) return std::nullopt;
    PodcastRender render;
    render.state = *state;
    render.scriptText = record.string("scriptText");
    render.hostAVoiceID = record.string("hostAVoiceID");
    render.hostBVoiceID = record.string("hostBVoiceID");
    render.error = record.string("error");
    render.durationSec = record.number("durationSec");
    render.renderedAt = record.date("renderedAt");
    if (auto asset = record.asset("audio")) render.audioURL = asset->fileURL;
    return std::pair{*id, std::move(render)};
}

// ---- Store -------------------------------------------------------------------

fs::path PodcastRenderStore::defaultStorageURL(const platform::XdgDirs& dirs) {
    return dirs.dataHome() / kAppFolder / kFileName;
}

PodcastRenderStore::PodcastRenderStore(platform::Executor& main, const platform::Clock& clock, fs::path storageURL)
    : main_(main), clock_(clock), storageURL_(std::move(storageURL)) {
    load();
    recoverInterruptedRenders();
}

std::optional<PodcastRender> PodcastRenderStore::render(const platform::Uuid& itemID) const {
    // Read in place: a playback tick asks for one record, not a copy of them all.
    return renders_.read([key = itemID.uuidString()](const Renders& renders) -> std::optional<PodcastRender> {
        auto it = renders.find(key);
        if (it == renders.end()) return std::nullopt;
        return it->second;
    });
}

void PodcastRenderStore::store(const std::string& key, PodcastRender render) {
    auto renders = renders_.get();
    renders.insert_or_assign(key, std::move(render));
    renders_.set(std::move(renders));
}

void PodcastRenderStore::set(PodcastRender render, const platform::Uuid& itemID) {
    PARLOWEN_ASSERT_ON(main_);
    const std::string key = itemID.uuidString();
    const auto state = render.state;
    store(key, std::move(render));
    persist();
    log_.info("set: {} state={}", key, rawValue(state));
}

void PodcastRenderStore::transition(const platform::Uuid& itemID, PodcastRender::State state,
                                    std::optional<std::string> error) {
    PARLOWEN_ASSERT_ON(main_);
    auto current = render(itemID);
    if (!current) return;
    current->state = state;
    current->error = state == PodcastRender::State::error ? std::move(error) : std::nullopt;
    const std::string key = itemID.uuidString();
    store(key, std::move(*current));
    persist();
    log_.info("state: {} \u2192 {}", key, rawValue(state));
}

void PodcastRenderStore::updatePlayedThru(const platform::Uuid& itemID, double position) {
    PARLOWEN_ASSERT_ON(main_);
    auto current = render(itemID);
    if (!current) return;
    current->playedThru = position;
    store(itemID.uuidString(), std::move(*current));
    persist();
}

void PodcastRenderStore::remove(const platform::Uuid& itemID) {
    PARLOWEN_ASSERT_ON(main_);
    const std::string key = itemID.uuidString();
    auto renders = renders_.get();
    if (renders.erase(key) == 0) return;
    renders_.set(std::move(renders));
    persist();
    log_.info("remove: {}", key);
}

void PodcastRenderStore::persist() {
    if (keepFileBeforeWrite_) {
        // The file held records that could not be read: keep it before the
        // records in memory replace it.
        auto moved = platform::moveAside(storageURL_, platform::corruptSuffix(clock_.now()));
        if (!moved) {
            log_.error("persist failed: {}", moved.error().description);
            return;
        }
        keepFileBeforeWrite_ = false;
        movedAsideFile_ = *moved;
        log_.error("kept the file as read at {}", moved->string());
    }
    Json object = Json::object();
    renders_.read([&object](const Renders& renders) {
        for (const auto& [key, render] : renders) object[key] = render.toJson();
    });
    auto text = platform::encodeJson(object);
    if (!text) {
        log_.error("persist failed: {}", text.error().description);
        return;
    }
    if (auto written = platform::writeFileAtomically(storageURL_, *text); !written)
        log_.error("persist failed: {}", written.error().description);
}

void PodcastRenderStore::load() {
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(storageURL_, ec))) return;

    auto bytes = platform::readFile(storageURL_);
    if (!bytes) {
        log_.error("load failed: {}", bytes.error().description);
        keepFileBeforeWrite_ = true;
        return;
    }
    auto json = platform::decodeJson(platform::ByteView(*bytes));
    if (json && !json->is_object())
        json = platform::fail(platform::jsonError(platform::JsonErrorCode::typeMismatch,
                                                  "the podcast file does not hold an object"));
    if (!json) {
        log_.error("load failed: {}", json.error().description);
        keepFileBeforeWrite_ = true;
        return;
    }

    // Record by record: one bad record must not cost the others.
    Renders renders;
    for (const auto& [key, value] : json->items()) {
        auto render = PodcastRender::fromJson(value);
        if (!render) {
            log_.error("load failed: record {}: {}", key, render.error().description);
            keepFileBeforeWrite_ = true;
            continue;
        }
        auto id = platform::Uuid::fromString(key);
        renders.insert_or_assign(id ? id->uuidString() : key, std::move(*render));
    }
    const std::size_t count = renders.size();
    renders_.set(std::move(renders));
    log_.info("loaded {} records from disk", count);
}

void PodcastRenderStore::recoverInterruptedRenders() {
    auto renders = renders_.get();
    std::size_t changed = 0;
    for (auto& [key, render] : renders) {
        if (render.state != PodcastRender::State::generatingScript && render.state != PodcastRender::State::rendering)
            continue;
        render.state = PodcastRender::State::error;
        render.error = kInterruptedMessage;
        ++changed;
    }
    if (changed == 0) return;
    renders_.set(std::move(renders));
    persist();
    log_.info("recovered {} stuck render(s) from prior session", changed);
}

}  // namespace parlowen
