#include "platform/x11/X11Keys.h"

#include <array>
#include <utility>

#include "platform/x11/X11Connection.h"

// Xlib last: its macros must not reach the headers above.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace platform {

namespace {

struct KeyPair {
    std::uint16_t mac;
    unsigned long keysym;
};

// macOS virtual key codes (Carbon's kVK_* values) and their X keysyms.
constexpr std::array kKeys = std::to_array<KeyPair>({
    {0x00, XK_a}, {0x01, XK_s}, {0x02, XK_d}, {0x03, XK_f}, {0x04, XK_h}, {0x05, XK_g}, {0x06, XK_z},
    {0x07, XK_x}, {0x08, XK_c}, {0x09, XK_v}, {0x0A, XK_section}, {0x0B, XK_b}, {0x0C, XK_q},
    {0x0D, XK_w}, {0x0E, XK_e}, {0x0F, XK_r}, {0x10, XK_y}, {0x11, XK_t}, {0x12, XK_1}, {0x13, XK_2},
    {0x14, XK_3}, {0x15, XK_4}, {0x16, XK_6}, {0x17, XK_5}, {0x18, XK_equal}, {0x19, XK_9}, {0x1A, XK_7},
    {0x1B, XK_minus}, {0x1C, XK_8}, {0x1D, XK_0}, {0x1E, XK_bracketright}, {0x1F, XK_o}, {0x20, XK_u},
    {0x21, XK_bracketleft}, {0x22, XK_i}, {0x23, XK_p}, {0x24, XK_Return}, {0x25, XK_l}, {0x26, XK_j},
    {0x27, XK_apostrophe}, {0x28, XK_k}, {0x29, XK_semicolon}, {0x2A, XK_backslash}, {0x2B, XK_comma},
    {0x2C, XK_slash}, {0x2D, XK_n}, {0x2E, XK_m}, {0x2F, XK_period}, {0x30, XK_Tab}, {0x31, XK_space},
    {0x32, XK_grave}, {0x33, XK_BackSpace}, {0x35, XK_Escape}, {0x36, XK_Super_R}, {0x37, XK_Super_L},
    {0x38, XK_Shift_L}, {0x39, XK_Caps_Lock}, {0x3A, XK_Alt_L}, {0x3B, XK_Control_L}, {0x3C, XK_Shift_R},
    {0x3D, XK_Alt_R}, {0x3E, XK_Control_R}, {0x40, XK_F17}, {0x41, XK_KP_Decimal}, {0x43, XK_KP_Multiply},
    {0x45, XK_KP_Add}, {0x47, XK_Num_Lock}, {0x4B, XK_KP_Divide}, {0x4C, XK_KP_Enter},
    {0x4E, XK_KP_Subtract}, {0x4F, XK_F18}, {0x50, XK_F19}, {0x51, XK_KP_Equal}, {0x52, XK_KP_0},
    {0x53, XK_KP_1}, {0x54, XK_KP_2}, {0x55, XK_KP_3}, {0x56, XK_KP_4}, {0x57, XK_KP_5}, {0x58, XK_KP_6},
    {0x59, XK_KP_7}, {0x5A, XK_F20}, {0x5B, XK_KP_8}, {0x5C, XK_KP_9}, {0x60, XK_F5}, {0x61, XK_F6},
    {0x62, XK_F7}, {0x63, XK_F3}, {0x64, XK_F8}, {0x65, XK_F9}, {0x67, XK_F11}, {0x69, XK_F13},
    {0x6A, XK_F16}, {0x6B, XK_F14}, {0x6D, XK_F10}, {0x6F, XK_F12}, {0x71, XK_F15}, {0x72, XK_Help},
    {0x73, XK_Home}, {0x74, XK_Page_Up}, {0x75, XK_Delete}, {0x76, XK_F4}, {0x77, XK_End}, {0x78, XK_F2},
    {0x79, XK_Page_Down}, {0x7A, XK_F1}, {0x7B, XK_Left}, {0x7C, XK_Right}, {0x7D, XK_Down}, {0x7E, XK_Up},
});

}  // namespace

std::optional<unsigned long> keysymForMacKeyCode(std::uint16_t macKeyCode) {
    for (const auto& k : kKeys)
        if (k.mac == macKeyCode) return k.keysym;
    return std::nullopt;
}

