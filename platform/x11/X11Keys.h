#pragma once

// The key-code table. Stored gestures keep macOS virtual key codes and
// modifier masks; X11 code translates at the edge: Command = Super,
// Option = Alt, Control = Ctrl, Shift = Shift, no Function key.

#include <cstdint>
#include <optional>

namespace platform {

class X11Connection;

// macOS device-independent modifier flag bits (NSEvent.ModifierFlags).
namespace MacModifierFlag {
inline constexpr std::uint64_t capsLock = 1ull << 16;
inline constexpr std::uint64_t shift = 1ull << 17;
inline constexpr std::uint64_t control = 1ull << 18;
inline constexpr std::uint64_t option = 1ull << 19;
inline constexpr std::uint64_t command = 1ull << 20;
inline constexpr std::uint64_t function = 1ull << 23;
}  // namespace MacModifierFlag

// The X keysym of a macOS virtual key code (US layout positions: kVK_ANSI_A
// is the key that types "a" there), and back. Letters map to their
// lower-case keysyms; Right Option maps to Alt_R. Codes without an X
// counterpart (the Function key, 63) give none.
std::optional<unsigned long> keysymForMacKeyCode(std::uint16_t macKeyCode);
std::optional<std::uint16_t> macKeyCodeForKeysym(unsigned long keysym);

// One display's keyboard: keysyms to X key codes through its current key
// map, and the modifier bits that its modifier map gives Alt and Super.
// Build it on the thread that owns the connection; call refresh() after a
// MappingNotify.
class X11KeyTable {
public:
    explicit X11KeyTable(X11Connection& connection);

    void refresh();

    std::optional<std::uint8_t> keycodeForKeysym(unsigned long keysym) const;
    // The keysym of a key code's first level in the first group.
    std::optional<unsigned long> keysymForKeycode(std::uint8_t keycode) const;
    std::optional<std::uint8_t> keycodeForMacKeyCode(std::uint16_t macKeyCode) const;
    std::optional<std::uint16_t> macKeyCodeForKeycode(std::uint8_t keycode) const;

    // X modifier state bits for macOS flags (Caps Lock = Lock; Function is dropped).
    unsigned x11ModifierMask(std::uint64_t macFlags) const;
    // macOS flags for an X modifier state (Num Lock and unknown bits are dropped).
    std::uint64_t macModifierFlags(unsigned x11State) const;

    unsigned altMask() const { return altMask_; }
    unsigned superMask() const { return superMask_; }
    unsigned numLockMask() const { return numLockMask_; }

private:
    X11Connection& connection_;
    unsigned altMask_ = 0;
    unsigned superMask_ = 0;
    unsigned numLockMask_ = 0;
};

}  // namespace platform
