#include "Parlowen/dictation/LivePartialHUDModel.h"

#include <algorithm>
#include <cstring>

#include "platform/text/Unicode.h"

namespace parlowen {

// ---- AmplitudeRing ---------------------------------------------------------------

AmplitudeRing::~AmplitudeRing() { lifetime_.end(); }

void AmplitudeRing::push(float level) {
    std::memmove(levels_.data(), levels_.data() + 1, (kCount - 1) * sizeof(float));
    levels_[kCount - 1] = level;
    publish();
}

void AmplitudeRing::reset() {
    levels_.fill(0.0f);
    publish();
}

platform::Subscription AmplitudeRing::subscribe(Sink sink) {
    sink(levels_);
    const std::uint64_t id = nextId_++;
    listeners_.push_back({id, std::move(sink)});
    return platform::Subscription(lifetime_.guard([this, id] { remove(id); }));
}

std::size_t AmplitudeRing::subscriberCount() const {
    return static_cast<std::size_t>(
        std::count_if(listeners_.begin(), listeners_.end(), [](const Listener& l) { return bool(l.sink); }));
}

void AmplitudeRing::publish() {
    ++publishing_;
    // By index: a subscriber may subscribe (appending) while this runs.
    for (std::size_t i = 0; i < listeners_.size(); ++i)
        if (listeners_[i].sink) listeners_[i].sink(levels_);
    if (--publishing_ == 0 && removedWhilePublishing_) {
        removedWhilePublishing_ = false;
        std::erase_if(listeners_, [](const Listener& l) { return !l.sink; });
    }
}

void AmplitudeRing::remove(std::uint64_t id) {
    auto it = std::find_if(listeners_.begin(), listeners_.end(), [id](const Listener& l) { return l.id == id; });
    if (it == listeners_.end()) return;
    if (publishing_ > 0) {
        // Erasing now would move the sink that may be running.
        it->sink = nullptr;
        removedWhilePublishing_ = true;
    } else {
        listeners_.erase(it);
    }
}

// ---- LivePartialHUDModel ------------------------------------------------------------

void LivePartialHUDModel::resetSession() {
    text.set("");
    throttleNotice.set(std::nullopt);
    sessionRemainingSeconds.set(std::nullopt);
    amplitudes.reset();
}

void LivePartialHUDModel::refreshInputDevices(const std::optional<std::string>& storedUID,
                                              const std::optional<std::string>& systemDefaultUID,
                                              const std::vector<Device>& devices) {
    const std::optional<std::string>& lookup = storedUID ? storedUID : systemDefaultUID;
    const Device* found = nullptr;
    if (lookup) {
        auto it = std::find_if(devices.begin(), devices.end(), [&](const Device& d) { return d.uid == *lookup; });
        if (it != devices.end()) found = &*it;
    }
    currentInputDeviceUID.set(storedUID);
    if (found) {
        currentInputDeviceName.set(found->name);
        currentInputIsBluetooth.set(found->transport == AudioDeviceCatalog::TransportType::bluetooth);
    } else {
        currentInputDeviceName.set(kSystemDefaultName);
        currentInputIsBluetooth.set(false);
    }
    availableInputDevices.set(devices);
}

void LivePartialHUDModel::updatePartial(std::string partial) {
    const bool clearsNotice = !partial.empty();
    text.set(std::move(partial));
    if (clearsNotice) throttleNotice.set(std::nullopt);
}

void LivePartialHUDModel::showThrottleNotice(std::string_view appName) { throttleNotice.set(throttleNoticeText(appName)); }

void LivePartialHUDModel::selectInputDevice(const std::optional<std::string>& uid, const SelectionCallback& forward) {
    currentInputDeviceUID.set(uid);
    if (forward) forward(uid);
}

std::string LivePartialHUDModel::throttleNoticeText(std::string_view appName) {
    return std::string(appName) + " blocks live preview \u2014 your text will appear when you release.";
}

std::string LivePartialHUDModel::characterCountText(std::string_view text) {
    return std::to_string(platform::text::graphemeCount(text)) + " chars";
}

std::string LivePartialHUDModel::transcriptText(const std::string& text) {
    return text.empty() ? std::string(kEmptyTranscript) : text;
}

std::string LivePartialHUDModel::transcriptAccessibilityLabel(const std::string& text) {
    return text.empty() ? std::string(kEmptyTranscriptLabel) : "Transcript: " + text;
}

std::string LivePartialHUDModel::countdownText(int seconds) { return std::to_string(seconds) + "s"; }

std::string LivePartialHUDModel::countdownAccessibilityLabel(int seconds) {
    return std::to_string(seconds) + " seconds until Quon auto-saves your dictation";
}

CountdownChipColors LivePartialHUDModel::countdownChipColors(int seconds, const platform::ui::Color& accent) {
    if (seconds >= 16) return {accent.opacity(0.15), true, platform::ui::Color::white()};
    if (seconds >= 6) return {kOrange.opacity(0.85), false, platform::ui::Color::white()};
    return {kRed.opacity(0.85), false, platform::ui::Color::white()};
}

}  // namespace parlowen
