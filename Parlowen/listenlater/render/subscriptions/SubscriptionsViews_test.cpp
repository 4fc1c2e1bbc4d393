// The Subscriptions page and its sign-in sheet as widgets, offscreen, on the
// scripted web layer, in a small host window.

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "Parlowen/listenlater/render/cleaner/ConnectedPublishers.h"
#include "Parlowen/listenlater/render/subscriptions/MacPublisherSignInView.h"
#include "Parlowen/listenlater/render/subscriptions/SubscriptionsTab.h"
#include "Parlowen/model/Theme.h"
#include "Parlowen/shell/views/ThemePalette.h"
#include "platform/defaults/InMemoryUserDefaults.h"
#include "platform/runtime/ManualExecutor.h"
#include "platform/testsupport/EventLoop.h"
#include "platform/ui/Animations.h"
#include "platform/ui/Buttons.h"
#include "platform/ui/DefaultActions.h"
#include "platform/ui/Finders.h"
#include "platform/ui/ScreenshotTesting.h"
#include "platform/webview/ScriptedWebProfile.h"

using namespace parlowen;
using namespace platform;
using platform::ui::findAllNamed;
using platform::ui::findNamed;
using platform::ui::testing::settle;
using Kind = WebNavigationEventKind;

namespace {

const std::filesystem::path kShots = PARLOWEN_SCREENSHOT_DIR;
const std::string kSession(24, 's');

// What a user sees of a widget: shown whenever its window is.
bool seen(const QWidget* w) { return w && w->isVisibleTo(w->window()); }

std::vector<std::string> listedHosts(const QWidget* tab) {
    std::vector<std::string> hosts;
    for (auto* row : findAllNamed(tab, "connectedHost"))
        if (seen(row)) hosts.push_back(findNamed<QLabel>(row, "host")->text().toStdString());
    return hosts;
}

// The page in a small window of its own, as the preferences window will hold it.
class SubscriptionsViewsTest : public ::testing::Test {
protected:
    void build(Theme theme = Theme::hearth) {
        window = std::make_unique<QWidget>();
        window->setObjectName("host");
        setThemePalette(window.get(), palette(theme));
        auto* box = new QVBoxLayout(window.get());
        box->setContentsMargins(0, 0, 0, 0);
        tab = new SubscriptionsTab({main, web, defaults});
        box->addWidget(tab);
        window->resize(620, 760);
        window->show();
        settle();
    }

    ui::PushButton* preset(int index) {
        auto presets = findAllNamed(tab, "preset");
        return dynamic_cast<ui::PushButton*>(presets.at(static_cast<std::size_t>(index)));
    }

    MacPublisherSignInView* sheet() { return tab->signInSheet(); }
    std::shared_ptr<ScriptedWebProfile::PageRecord> sheetPage() { return web.pages().back(); }

    // The sheet's page shows `url` and finishes loading.
    void finish(const std::string& url) {
        auto page = sheetPage();
        page->setURL(url);
        page->deliver(Kind::committed, page->lastNavigation());
        page->deliver(Kind::finished, page->lastNavigation());
        main.runUntilIdle();
        settle();
    }

