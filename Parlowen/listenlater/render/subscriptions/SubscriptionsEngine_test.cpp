// The whole sign-in on the real web engine under Xvfb, against pages on the
// loopback interface: the sheet sees the session cookie, Connect lists the
// host, and the article cleaner then loads that host's pages with the
// session, through the shared profile alone.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QVBoxLayout>
#include <algorithm>

#include "Parlowen/listenlater/render/cleaner/ArticleCleaner.h"
#include "Parlowen/listenlater/render/cleaner/ConnectedPublishers.h"
#include "Parlowen/listenlater/render/subscriptions/SubscriptionsTab.h"
#include "platform/defaults/InMemoryUserDefaults.h"
#include "platform/http/CurlHttpClient.h"
#include "platform/languagemodel/ScriptedLanguageModel.h"
#include "platform/log/CaptureSink.h"
#include "platform/runtime/QtMainExecutor.h"
#include "platform/testsupport/EventLoop.h"
#include "platform/testsupport/LoopbackServer.h"
#include "platform/testsupport/OnDisplay.h"
#include "platform/testsupport/Services.h"
#include "platform/testsupport/TempHome.h"
#include "platform/ui/Buttons.h"
#include "platform/ui/Finders.h"
#include "platform/ui/ScreenshotTesting.h"
#include "platform/webview/QtWebProfile.h"

using namespace parlowen;
using namespace platform;
using namespace std::chrono_literals;
using platform::ui::findAllNamed;
using platform::ui::findNamed;
using testsupport::LoopbackReply;

namespace {

// The engine needs this before the test main creates the application object.
const bool kEnginePrepared = [] {
    prepareWebEngine();
    return true;
}();

const std::filesystem::path kShots = PARLOWEN_SCREENSHOT_DIR;
constexpr auto kEngine = 90s;  // the engine's first start on a loaded two-core machine
constexpr const char* kSessionValue = "abcdefghij0123456789";

LoopbackReply html(std::string body) {
    auto reply = LoopbackReply::text(
        200, "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Publisher</title></head><body>" + body +
                 "</body></html>");
    reply.headers.push_back({"Content-Type", "text/html; charset=utf-8"});
    return reply;
}

const std::string kArticle = R"(<article><h1>The River Survey</h1>
<p>The river survey began on a cold morning in March, when the first team set out from the old mill with nets, notebooks and a borrowed boat that leaked at the stern.</p>
<p>Over the following weeks the volunteers counted fish, measured the water at eleven places along the bank, and wrote down every bird that came to the shallows near the bridge.</p>
<p>By the end of the spring they had filled four notebooks, and the town council agreed to publish the results so that anyone could compare them with the counts of earlier years.</p>
</article>)";

bool seen(const QWidget* w) { return w && w->isVisibleTo(w->window()); }

struct PaintCounter : QObject {
    int count = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) ++count;
        return false;
    }
};

