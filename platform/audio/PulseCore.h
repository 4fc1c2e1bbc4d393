#pragma once

// Internal to the PulseAudio implementation: one threaded main loop and one
// context per PulseAudio object, shared by its input engines and output
// streams. Everything that touches pulse objects holds the loop's lock.

#include <pulse/pulseaudio.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/audio/AudioHardware.h"
#include "platform/log/Log.h"
#include "platform/runtime/Error.h"
#include "platform/runtime/Executor.h"
#include "platform/runtime/Observable.h"

namespace platform::pulse {

// Device ids: a card's index, or a tag and the index of a sink or source
// that belongs to no card (the index spaces of cards, sinks and sources overlap).
inline constexpr AudioDeviceID kCardlessSinkTag = 0x10000000u;
inline constexpr AudioDeviceID kCardlessSourceTag = 0x20000000u;

struct CardInfo {
    std::uint32_t index = 0;
    std::string name;
    std::string description;
    std::string bus, formFactor;
};

struct EndpointInfo {
    std::uint32_t index = 0;
    std::string name;
    std::string description;
    std::uint32_t card = PA_INVALID_INDEX;
    std::uint32_t channels = 0;
    std::uint32_t rate = 0;
    bool monitor = false;
    std::string bus, formFactor;
};

// One consistent read of the server.
struct Snapshot {
    std::string defaultSink, defaultSource;
    std::vector<CardInfo> cards;
    std::vector<EndpointInfo> sinks, sources;

    const CardInfo* card(std::uint32_t index) const;
    const EndpointInfo* sink(const std::string& name) const;
    const EndpointInfo* source(const std::string& name) const;
};

// A device record with the server names it routes to.
struct ResolvedDevice {
    AudioDeviceRecord record;
    std::string sinkName;    // empty without output
    std::string sourceName;  // empty without input
};

// Cards with their first sink and source (the default one when it belongs
// to the card), then cardless sinks, then cardless sources. Monitors are
// never inputs.
std::vector<ResolvedDevice> resolveDevices(const Snapshot& snapshot);
// The UID of a sink or source by name: its card's name, or its own name.
std::optional<std::string> sinkUID(const Snapshot& snapshot, const std::string& name);
std::optional<std::string> sourceUID(const Snapshot& snapshot, const std::string& name);

class Core;

// Holds the loop's lock unless already on the loop's thread (where it is
// held already and locking again would be an error).
class Lock {
public:
    explicit Lock(const Core& core);
    ~Lock();
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;
    // True on the loop's own thread: blocking waits are impossible there.
    bool onLoopThread() const { return !owns_; }

private:
    pa_threaded_mainloop* loop_;
    bool owns_;
};

class Core {
public:
    Core(std::optional<std::string> server, std::string applicationName, Duration connectTimeout);
    ~Core();
    Core(const Core&) = delete;
    Core& operator=(const Core&) = delete;

    pa_threaded_mainloop* loop() const { return loop_; }
    // The connected context (connecting first when needed). Lock held, not on the loop thread.
    Result<pa_context*> context();
    // Wakes whoever waits in wait().
    void signal() { pa_threaded_mainloop_signal(loop_, 0); }
    // Waits (lock held) until `done()` or the context fails or `timeout` passes.
    // Returns false when it gave up for one of the latter.
    bool wait(const std::function<bool()>& done, Duration timeout);
    bool contextGood() const;
    Error lastError(std::string what) const;

    // Lock held, not on the loop thread.
    Result<Snapshot> snapshot();
    // The same, taking the lock itself; wrongThread on the loop thread.
    Result<Snapshot> lockedSnapshot();

    // Runs on the loop thread after a change of devices or defaults.
    Signal<int>& changes() { return changes_; }
    const Logger& log() const { return log_; }

private:
    static void contextState(pa_context* c, void* self);
    static void subscription(pa_context* c, pa_subscription_event_type_t t, std::uint32_t index, void* self);
    void dropContext();

    std::optional<std::string> server_;
    std::string applicationName_;
    Duration connectTimeout_;
    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    bool everReady_ = false;
    Signal<int> changes_;
    Logger log_{"com.kelvatrum.Parlowen", "audio"};
};

// Waits until a newly connected `stream` is no longer being created; true
// when it is ready. Lock held, not on the loop thread.
bool waitUntilReady(Core& core, pa_stream* stream);

// Disconnects `stream` and lets go of it in a later turn of the loop, so a
// stream may be dropped from inside one of its own callbacks. Lock held.
void retireStream(Core& core, pa_stream* stream);

// Milliseconds the synchronous queries may take before they give up.
inline constexpr Duration kQueryTimeout = std::chrono::seconds(5);

}  // namespace platform::pulse
