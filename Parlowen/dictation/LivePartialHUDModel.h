#pragma once

// What the live-transcript panel shows, and the rules for drawing it, apart
// from its widgets (views/LivePartialHUDContent.h). Main thread only.

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "Parlowen/dictation/AudioDeviceCatalog.h"
#include "platform/runtime/Observable.h"
#include "platform/ui/Color.h"

namespace parlowen {

// The last input levels, oldest first, always exactly `kCount` of them. A
// push drops the oldest and appends the newest in place and tells the
// subscribers; neither allocates, because it runs for every captured buffer.
class AmplitudeRing {
public:
    static constexpr std::size_t kCount = 30;
    using Levels = std::array<float, kCount>;
    using Sink = std::function<void(const Levels&)>;

    AmplitudeRing() = default;
    ~AmplitudeRing();
    AmplitudeRing(const AmplitudeRing&) = delete;
    AmplitudeRing& operator=(const AmplitudeRing&) = delete;

    const Levels& get() const { return levels_; }
    std::vector<float> toVector() const { return {levels_.begin(), levels_.end()}; }

    void push(float level);
    // Back to `kCount` zeros.
    void reset();

    // The current levels at once, then the levels after every change.
    [[nodiscard]] platform::Subscription subscribe(Sink sink);
    std::size_t subscriberCount() const;

private:
    struct Listener {
        std::uint64_t id;
        Sink sink;
    };
    void publish();
    void remove(std::uint64_t id);

    Levels levels_{};
    std::vector<Listener> listeners_;
    std::uint64_t nextId_ = 0;
    int publishing_ = 0;
    bool removedWhilePublishing_ = false;
    platform::Lifetime lifetime_;
};

// The chip colours for `n` seconds left: from 16 up the accent at 0.15 under
// secondary text; 6 to 15 orange at 0.85, 5 and below red at 0.85, both
// under white.
struct CountdownChipColors {
    platform::ui::Color background;
    bool secondaryForeground = false;  // the dark scheme's secondary text
    platform::ui::Color foreground;    // white when not secondary

    friend bool operator==(const CountdownChipColors&, const CountdownChipColors&) = default;
};

class LivePartialHUDModel {
public:
    using Device = AudioDeviceCatalog::Device;
    using SelectionCallback = std::function<void(const std::optional<std::string>&)>;

    static constexpr const char* kEmptyTranscript = "\u2026";
    static constexpr const char* kEmptyTranscriptLabel = "Transcript will appear here";
    static constexpr const char* kSystemDefaultName = "System default";
    // The dark scheme's orange and red.
    static constexpr platform::ui::Color kOrange = platform::ui::Color::rgb8(0xFF, 0x9F, 0x0A);
    static constexpr platform::ui::Color kRed = platform::ui::Color::rgb8(0xFF, 0x45, 0x3A);

    LivePartialHUDModel() = default;
    LivePartialHUDModel(const LivePartialHUDModel&) = delete;
    LivePartialHUDModel& operator=(const LivePartialHUDModel&) = delete;

    platform::Observable<std::string> text;
    platform::Observable<std::string> engineName;  // not drawn
    AmplitudeRing amplitudes;
    platform::Observable<std::optional<std::string>> throttleNotice;
    platform::Observable<std::optional<std::string>> currentInputDeviceUID;
    platform::Observable<std::string> currentInputDeviceName;
    platform::Observable<bool> currentInputIsBluetooth{false};
    platform::Observable<std::vector<Device>> availableInputDevices;
    platform::Observable<std::optional<int>> sessionRemainingSeconds;

    // Clears the session's text, notice, countdown and levels (a new session
    // or the end of one). The device fields and the engine name stay.
    void resetSession();
    // The device fields from the stored choice and the catalogue: the stored
    // UID (none for the system default), the name and Bluetooth flag of the
    // device in use (the stored one, else the system default input), or
    // "System default" and false when it is not connected; and the devices
    // to offer.
    void refreshInputDevices(const std::optional<std::string>& storedUID,
                             const std::optional<std::string>& systemDefaultUID, const std::vector<Device>& devices);

    // A new partial transcript; a non-empty one clears the notice.
    void updatePartial(std::string partial);
    void showThrottleNotice(std::string_view appName);
    // What the panel's picker does with a choice: records it as the current
    // UID (name and flag wait for the next show), then hands it on.
    void selectInputDevice(const std::optional<std::string>& uid, const SelectionCallback& forward);

    // ---- how the content draws the state -------------------------------
    static std::string throttleNoticeText(std::string_view appName);
    // "12 chars": user-perceived characters.
    static std::string characterCountText(std::string_view text);
    static std::string transcriptText(const std::string& text);
    static std::string transcriptAccessibilityLabel(const std::string& text);
    static std::string countdownText(int seconds);
    static std::string countdownAccessibilityLabel(int seconds);
    static CountdownChipColors countdownChipColors(int seconds, const platform::ui::Color& accent);
};

}  // namespace parlowen
