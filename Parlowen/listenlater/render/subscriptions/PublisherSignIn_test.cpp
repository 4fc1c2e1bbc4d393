// The sign-in sheet's logic on the scripted web layer, in virtual time.

#include "Parlowen/listenlater/render/subscriptions/PublisherSignIn.h"

#include <gtest/gtest.h>

#include "Parlowen/listenlater/render/cleaner/ConnectedPublishers.h"
#include "platform/defaults/InMemoryUserDefaults.h"
#include "platform/runtime/ManualExecutor.h"
#include "platform/webview/ScriptedWebProfile.h"

using namespace parlowen;
using namespace platform;
using Kind = WebNavigationEventKind;

namespace {

const std::string kSession(20, 'x');

class SignInTest : public ::testing::Test {
protected:
    void open(const std::string& start) {
        auto url = Url::parse(start);
        ASSERT_TRUE(url) << start;
        sheet = std::make_unique<PublisherSignInViewModel>(
            PublisherSignInViewModel::Dependencies{main, web, defaults}, *url,
            [this](const std::string& host) { connected.push_back(host); }, [this] { ++dismissed; });
        view = sheet->makeWebView();
        page = web.pages().back();
    }

    // The page shows `url` and its navigation commits and finishes.
    void navigate(const std::string& url) {
        const auto n = ++navigation;
        page->setURL(url);
        page->deliver(Kind::committed, n);
        page->deliver(Kind::finished, n);
        main.runUntilIdle();
    }

    SignInFooter footer() const { return sheet->currentState().footer; }
    std::string title() const { return sheet->currentState().title; }

