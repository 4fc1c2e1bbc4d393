#include "platform/audio/AudioInputEngine.h"

namespace platform {

FakeAudioInputEngine::FakeAudioInputEngine(PcmFormat format) : defaultFormat_(format) {}

FakeAudioInputEngine::~FakeAudioInputEngine() { joinWorker(); }

PcmFormat FakeAudioInputEngine::inputFormat() {
    std::lock_guard lock(mutex_);
    if (current_) return devices_.at(*current_);
    return defaultFormat_;
}

int FakeAudioInputEngine::setCurrentDevice(AudioDeviceID device) {
    std::lock_guard lock(mutex_);
    if (!devices_.contains(device)) return kUnknownDeviceStatus;
    current_ = device;
    return 0;
}

void FakeAudioInputEngine::installTap(std::uint32_t bufferFrames, PcmFormat format, TapBlock block) {
    std::lock_guard tapLock(tapMutex_);
    std::lock_guard lock(mutex_);
    tap_ = std::move(block);
    tapFrames_ = bufferFrames;
    tapFormat_ = format;
    ++taps_;
}

void FakeAudioInputEngine::removeTap() {
    std::lock_guard tapLock(tapMutex_);
    std::lock_guard lock(mutex_);
    tap_ = nullptr;
    tapFrames_ = 0;
    tapFormat_.reset();
}

Status FakeAudioInputEngine::start() {
    std::lock_guard lock(mutex_);
    if (running_) return ok();
    if (startError_) return fail(*startError_);
    running_ = true;
    ++starts_;
    return ok();
}

void FakeAudioInputEngine::stop() {
    std::lock_guard tapLock(tapMutex_);
    std::lock_guard lock(mutex_);
    if (!running_) return;
    running_ = false;
    ++stops_;
}

bool FakeAudioInputEngine::isRunning() const {
    std::lock_guard lock(mutex_);
    return running_;
}

void FakeAudioInputEngine::addDevice(AudioDeviceID id, PcmFormat format) {
    std::lock_guard lock(mutex_);
    devices_[id] = format;
}

void FakeAudioInputEngine::setDefaultFormat(PcmFormat format) {
    std::lock_guard lock(mutex_);
    defaultFormat_ = format;
}

void FakeAudioInputEngine::failStartWith(std::optional<Error> error) {
    std::lock_guard lock(mutex_);
    startError_ = std::move(error);
}

bool FakeAudioInputEngine::deliver(const PcmBuffer& buffer) {
    std::lock_guard tapLock(tapMutex_);
    {
        std::lock_guard lock(mutex_);
        if (!running_ || !tap_) return false;
    }
    // tap_ cannot change while tapMutex_ is held.
    tap_(buffer);
    return true;
}

void FakeAudioInputEngine::pushFromWorker(std::vector<PcmBuffer> buffers) {
    joinWorker();
    worker_ = std::thread([this, buffers = std::move(buffers)] {
        for (const auto& b : buffers) deliver(b);
    });
}

void FakeAudioInputEngine::joinWorker() {
    if (worker_.joinable()) worker_.join();
}

std::optional<AudioDeviceID> FakeAudioInputEngine::currentDevice() const {
    std::lock_guard lock(mutex_);
    return current_;
}
std::uint32_t FakeAudioInputEngine::tapBufferFrames() const {
    std::lock_guard lock(mutex_);
    return tapFrames_;
}
std::optional<PcmFormat> FakeAudioInputEngine::tapFormat() const {
    std::lock_guard lock(mutex_);
    return tapFormat_;
}
bool FakeAudioInputEngine::hasTap() const {
    std::lock_guard lock(mutex_);
    return static_cast<bool>(tap_);
}
int FakeAudioInputEngine::startCount() const {
    std::lock_guard lock(mutex_);
    return starts_;
}
int FakeAudioInputEngine::stopCount() const {
    std::lock_guard lock(mutex_);
    return stops_;
}
int FakeAudioInputEngine::tapInstallCount() const {
    std::lock_guard lock(mutex_);
    return taps_;
}

}  // namespace platform
