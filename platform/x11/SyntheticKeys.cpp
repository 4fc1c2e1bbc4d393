#include "platform/x11/SyntheticKeys.h"

#include <map>
#include <memory>

namespace platform {

SyntheticKeyGate& SyntheticKeyGate::forDisplay(const std::string& displayName) {
    static std::mutex registryMutex;
    static std::map<std::string, std::unique_ptr<SyntheticKeyGate>> gates;
    std::lock_guard lock(registryMutex);
    auto& slot = gates[displayName];
    if (!slot) slot = std::make_unique<SyntheticKeyGate>();
    return *slot;
}

void SyntheticKeyGate::announce(const std::vector<KeyTransition>& events) {
    {
        std::lock_guard lock(mutex_);
        const auto now = Clock::now();
        dropExpired(now);
        for (const auto& e : events) announced_.push_back({e, now + kAnnouncementLifetime});
    }
    std::lock_guard releasing(releaserMutex_);
    if (releaseGrab_) releaseGrab_();
}

void SyntheticKeyGate::setGrabReleaser(std::function<void()> releaseGrab) {
    std::lock_guard releasing(releaserMutex_);
    releaseGrab_ = std::move(releaseGrab);
}

bool SyntheticKeyGate::takeAnnounced(KeyTransition event) {
    std::lock_guard lock(mutex_);
    dropExpired(Clock::now());
    for (auto it = announced_.begin(); it != announced_.end(); ++it) {
        if (it->event != event) continue;
        announced_.erase(announced_.begin(), it + 1);
        return true;
    }
    return false;
}

std::size_t SyntheticKeyGate::pending() {
    std::lock_guard lock(mutex_);
    dropExpired(Clock::now());
    return announced_.size();
}

void SyntheticKeyGate::dropExpired(Clock::time_point now) {
    while (!announced_.empty() && announced_.front().expires <= now) announced_.pop_front();
}

}  // namespace platform