TEST(SubscriptionsEngine, ASignInOnTheRealEngineReachesTheArticleCleaner) {
    if (!testsupport::onDisplayChild()) {
        if (!readBundledReadability())
            PARLOWEN_REQUIRE_OR_SKIP(Status(
                fail(Error::make("readability", 0, "missing", "Readability.js is not installed (scripts/setup)"))));
        testsupport::XvfbDisplay display;
        PARLOWEN_REQUIRE_OR_SKIP(display.start());
        return testsupport::runCurrentTestOnDisplay(display.environment(), 170s);
    }
    ScopedLogCapture logs;
    testsupport::LoopbackServer server;  // ends after the profile, whose open connections would hold it up
    auto front = html("<a id=\"elsewhere\" href=\"http://localhost:" + std::to_string(server.port()) +
                      "/elsewhere\" style=\"display:block;height:2000px;font-size:48px\">Elsewhere</a>");
    front.headers.push_back({"Set-Cookie", std::string("sessionid=") + kSessionValue + "; Path=/"});
    server.route("GET", "/", front);
    server.route("GET", "/elsewhere", html("<p>Another host</p>"));
    server.route("GET", "/story", html(kArticle));

    testsupport::TempDir dir;
    QtMainExecutor main;
    InMemoryUserDefaults defaults;
    auto profile = std::make_unique<QtWebProfile>(QtWebProfileLocation{dir / "storage", dir / "cache"});

    // The page in a small window, as the preferences window will hold it.
    auto window = std::make_unique<QWidget>();
    auto* box = new QVBoxLayout(window.get());
    auto* tab = new SubscriptionsTab({main, *profile, defaults});
    box->addWidget(tab);
    window->resize(620, 720);
    window->move(0, 0);
    window->show();

    tab->model().customURL.set(server.url("/"));
    auto* go = findNamed<ui::PushButton>(tab, "go");
    ASSERT_TRUE(go->isEnabled());
    go->click();
    auto* sheet = tab->signInSheet();
    ASSERT_NE(sheet, nullptr);
    auto* connect = findNamed<ui::PushButton>(sheet, "connect");
    auto* title = findNamed<QLabel>(sheet, "title");
    ASSERT_TRUE(testsupport::runEventLoopUntil([&] { return seen(connect); }, kEngine))
        << "footer: " << findNamed<QLabel>(sheet, "prompt")->text().toStdString();
    EXPECT_EQ(connect->text(), "Connect 127.0.0.1");
    EXPECT_EQ(title->text(), "127.0.0.1");
    // What the display shows (a grab of the sheet leaves out what the engine draws on its own), once
    // the footer's fade has ended and the Connect button has been painted there.
    EXPECT_TRUE(testsupport::runEventLoopUntil([&] { return !sheet->isFooterFading(); }, 10s));
    PaintCounter painted;
    connect->installEventFilter(&painted);
    connect->update();
    EXPECT_TRUE(testsupport::runEventLoopUntil([&] { return painted.count > 0; }, 10s));
    QCoreApplication::processEvents();
    std::filesystem::create_directories(kShots);
    testsupport::runProcess({"import", "-window", "root", (kShots / "signin-engine.png").string()},
                            Environment::fromProcess());

    // The user follows a link to another host: only the title changes.
    const auto before = server.requestCount();
    auto* page = findNamed(sheet, "webView");
    const QPoint target = page->mapToGlobal(page->rect().center());
    sheet->activateWindow();
    ASSERT_TRUE(testsupport::runEventLoopUntil([&] { return sheet->isActiveWindow(); }, 30s));
    auto click = testsupport::runProcess({"xdotool", "mousemove", std::to_string(target.x()),
                                          std::to_string(target.y()), "click", "1"},
                                         Environment::fromProcess());
    ASSERT_TRUE(click.ok()) << click.describe();
    ASSERT_TRUE(testsupport::runEventLoopUntil([&] { return title->text() == "localhost"; }, 45s))
        << "title: " << title->text().toStdString();
    ASSERT_TRUE(server.waitForRequests(before + 1, 10s));
    EXPECT_TRUE(seen(connect));
    EXPECT_EQ(connect->text(), "Connect 127.0.0.1");

    connect->click();
    ASSERT_TRUE(testsupport::runEventLoopUntil([&] { return tab->signInSheet() == nullptr; }, 10s));
    EXPECT_EQ(ConnectedPublishers::hosts(defaults), std::vector<std::string>{"127.0.0.1"});
    auto rows = findAllNamed(tab, "connectedHost");
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(findNamed<QLabel>(rows.back(), "host")->text(), "127.0.0.1");

    // The cleaner loads a page of the connected host straight in the engine, with the session.
    CurlHttpClient http;
    ScriptedLanguageModel model;
    model.setAvailability(LanguageModelAvailability::deviceNotEligible);
    ArticleCleaner cleaner(ArticleCleaner::Dependencies{
        .main = main,
        .http = http,
        .web = *profile,
        .defaults = defaults,
        .languageModel = model,
        .readReadability = readBundledReadability,
        .loadTimeout = 30s,
    });
    const auto sent = server.requestCount();
    auto cleaning = spawn(main, cleaner.clean(server.url("/story")));
    ASSERT_TRUE(testsupport::runEventLoopUntil([&] { return cleaning.done(); }, 60s));
    ASSERT_TRUE(cleaning.value()) << cleaning.value().error().description;
    EXPECT_NE(cleaning.value()->textContent.find("The river survey began"), std::string::npos);
    EXPECT_TRUE(logs->contains("in-WebView load (authenticated=true): "));
    const auto requests = server.requests();
    std::vector<testsupport::LoopbackRequest> stories;
    std::copy_if(requests.begin() + static_cast<std::ptrdiff_t>(sent), requests.end(), std::back_inserter(stories),
                 [](const auto& r) { return r.path == "/story"; });
    ASSERT_EQ(stories.size(), 1u);  // loaded directly: no fetch of its own first
    const auto cookie = stories[0].header("Cookie");
    ASSERT_TRUE(cookie);
    EXPECT_NE(cookie->find(std::string("sessionid=") + kSessionValue), std::string::npos) << *cookie;

    // Remove takes the host off the list; the session stays in the profile.
    findNamed<ui::PushButton>(rows.back(), "remove")->click();
    EXPECT_TRUE(ConnectedPublishers::hosts(defaults).empty());
    auto cookies = spawn(main, profile->allCookies());
    ASSERT_TRUE(testsupport::runEventLoopUntil([&] { return cookies.done(); }, 10s));
    EXPECT_TRUE(std::any_of(cookies.value().begin(), cookies.value().end(),
                            [](const WebCookie& c) { return c.name == "sessionid" && c.value == kSessionValue; }));

    window.reset();
    profile.reset();
}

}  // namespace
