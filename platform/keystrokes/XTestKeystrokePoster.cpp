#include "platform/keystrokes/XTestKeystrokePoster.h"

#include <fmt/format.h>

#include <cstdint>

#include "platform/x11/X11Connection.h"
#include "platform/x11/X11Keys.h"

namespace platform {

namespace {
// Defined at the end, after Xlib (whose macros clash with our names).
void fakeChord(_XDisplay* display, std::uint8_t control, std::uint8_t key);
unsigned long letterKeysym(SyntheticChord chord);
unsigned long controlKeysym(bool right);
}  // namespace

XTestKeystrokePoster::XTestKeystrokePoster(Environment environment) : environment_(std::move(environment)) {}

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
    auto key = keys.keycodeForKeysym(letterKeysym(chord));
    if (!control || !key)
        return fail(keystrokeError(KeystrokeErrorCode::cannotBuildEvent,
                                   fmt::format("no key for Ctrl+{} in the keyboard map", chordName(chord))));

    X11ErrorTrap trap(conn);
    fakeChord(conn.display(), *control, *key);
    conn.flush();
    if (auto e = trap.check())
        return fail(keystrokeError(KeystrokeErrorCode::noEventSource,
                                   fmt::format("XTest request failed: {}", e->text)));
    return {};
}

}  // namespace platform

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace platform {
namespace {

void fakeChord(_XDisplay* display, std::uint8_t control, std::uint8_t key) {
    XTestFakeKeyEvent(display, control, 1, 0);
    XTestFakeKeyEvent(display, key, 1, 0);
    XTestFakeKeyEvent(display, key, 0, 0);
    XTestFakeKeyEvent(display, control, 0, 0);
}

unsigned long letterKeysym(SyntheticChord chord) { return chord == SyntheticChord::copy ? XK_c : XK_v; }
unsigned long controlKeysym(bool right) { return right ? XK_Control_R : XK_Control_L; }

}  // namespace
}  // namespace platform
