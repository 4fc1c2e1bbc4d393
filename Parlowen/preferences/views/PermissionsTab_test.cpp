#include "Parlowen/preferences/views/PermissionsTab.h"

#include <QVBoxLayout>

#include "Parlowen/preferences/views/PermissionPreScreen.h"
#include "Parlowen/preferences/views/PreferencesTestSupport.h"
#include "Parlowen/shell/views/ThemePalette.h"
#include "platform/ui/Buttons.h"
#include "platform/ui/SymbolLabel.h"
#include "platform/ui/ThemeScope.h"

namespace parlowen {
namespace {

using namespace preferencestest;
using platform::ui::findNamed;
using K = PermissionKind;
using S = PermissionState;

class PermissionsTabTest : public PreferencesViewTest {
protected:
    platform::ui::ThemedBackground window;
    PermissionsTab* tab = nullptr;

    void make() {
        window.resize(600, 560);
        auto* box = new QVBoxLayout(&window);
        box->setContentsMargins(0, 0, 0, 0);
        tab = new PermissionsTab(permissions, workspace, main);
        box->addWidget(tab);
        window.show();
        platform::ui::testing::settle();
    }
    platform::ui::PushButton* button(K kind, const char* name) {
        return findNamed<platform::ui::PushButton>(tab->row(kind), name);
    }
    bool shows(K kind, const char* name) { return findNamed<QWidget>(tab->row(kind), name)->isVisible(); }
};

TEST_F(PermissionsTabTest, AnEmptyMapGivesFourOrangeRequestRowsInOrder) {
    make();  // the on-appear refresh has not run yet
    int lastY = -1;
    for (auto kind : allPermissionKinds) {
        auto* row = tab->row(kind);
        EXPECT_GT(row->y(), lastY) << "rows in the fixed order";
        lastY = row->y();
        EXPECT_EQ(row->state(), S::unknown);
        EXPECT_TRUE(shows(kind, "request"));
        EXPECT_FALSE(shows(kind, "granted"));
        EXPECT_FALSE(shows(kind, "openSettings"));
        auto* status = findNamed<platform::ui::SymbolLabel>(row, "status");
        EXPECT_EQ(status->symbol(), "questionmark.circle.fill");
        EXPECT_EQ(status->tintColor(), platform::ui::toQColor(platform::ui::systemColors(hearthPalette()).orange));
    }
    EXPECT_EQ(textOf(tab->row(K::speech), "title"), "Speech Recognition");
    EXPECT_EQ(textOf(tab->row(K::inputMonitoring), "explanation"),
              "Detect the hold-to-talk hotkey from anywhere in the system.");
}

TEST_F(PermissionsTabTest, TheOnAppearRefreshAndPublishedChangesUpdateTheRows) {
    setState(K::microphone, S::granted);
    setState(K::speech, S::denied);
    make();
    settle();
    EXPECT_TRUE(shows(K::microphone, "granted"));
    EXPECT_TRUE(shows(K::speech, "openSettings"));
    EXPECT_TRUE(shows(K::accessibility, "openSettings")) << "accessibility is trusted or not";
    EXPECT_TRUE(shows(K::inputMonitoring, "request"));

    // A change the manager publishes reaches the rows without Refresh.
    permissions.states.set({{K::inputMonitoring, S::granted}});
    EXPECT_TRUE(shows(K::inputMonitoring, "granted"));
    EXPECT_TRUE(shows(K::microphone, "request")) << "every row is made again from the map";
}

TEST_F(PermissionsTabTest, DeniedOpensSettingsWithoutTheSheet) {
    setState(K::speech, S::denied);
    make();
    settle();
    button(K::speech, "openSettings")->click();
    settle();
    EXPECT_EQ(workspace.openedURLs(), std::vector<std::string>{PermissionsManager::settingsURL(K::speech)});
    EXPECT_FALSE(tab->row(K::speech)->showingPreScreen());
    EXPECT_EQ(requests(), 0);

    // Accessibility has no pane: its button turns the switch on through the request.
    button(K::accessibility, "openSettings")->click();
    settle();
    EXPECT_EQ(ax.requestCount(), 1);
    EXPECT_EQ(workspace.openedURLs().size(), 1u);
}

TEST_F(PermissionsTabTest, OnlyTheSheetsConfirmRequests) {
    make();
    settle();
    auto* row = tab->row(K::microphone);
    button(K::microphone, "request")->click();
    settle();
    ASSERT_TRUE(row->showingPreScreen());
    EXPECT_EQ(row->preScreen()->primaryButton()->text(), "Show me the prompt");
    EXPECT_EQ(requests(), 0);
    row->preScreen()->notNowButton()->click();
    settle();
    EXPECT_FALSE(row->showingPreScreen());
    EXPECT_EQ(requests(), 0);

    // Escape on the sheet requests nothing either.
    button(K::microphone, "request")->click();
    settle();
    pressKey(row->preScreen(), Qt::Key_Escape);
    settle();
    EXPECT_FALSE(row->showingPreScreen());
    EXPECT_EQ(requests(), 0);

    mic.answerRequestWith(3);
    button(K::microphone, "request")->click();
    settle();
    row->preScreen()->primaryButton()->click();
    EXPECT_FALSE(row->showingPreScreen()) << "closed before the system prompt";
    settle();
    EXPECT_EQ(mic.requestCount(), 1);
    EXPECT_TRUE(shows(K::microphone, "granted")) << "the published state turns the row green";
}

TEST_F(PermissionsTabTest, ScreenshotsInEveryTheme) {
    setState(K::microphone, S::granted);
    setState(K::speech, S::denied);
    make();
    settle();
    for (auto theme : {Theme::hearth, Theme::summit, Theme::alpineDawn, Theme::dusk, Theme::chestnut}) {
        setThemePalette(&window, palette(theme));
        platform::ui::testing::expectScreenshot(
            &window, kShots / ("permissions-tab-" + std::string(rawValue(theme)) + ".png"),
            {"intro", "microphone/granted", "speech/openSettings", "inputMonitoring/request", "refresh"});
    }
}

}  // namespace
}  // namespace parlowen
