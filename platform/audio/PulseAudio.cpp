#include "platform/audio/PulseAudio.h"

#include "platform/audio/PulseCore.h"
#include "platform/audio/PulseStreams.h"
#include "platform/audio/AudioError.h"

namespace platform {

using pulse::Lock;

PulseAudio::PulseAudio(const Environment& environment, std::string applicationName)
    : core_(std::make_shared<pulse::Core>(environment.get("PULSE_SERVER"), std::move(applicationName),
                                          std::chrono::seconds(5))) {}

PulseAudio::~PulseAudio() = default;

Result<std::vector<AudioDeviceRecord>> PulseAudio::devices() {
    auto snap = core_->lockedSnapshot();
    if (!snap) return fail(snap.error());
    std::vector<AudioDeviceRecord> out;
    for (auto& d : pulse::resolveDevices(*snap)) out.push_back(std::move(d.record));
    return out;
}

std::optional<std::string> PulseAudio::defaultDeviceUID(AudioScope scope) {
    auto snap = core_->lockedSnapshot();
    if (!snap) return std::nullopt;
    if (scope == AudioScope::output) return pulse::sinkUID(*snap, snap->defaultSink);
    // The server names a monitor as its default source when no microphone
    // exists; a monitor is not an input, so there is no default input then.
    const pulse::EndpointInfo* source = snap->source(snap->defaultSource);
    if (!source || source->monitor) return std::nullopt;
    return pulse::sourceUID(*snap, snap->defaultSource);
}

Subscription PulseAudio::onChange(std::function<void()> handler) {
    // Connecting subscribes to the server's events.
    {
        Lock lock(*core_);
        if (!lock.onLoopThread()) (void)core_->context();
    }
    return core_->changes().subscribe([h = std::move(handler)](const int&) { h(); });
}

namespace {
std::optional<pulse::ResolvedDevice> resolve(pulse::Core& core, AudioDeviceID device) {
    auto snap = core.lockedSnapshot();
    if (!snap) return std::nullopt;
    for (auto& d : pulse::resolveDevices(*snap))
        if (d.record.id == device) return d;
    return std::nullopt;
}
}  // namespace

std::optional<std::string> PulseAudio::sourceName(AudioDeviceID device) {
    auto d = resolve(*core_, device);
    if (!d || d->sourceName.empty()) return std::nullopt;
    return d->sourceName;
}

std::optional<std::string> PulseAudio::sinkName(AudioDeviceID device) {
    auto d = resolve(*core_, device);
    if (!d || d->sinkName.empty()) return std::nullopt;
    return d->sinkName;
}

Result<std::unique_ptr<AudioOutputStream>> PulseAudio::openStream(AudioOutputOptions options) {
    if (!options.sinkName && options.device) options.sinkName = sinkName(*options.device);
    return pulse::openOutputStream(core_, std::move(options));
}

std::unique_ptr<AudioInputEngine> PulseAudio::makeInputEngine() { return pulse::makeInputEngine(core_); }

namespace {

class PulseMicrophonePermission : public PermissionSource {
public:
    explicit PulseMicrophonePermission(std::shared_ptr<pulse::Core> core) : core_(std::move(core)) {}

    std::int64_t rawStatus() override {
        constexpr std::int64_t kDenied = 2, kAuthorised = 3;
        auto snap = core_->lockedSnapshot();
        if (!snap) return kDenied;
        for (const auto& s : snap->sources)
            if (!s.monitor) return kAuthorised;
        return kDenied;
    }

    Task<void> request() override { return nothingToAsk(); }

private:
    static Task<void> nothingToAsk() { co_return; }
    std::shared_ptr<pulse::Core> core_;
};

}  // namespace

std::unique_ptr<PermissionSource> PulseAudio::makeMicrophonePermission() {
    return std::make_unique<PulseMicrophonePermission>(core_);
}

}  // namespace platform
