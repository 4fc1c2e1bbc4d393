#include "platform/audio/AudioHardware.h"

#include "platform/audio/AudioError.h"

namespace platform {

AudioTransport transportFromProperties(std::string_view bus, std::string_view formFactor) {
    if (bus == "bluetooth") return AudioTransport::bluetooth;
    if (bus == "usb") return AudioTransport::usb;
    if (formFactor == "internal" || bus == "pci" || bus == "platform" || bus == "isa")
        return AudioTransport::builtIn;
    return AudioTransport::other;
}

Result<std::vector<AudioDeviceRecord>> FakeAudioHardware::devices() {
    std::lock_guard lock(mutex_);
    ++reads_;
    if (failing_) return fail(toError(AudioError::server, "device list unreadable"));
    return devices_;
}

std::optional<std::string> FakeAudioHardware::defaultDeviceUID(AudioScope scope) {
    std::lock_guard lock(mutex_);
    return scope == AudioScope::input ? defaultInput_ : defaultOutput_;
}

Subscription FakeAudioHardware::onChange(std::function<void()> handler) {
    return changes_.subscribe([h = std::move(handler)](const int&) { h(); });
}

void FakeAudioHardware::setDevices(std::vector<AudioDeviceRecord> devices) {
    std::lock_guard lock(mutex_);
    devices_ = std::move(devices);
}

void FakeAudioHardware::setDefault(AudioScope scope, std::optional<std::string> uid) {
    std::lock_guard lock(mutex_);
    (scope == AudioScope::input ? defaultInput_ : defaultOutput_) = std::move(uid);
}

void FakeAudioHardware::setFailing(bool failing) {
    std::lock_guard lock(mutex_);
    failing_ = failing;
}

int FakeAudioHardware::deviceReads() const {
    std::lock_guard lock(mutex_);
    return reads_;
}

}  // namespace platform
