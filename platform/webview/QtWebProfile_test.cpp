#include "platform/webview/QtWebProfile.h"

#include <gtest/gtest.h>

#include <QWidget>
#include <algorithm>
#include <set>

#include "platform/runtime/QtMainExecutor.h"
#include "platform/runtime/Resources.h"
#include "platform/testsupport/EventLoop.h"
#include "platform/testsupport/LoopbackServer.h"
#include "platform/testsupport/OnDisplay.h"
#include "platform/testsupport/Services.h"
#include "platform/testsupport/TempHome.h"

using namespace platform;
using namespace std::chrono_literals;
using Kind = WebNavigationEventKind;
using testsupport::LoopbackReply;

namespace {

// The engine needs this before the test main creates the application object.
const bool kEnginePrepared = [] {
    prepareWebEngine();
    return true;
}();

// Bounds for the engine on a loaded two-core machine; loads take well under a second.
constexpr auto kEngineStart = 90s;
constexpr auto kLoad = 45s;

struct Recorder {
    std::vector<WebNavigationEvent> events;
    WebNavigationObserver observer() {
        return [this](const WebNavigationEvent& e) { events.push_back(e); };
    }
    std::vector<Kind> kindsOf(WebNavigationId navigation) const {
        std::vector<Kind> out;
        for (const auto& e : events)
            if (e.navigation == navigation) out.push_back(e.kind);
        return out;
    }
    bool ended(WebNavigationId navigation) const {
        return std::any_of(events.begin(), events.end(), [&](const WebNavigationEvent& e) {
            return e.navigation == navigation && e.kind != Kind::committed;
        });
    }
    const WebNavigationEvent* last(WebNavigationId navigation) const {
        for (auto it = events.rbegin(); it != events.rend(); ++it)
            if (it->navigation == navigation) return &*it;
        return nullptr;
    }
};

std::string page(const std::string& body) {
    return "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>t</title></head><body>" + body + "</body></html>";
}

LoopbackReply html(std::string body, int status = 200) {
    auto reply = LoopbackReply::text(status, std::move(body));
    reply.headers.push_back({"Content-Type", "text/html; charset=utf-8"});
    return reply;
}

class QtWebProfileTest : public ::testing::Test {
protected:
    void SetUp() override { PARLOWEN_REQUIRE_OR_SKIP(startEngine()); }

    void TearDown() override {
        pages.clear();
        profile.reset();
    }

    QtWebProfileLocation location() const { return {dir / "storage", dir / "cache"}; }

    // A profile and a first page that loads; the engine cannot start on every machine.
    Status startEngine() {
        profile = std::make_unique<QtWebProfile>(location());
        auto& probe = newPage();
        Recorder events;
        probe.setNavigationObserver(events.observer());
        const auto n = probe.loadHTML(page("<p>ready</p>"), "http://127.0.0.1/");
        if (!testsupport::runEventLoopUntil([&] { return events.ended(n); }, kEngineStart))
            return fail(Error::make("webview", 0, "engine", "the web engine did not load a page"));
        if (events.kindsOf(n).back() != Kind::finished)
            return fail(
                Error::make("webview", 0, "engine", "the web engine failed: " + events.last(n)->errorDescription));
        return ok();
    }

    WebPage& newPage() {
        pages.push_back(profile->makePage());
        return *pages.back();
    }

    template <class T>
    T run(Task<T> task) {
        auto handle = spawn(main, std::move(task));
        EXPECT_TRUE(testsupport::runEventLoopUntil([&] { return handle.done(); }, kLoad));
        return handle.value();
    }

    // Loads and waits until the navigation ends.
    WebNavigationId loadAndWait(WebPage& p, Recorder& events, WebRequest request) {
        const auto n = p.load(std::move(request));
        EXPECT_TRUE(testsupport::runEventLoopUntil([&] { return events.ended(n); }, kLoad));
        return n;
    }

