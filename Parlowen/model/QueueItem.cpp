#include "Parlowen/model/QueueItem.h"

#include <array>
#include <filesystem>
#include <vector>

#include <nlohmann/json.hpp>

#include "Parlowen/model/Hashing.h"
#include "Parlowen/model/RawEnum.h"
#include "platform/text/Unicode.h"

namespace parlowen {

using platform::Json;

namespace {

constexpr std::array<std::pair<QueueItem::State, std::string_view>, 5> kStates{{
    {QueueItem::State::pendingRender, "pendingRender"},
    {QueueItem::State::rendering, "rendering"},
    {QueueItem::State::ready, "ready"},
    {QueueItem::State::error, "error"},
    {QueueItem::State::archived, "archived"},
}};

constexpr std::size_t kTitleLimit = 80;
constexpr std::size_t kTitleKept = 78;

platform::Error invalidValue(std::string description) {
    return jsonError(platform::JsonErrorCode::invalidValue, std::move(description));
}

platform::Result<std::optional<platform::Url>> optionalUrl(const Json& json, std::string_view key) {
    auto text = platform::optionalString(json, key);
    if (!text) return platform::fail(text.error());
    if (!*text) return std::optional<platform::Url>();
    auto url = platform::Url::parse(**text);
    if (!url) return platform::fail(invalidValue("\"" + std::string(key) + "\" is not a valid URL"));
    return std::optional<platform::Url>(std::move(*url));
}

// A local file that an asset can be made from.
bool fileExists(const std::optional<platform::Url>& url) {
    if (!url || !url->isFileURL()) return false;
    std::error_code ec;
    return std::filesystem::is_regular_file(url->filePath(), ec);
}

}  // namespace

std::string_view rawValue(QueueItem::State state) {
    for (const auto& [s, raw] : kStates)
        if (s == state) return raw;
    return "rendering";
}

std::optional<QueueItem::State> queueItemStateFromRaw(std::string_view raw) {
    for (const auto& [s, text] : kStates)
        if (text == raw) return s;
    return std::nullopt;
}

QueueItem QueueItem::create(Fields f) {
    QueueItem item;
    item.id = f.id;
    item.title = f.title ? std::move(*f.title) : deriveTitle(f.text);
    item.text = std::move(f.text);
    item.sourceApp = std::move(f.sourceApp);
    item.sourceURL = std::move(f.sourceURL);
    item.voiceEngine = std::move(f.voiceEngine);
    item.voiceID = std::move(f.voiceID);
    item.audioFileURL = std::move(f.audioFileURL);
    item.heroImageURL = std::move(f.heroImageURL);
    item.durationSec = f.durationSec;
    item.state = f.state;
    item.createdAt = f.createdAt;
    item.playedThru = f.playedThru;
    item.completedAt = f.completedAt;
    item.renderError = std::move(f.renderError);
    return item;
}

std::string QueueItem::deriveTitle(std::string_view text) {
    return platform::text::oneLinePreview(text, kTitleLimit, kTitleKept);
}

std::string QueueItem::canonicalEngine(std::string_view engine) {
    std::string lower = platform::text::lowercased(engine);
    if (lower == "apple" || lower == "applespeech") return "appleSpeech";
    return lower;
}

Json QueueItem::toJson() const {
    Json j = Json::object();
    j["id"] = id.uuidString();
    j["text"] = text;
    j["title"] = title;
    if (sourceApp) j["sourceApp"] = *sourceApp;
    if (sourceURL) j["sourceURL"] = sourceURL->absoluteString();
    j["voiceEngine"] = voiceEngine;
    j["voiceID"] = voiceID;
    if (audioFileURL) j["audioFileURL"] = audioFileURL->absoluteString();
    if (heroImageURL) j["heroImageURL"] = heroImageURL->absoluteString();
    j["durationSec"] = durationSec;
    j["state"] = std::string(rawValue(state));
    j["createdAt"] = createdAt.timeIntervalSinceReferenceDate();
    j["playedThru"] = playedThru;
    if (completedAt) j["completedAt"] = completedAt->timeIntervalSinceReferenceDate();
    if (renderError) j["renderError"] = *renderError;
    return j;
}

platform::Result<QueueItem> QueueItem::fromJson(const Json& json, platform::Date now) {
    if (!json.is_object())
        return platform::fail(jsonError(platform::JsonErrorCode::notAnObject, "a queue item is not a JSON object"));
#define PARLOWEN_READ(var, expr) \
    auto var = (expr);           \
    if (!var) return platform::fail(var.error())

    PARLOWEN_READ(id, platform::optionalUuid(json, "id"));
    PARLOWEN_READ(text, platform::optionalString(json, "text"));
    PARLOWEN_READ(title, platform::optionalString(json, "title"));
    PARLOWEN_READ(sourceApp, platform::optionalString(json, "sourceApp"));
    PARLOWEN_READ(sourceURL, optionalUrl(json, "sourceURL"));
    PARLOWEN_READ(voiceEngine, platform::optionalString(json, "voiceEngine"));
    PARLOWEN_READ(voiceID, platform::optionalString(json, "voiceID"));
    PARLOWEN_READ(audioFileURL, optionalUrl(json, "audioFileURL"));
    PARLOWEN_READ(heroImageURL, optionalUrl(json, "heroImageURL"));
    PARLOWEN_READ(durationSec, platform::optionalDouble(json, "durationSec"));
    PARLOWEN_READ(stateText, platform::optionalString(json, "state"));
    PARLOWEN_READ(createdAt, platform::optionalDate(json, "createdAt"));
    PARLOWEN_READ(playedThru, platform::optionalDouble(json, "playedThru"));
    PARLOWEN_READ(completedAt, platform::optionalDate(json, "completedAt"));
    PARLOWEN_READ(renderError, platform::optionalString(json, "renderError"));
#undef PARLOWEN_READ

    State state = State::rendering;
    if (*stateText) {
        auto parsed = queueItemStateFromRaw(**stateText);
        if (!parsed) return platform::fail(invalidValue("\"state\" is not a queue item state: " + **stateText));
        state = *parsed;
    }

    return create(Fields{
        .id = id->value_or(platform::Uuid::random()),
        .text = text->value_or(""),
        .title = std::move(*title),
        .sourceApp = std::move(*sourceApp),
        .sourceURL = std::move(*sourceURL),
        .voiceEngine = voiceEngine->value_or(""),
        .voiceID = voiceID->value_or(""),
        .audioFileURL = std::move(*audioFileURL),
        .heroImageURL = std::move(*heroImageURL),
        .durationSec = durationSec->value_or(0),
        .state = state,
        .createdAt = createdAt->value_or(now),
        .playedThru = playedThru->value_or(0),
        .completedAt = *completedAt,
        .renderError = std::move(*renderError),
    });
}

platform::CloudRecord QueueItem::makeRecord(const platform::CloudZoneID& zoneID) const {
    platform::CloudRecord record(kQueueItemRecordType, platform::CloudRecordID{id.uuidString(), zoneID});
    record.set("text", text);
    record.set("title", title);
    if (sourceApp) record.set("sourceApp", *sourceApp);
    if (sourceURL) record.set("sourceURL", sourceURL->absoluteString());
    record.set("voiceEngine", voiceEngine);
    record.set("voiceID", voiceID);
    if (fileExists(audioFileURL)) record.set("audio", platform::CloudAsset{*audioFileURL});
    if (fileExists(heroImageURL)) record.set("heroImage", platform::CloudAsset{*heroImageURL});
    record.set("durationSec", durationSec);
    record.set("state", std::string(rawValue(state)));
    record.set("createdAt", createdAt);
    record.set("playedThru", playedThru);
    if (completedAt) record.set("completedAt", *completedAt);
    if (renderError) record.set("renderError", *renderError);
    return record;
}

std::optional<QueueItem> QueueItem::fromRecord(const platform::CloudRecord& record) {
    if (record.recordType() != kQueueItemRecordType) return std::nullopt;
    auto id = platform::Uuid::fromString(record.recordName());
    if (!id) return std::nullopt;
    auto text = record.string("text");
    auto title = record.string("title");
    auto voiceEngine = record.string("voiceEngine");
    auto voiceID = record.string("voiceID");
    if (!text || !title || !voiceEngine || !voiceID) return std::nullopt;
    auto stateText = record.string("state");
    if (!stateText) return std::nullopt;
    auto state = queueItemStateFromRaw(*stateText);
    if (!state) return std::nullopt;
    auto createdAt = record.date("createdAt");
    if (!createdAt) return std::nullopt;

    std::optional<platform::Url> sourceURL;
    if (auto s = record.string("sourceURL")) sourceURL = platform::Url::parse(*s);
    std::optional<platform::Url> audio, hero;
    if (auto a = record.asset("audio")) audio = a->fileURL;
    if (auto a = record.asset("heroImage")) hero = a->fileURL;

    return create(Fields{
        .id = *id,
        .text = std::move(*text),
        .title = std::move(*title),
        .sourceApp = record.string("sourceApp"),
        .sourceURL = std::move(sourceURL),
        .voiceEngine = std::move(*voiceEngine),
        .voiceID = std::move(*voiceID),
        .audioFileURL = std::move(audio),
        .heroImageURL = std::move(hero),
        .durationSec = record.number("durationSec").value_or(0),
        .state = *state,
        .createdAt = *createdAt,
        .playedThru = record.number("playedThru").value_or(0),
        .completedAt = record.date("completedAt"),
        .renderError = record.string("renderError"),
    });
}

}  // namespace parlowen

std::size_t std::hash<parlowen::QueueItem>::operator()(const parlowen::QueueItem& item) const noexcept {
    using parlowen::hashValue;
    // Dates take part by their seconds since the reference date.
    auto seconds = [](platform::Date d) { return d.timeIntervalSinceReferenceDate(); };
    std::size_t seed = 0;
    hashValue(seed, item.id);
    hashValue(seed, item.text);
    hashValue(seed, item.title);
    hashValue(seed, item.sourceApp);
    hashValue(seed, item.sourceURL);
    hashValue(seed, item.voiceEngine);
    hashValue(seed, item.voiceID);
    hashValue(seed, item.audioFileURL);
    hashValue(seed, item.heroImageURL);
    hashValue(seed, item.durationSec);
    hashValue(seed, static_cast<int>(item.state));
    hashValue(seed, seconds(item.createdAt));
    hashValue(seed, item.playedThru);
    hashValue(seed, item.completedAt.transform(seconds));
    hashValue(seed, item.renderError);
    return seed;
}
