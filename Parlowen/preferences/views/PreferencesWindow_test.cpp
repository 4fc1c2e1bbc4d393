#include "Parlowen/preferences/views/PreferencesWindow.h"

#include <set>

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include "Parlowen/brand/BrandColors.h"
#include "Parlowen/preferences/views/PermissionsTab.h"
#include "Parlowen/preferences/views/PreferencesTestSupport.h"
#include "Parlowen/shell/views/ThemePalette.h"
#include "platform/ui/PageHost.h"
#include "platform/ui/ThemeScope.h"
#include "platform/ui/WindowHost.h"

namespace parlowen {
namespace {

using namespace preferencestest;
using platform::ui::findNamed;
using Tab = PreferencesTab;

// Stands in for the onboarding window's controller.
struct FakeOnboarding {
    std::set<std::string> acknowledgedSteps{"welcome", "permissions"};
    std::string step = "practice";
    int shown = 0;
};

class PreferencesWindowTest : public PreferencesViewTest {
protected:
    FakeOnboarding onboarding;
    std::shared_ptr<PreferencesPages> pages = std::make_shared<PreferencesPages>();
    std::unique_ptr<PreferencesWindowController> controller;

    PreferencesContext context() {
        return {.preferences = preferences, .permissions = permissions, .workspace = workspace, .main = main,
                .replayOnboarding = [this] {
                    onboarding.acknowledgedSteps.clear();
                    onboarding.step = "welcome";
                    ++onboarding.shown;
                },
                .previewVoice = {}};
    }
    void open(Tab tab) {
        // As the application coordinator does: build once, then select and bring forward.
        if (!controller) controller = std::make_unique<PreferencesWindowController>(context(), pages, tab);
        else controller->setTab(tab);
        controller->showAndActivate();
        settle();
    }
    platform::ui::WindowHost* window() { return controller->window(); }
    std::string page() { return controller->view()->pageHost()->currentKey(); }
};

TEST_F(PreferencesWindowTest, OpensOnceCentredAndSwitchesTabsInPlace) {
    open(Tab::readAloud);
    EXPECT_EQ(window()->windowTitle(), "Parlowen");
    EXPECT_EQ(window()->size(), QSize(820, 560));
    EXPECT_EQ(page(), "readAloud");
    EXPECT_EQ(controller->view()->tabList()->currentRow(), 3);
    window()->move(window()->pos() + QPoint(30, 20));
    window()->resize(900, 600);
    const QRect where = window()->geometry();

    open(Tab::permissions);
    EXPECT_EQ(page(), "permissions");
    EXPECT_NE(findNamed<PermissionsTab>(window(), "permissionsTab"), nullptr);
    EXPECT_EQ(window()->geometry(), where) << "not moved, not resized";

    // Closing only hides; reopening shows it where it was, not re-centred.
    window()->close();
    settle();
    EXPECT_FALSE(window()->isVisible());
    open(Tab::general);
    EXPECT_TRUE(window()->isVisible());
    EXPECT_EQ(window()->geometry(), where);
    EXPECT_EQ(page(), "general");

    // Ctrl+W hides it too.
    pressKey(controller->view()->tabList(), Qt::Key_W, Qt::ControlModifier);
    settle();
    EXPECT_FALSE(window()->isVisible());
}

TEST_F(PreferencesWindowTest, TheSidebarSelectsWithTheKeyboard) {
    open(Tab::general);
    auto* list = controller->view()->tabList();
    list->setFocus();
    for (int i = 0; i < 8; ++i) pressKey(list, Qt::Key_Down);
    settle();
    EXPECT_EQ(controller->tabSelection().current.get(), Tab::permissions);
    EXPECT_EQ(page(), "permissions");
    std::vector<std::string> titles;
    for (int i = 0; i < list->count(); ++i) titles.push_back(list->item(i)->text().toStdString());
    EXPECT_EQ(titles.size(), 11u);
    EXPECT_EQ(titles[10], "About");
}

TEST_F(PreferencesWindowTest, ATypedKeyEntryIsGoneAfterATabRoundTrip) {
    pages->setSection(PreferencesSection::readAloud, [](const PreferencesContext&) {
        auto* entry = new QLineEdit;
        entry->setObjectName("keyEntry");
        return entry;
    });
    open(Tab::readAloud);
    findNamed<QLineEdit>(window(), "keyEntry")->setText("sk-half-typed");
    open(Tab::general);
    EXPECT_EQ(findNamed<QLineEdit>(window(), "keyEntry"), nullptr);
    open(Tab::readAloud);
    EXPECT_EQ(findNamed<QLineEdit>(window(), "keyEntry")->text(), "");
}

TEST_F(PreferencesWindowTest, DuskIsDarkTheOthersLightAndTheSidebarStaysAmber) {
    open(Tab::permissions);
    for (auto theme : {Theme::hearth, Theme::summit, Theme::alpineDawn, Theme::dusk, Theme::chestnut}) {
        preferences.selectedTheme.set(theme);
        settle();
        auto palette = platform::ui::ThemeScope::paletteFor(findNamed<QWidget>(window(), "permissionsTab"));
        ASSERT_TRUE(palette);
        EXPECT_EQ(palette->isDark, theme == Theme::dusk) << rawValue(theme);
        EXPECT_EQ(controller->view()->tabList()->palette().color(QPalette::Highlight),
                  platform::ui::toQColor(brandAmber()));
        EXPECT_EQ(platform::ui::toQColor(palette->accent), platform::ui::toQColor(parlowen::palette(theme).accent));
    }
}

TEST_F(PreferencesWindowTest, TheGroqSectionFollowsTheEngineMode) {
    pages->setSection(PreferencesSection::dictationEngineMode, [](const PreferencesContext&) {
        auto* w = new QLabel("engine mode");
        w->setObjectName("engineModeSection");
        return w;
    });
    pages->setSection(PreferencesSection::groq, [](const PreferencesContext&) {
        auto* w = new QLabel("groq");
        w->setObjectName("fakeGroqSection");
        return w;
    });
    preferences.dictationEngineMode.set(DictationEngineMode::speed);
    open(Tab::dictation);
    EXPECT_EQ(findNamed<QWidget>(window(), "fakeGroqSection"), nullptr);
    preferences.dictationEngineMode.set(DictationEngineMode::groq);
    settle();
    auto* groq = findNamed<QWidget>(window(), "fakeGroqSection");
    ASSERT_NE(groq, nullptr);
    EXPECT_TRUE(groq->isVisible());
    EXPECT_GT(groq->mapTo(window(), QPoint()).y(), findNamed<QWidget>(window(), "engineModeSection")->mapTo(window(), QPoint()).y());
    preferences.dictationEngineMode.set(DictationEngineMode::speed);
    settle();
    EXPECT_EQ(findNamed<QWidget>(window(), "fakeGroqSection"), nullptr);
    EXPECT_EQ(page(), "dictation");
}

TEST_F(PreferencesWindowTest, ReplayResetsOnboardingToWelcomeAndPreferencesStaysOpen) {
    pages->setPage(Tab::tips, [](const PreferencesContext& c) {
        auto* restart = new QPushButton("Restart tutorial");
        restart->setObjectName("restartTutorial");
        QObject::connect(restart, &QPushButton::clicked, restart, [replay = c.replayOnboarding] { replay(); });
        return restart;
    });
    open(Tab::tips);
    findNamed<QPushButton>(window(), "restartTutorial")->click();
    settle();
    EXPECT_EQ(onboarding.step, "welcome");
    EXPECT_TRUE(onboarding.acknowledgedSteps.empty());
    EXPECT_EQ(onboarding.shown, 1);
    EXPECT_TRUE(window()->isVisible());
}

TEST_F(PreferencesWindowTest, ScreenshotsOfThePermissionsTabInEveryTheme) {
    mic.setRawStatus(3);
    open(Tab::permissions);
    for (auto theme : {Theme::hearth, Theme::summit, Theme::alpineDawn, Theme::dusk, Theme::chestnut}) {
        preferences.selectedTheme.set(theme);
        settle();
        platform::ui::testing::expectScreenshot(
            window(), kShots / ("preferences-" + std::string(rawValue(theme)) + ".png"),
            {"sidebar/mascot", "sidebar/product", "sidebar/tabs", "company", "permissionsTab/intro",
             "microphone/granted", "refresh"});
    }
}

}  // namespace
}  // namespace parlowen
