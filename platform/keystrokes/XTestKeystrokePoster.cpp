#include "platform/keystrokes/XTestKeystrokePoster.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "platform/x11/SyntheticKeys.h"
#include "platform/x11/X11Connection.h"
#include "platform/x11/X11Keys.h"

namespace platform {

namespace {
// Defined at the end, after Xlib (whose macros clash with our names).
std::vector<std::uint8_t> heldModifierKeys(_XDisplay* display);
void fakeKeys(_XDisplay* display, const std::vector<KeyTransition>& events);
unsigned long letterKeysym(SyntheticChord chord);
unsigned long controlKeysym(bool right);
unsigned long shiftKeysym();
bool withShift(SyntheticChord chord) {
    return chord == SyntheticChord::terminalCopy || chord == SyntheticChord::terminalPaste;
}
}  // namespace

XTestKeystrokePoster::XTestKeystrokePoster(Environment environment) : environment_(std::move(environment)) {}

std::vector<KeyTransition> XTestKeystrokePoster::chordEvents(const std::vector<std::uint8_t>& held,
                                                              const std::vector<std::uint8_t>& chord) {
    // The user's held modifiers would turn Ctrl+C into Ctrl+Shift+C (or
    // worse): let go of them, post the chord alone, press them again.
    std::vector<KeyTransition> events;
    for (auto k : held) events.push_back({k, false});
    for (auto k : chord) events.push_back({k, true});
    for (auto it = chord.rbegin(); it != chord.rend(); ++it) events.push_back({*it, false});
    for (auto k : held) events.push_back({k, true});
    return events;
}

Status XTestKeystrokePoster::post(SyntheticChord chord) {
    auto connection = X11Connection::forThisThread(environment_);
    if (!connection) return fail(keystrokeError(KeystrokeErrorCode::noEventSource, connection.error().description));
    X11Connection& conn = **connection;
    if (conn.broken() || !conn.hasExtension("XTEST"))
        return fail(keystrokeError(KeystrokeErrorCode::noEventSource,
                                   fmt::format("no XTest extension on {}", conn.displayName())));

    // Read afresh each time: the user may switch layouts between two posts.
    X11KeyTable keys(conn);
    auto control = keys.keycodeForKeysym(controlKeysym(false));
    if (!control) control = keys.keycodeForKeysym(controlKeysym(true));
    auto shift = keys.keycodeForKeysym(shiftKeysym());
    auto key = keys.keycodeForKeysym(letterKeysym(chord));
    if (!control || !key || (withShift(chord) && !shift))
        return fail(keystrokeError(KeystrokeErrorCode::cannotBuildEvent,
                                   fmt::format("no key for the {} chord in the keyboard map", chordName(chord))));

    std::vector<std::uint8_t> chordKeys{*control};
    if (withShift(chord)) chordKeys.push_back(*shift);
    chordKeys.push_back(*key);

    X11ErrorTrap trap(conn);
    const auto events = chordEvents(heldModifierKeys(conn.display()), chordKeys);
    SyntheticKeyGate::forDisplay(conn.displayName()).announce(events);
    fakeKeys(conn.display(), events);
    conn.flush();
    if (auto e = trap.check())
        return fail(keystrokeError(KeystrokeErrorCode::noEventSource,
                                   fmt::format("XTest request failed: {}", e->text)));
    return {};
}

}  // namespace platform

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace platform {
namespace {

// Keys of the modifier map that are down now. Lock keys stay as they are:
// pressing one again would toggle its state.
std::vector<std::uint8_t> heldModifierKeys(_XDisplay* display) {
    std::vector<std::uint8_t> held;
    char keymap[32] = {};
    XQueryKeymap(display, keymap);
    XModifierKeymap* map = XGetModifierMapping(display);
    if (!map) return held;
    for (int row = 0; row < 8; ++row) {
        if (row == LockMapIndex) continue;
        for (int i = 0; i < map->max_keypermod; ++i) {
            KeyCode code = map->modifiermap[row * map->max_keypermod + i];
            if (code == 0 || !(keymap[code / 8] & (1 << (code % 8)))) continue;
            KeySym sym = XkbKeycodeToKeysym(display, code, 0, 0);
            if (sym == XK_Num_Lock || sym == XK_Caps_Lock || sym == XK_Shift_Lock || sym == XK_Scroll_Lock) continue;
            if (std::find(held.begin(), held.end(), code) == held.end()) held.push_back(code);
        }
    }
    XFreeModifiermap(map);
    return held;
}

void fakeKeys(_XDisplay* display, const std::vector<KeyTransition>& events) {
    for (const auto& e : events) XTestFakeKeyEvent(display, e.keycode, e.press ? True : False, 0);
}

unsigned long letterKeysym(SyntheticChord chord) {
    return chord == SyntheticChord::copy || chord == SyntheticChord::terminalCopy ? XK_c : XK_v;
}
unsigned long controlKeysym(bool right) { return right ? XK_Control_R : XK_Control_L; }
unsigned long shiftKeysym() { return XK_Shift_L; }

}  // namespace
}  // namespace platform
