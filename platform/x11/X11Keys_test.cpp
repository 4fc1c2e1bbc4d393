#include "platform/x11/X11Keys.h"

#include <gtest/gtest.h>

#include "platform/testsupport/Services.h"
#include "platform/x11/X11Connection.h"

// Xlib last.
#include <X11/keysym.h>

namespace platform {
namespace {

TEST(MacKeyCodes, TranslateToKeysymsAndBack) {
    struct Case {
        std::uint16_t mac;
        unsigned long keysym;
    };
    const Case cases[] = {
        {0x00, XK_a}, {0x08, XK_c}, {0x09, XK_v}, {0x31, XK_space}, {0x24, XK_Return}, {0x35, XK_Escape},
        {0x37, XK_Super_L}, {0x36, XK_Super_R}, {0x3A, XK_Alt_L}, {0x3D, XK_Alt_R}, {0x3B, XK_Control_L},
        {0x3E, XK_Control_R}, {0x38, XK_Shift_L}, {0x3C, XK_Shift_R}, {0x7A, XK_F1}, {0x7E, XK_Up},
        {0x1D, XK_0}, {0x52, XK_KP_0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(keysymForMacKeyCode(c.mac), c.keysym) << c.mac;
        EXPECT_EQ(macKeyCodeForKeysym(c.keysym), c.mac) << c.mac;
    }
    // Shifted letters come from the same key; AltGr stands where Right Option is.
    EXPECT_EQ(macKeyCodeForKeysym(XK_V), 0x09);
    EXPECT_EQ(macKeyCodeForKeysym(XK_ISO_Level3_Shift), 0x3D);
    // No X counterpart: the Function key; no macOS key: a keysym outside the table.
    EXPECT_EQ(keysymForMacKeyCode(0x3F), std::nullopt);
    EXPECT_EQ(macKeyCodeForKeysym(XK_Hyper_L), std::nullopt);
    // Every mapped key comes back as itself.
    for (std::uint16_t mac = 0; mac < 0x80; ++mac) {
        if (auto sym = keysymForMacKeyCode(mac)) {
            EXPECT_EQ(macKeyCodeForKeysym(*sym), mac) << mac;
        }
    }
}

TEST(X11KeyTable, MapsKeysAndModifiersOnARealDisplay) {
    testsupport::XvfbDisplay display;
    PARLOWEN_REQUIRE_OR_SKIP(display.start());
    auto c = X11Connection::open(display.displayName());
    ASSERT_TRUE(c) << c.error().description;
    X11KeyTable keys(**c);

    for (std::uint16_t mac : {0x00, 0x08, 0x09, 0x31, 0x37, 0x3A, 0x3B, 0x3D}) {
        auto code = keys.keycodeForMacKeyCode(mac);
        ASSERT_TRUE(code) << mac;
        EXPECT_EQ(keys.macKeyCodeForKeycode(*code), mac) << mac;
    }
    EXPECT_NE(keys.altMask(), keys.superMask());
    using namespace MacModifierFlag;
    for (std::uint64_t flags : {shift, control, option, command, capsLock, shift | command, control | option | command}) {
        unsigned mask = keys.x11ModifierMask(flags);
        EXPECT_NE(mask, 0u);
        EXPECT_EQ(keys.macModifierFlags(mask), flags) << flags;
    }
    // Num Lock is no macOS modifier; Function has no X modifier.
    EXPECT_EQ(keys.macModifierFlags(keys.numLockMask()), 0u);
    EXPECT_EQ(keys.x11ModifierMask(function), 0u);
}

}  // namespace
}  // namespace platform
