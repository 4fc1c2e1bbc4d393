#include "Parlowen/dictation/views/HotkeyBadgeView.h"

#include <gtest/gtest.h>

#include <QLabel>

namespace parlowen {
namespace {

QStringList texts(const QWidget& w, const char* name) {
    QStringList out;
    for (auto* l : w.findChildren<QLabel*>(name)) out << l->text();
    return out;
}

TEST(HotkeyBadgeView, DrawsOneKeycapPerLabelBetweenVerbAndSuffix) {
    HotkeyBadgeView combo(Gesture::combo(0x02, ModifierFlags::shift | ModifierFlags::control), "Press", "to read");
    EXPECT_EQ(texts(combo, "keycap"), (QStringList{"⌃", "⇧", "D"}));
    EXPECT_EQ(texts(combo, "verb"), QStringList{"Press"});
    EXPECT_EQ(texts(combo, "suffix"), QStringList{"to read"});

    // Neither verb nor suffix: only the keycaps, no gap around them.
    HotkeyBadgeView hold(Gesture::hold(Hotkey::rightOption));
    EXPECT_EQ(texts(hold, "keycap"), QStringList{"⌥ Right"});
    EXPECT_EQ(hold.findChildren<QLabel*>().size(), 1);
    hold.adjustSize();
    auto* cap = hold.findChild<QLabel*>("keycap");
    EXPECT_GE(cap->height(), 22);
    EXPECT_EQ(cap->geometry().left(), 0);
}

}  // namespace
}  // namespace parlowen
