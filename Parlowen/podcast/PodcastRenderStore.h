#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "Parlowen/model/RawEnum.h"
#include "platform/clouddb/CloudRecord.h"
#include "platform/log/Log.h"
#include "platform/runtime/Executor.h"
#include "platform/runtime/Observable.h"
#include "platform/values/Date.h"
#include "platform/values/Json.h"
#include "platform/values/Url.h"
#include "platform/values/Uuid.h"
#include "platform/values/XdgDirs.h"

namespace parlowen {

// Where an item's podcast stands.
enum class PodcastRenderState { none, generatingScript, rendering, ready, error };

template <>
struct EnumCases<PodcastRenderState> {
    static constexpr std::string_view typeName = "PodcastRender.State";
    static constexpr std::array cases{
        EnumCase{PodcastRenderState::none, "none"},
        EnumCase{PodcastRenderState::generatingScript, "generatingScript"},
        EnumCase{PodcastRenderState::rendering, "rendering"},
        EnumCase{PodcastRenderState::ready, "ready"},
        EnumCase{PodcastRenderState::error, "error"},
    };
};

// The podcast of one Listen Later item: its script, audio, voices, last error
// and play position, kept beside the item's own article audio.
struct PodcastRender {
    using State = PodcastRenderState;
    static constexpr const char* cloudKitRecordType = "PodcastRender";

    State state = State::none;
    std::optional<std::string> scriptText;
    std::optional<platform::Url> audioURL;
    std::optional<double> durationSec;
    std::optional<std::string> hostAVoiceID;
    std::optional<std::string> hostBVoiceID;
    std::optional<std::string> error;
    std::optional<platform::Date> renderedAt;
    double playedThru = 0;

    // One record of the store's file: absent optionals are left out.
    platform::Json toJson() const;
    // Null members count as missing; a missing "playedThru" is 0. Fails on a
    // missing or unknown "state" and on members of the wrong type.
    static platform::Result<PodcastRender> fromJson(const platform::Json& json);

    // The cloud record named by the item's identifier. "playedThru" stays
    // local; "audio" is attached only when the file exists.
    platform::CloudRecord toRecord(const platform::Uuid& itemID, const platform::CloudZoneID& zoneID) const;
    // Nothing unless the record is a "PodcastRender" named by an identifier
    // with a known "state".
    static std::optional<std::pair<platform::Uuid, PodcastRender>> fromRecord(const platform::CloudRecord& record);

    friend bool operator==(const PodcastRender&, const PodcastRender&) = default;
};

// One podcast record per Listen Later item, keyed by the identifier's
// canonical text, announced to observers on every change and written at once
// to "podcast-renders.json". Main thread only; failures are logged, never
// returned. One instance, owned by the composition root.
class PodcastRenderStore {
public:
    using Renders = std::map<std::string, PodcastRender>;
    static constexpr const char* kFileName = "podcast-renders.json";
    static constexpr const char* kAppFolder = "com.kelvatrum.Parlowen";
    static constexpr const char* kInterruptedMessage = "Render interrupted \u2014 tap to retry.";

    // <Application Support>/com.kelvatrum.Parlowen/podcast-renders.json.
    static std::filesystem::path defaultStorageURL(const platform::XdgDirs& dirs);

    // Loads the file, then turns requests an earlier run left running into errors.
    PodcastRenderStore(platform::Executor& main, const platform::Clock& clock, std::filesystem::path storageURL);
    PodcastRenderStore(const PodcastRenderStore&) = delete;
    PodcastRenderStore& operator=(const PodcastRenderStore&) = delete;

    Renders renders() const { return renders_.get(); }
    // The current records, then every change (delivered before the store holds it).
    platform::Stream<Renders> rendersStream() const { return renders_.stream(); }
    std::optional<PodcastRender> render(const platform::Uuid& itemID) const;
    const std::filesystem::path& storageURL() const { return storageURL_; }
    // Where a file that could not be read whole was kept, once the store has written.
    const std::optional<std::filesystem::path>& movedAsideFile() const { return movedAsideFile_; }

    // Stores the whole record, replacing any earlier one.
    void set(PodcastRender render, const platform::Uuid& itemID);
    // New state; `error` is set for `error` and cleared for every other state.
    // Nothing happens without a record.
    void transition(const platform::Uuid& itemID, PodcastRender::State state,
                    std::optional<std::string> error = std::nullopt);
    // Nothing happens without a record; not logged (called on every playback tick).
    void updatePlayedThru(const platform::Uuid& itemID, double position);
    // Removes the record (the audio file stays; the queue deletes it).
    void remove(const platform::Uuid& itemID);

    // Writes every record now.
    void persist();

private:
    void load();
    void recoverInterruptedRenders();
    void store(const std::string& key, PodcastRender render);

    platform::Executor& main_;
    const platform::Clock& clock_;
    std::filesystem::path storageURL_;
    platform::Observable<Renders> renders_;
    // The file as read held records that were skipped (or none could be read):
    // it is moved aside before it is first overwritten.
    bool keepFileBeforeWrite_ = false;
    std::optional<std::filesystem::path> movedAsideFile_;
    platform::Logger log_{"com.kelvatrum.Parlowen", "podcast-store"};
};

}  // namespace parlowen
