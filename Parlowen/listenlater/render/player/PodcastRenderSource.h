#pragma once

#include <functional>
#include <optional>
#include <string>

#include "platform/runtime/Observable.h"
#include "platform/values/Url.h"
#include "platform/values/Uuid.h"

namespace parlowen {

// What playback reads of an item's podcast render record.
struct PodcastPlaybackInfo {
    bool ready = false;  // the record's state is "ready"
    std::optional<platform::Url> audioURL;
    double playedThru = 0;
    std::optional<std::string> hostAVoiceID;
    std::optional<std::string> hostBVoiceID;
};

// The podcast render store as the queue player and the now-playing panel see
// it: its records by item, its position write and its change notifications.
class PodcastRenderSource {
public:
    virtual ~PodcastRenderSource() = default;
    // The record under the item's identifier text; none when there is none.
    virtual std::optional<PodcastPlaybackInfo> render(const platform::Uuid& itemID) const = 0;
    // Stores the podcast position and saves at once; nothing without a record.
    virtual void updatePlayedThru(const platform::Uuid& itemID, double position) = 0;
    // Called after every change of the records.
    [[nodiscard]] virtual platform::Subscription onChange(std::function<void()> changed) = 0;
};

}  // namespace parlowen
