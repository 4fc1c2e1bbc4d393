#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/clouddb/CloudRecord.h"
#include "platform/runtime/Error.h"
#include "platform/values/Date.h"
#include "platform/values/Json.h"
#include "platform/values/Url.h"
#include "platform/values/Uuid.h"

namespace parlowen {

// One Listen Later entry: an article or text to hear later, its rendered audio,
// play position and state. Built into both programs: its cloud record is the
// wire format between the share extension, the application and other devices.
struct QueueItem {
    enum class State { pendingRender, rendering, ready, error, archived };

    // What creation takes: every field, with the title optional. An absent title
    // is derived from the text; an empty one stays empty.
    struct Fields;

    platform::Uuid id;
    std::string text;
    std::string title;
    std::optional<std::string> sourceApp;
    std::optional<platform::Url> sourceURL;
    std::string voiceEngine;
    std::string voiceID;
    std::optional<platform::Url> audioFileURL;
    std::optional<platform::Url> heroImageURL;
    double durationSec = 0;
    State state = State::rendering;
    platform::Date createdAt;
    double playedThru = 0;
    std::optional<platform::Date> completedAt;
    std::optional<std::string> renderError;

    static QueueItem create(Fields fields);

    // Line feeds and tabs become spaces, runs of spaces collapse, and a result of
    // more than 80 characters is cut to 78 plus "…".
    static std::string deriveTitle(std::string_view text);
    // Lower-cased; "apple" and "applespeech" in any case become "appleSpeech".
    static std::string canonicalEngine(std::string_view engine);

    // The JSON object of one item. Optional members are written only when present.
    platform::Json toJson() const;
    // Absent (or null) members take their defaults: a fresh id, the derived title,
    // state rendering, `now` as createdAt. A member of the wrong type, a state that
    // is not one of the five raw texts, a malformed UUID or URL fail the whole item.
    static platform::Result<QueueItem> fromJson(const platform::Json& json, platform::Date now);

    // The cloud record of type "QueueItem", named by the id, in `zoneID`. An asset
    // key is set only when its file exists at that moment.
    platform::CloudRecord makeRecord(const platform::CloudZoneID& zoneID) const;
    // Nothing when the record is not a well-formed queue item.
    static std::optional<QueueItem> fromRecord(const platform::CloudRecord& record);

    friend bool operator==(const QueueItem&, const QueueItem&) = default;
};

struct QueueItem::Fields {
    platform::Uuid id;
    std::string text;
    std::optional<std::string> title;
    std::optional<std::string> sourceApp;
    std::optional<platform::Url> sourceURL;
    std::string voiceEngine;
    std::string voiceID;
    std::optional<platform::Url> audioFileURL;
    std::optional<platform::Url> heroImageURL;
    double durationSec = 0;
    State state = State::rendering;
    platform::Date createdAt;
    double playedThru = 0;
    std::optional<platform::Date> completedAt;
    std::optional<std::string> renderError;
};

inline constexpr const char* kQueueItemRecordType = "QueueItem";
// The cloud container the application and the share extension both use.
inline constexpr const char* kCloudContainerIdentifier = "iCloud.com.kelvatrum.Parlowen";

// "pendingRender", "rendering", "ready", "error", "archived".
std::string_view rawValue(QueueItem::State state);
// Exact, case-sensitive match of one of the five raw texts.
std::optional<QueueItem::State> queueItemStateFromRaw(std::string_view raw);

}  // namespace parlowen

template <>
struct std::hash<parlowen::QueueItem> {
    std::size_t operator()(const parlowen::QueueItem& item) const noexcept;
};
