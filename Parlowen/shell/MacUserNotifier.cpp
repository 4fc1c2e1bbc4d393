#include "Parlowen/shell/MacUserNotifier.h"

namespace parlowen {

using platform::NotificationAuthorizationStatus;

std::string MacUserNotifier::podcastReadyIdentifier(const platform::Uuid& itemID) {
    return "podcast-ready-" + itemID.uuidString();
}

platform::Task<bool> MacUserNotifier::ensureAuthorized() { return ensureAuthorizedImpl(this); }

platform::Task<bool> MacUserNotifier::ensureAuthorizedImpl(MacUserNotifier* self) {
    if (self->authGranted_) co_return *self->authGranted_;
    const auto status = co_await self->center_.authorizationStatus();
    switch (status) {
        case NotificationAuthorizationStatus::authorized:
        case NotificationAuthorizationStatus::provisional:
            self->authGranted_ = true;
            co_return true;
        case NotificationAuthorizationStatus::denied:
            self->authGranted_ = false;
            self->log_.info("notification auth previously denied; not re-prompting");
            co_return false;
        case NotificationAuthorizationStatus::notDetermined:
        case NotificationAuthorizationStatus::ephemeral:
            break;
    }
    auto answer = co_await self->center_.requestAuthorization();
    if (!answer) {
        self->authGranted_ = false;
        self->log_.error("notification auth request failed: {}", answer.error().description);
        co_return false;
    }
    self->authGranted_ = *answer;
    self->log_.info("notification auth requested → granted={}", *answer);
    co_return *answer;
}

platform::Task<void> MacUserNotifier::notifyPodcastReady(platform::Uuid itemID, std::string title) {
    return notifyImpl(this, itemID, std::move(title));
}

platform::Task<void> MacUserNotifier::notifyImpl(MacUserNotifier* self, platform::Uuid itemID, std::string title) {
    if (!co_await self->ensureAuthorized()) co_return;
    platform::NotificationRequest request{
        .identifier = podcastReadyIdentifier(itemID),
        .content = {.title = "Podcast ready", .body = std::move(title), .defaultSound = true},
    };
    auto posted = co_await self->center_.add(std::move(request));
    if (posted)
        self->log_.info("posted podcast-ready: {}", itemID.uuidString());
    else
        self->log_.error("failed to post podcast-ready: {}", posted.error().description);
}

}  // namespace parlowen
