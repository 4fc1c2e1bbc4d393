#pragma once

#include <optional>
#include <string>

#include "platform/log/Log.h"
#include "platform/notifications/NotificationCenter.h"
#include "platform/runtime/Task.h"
#include "platform/values/Uuid.h"

namespace parlowen {

// Posts the application's user notifications ("Podcast ready"). Asks for
// permission the first time one is about to be posted and keeps the answer
// for the rest of the run. One instance, owned by the composition root;
// main thread only (the center's calls resume there).
class MacUserNotifier {
public:
    explicit MacUserNotifier(platform::NotificationCenter& center) : center_(center) {}

    // Whether notifications may be posted: the cached answer, else the
    // center's status, asking when it is undecided.
    platform::Task<bool> ensureAuthorized();
    // Posts "Podcast ready" with the item's title as body. Never fails
    // towards the caller: a refusal or a failed post is only logged.
    platform::Task<void> notifyPodcastReady(platform::Uuid itemID, std::string title);

    std::optional<bool> authGranted() const { return authGranted_; }

    // "podcast-ready-" and the item's identifier in upper case.
    static std::string podcastReadyIdentifier(const platform::Uuid& itemID);

private:
    static platform::Task<bool> ensureAuthorizedImpl(MacUserNotifier* self);
    static platform::Task<void> notifyImpl(MacUserNotifier* self, platform::Uuid itemID, std::string title);

    platform::NotificationCenter& center_;
    std::optional<bool> authGranted_;
    platform::Logger log_{"com.kelvatrum.Parlowen", "notify"};
};

}  // namespace parlowen