    ManualExecutor main;
    ScriptedWebProfile web{main};
    InMemoryUserDefaults defaults;
    std::vector<std::string> connected;
    int dismissed = 0;
    std::unique_ptr<PublisherSignInViewModel> sheet;
    std::unique_ptr<WebView> view;
    std::shared_ptr<ScriptedWebProfile::PageRecord> page;
    WebNavigationId navigation = 100;
};

TEST_F(SignInTest, DisplayHostNamesTheStartAddressAndTheViewLoadsItOnceWithTheSheetsRequest) {
    struct Case {
        const char* start;
        const char* displayHost;
    };
    const Case cases[] = {
        {"https://www.news.example/", "news.example"},
        {"https://NEWS.Example.org/front", "news.example.org"},
        {"https://www.www.example.net/", "www.example.net"},  // one "www." only
        {"mailto:someone@news.example", "this site"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.start);
        open(c.start);
        EXPECT_EQ(sheet->displayHost(), c.displayHost);
        EXPECT_EQ(sheet->coordinator().targetHost(), c.displayHost);
        EXPECT_EQ(title(), c.displayHost);
        EXPECT_EQ(footer(), SignInFooter::signInPrompt);
        EXPECT_EQ(signInPrompt(sheet->displayHost()), std::string("Sign in to your ") + c.displayHost +
                                                          " account above. Connect unlocks once Quon detects your "
                                                          "session.");
        EXPECT_EQ(signInConnectLabel(sheet->displayHost()), std::string("Connect ") + c.displayHost);
        ASSERT_TRUE(page->isView());
        ASSERT_EQ(page->loads().size(), 1u);
        const auto& request = page->loads()[0].request;
        EXPECT_EQ(request.url, Url::parse(c.start)->absoluteString());
        EXPECT_EQ(request.timeout, seconds(60));
        EXPECT_EQ(request.headers, (std::vector<std::pair<std::string, std::string>>{
                                       {"User-Agent",
                                        "Mozilla/5.0 (Macintosh; Intel Mac OS X 14_0) AppleWebKit/605.1.15 (KHTML, "
                                        "like Gecko) Version/17.0 Safari/605.1.15"}}));
    }
}

TEST_F(SignInTest, ConnectStoresTheStartHostReportsTheDisplayHostAndClosesOnce) {
    open("https://www.News.example/");
    navigate("https://login.accounts.example/signin?next=news");
    // Another host shows only in the title.
    EXPECT_EQ(title(), "login.accounts.example");
    EXPECT_EQ(footer(), SignInFooter::signInPromptWithConnectAnyway);

    sheet->connect();
    EXPECT_EQ(ConnectedPublishers::hosts(defaults), std::vector<std::string>{"news.example"});
    EXPECT_EQ(connected, std::vector<std::string>{"news.example"});
    EXPECT_EQ(dismissed, 1);
    // A second press while the sheet closes, or Done after it, does nothing more.
    sheet->connect();
    sheet->done();
    EXPECT_EQ(connected.size(), 1u);
    EXPECT_EQ(dismissed, 1);
}

TEST_F(SignInTest, WithoutAHostConnectStoresNothingButStillReportsThisSiteAndCloses) {
    open("mailto:someone@news.example");
    // The check compares cookie domains with "this site" and never succeeds.
    web.setCookies({{"sessionid", kSession, "news.example", "/"}});
    navigate("mailto:someone@news.example");
    EXPECT_EQ(title(), "this site");
    EXPECT_EQ(footer(), SignInFooter::signInPromptWithConnectAnyway);
    sheet->connect();
    EXPECT_TRUE(ConnectedPublishers::hosts(defaults).empty());
    EXPECT_FALSE(defaults.object(ConnectedPublishers::kHostsKey));
    EXPECT_EQ(connected, std::vector<std::string>{"this site"});
    EXPECT_EQ(dismissed, 1);
}

TEST_F(SignInTest, DoneClosesAndStoresNothingEvenWhenSignedIn) {
    open("https://news.example/");
    web.setCookies({{"sessionid", kSession, "news.example", "/"}});
    navigate("https://news.example/");
    ASSERT_EQ(footer(), SignInFooter::signedIn);
    sheet->done();
    EXPECT_EQ(dismissed, 1);
    EXPECT_TRUE(connected.empty());
    EXPECT_FALSE(defaults.object(ConnectedPublishers::kHostsKey));
    sheet->connect();  // the sheet is closing: too late
    EXPECT_TRUE(connected.empty());
}

TEST_F(SignInTest, FooterWaitsForAFinishedNavigationAndFollowsEachCheck) {
    open("https://news.example/");
    // Failures and commits alone never offer Connect anyway.
    page->deliver(Kind::provisionallyFailed, page->lastNavigation(), "net::ERR_NAME_NOT_RESOLVED");
    page->setURL("https://news.example/");
    page->deliver(Kind::committed, 7);
    page->deliver(Kind::failed, 7, "net::ERR_CONNECTION_RESET");
    main.runUntilIdle();
    EXPECT_EQ(footer(), SignInFooter::signInPrompt);
    EXPECT_EQ(web.cookieQueries(), 0u);

    // A finish without a qualifying cookie: the check has started before its answer comes.
    web.setCookieDelay(seconds(1));
    web.setCookies({{"sessionid", "short", "news.example", "/"}});
    navigate("https://news.example/");
    EXPECT_EQ(footer(), SignInFooter::signInPromptWithConnectAnyway);
    main.advance(seconds(1));
    EXPECT_EQ(footer(), SignInFooter::signInPromptWithConnectAnyway);

    // A session appears (the user signed in).
    web.setCookies({{"sessionid", kSession, "news.example", "/"}});
    navigate("https://news.example/account");
    main.advance(seconds(1));
    EXPECT_EQ(footer(), SignInFooter::signedIn);

    // Signed out on the page: the next check reverts the footer.
    web.setCookies({});
    navigate("https://news.example/");
    main.advance(seconds(1));
    EXPECT_EQ(footer(), SignInFooter::signInPromptWithConnectAnyway);
    EXPECT_EQ(web.cookieQueries(), 3u);
}

TEST_F(SignInTest, OfOverlappingChecksTheAnswerArrivingLastWins) {
    open("https://news.example/");
    // The first check answers late, with a session.
    web.setCookies({{"sessionid", kSession, "news.example", "/"}});
    web.setCookieDelay(seconds(2));
    navigate("https://news.example/login");
    // The second answers early, without one.
    web.setCookies({});
    web.setCookieDelay(seconds(1));
    navigate("https://news.example/");
    main.advance(seconds(1));
    EXPECT_EQ(footer(), SignInFooter::signInPromptWithConnectAnyway);
    main.advance(seconds(1));
    EXPECT_EQ(footer(), SignInFooter::signedIn);

    // And the other way round.
    web.setCookies({});
    web.setCookieDelay(seconds(2));
    navigate("https://news.example/logout");
    web.setCookies({{"sessionid", kSession, "news.example", "/"}});
    web.setCookieDelay(seconds(1));
    navigate("https://news.example/");
    main.advance(seconds(2));
    EXPECT_EQ(footer(), SignInFooter::signInPromptWithConnectAnyway);
}

TEST_F(SignInTest, CookieRulesDecideTheFooter) {
    struct Case {
        const char* what;
        const char* start;
        WebCookie cookie;
        bool signedIn;
    };
    const std::string fifteen(15, 'v');
    const std::string sixteen(16, 'v');
    const Case cases[] = {
        {"15 characters", "https://news.example/", {"sessionid", fifteen, "news.example", "/"}, false},
        {"16 characters", "https://news.example/", {"sessionid", sixteen, "news.example", "/"}, true},
        {"dot domain", "https://news.example/", {"auth_token", sixteen, ".news.example", "/"}, true},
        {"www domain", "https://news.example/", {"member", sixteen, "www.news.example", "/"}, true},
        {"subdomain", "https://news.example/", {"login", sixteen, "accounts.news.example", "/"}, true},
        {"parent domain", "https://reader.news.example/", {"sess", sixteen, ".news.example", "/"}, true},
        {"SID in capitals", "https://news.example/", {"SID", sixteen, "news.example", "/"}, true},
        {"name ending in -s", "https://news.example/", {"pref-s", sixteen, "news.example", "/"}, true},
        {"no marker", "https://news.example/", {"theme", std::string(64, 'v'), "news.example", "/"}, false},
        {"same ending, other domain", "https://news.example/", {"sessionid", sixteen, "othernews.example", "/"},
         false},
        {"path of its own", "https://news.example/", {"remember", sixteen, "news.example", "/account/"}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        web.setCookies({c.cookie});
        open(c.start);
        navigate(c.start);
        EXPECT_EQ(footer(), c.signedIn ? SignInFooter::signedIn : SignInFooter::signInPromptWithConnectAnyway);
    }
}

TEST_F(SignInTest, AClosedSheetIgnoresLateEventsAndAnswers) {
    open("https://news.example/");
    web.setCookies({{"sessionid", kSession, "news.example", "/"}});
    web.setCookieDelay(seconds(1));
    navigate("https://news.example/");
    sheet.reset();  // the sheet closed with a check waiting, and its view lives on a moment
    page->setURL("https://news.example/after");
    page->deliver(Kind::finished, 500);
    main.advance(seconds(2));
    EXPECT_EQ(web.cookieQueries(), 1u);
    EXPECT_TRUE(connected.empty());
}

}  // namespace