    ui::AnimationsOff still;
    ManualExecutor main;
    ScriptedWebProfile web{main};
    InMemoryUserDefaults defaults;
    std::unique_ptr<QWidget> window;
    SubscriptionsTab* tab = nullptr;
};

TEST_F(SubscriptionsViewsTest, APresetSignInConnectsAndTheListShowsItSortedWithoutReopening) {
    ConnectedPublishers::connect(defaults, "wsj.com");
    build();
    EXPECT_EQ(listedHosts(tab), std::vector<std::string>{"wsj.com"});
    ui::testing::expectScreenshot(window.get(), kShots / "subscriptions-hearth.png",
                                  {"connectedPublishers/connectedHost/remove", "addPublisher/preset/name",
                                   "customURL", "go"});

    ASSERT_EQ(findAllNamed(tab, "preset").size(), 5u);
    EXPECT_EQ(findNamed<QLabel>(preset(0), "name")->text(), "The New York Times");
    preset(0)->click();
    settle();
    auto* s = sheet();
    ASSERT_NE(s, nullptr);
    EXPECT_TRUE(s->isVisible());
    EXPECT_EQ(s->windowModality(), Qt::WindowModal);
    EXPECT_EQ(s->parentWidget(), window.get());
    EXPECT_GE(s->width(), MacPublisherSignInView::kMinimumWidth);
    EXPECT_GE(s->height(), MacPublisherSignInView::kMinimumHeight);
    ASSERT_EQ(sheetPage()->loads().size(), 1u);
    EXPECT_EQ(sheetPage()->loads()[0].request.url, "https://www.nytimes.com/");
    EXPECT_EQ(findNamed<QLabel>(s, "title")->text(), "nytimes.com");
    EXPECT_EQ(findNamed<QLabel>(s, "prompt")->text(),
              "Sign in to your nytimes.com account above. Connect unlocks once Quon detects your session.");
    EXPECT_FALSE(seen(findNamed(s, "connectAnyway")));
    EXPECT_FALSE(seen(findNamed(s, "connect")));
    ui::testing::expectScreenshot(s, kShots / "signin-prompt-hearth.png", {"header/title", "done", "prompt"});

    // The user signs in on the publisher's login host; the session cookie lands on the publisher's domain.
    web.setCookies({{"NYT-S", kSession, ".nytimes.com", "/"}});
    finish("https://myaccount.nytimes.com/auth/login");
    EXPECT_EQ(findNamed<QLabel>(s, "title")->text(), "myaccount.nytimes.com");
    EXPECT_TRUE(seen(findNamed(s, "signedIn")));
    EXPECT_EQ(findNamed<QLabel>(s, "signedInText")->text(), "You appear to be signed in");
    auto* connect = findNamed<ui::PushButton>(s, "connect");
    ASSERT_TRUE(seen(connect));
    EXPECT_EQ(connect->text(), "Connect nytimes.com");
    EXPECT_FALSE(seen(findNamed(s, "prompt")));
    EXPECT_FALSE(seen(findNamed(s, "connectAnyway")));
    ui::testing::expectScreenshot(s, kShots / "signin-signedin-hearth.png", {"signedIn/signedInSymbol", "connect"});
    // Changes of the sheet never load the page again.
    EXPECT_EQ(sheetPage()->loads().size(), 1u);

    connect->click();
    settle();
    EXPECT_EQ(sheet(), nullptr);
    EXPECT_FALSE(tab->model().signInTarget.get());
    EXPECT_EQ(listedHosts(tab), (std::vector<std::string>{"nytimes.com", "wsj.com"}));
    EXPECT_EQ(ConnectedPublishers::hosts(defaults), (std::vector<std::string>{"nytimes.com", "wsj.com"}));
}

TEST_F(SubscriptionsViewsTest, TheSamePresetTwiceOpensTwoFreshSheetsAndDoneStoresNothing) {
    build();
    preset(3)->click();
    settle();
    finish("https://www.theatlantic.com/");
    auto* s = sheet();
    ASSERT_NE(s, nullptr);
    auto* anyway = findNamed<ui::PushButton>(s, "connectAnyway");
    EXPECT_TRUE(seen(anyway));
    EXPECT_EQ(anyway->text(), "Already signed in? Connect anyway");
    ui::testing::expectScreenshot(s, kShots / "signin-anyway-hearth.png", {"prompt", "connectAnyway"});
    findNamed<ui::PushButton>(s, "done")->click();
    settle();
    EXPECT_EQ(sheet(), nullptr);
    EXPECT_FALSE(defaults.object(ConnectedPublishers::kHostsKey));

    preset(3)->click();
    settle();
    ASSERT_NE(sheet(), nullptr);
    EXPECT_EQ(web.pages().size(), 2u);
    EXPECT_FALSE(web.pages()[0]->alive());
    EXPECT_FALSE(seen(findNamed(sheet(), "connectAnyway")));
    EXPECT_FALSE(seen(findNamed(sheet(), "connect")));

    // Escape is another way to close: it stores nothing either.
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(sheet(), &escape);
    settle();
    EXPECT_EQ(sheet(), nullptr);
    EXPECT_FALSE(tab->model().signInTarget.get());
    EXPECT_FALSE(defaults.object(ConnectedPublishers::kHostsKey));
}

TEST_F(SubscriptionsViewsTest, ConnectAnywayWithoutACookieAndRemoveAfterwards) {
    build();
    EXPECT_TRUE(seen(findNamed(tab, "noPublishers")));
    EXPECT_EQ(findNamed<QLabel>(tab, "noPublishers")->text(), "No publishers connected yet.");

    preset(4)->click();
    settle();
    finish("https://www.economist.com/");
    findNamed<ui::PushButton>(sheet(), "connectAnyway")->click();
    settle();
    EXPECT_EQ(listedHosts(tab), std::vector<std::string>{"economist.com"});
    EXPECT_FALSE(seen(findNamed(tab, "noPublishers")));

    web.setCookies({{"sessionid", kSession, ".economist.com", "/"}});
    auto rows = findAllNamed(tab, "connectedHost");
    ASSERT_EQ(rows.size(), 1u);
    findNamed<ui::PushButton>(rows[0], "remove")->click();
    settle();
    EXPECT_TRUE(listedHosts(tab).empty());
    EXPECT_TRUE(seen(findNamed(tab, "noPublishers")));
    EXPECT_TRUE(ConnectedPublishers::hosts(defaults).empty());
}

TEST_F(SubscriptionsViewsTest, TheCustomFieldOpensOnlyThroughGoAndReturnDoesNothing) {
    build();
    // A default action elsewhere in the window must not see the field's Return either.
    auto* other = new ui::PushButton("Other");
    window->layout()->addWidget(other);
    ui::setDefaultAction(other);
    int otherClicks = 0;
    QObject::connect(other, &QPushButton::clicked, [&] { ++otherClicks; });

    auto* field = findNamed<QLineEdit>(tab, "customURL");
    auto* go = findNamed<ui::PushButton>(tab, "go");
    EXPECT_EQ(field->placeholderText(), "Other site (paste a URL)");
    EXPECT_FALSE(go->isEnabled());
    field->setText("httpbin.org");
    EXPECT_FALSE(go->isEnabled());
    field->setText("  news.example  ");
    EXPECT_TRUE(go->isEnabled());

    field->setFocus();
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(field, &enter);
    settle();
    EXPECT_EQ(sheet(), nullptr);
    EXPECT_EQ(otherClicks, 0);
    EXPECT_EQ(field->text(), "  news.example  ");

    go->click();
    settle();
    ASSERT_NE(sheet(), nullptr);
    EXPECT_EQ(sheetPage()->loads()[0].request.url, "https://news.example/");
    EXPECT_EQ(findNamed<QLabel>(sheet(), "title")->text(), "news.example");
    EXPECT_EQ(field->text(), "");
    EXPECT_FALSE(go->isEnabled());
}

TEST_F(SubscriptionsViewsTest, ThePageReadsTheListAgainWhenItComesOnScreen) {
    build();
    ConnectedPublishers::connect(defaults, "theatlantic.com");
    settle();
    EXPECT_TRUE(listedHosts(tab).empty());  // the page does not watch the store
    tab->hide();
    tab->show();
    settle();
    EXPECT_EQ(listedHosts(tab), std::vector<std::string>{"theatlantic.com"});
}

TEST_F(SubscriptionsViewsTest, TheFooterEasesInWhenTheSignedInStateTurns) {
    ui::setAnimationsEnabled(true);
    build();
    preset(0)->click();
    settle();
    auto* s = sheet();
    finish("https://www.nytimes.com/");  // only the Connect-anyway button appears: no fade
    EXPECT_FALSE(s->isFooterFading());
    web.setCookies({{"nyt-s", kSession, ".nytimes.com", "/"}});
    finish("https://www.nytimes.com/");
    EXPECT_TRUE(s->isFooterFading());
    EXPECT_TRUE(testsupport::runEventLoopUntil([&] { return !s->isFooterFading(); }, std::chrono::seconds(10)));
}

TEST_F(SubscriptionsViewsTest, ReadableInADarkTheme) {
    ConnectedPublishers::connect(defaults, "washingtonpost.com");
    build(Theme::dusk);
    ui::testing::expectScreenshot(window.get(), kShots / "subscriptions-dusk.png",
                                  {"connectedPublishers/connectedHost/host", "addPublisher/preset/symbol"});
    preset(2)->click();
    settle();
    web.setCookies({{"wp_auth", kSession, ".washingtonpost.com", "/"}});
    finish("https://www.washingtonpost.com/");
    ui::testing::expectScreenshot(sheet(), kShots / "signin-signedin-dusk.png", {"signedInText", "connect"});
}

}  // namespace
