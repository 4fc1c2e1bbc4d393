#pragma once

// Where this process's synthetic keystrokes and its own key source meet.
//
// The X server cannot tell the key source (XRecord) which events came from
// XTest, and a combination the source grabbed keeps the keyboard grabbed
// while its key is held, so a chord posted then would go to the grab instead
// of the focused program. The poster therefore announces each sequence of
// key events before it posts them; the source of the same display lets go of
// such a grab first, and hands the announced events back without delivering
// them, so our own Control never starts a hold gesture.

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace platform {

struct KeyTransition {
    std::uint8_t keycode = 0;  // X key code
    bool press = false;
    friend bool operator==(const KeyTransition&, const KeyTransition&) = default;
};

class SyntheticKeyGate {
public:
    using Clock = std::chrono::steady_clock;
    // Announced events the source has not seen by then were lost (the server
    // dropped them, or no source records them) and are forgotten.
    static constexpr std::chrono::milliseconds kAnnouncementLifetime{2000};

    // The gate of one display, shared by everything in the process.
    static SyntheticKeyGate& forDisplay(const std::string& displayName);

    // The poster's side: `events` are about to be posted, in this order.
    // Asks the source (if one is registered) to release an active keyboard
    // grab and returns once it has, or after a short bound.
    void announce(const std::vector<KeyTransition>& events);

    // The source's side. `releaseGrab` runs on the announcing thread and
    // returns once the source has ungrabbed the keyboard (bounded); pass an
    // empty function to unregister.
    void setGrabReleaser(std::function<void()> releaseGrab);
    // True when the event is the next one announced (it is consumed then):
    // the source must not deliver it. Events announced before it that never
    // arrived are dropped.
    bool takeAnnounced(KeyTransition event);

    // Announced events not yet seen (tests).
    std::size_t pending();

private:
    struct Entry {
        KeyTransition event;
        Clock::time_point expires;
    };
    void dropExpired(Clock::time_point now);

    std::mutex mutex_;
    std::deque<Entry> announced_;
    std::function<void()> releaseGrab_;
    std::mutex releaserMutex_;  // held while the releaser runs, so it cannot be unregistered meanwhile
};

}  // namespace platform