std::optional<std::uint16_t> macKeyCodeForKeysym(unsigned long keysym) {
    // Upper-case letters come from the same key.
    if (keysym >= XK_A && keysym <= XK_Z) keysym += XK_a - XK_A;
    // Some layouts put Meta or ISO_Level3_Shift where Alt_R is.
    if (keysym == XK_ISO_Level3_Shift) keysym = XK_Alt_R;
    for (const auto& k : kKeys)
        if (k.keysym == keysym) return k.mac;
    return std::nullopt;
}

X11KeyTable::X11KeyTable(X11Connection& connection) : connection_(connection) { refresh(); }

void X11KeyTable::refresh() {
    altMask_ = superMask_ = numLockMask_ = 0;
    if (connection_.broken()) return;
    Display* d = connection_.display();
    XModifierKeymap* map = XGetModifierMapping(d);
    if (!map) return;
    // Modifier rows 3..7 are Mod1..Mod5; each holds up to max_keypermod key codes.
    for (int row = 3; row < 8; ++row) {
        for (int i = 0; i < map->max_keypermod; ++i) {
            KeyCode code = map->modifiermap[row * map->max_keypermod + i];
            if (code == 0) continue;
            KeySym sym = XkbKeycodeToKeysym(d, code, 0, 0);
            unsigned bit = 1u << row;
            if (sym == XK_Alt_L || sym == XK_Alt_R || sym == XK_Meta_L || sym == XK_Meta_R) altMask_ |= bit;
            if (sym == XK_Super_L || sym == XK_Super_R) superMask_ |= bit;
            if (sym == XK_Num_Lock) numLockMask_ |= bit;
        }
    }
    XFreeModifiermap(map);
    // The usual assignment when the map says nothing (a bare Xvfb has it too).
    if (!altMask_) altMask_ = Mod1Mask;
    if (!superMask_) superMask_ = Mod4Mask;
    if (!numLockMask_) numLockMask_ = Mod2Mask;
}

std::optional<std::uint8_t> X11KeyTable::keycodeForKeysym(unsigned long keysym) const {
    if (connection_.broken()) return std::nullopt;
    KeyCode code = XKeysymToKeycode(connection_.display(), keysym);
    if (code == 0) return std::nullopt;
    return static_cast<std::uint8_t>(code);
}

std::optional<unsigned long> X11KeyTable::keysymForKeycode(std::uint8_t keycode) const {
    if (connection_.broken()) return std::nullopt;
    KeySym sym = XkbKeycodeToKeysym(connection_.display(), keycode, 0, 0);
    if (sym == NoSymbol) return std::nullopt;
    return sym;
}

std::optional<std::uint8_t> X11KeyTable::keycodeForMacKeyCode(std::uint16_t macKeyCode) const {
    auto sym = keysymForMacKeyCode(macKeyCode);
    if (!sym) return std::nullopt;
    return keycodeForKeysym(*sym);
}

std::optional<std::uint16_t> X11KeyTable::macKeyCodeForKeycode(std::uint8_t keycode) const {
    auto sym = keysymForKeycode(keycode);
    if (!sym) return std::nullopt;
    return macKeyCodeForKeysym(*sym);
}

unsigned X11KeyTable::x11ModifierMask(std::uint64_t macFlags) const {
    unsigned mask = 0;
    if (macFlags & MacModifierFlag::shift) mask |= ShiftMask;
    if (macFlags & MacModifierFlag::capsLock) mask |= LockMask;
    if (macFlags & MacModifierFlag::control) mask |= ControlMask;
    if (macFlags & MacModifierFlag::option) mask |= altMask_;
    if (macFlags & MacModifierFlag::command) mask |= superMask_;
    return mask;
}

std::uint64_t X11KeyTable::macModifierFlags(unsigned x11State) const {
    std::uint64_t flags = 0;
    if (x11State & ShiftMask) flags |= MacModifierFlag::shift;
    if (x11State & LockMask) flags |= MacModifierFlag::capsLock;
    if (x11State & ControlMask) flags |= MacModifierFlag::control;
    if (x11State & altMask_) flags |= MacModifierFlag::option;
    if (x11State & superMask_) flags |= MacModifierFlag::command;
    return flags;
}

}  // namespace platform
