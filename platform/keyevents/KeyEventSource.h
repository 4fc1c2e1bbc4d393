#pragma once

// Global key events for the gesture tap: a source that watches every key
// press, release and modifier change on the desktop, hands each one to a
// handler on the source's own thread, and swallows the combinations it is
// told to, so the focused application never sees them. Key codes and flags
// are the stored (macOS-style) values; implementations translate at the edge.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/permissions/PermissionSource.h"
#include "platform/runtime/Environment.h"
#include "platform/runtime/Error.h"

namespace platform {

// Event flag bits. The device-dependent ones tell left and right apart.
namespace KeyEventFlag {
inline constexpr std::uint64_t leftControl = 0x1;
inline constexpr std::uint64_t leftShift = 0x2;
inline constexpr std::uint64_t rightShift = 0x4;
inline constexpr std::uint64_t leftCommand = 0x8;
inline constexpr std::uint64_t rightCommand = 0x10;
inline constexpr std::uint64_t leftOption = 0x20;
inline constexpr std::uint64_t rightOption = 0x40;
inline constexpr std::uint64_t rightControl = 0x2000;
inline constexpr std::uint64_t capsLock = 0x10000;
inline constexpr std::uint64_t shift = 0x20000;
inline constexpr std::uint64_t control = 0x40000;
inline constexpr std::uint64_t option = 0x80000;
inline constexpr std::uint64_t command = 0x100000;
}  // namespace KeyEventFlag

// The flags a held modifier key contributes (its side's bit and the
// device-independent bit), by macOS key code; 0 for any other key.
std::uint64_t modifierKeyFlags(std::uint16_t macKeyCode);

enum class KeyEventType {
    keyDown,        // an ordinary key went down (or repeats)
    flagsChanged,   // a modifier key went down or up
    disabledByTimeout,    // the source stopped delivering (too slow); enable it again
    disabledByUserInput,
};

struct KeyEvent {
    KeyEventType type = KeyEventType::keyDown;
    std::uint16_t keyCode = 0;  // macOS virtual key code
    std::uint64_t flags = 0;    // KeyEventFlag bits held after the event
    bool autorepeat = false;    // keyDown only: the key was already down

    friend bool operator==(const KeyEvent&, const KeyEvent&) = default;
};

enum class KeyEventVerdict { pass, drop };

// A combination the source keeps from applications: key code plus exact
// device-independent modifier bits (Caps Lock and Num Lock do not matter).
struct KeyChord {
    std::uint16_t keyCode = 0;
    std::uint64_t modifiers = 0;
    friend bool operator==(const KeyChord&, const KeyChord&) = default;
};

class KeyEventSource {
public:
    // Called on the source's thread, one event at a time, in order.
    using Handler = std::function<KeyEventVerdict(const KeyEvent&)>;

    virtual ~KeyEventSource() = default;

    // Starts watching. Fails when the source cannot be opened (no display,
    // no permission); nothing is kept then.
    virtual Status open(Handler handler) = 0;
    // Stops watching; once it returns the handler is never called again.
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // Delivery on or off while open (a disabled source lets every event pass).
    virtual void setEnabled(bool enabled) = 0;
    // The combinations to swallow, replacing the previous set. Takes effect
    // before it returns while open, else at the next open.
    virtual void setSwallowed(std::vector<KeyChord> chords) = 0;
    // Whether a source could be opened now (the input-monitoring check).
    virtual bool canOpen() = 0;
};

// The input-monitoring permission: 0 (granted) while the key source can be
// opened, else 1 (denied). There is nothing to ask for on this platform.
class InputMonitoringPermissionSource : public PermissionSource {
public:
    explicit InputMonitoringPermissionSource(KeyEventSource& source) : source_(source) {}
    std::int64_t rawStatus() override { return source_.canOpen() ? 0 : 1; }
    Task<void> request() override { return requestImpl(); }

private:
    static Task<void> requestImpl() { co_return; }
    KeyEventSource& source_;
};

// The test double: tests push synthetic events (delivered at once on the
// pushing thread, as the real source would on its own) and read back each
// verdict and the swallowed set.
class ScriptedKeyEventSource : public KeyEventSource {
public:
    Status open(Handler handler) override;
    void close() override;
    bool isOpen() const override;
    void setEnabled(bool enabled) override;
    void setSwallowed(std::vector<KeyChord> chords) override;
    bool canOpen() override;

    // Makes the next opens fail (or succeed again).
    void failOpen(bool fail);
    // Delivers `event`; the verdict, or pass when closed or disabled.
    KeyEventVerdict push(const KeyEvent& event);
    KeyEventVerdict pushKeyDown(std::uint16_t keyCode, std::uint64_t flags, bool autorepeat = false) {
        return push({KeyEventType::keyDown, keyCode, flags, autorepeat});
    }
    KeyEventVerdict pushFlags(std::uint64_t flags, std::uint16_t keyCode = 0) {
        return push({KeyEventType::flagsChanged, keyCode, flags, false});
    }

    struct Decision {
        KeyEvent event;
        KeyEventVerdict verdict;
    };
    std::vector<Decision> decisions() const;
    std::vector<KeyChord> swallowed() const;
    bool enabled() const;
    int openCount() const;
    int enableCount() const;  // setEnabled(true) calls

private:
    mutable std::mutex mutex_;
    Handler handler_;
    bool open_ = false;
    bool enabled_ = true;
    bool failOpen_ = false;
    int opens_ = 0;
    int enables_ = 0;
    std::vector<KeyChord> swallowed_;
    std::vector<Decision> decisions_;
};

// The X11 source for the display `env` names in DISPLAY: XRecord on a
// thread of its own watches presses, releases and auto-repeat; XGrabKey on
// the root window (with the Caps Lock and Num Lock variants) swallows the
// chords. Wayland is not supported.
std::unique_ptr<KeyEventSource> makeX11KeyEventSource(const Environment& env);
std::unique_ptr<KeyEventSource> makeX11KeyEventSource(std::string displayName);

}  // namespace platform
