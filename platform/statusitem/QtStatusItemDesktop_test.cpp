// The status item in a real system tray: `trayer` on an Xvfb display hosts
// it, XTest clicks open its menu, keys choose an entry, and the chosen
// entry's text reaches the clipboard another program reads.

#include <gtest/gtest.h>

#include <regex>

#include <QMenu>
#include <QSystemTrayIcon>

#include "platform/pasteboard/QtPasteboard.h"
#include "platform/statusitem/QtStatusItem.h"
#include "platform/statusitem/StatusIconArt.h"
#include "platform/testsupport/OnDisplay.h"

namespace platform {
namespace {

// Where the tray put the icon's window, in root coordinates (Qt reports the
// embedded window's position relative to the tray, not the screen).
std::optional<QPoint> iconCentreOnScreen() {
    auto r = testsupport::runProcess({"xwininfo", "-root", "-tree"}, Environment::fromProcess());
    if (!r.ok()) return std::nullopt;
    const std::string name = QCoreApplication::applicationName().toStdString();
    const std::regex line("\\(\"" + name + "\" \"[^\"]*\"\\)\\s+(\\d+)x(\\d+)\\+-?\\d+\\+-?\\d+\\s+\\+(-?\\d+)\\+(-?\\d+)");
    std::smatch m;
    std::string rest = r.out;
    while (std::regex_search(rest, m, line)) {
        const int w = std::stoi(m[1]), h = std::stoi(m[2]), x = std::stoi(m[3]), y = std::stoi(m[4]);
        // Until the tray takes it in, the icon's window sits at the origin;
        // trayer is at the top right.
        if (w > 1 && h > 1 && w < 64 && h < 64 && x > 100) return QPoint(x + w / 2, y + h / 2);
        rest = m.suffix();
    }
    return std::nullopt;
}

bool xdotool(const std::vector<std::string>& args) {
    std::vector<std::string> argv{"xdotool"};
    argv.insert(argv.end(), args.begin(), args.end());
    return testsupport::runProcess(argv, Environment::fromProcess()).ok();
}

TEST(QtStatusItemDesktop, EmbedsInTheTrayOpensOnAClickAndReportsTheChosenEntry) {
    if (!testsupport::onDisplayChild()) {
        // No window manager: one would treat the tray as a dock and stretch it.
        testsupport::XvfbDisplay desktop;
        PARLOWEN_REQUIRE_OR_SKIP(desktop.start());
        auto tray = desktop.spawn({"trayer", "--edge", "top", "--align", "right", "--widthtype", "request",
                                   "--height", "28"});
        PARLOWEN_REQUIRE_OR_SKIP(tray.has_value() ? Status(ok()) : Status(fail(tray.error())));
        return testsupport::runCurrentTestOnDisplay(desktop.environment());
    }

    ASSERT_TRUE(testsupport::pumpUntil([] { return QSystemTrayIcon::isSystemTrayAvailable(); },
                                       std::chrono::seconds(10)))
        << "trayer did not become the tray host";
    registerMenuBarIconArtwork();
    QtStatusItem item;
    QtPasteboard pasteboard(Environment::fromProcess());
    int opened = 0;
    std::vector<StatusMenuItem> chosen;
    auto menuOf = [](std::string text) {
        StatusMenuItem copy;
        copy.id = "copy";
        copy.title = "Copy";
        copy.action = "copyDictationClicked:";
        copy.representedObject = std::move(text);
        StatusMenuItem quit;
        quit.id = "quit";
        quit.title = "Quit Parlowen";
        quit.action = "quitClicked";
        quit.keyEquivalent = "q";
        return StatusMenu{copy, StatusMenuItem::separator("sep"), quit};
    };
    item.setOnMenuWillOpen([&] {
        ++opened;
        item.setMenu(menuOf("hello world second sentence"));  // refreshed as it opens
    });
    item.setOnAction([&](const StatusMenuItem& entry) {
        chosen.push_back(entry);
        if (entry.representedObject) {
            pasteboard.clearContents();
            pasteboard.setString(*entry.representedObject);
        }
    });
    item.setMenu(menuOf("stale"));
    item.setIcon({StatusIconImage::permissionBadge, StatusIconTint::none, "Parlowen — permission needed"});
    item.setVisible(true);

    QSystemTrayIcon* tray = item.trayIcon();
    ASSERT_TRUE(testsupport::pumpUntil([&] { return tray->geometry().width() > 0; }, std::chrono::seconds(10)))
        << "the icon was not embedded";
    EXPECT_TRUE(item.isVisible());
    // The tray resizes itself around a new icon and moves it: click only once
    // the icon has stayed in one place for a few reads.
    std::optional<QPoint> found;
    int sameReads = 0;
    ASSERT_TRUE(testsupport::pumpUntil([&] {
        const auto now = iconCentreOnScreen();
        sameReads = now && now == found ? sameReads + 1 : 0;
        found = now;
        return sameReads >= 3;
    }, std::chrono::seconds(10)))
        << "no settled icon window of " << QCoreApplication::applicationName().toStdString();
    const QPoint centre = *found;

    ASSERT_TRUE(xdotool({"mousemove", std::to_string(centre.x()), std::to_string(centre.y()), "click", "1"}));
    ASSERT_TRUE(testsupport::pumpUntil([&] { return item.menu()->isVisible(); }))
        << "a left click opens the menu; icon at " << centre.x() << "," << centre.y() << " size "
        << tray->geometry().width() << "x" << tray->geometry().height();
    EXPECT_EQ(opened, 1);
    ASSERT_TRUE(xdotool({"key", "Down", "Return"}));
    ASSERT_TRUE(testsupport::pumpUntil([&] { return !chosen.empty(); }));
    EXPECT_EQ(chosen[0].id, "copy");
    EXPECT_EQ(testsupport::xclipRead("UTF8_STRING"), "hello world second sentence");

    // A right click opens the same menu.
    ASSERT_TRUE(testsupport::pumpUntil([&] { return !item.menu()->isVisible(); }));
    ASSERT_TRUE(xdotool({"mousemove", std::to_string(centre.x()), std::to_string(centre.y()), "click", "3"}));
    ASSERT_TRUE(testsupport::pumpUntil([&] { return item.menu()->isVisible(); }));
    EXPECT_EQ(opened, 2);
    ASSERT_TRUE(xdotool({"key", "Escape"}));
    ASSERT_TRUE(testsupport::pumpUntil([&] { return !item.menu()->isVisible(); }));

    // Faded frames and hiding while embedded.
    item.setIcon({StatusIconImage::icon, StatusIconTint::red, "Parlowen"});
    for (double a : {0.55, 0.8, 1.0}) item.setAlpha(a);
    item.setVisible(false);
    EXPECT_FALSE(item.isVisible());
    item.setVisible(true);
    EXPECT_TRUE(item.isVisible());
}

}  // namespace
}  // namespace platform
