#include "platform/statusitem/QtStatusItem.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QMenu>

#include "platform/statusitem/StatusIconArt.h"

namespace platform {
namespace {

StatusMenu sampleMenu() {
    StatusMenuItem prefs;
    prefs.id = "preferences";
    prefs.title = "Preferences\u2026";
    prefs.action = "prefsClicked";
    prefs.keyEquivalent = ",";
    StatusMenuItem copy;
    copy.id = "last.copy";
    copy.title = "Copy";
    copy.action = "copyDictationClicked:";
    copy.representedObject = "hello world";
    StatusMenuItem last;
    last.id = "last";
    last.title = "Last dictation";
    last.hasSubmenu = true;
    last.submenu = {copy};
    StatusMenuItem hidden;
    hidden.id = "install";
    hidden.title = "Install Update";
    hidden.hidden = true;
    StatusMenuItem saved;
    saved.id = "saved";
    saved.title = "Saved device (not connected)";
    saved.enabled = false;
    saved.checked = true;
    return {hidden, StatusMenuItem::separator("sep"), last, prefs, saved};
}

QAction* actionNamed(QMenu* menu, const char* name) { return menu->findChild<QAction*>(name); }

TEST(QtStatusItem, MenuFollowsTheModelAndChosenEntriesReachTheOwnerFromTheEventLoop) {
    QtStatusItem item;
    std::vector<StatusMenuItem> chosen;
    item.setOnAction([&](const StatusMenuItem& entry) {
        chosen.push_back(entry);
        item.setMenu({});  // replacing the menu from the handler is safe
    });
    item.setMenu(sampleMenu());

    QMenu* menu = item.menu();
    auto top = menu->actions();
    ASSERT_EQ(top.size(), 5);
    EXPECT_FALSE(top[0]->isVisible());
    EXPECT_TRUE(top[1]->isSeparator());
    EXPECT_EQ(top[3]->text(), QString::fromUtf8("Preferences\u2026"));
    EXPECT_EQ(top[3]->shortcut(), QKeySequence("Ctrl+,"));
    EXPECT_TRUE(top[3]->isShortcutVisibleInContextMenu());
    EXPECT_FALSE(top[4]->isEnabled());
    EXPECT_TRUE(top[4]->isChecked());
    ASSERT_NE(top[2]->menu(), nullptr);

    QAction* copy = top[2]->menu()->actions().value(0);
    ASSERT_NE(copy, nullptr);
    copy->trigger();
    EXPECT_TRUE(chosen.empty()) << "dispatched later, not while the action emits";
    QCoreApplication::processEvents();
    ASSERT_EQ(chosen.size(), 1u);
    EXPECT_EQ(chosen[0].action, "copyDictationClicked:");
    EXPECT_EQ(chosen[0].representedObject, "hello world");
    EXPECT_TRUE(menu->actions().isEmpty());
}

TEST(QtStatusItem, RebuildingReplacesEntriesAndTheMenuOpensWithTheOwnersRefresh) {
    QtStatusItem item;
    int opened = 0;
    item.setOnMenuWillOpen([&] {
        ++opened;
        auto menu = sampleMenu();
        menu[3].title = "Refreshed";
        item.setMenu(menu);
    });
    item.setMenu(sampleMenu());
    item.setMenu(sampleMenu());
    EXPECT_EQ(item.menu()->actions().size(), 5);
    emit item.menu()->aboutToShow();
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(actionNamed(item.menu(), "preferences")->text(), "Refreshed");
}

TEST(QtStatusItem, PulseFramesArePaintedOncePerAlphaStepAndPicture) {
    registerMenuBarIconArtwork();
    QtStatusItem item;
    item.setIcon({StatusIconImage::icon, StatusIconTint::red, "Parlowen"});
    const int afterIcon = item.paintedFrames();
    for (int round = 0; round < 3; ++round)
        for (double a : {0.55, 0.7, 0.85, 1.0}) item.setAlpha(a);
    const int afterPulse = item.paintedFrames();
    EXPECT_EQ(afterPulse - afterIcon, 3) << "three faded frames, each painted once; full alpha is the picture";
    item.setIcon({StatusIconImage::icon, StatusIconTint::red, "Parlowen"});
    EXPECT_EQ(item.paintedFrames(), afterPulse) << "the same picture is not painted again";
    item.setIcon({StatusIconImage::icon, StatusIconTint::blue, "Parlowen"});
    EXPECT_EQ(item.paintedFrames(), afterPulse + 1);
    EXPECT_EQ(item.trayIcon()->toolTip(), "Parlowen");
}

TEST(QtStatusItem, WithoutATrayHostTheItemStaysInvisible) {
    // The offscreen platform has no system tray.
    QtStatusItem item;
    EXPECT_FALSE(item.isAvailable());
    item.setVisible(true);
    EXPECT_FALSE(item.isVisible());
}

TEST(StatusIconArt, BadgesSitInTheirCornersInTheirColours) {
    registerMenuBarIconArtwork();
    StatusIconColors colors;
    colors.label = Qt::black;
    colors.secondaryLabel = QColor(0, 0, 0, 128);
    const QSize size(100, 100);
    const QImage update = drawStatusIcon({StatusIconImage::updateBadge, StatusIconTint::none, ""}, size, colors);
    const QImage permission =
        drawStatusIcon({StatusIconImage::permissionBadge, StatusIconTint::none, ""}, size, colors);
    // Update: orange dot of 34 % of the width at the top right.
    EXPECT_EQ(update.pixelColor(100 - 17, 17).rgb(), colors.orange.rgb());
    EXPECT_NE(update.pixelColor(100 - 17, 100 - 17).rgb(), colors.orange.rgb());
    // Permission: red dot of 42 % at the bottom right.
    EXPECT_EQ(permission.pixelColor(100 - 21, 100 - 21).rgb(), colors.red.rgb());
    EXPECT_NE(permission.pixelColor(100 - 21, 21).rgb(), colors.red.rgb());
    // The tinted icon takes the tint wherever the shape is opaque.
    const QImage red = drawStatusIcon({StatusIconImage::icon, StatusIconTint::red, ""}, size, colors);
    int opaque = 0;
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 100; ++x) {
            const QColor c = red.pixelColor(x, y);
            if (c.alpha() == 255) {
                ++opaque;
                EXPECT_EQ(c.rgb(), colors.red.rgb());
            }
        }
    EXPECT_GT(opaque, 500);
    // Fading multiplies alpha.
    const QImage faded = fadedStatusIcon(red, 0.55);
    int maxAlpha = 0;
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 100; ++x) maxAlpha = std::max(maxAlpha, faded.pixelColor(x, y).alpha());
    EXPECT_NEAR(maxAlpha, 140, 2);
}

}  // namespace
}  // namespace platform