    // Ends after the profile: the engine's open connections would hold its stop up.
    testsupport::LoopbackServer server;
    testsupport::TempDir dir;
    QtMainExecutor main;
    std::unique_ptr<QtWebProfile> profile;
    std::vector<std::unique_ptr<WebPage>> pages;
};

TEST_F(QtWebProfileTest, RequestLoadSendsTheGivenUserAgentAndFinishesEachNavigationOnce) {
    server.route("GET", "/article", html(page("<p>text</p><img src=\"pic.png\">")));
    server.route("GET", "/pic.png", LoopbackReply::text(200, "not really a picture"));
    auto& p = newPage();
    Recorder events;
    p.setNavigationObserver(events.observer());

    const auto first = loadAndWait(
        p, events, {.url = server.url("/article"), .headers = {{"User-Agent", "Parlowen-Test/1.0"}}, .timeout = 30s});
    EXPECT_EQ(events.kindsOf(first), (std::vector<Kind>{Kind::committed, Kind::finished}));
    EXPECT_EQ(p.url(), server.url("/article"));
    // An HTTP error page is still a page that finishes.
    const auto missing = loadAndWait(p, events, {.url = server.url("/missing")});
    EXPECT_EQ(events.kindsOf(missing), (std::vector<Kind>{Kind::committed, Kind::finished}));
    EXPECT_EQ(events.kindsOf(first), (std::vector<Kind>{Kind::committed, Kind::finished}));
    for (const auto& e : events.events) EXPECT_EQ(e.page, p.id());

    const auto requests = server.requests();
    auto find = [&](const std::string& path) {
        return std::find_if(requests.begin(), requests.end(), [&](const auto& r) { return r.path == path; });
    };
    ASSERT_NE(find("/article"), requests.end());
    EXPECT_EQ(find("/article")->header("User-Agent"), "Parlowen-Test/1.0");
    // Only what the engine sends with every navigation besides.
    const std::set<std::string> engineHeaders{"host", "connection", "user-agent", "accept", "accept-encoding",
                                              "accept-language", "upgrade-insecure-requests", "sec-fetch-site",
                                              "sec-fetch-mode", "sec-fetch-user", "sec-fetch-dest", "cookie",
                                              // the loopback server's own notes
                                              "local_addr", "local_port", "remote_addr", "remote_port"};
    for (const auto& [name, value] : find("/article")->headers) {
        std::string lower = name;
        std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
        EXPECT_TRUE(engineHeaders.count(lower)) << name << ": " << value;
    }
    // The page's own requests carry the profile's browser string.
    ASSERT_NE(find("/pic.png"), requests.end());
    EXPECT_EQ(find("/pic.png")->header("User-Agent"), kBrowserUserAgent);
}

TEST_F(QtWebProfileTest, HtmlResolvesAgainstItsBaseURLSmallOrAboveTheEnginesDataLimit) {
    server.route("GET", "/dir/pic.png", LoopbackReply::text(200, "image"));
    server.route("GET", "/dir/big.png", LoopbackReply::text(200, "image"));
    struct Case {
        std::string name, picture;
        std::size_t padding;
    };
    for (const auto& c : {Case{"small", "pic.png", 0}, Case{"3 MB", "big.png", 3 * 1024 * 1024}}) {
        SCOPED_TRACE(c.name);
        auto& p = newPage();
        Recorder events;
        p.setNavigationObserver(events.observer());
        const auto base = server.url("/dir/page.html");
        const auto n = p.loadHTML(page("<p id=\"t\">caf\xc3\xa9</p><a id=\"l\" href=\"next.html\">next</a><img src=\"" +
                                       c.picture + "\"><!--" + std::string(c.padding, 'x') + "-->"),
                                  base);
        ASSERT_TRUE(testsupport::runEventLoopUntil([&] { return events.ended(n); }, kLoad));
        EXPECT_EQ(events.kindsOf(n), (std::vector<Kind>{Kind::committed, Kind::finished}))
            << events.last(n)->errorDescription;
        EXPECT_EQ(p.url(), base);
        EXPECT_EQ(run(p.evaluateJavaScript("document.getElementById('l').href")),
                  WebScriptValue::string(server.url("/dir/next.html")));
        EXPECT_EQ(run(p.evaluateJavaScript("document.getElementById('t').textContent")),
                  WebScriptValue::string("caf\xc3\xa9"));
        const auto requests = server.requests();
        EXPECT_TRUE(std::any_of(requests.begin(), requests.end(),
                                [&](const auto& r) { return r.path == "/dir/" + c.picture; }));
    }
}

TEST_F(QtWebProfileTest, ScriptAnswersAreStringsNullsOtherValuesOrErrors) {
    auto& p = newPage();
    Recorder events;
    p.setNavigationObserver(events.observer());
    const auto n = p.loadHTML(page("<p>x</p>"), "http://127.0.0.1/");
    ASSERT_TRUE(testsupport::runEventLoopUntil([&] { return events.ended(n); }, kLoad));

    struct Case {
        std::string script;
        Result<WebScriptValue> expected;
    };
    const Case cases[] = {
        {"'x'", WebScriptValue::string("x")},
        {"null", WebScriptValue::null()},
        {"undefined", WebScriptValue::null()},
        {"42", WebScriptValue::other("42")},
        {"({a: [1, 'b']})", WebScriptValue::other(R"({"a":[1,"b"]})")},
        {"throw new Error('boom')", fail(toError(WebViewError::scriptFailed, "boom"))},
        {"document.querySelector('p').textContent", WebScriptValue::string("x")},
        // Declarations stay for the scripts that follow, as a library and its caller need.
        {"function answer() { return 'kept'; }", WebScriptValue::null()},
        {"answer()", WebScriptValue::string("kept")},
    };
    for (const auto& c : cases) EXPECT_EQ(run(p.evaluateJavaScript(c.script)), c.expected) << c.script;

    auto syntax = run(p.evaluateJavaScript("this is not javascript("));
    ASSERT_FALSE(syntax);
    EXPECT_TRUE(syntax.error().is(kWebViewErrorDomain, static_cast<int>(WebViewError::scriptFailed)));
    EXPECT_FALSE(syntax.error().description.empty());
}

TEST_F(QtWebProfileTest, RefusedAndSilentServersFailProvisionallyAndPagesSeeOnlyTheirOwnEvents) {
    testsupport::RefusingPort refusing;
    testsupport::SilentPort silent;
    server.route("GET", "/a", html(page("<p>a</p>")));
    auto& refused = newPage();
    auto& waiting = newPage();
    auto& ok = newPage();
    Recorder refusedEvents, waitingEvents, okEvents;
    refused.setNavigationObserver(refusedEvents.observer());
    waiting.setNavigationObserver(waitingEvents.observer());
    ok.setNavigationObserver(okEvents.observer());

    // All three at once.
    const auto r = refused.load({.url = refusing.url("/x"), .timeout = 30s});
    const auto w = waiting.load({.url = silent.url("/x"), .timeout = 1500ms});
    const auto o = ok.load({.url = server.url("/a"), .timeout = 30s});
    ASSERT_TRUE(testsupport::runEventLoopUntil(
        [&] { return refusedEvents.ended(r) && waitingEvents.ended(w) && okEvents.ended(o); }, kLoad));

    EXPECT_EQ(refusedEvents.last(r)->kind, Kind::provisionallyFailed);
    EXPECT_NE(refusedEvents.last(r)->errorDescription.find("ERR_CONNECTION_REFUSED"), std::string::npos)
        << refusedEvents.last(r)->errorDescription;
    EXPECT_EQ(waitingEvents.kindsOf(w), (std::vector<Kind>{Kind::provisionallyFailed}));
    EXPECT_EQ(waitingEvents.last(w)->errorDescription, kWebRequestTimedOut);
    EXPECT_EQ(okEvents.kindsOf(o), (std::vector<Kind>{Kind::committed, Kind::finished}));
    struct Seen {
        const Recorder& events;
        WebPageId page;
        WebNavigationId navigation;
    };
    for (const auto& seen :
         {Seen{refusedEvents, refused.id(), r}, Seen{waitingEvents, waiting.id(), w}, Seen{okEvents, ok.id(), o}})
        for (const auto& e : seen.events.events) {
            EXPECT_EQ(e.page, seen.page);
            EXPECT_EQ(e.navigation, seen.navigation);
        }
}

bool hasCookie(const std::vector<WebCookie>& cookies, const WebCookie& wanted) {
    return std::find(cookies.begin(), cookies.end(), wanted) != cookies.end();
}

const WebCookie kSession{"sessionid", "abcdefghij0123456789", "127.0.0.1", "/"};
constexpr const char* kProfileFolderVariable = "PARLOWEN_WEBVIEW_TEST_PROFILE";

TEST_F(QtWebProfileTest, CookiesOfResponsesStayOnDiskForTheNextProcessAndLeaveWhenThePageDeletesThem) {
    auto login = html(page("<p>signed in</p>"));
    login.headers.push_back({"Set-Cookie", "sessionid=abcdefghij0123456789; Path=/"});
    server.route("GET", "/login", login);
    server.route(
        "GET", "/logout",
        html(page("<script>document.cookie = 'sessionid=; expires=Thu, 01 Jan 1970 00:00:00 GMT; path=/';</script>")));

    auto& p = newPage();
    Recorder events;
    p.setNavigationObserver(events.observer());
    const auto n = loadAndWait(p, events, {.url = server.url("/login")});
    ASSERT_EQ(events.last(n)->kind, Kind::finished);
    EXPECT_TRUE(testsupport::runEventLoopUntil([&] { return hasCookie(run(profile->allCookies()), kSession); }, kLoad));

    // Another process on the same profile folder, once this one has closed it.
    pages.clear();
    profile.reset();
    const auto child = testsupport::runProcess(
        {executablePath().string(), "--gtest_also_run_disabled_tests",
         "--gtest_filter=QtWebProfileChild.DISABLED_SeesTheSessionCookie"},
        Environment::fromProcess().with(kProfileFolderVariable, dir.path().string()), {.timeout = 120s});
    EXPECT_TRUE(child.ok()) << child.describe() << child.out;
    EXPECT_NE(child.out.find("[  PASSED  ] 1 test."), std::string::npos) << child.out;

    // Back in this process: the page deletes it.
    profile = std::make_unique<QtWebProfile>(location());
    EXPECT_TRUE(hasCookie(run(profile->allCookies()), kSession));
    auto& again = newPage();
    Recorder againEvents;
    again.setNavigationObserver(againEvents.observer());
    loadAndWait(again, againEvents, {.url = server.url("/logout")});
    EXPECT_TRUE(
        testsupport::runEventLoopUntil([&] { return !hasCookie(run(profile->allCookies()), kSession); }, kLoad));
}

// Run by the test above in a process of its own.
TEST(QtWebProfileChild, DISABLED_SeesTheSessionCookie) {
    const auto folder = Environment::fromProcess().value(kProfileFolderVariable);
    ASSERT_FALSE(folder.empty());
    QtMainExecutor main;
    QtWebProfile profile({std::filesystem::path(folder) / "storage", std::filesystem::path(folder) / "cache"});
    auto handle = spawn(main, profile.allCookies());
    ASSERT_TRUE(testsupport::runEventLoopUntil([&] { return handle.done(); }, kLoad));
    EXPECT_TRUE(hasCookie(handle.value(), kSession));
}

// The visible view, on a real display.
TEST(QtWebView, CommitsThenFinishesAndGoesBackToTheFirstPage) {
    if (!testsupport::onDisplayChild()) {
        testsupport::XvfbDisplay display;
        PARLOWEN_REQUIRE_OR_SKIP(display.start());
        return testsupport::runCurrentTestOnDisplay(display.environment(), 150s);
    }
    testsupport::LoopbackServer server;
    server.route("GET", "/first", html(page("<h1>First page</h1>")));
    server.route("GET", "/second", html(page("<h1>Second page</h1>")));
    testsupport::TempDir dir;
    QtMainExecutor main;
    auto profile = std::make_unique<QtWebProfile>(QtWebProfileLocation{dir / "storage", dir / "cache"});
    auto view = profile->makeView();
    ASSERT_NE(view->widget(), nullptr);
    view->widget()->resize(800, 600);
    view->widget()->show();
    Recorder events;
    std::vector<std::optional<std::string>> committedURLs;
    view->setNavigationObserver([&](const WebNavigationEvent& e) {
        events.events.push_back(e);
        if (e.kind == Kind::committed) committedURLs.push_back(view->url());
    });
    const auto first = view->load({.url = server.url("/first"), .timeout = 30s});
    ASSERT_TRUE(testsupport::runEventLoopUntil([&] { return events.ended(first); }, kEngineStart));
    EXPECT_EQ(events.kindsOf(first), (std::vector<Kind>{Kind::committed, Kind::finished}));
    EXPECT_EQ(view->url(), server.url("/first"));
    EXPECT_FALSE(view->canGoBack());

    const auto second = view->load({.url = server.url("/second"), .timeout = 30s});
    ASSERT_TRUE(testsupport::runEventLoopUntil([&] { return events.ended(second); }, kLoad));
    EXPECT_EQ(view->url(), server.url("/second"));
    ASSERT_TRUE(view->canGoBack());

    const auto before = events.events.size();
    view->goBack();
    ASSERT_TRUE(testsupport::runEventLoopUntil([&] { return events.events.size() >= before + 2; }, kLoad));
    const auto backNavigation = events.events[before].navigation;
    EXPECT_NE(backNavigation, second);
    EXPECT_EQ(events.kindsOf(backNavigation), (std::vector<Kind>{Kind::committed, Kind::finished}));
    EXPECT_EQ(view->url(), server.url("/first"));
    EXPECT_EQ(committedURLs, (std::vector<std::optional<std::string>>{server.url("/first"), server.url("/second"),
                                                                      server.url("/first")}));
    EXPECT_TRUE(view->canGoForward());

    // The mouse's forward button and Alt+Left, as a user gives them.
    view->widget()->activateWindow();
    view->widget()->setFocus();
    ASSERT_TRUE(testsupport::runEventLoopUntil([&] { return view->widget()->isActiveWindow(); }, kLoad));
    const auto env = Environment::fromProcess();
    auto forward = testsupport::runProcess({"xdotool", "mousemove", "200", "200", "click", "9"}, env);
    ASSERT_TRUE(forward.ok()) << forward.describe();
    EXPECT_TRUE(testsupport::runEventLoopUntil(
        [&] { return view->url() == server.url("/second") && events.events.back().kind == Kind::finished; }, kLoad));
    auto back = testsupport::runProcess({"xdotool", "key", "alt+Left"}, env);
    ASSERT_TRUE(back.ok()) << back.describe();
    EXPECT_TRUE(testsupport::runEventLoopUntil(
        [&] { return view->url() == server.url("/first") && events.events.back().kind == Kind::finished; }, kLoad));

    view.reset();
    profile.reset();
}

}  // namespace
