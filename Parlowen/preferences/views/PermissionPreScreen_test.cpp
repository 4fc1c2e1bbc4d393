#include "Parlowen/preferences/views/PermissionPreScreen.h"

#include <QGuiApplication>
#include <QScreen>

#include "Parlowen/preferences/PermissionTexts.h"
#include "Parlowen/preferences/views/PreferencesTestSupport.h"
#include "Parlowen/shell/views/ThemePalette.h"
#include "platform/ui/Buttons.h"
#include "platform/ui/ThemeScope.h"

namespace parlowen {
namespace {

using namespace preferencestest;
using platform::ui::findNamed;
using K = PermissionKind;
using S = PermissionState;

class PreScreenTest : public PreferencesViewTest {
protected:
    PermissionPreScreenWindowController controller{permissions, workspace, main, &preferences};
    int completions = 0;
    void present(K kind) {
        controller.present(kind, [this] { ++completions; });
        settle();
    }
    platform::ui::PushButton* button(const char* name) {
        return findNamed<platform::ui::PushButton>(controller.window(), name);
    }
};

TEST_F(PreScreenTest, KindTimesStateGivesTextLabelAndConfirmEffect) {
    for (auto kind : allPermissionKinds) {
        for (auto state : {S::granted, S::denied, S::notDetermined}) {
            if (kind == K::accessibility && state == S::notDetermined) continue;  // trust is yes or no
            SCOPED_TRACE(rawValue(kind) + " " + text(state));
            setState(kind, state);
            const int requestsBefore = requests();
            const auto urlsBefore = workspace.openedURLs().size();
            present(kind);
            ASSERT_NE(controller.window(), nullptr);
            EXPECT_TRUE(controller.window()->isVisible());
            EXPECT_EQ(controller.window()->windowTitle(), "Permission needed");
            auto* view = controller.view();
            ASSERT_NE(view, nullptr);
            EXPECT_EQ(view->currentState(), state) << "read from the system";
            EXPECT_EQ(textOf(view, "expectation/body"), PermissionPreScreen::expectationText(kind, state));
            EXPECT_EQ(button("primary")->text().toStdString(), PermissionPreScreenText::primaryLabel(state));

            button("primary")->click();
            EXPECT_FALSE(controller.window() && controller.window()->isVisible()) << "hidden at once";
            settle();
            EXPECT_EQ(controller.window(), nullptr) << "closed once the flow finished";
            EXPECT_EQ(completions, 1);
            completions = 0;
            const bool opensPane = state == S::denied && kind != K::accessibility;
            const bool requests_ = state == S::notDetermined || (state == S::denied && kind == K::accessibility);
            EXPECT_EQ(workspace.openedURLs().size() - urlsBefore, opensPane ? 1u : 0u);
            if (opensPane) EXPECT_EQ(workspace.openedURLs().back(), PermissionsManager::settingsURL(kind));
            EXPECT_EQ(requests() - requestsBefore, requests_ ? 1 : 0);
        }
    }
}

TEST_F(PreScreenTest, TheStateComesFromTheSystemNotThePublishedMap) {
    permissions.states.set({{K::microphone, S::granted}});
    setState(K::microphone, S::notDetermined);
    present(K::microphone);
    EXPECT_EQ(controller.view()->currentState(), S::notDetermined);
}

TEST_F(PreScreenTest, ASecondPresentReusesTheWindow) {
    present(K::microphone);
    auto* first = controller.window();
    present(K::inputMonitoring);
    EXPECT_EQ(controller.window(), first);
    EXPECT_EQ(controller.view()->kind(), K::inputMonitoring);
    EXPECT_EQ(textOf(controller.window(), "heading"), "Input Monitoring — heads up");
    EXPECT_EQ(platform::ui::findAllNamed(controller.window(), "permissionPreScreen").size(), 1u);
}

TEST_F(PreScreenTest, TheCloseButtonRunsNoFlowAndTheNextPresentIsFreshAndCentred) {
    present(K::microphone);
    auto* window = controller.window();
    const QPoint centred = window->pos();
    window->move(centred + QPoint(60, 40));
    window->close();
    settle();
    EXPECT_EQ(controller.window(), nullptr);
    EXPECT_EQ(completions, 0);
    EXPECT_EQ(requests(), 0);
    present(K::microphone);
    ASSERT_NE(controller.window(), nullptr);
    EXPECT_EQ(controller.window()->pos(), centred);
}

TEST_F(PreScreenTest, EscapeIsNotNowAndReturnIsThePrimary) {
    present(K::speech);
    pressKey(controller.view(), Qt::Key_Escape);
    settle();
    EXPECT_EQ(controller.window(), nullptr);
    EXPECT_EQ(completions, 1);
    EXPECT_EQ(requests(), 0);

    present(K::speech);
    pressKey(controller.view(), Qt::Key_Return);
    settle();
    EXPECT_EQ(controller.window(), nullptr);
    EXPECT_EQ(speech.requestCount(), 1);
}

// A confirm that finishes after a later presentation reused the window
// leaves that window open; its own completion still runs once.
TEST_F(PreScreenTest, AStaleConfirmLeavesAReusedWindowAlone) {
    present(K::microphone);
    button("primary")->click();  // the request is pending until main runs
    int laterCompletions = 0;
    controller.present(K::speech, [&] { ++laterCompletions; });
    settle();
    EXPECT_EQ(mic.requestCount(), 1);
    EXPECT_EQ(completions, 1);
    ASSERT_NE(controller.window(), nullptr);
    EXPECT_TRUE(controller.window()->isVisible());
    EXPECT_EQ(controller.view()->kind(), K::speech);
    EXPECT_EQ(laterCompletions, 0);
}

TEST_F(PreScreenTest, ScreenshotsInEveryTheme) {
    for (auto theme : {Theme::hearth, Theme::summit, Theme::alpineDawn, Theme::dusk, Theme::chestnut}) {
        setState(K::accessibility, S::denied);
        preferences.selectedTheme.set(theme);
        present(K::accessibility);
        auto* window = controller.window();
        EXPECT_EQ(platform::ui::ThemeScope::paletteFor(window), palette(theme)) << "follows the selected theme";
        const auto name = "prescreen-" + std::string(rawValue(theme)) + ".png";
        platform::ui::testing::expectScreenshot(window, kShots / name,
                                                {"headerSymbol", "heading", "subtitle", "expectation/body",
                                                 "why/body", "doesnt/body", "notNow", "primary"});
        window->close();
        settle();
    }
}

}  // namespace
}  // namespace parlowen
