// The cleaner on the real web engine, the libcurl client and the bundled
// readability script, against pages on 127.0.0.1.

#include <gtest/gtest.h>

#include <algorithm>

#include "Parlowen/listenlater/render/cleaner/ArticleCleaner.h"
#include "Parlowen/listenlater/render/cleaner/ConnectedPublishers.h"
#include "platform/defaults/InMemoryUserDefaults.h"
#include "platform/http/CurlHttpClient.h"
#include "platform/languagemodel/ScriptedLanguageModel.h"
#include "platform/log/CaptureSink.h"
#include "platform/runtime/QtMainExecutor.h"
#include "platform/testsupport/EventLoop.h"
#include "platform/testsupport/LoopbackServer.h"
#include "platform/testsupport/Services.h"
#include "platform/testsupport/TempHome.h"
#include "platform/webview/QtWebProfile.h"

using namespace parlowen;
using namespace platform;
using namespace std::chrono_literals;

namespace {

// The engine needs this before the test main creates the application object.
const bool kEnginePrepared = [] {
    prepareWebEngine();
    return true;
}();

const std::string kArticle = R"(<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>The River Survey</title>
<meta property="og:image" content="/images/river.jpg">
<SCRIPT type="text/javascript">
  document.title = "changed by a script";
</SCRIPT>
</head><body>
<nav><a href="/">Home</a> <a href="/news">News</a></nav>
<article>
<h1>The River Survey</h1>
<p>Advertisement</p>
<p>Skip to content</p>
<p>The river survey began on a cold morning in March, when the first team set out from the old mill with nets, notebooks and a borrowed boat that leaked at the stern.</p>
<p>Over the following weeks the volunteers counted fish, measured the water at eleven places along the bank, and wrote down every bird that came to the shallows near the bridge.</p>
<p>By the end of the spring they had filled four notebooks, and the town council agreed to publish the results so that anyone could compare them with the counts of earlier years.</p>
<p>The team plans to repeat the survey every year, and it is looking for more people who can spare a few mornings and do not mind getting their boots wet.</p>
</article>
<footer>Contact us</footer>
</body></html>)";

class ArticleCleanerEngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto html = testsupport::LoopbackReply::text(200, kArticle);
        html.headers.push_back({"Content-Type", "text/html; charset=utf-8"});
        server.route("GET", "/story", html);
        model.setAvailability(LanguageModelAvailability::deviceNotEligible);
        profile = std::make_unique<QtWebProfile>(QtWebProfileLocation{dir / "storage", dir / "cache"});
        // The real time-out: a busy machine can take seconds to start the engine's processes.
        useLoadTimeout(30s);
        if (!readBundledReadability())
            PARLOWEN_REQUIRE_OR_SKIP(Status(
                fail(Error::make("readability", 0, "missing", "Readability.js is not installed (scripts/setup)"))));
    }
    void TearDown() override {
        cleaner.reset();
        profile.reset();
    }

    void useLoadTimeout(platform::Duration timeout) {
        cleaner = std::make_unique<ArticleCleaner>(ArticleCleaner::Dependencies{
            .main = main,
            .http = http,
            .web = *profile,
            .defaults = defaults,
            .languageModel = model,
            .readReadability = readBundledReadability,
            .loadTimeout = timeout,
        });
    }

    Result<CleanedArticle> clean(const std::string& url) {
        auto handle = spawn(main, cleaner->clean(url));
        EXPECT_TRUE(testsupport::runEventLoopUntil([&] { return handle.done(); }, 90s));
        return handle.value();
    }

    ScopedLogCapture logs;
    testsupport::LoopbackServer server;  // ends after the profile, whose open connections would hold it up
    testsupport::TempDir dir;
    QtMainExecutor main;
    CurlHttpClient http;
    InMemoryUserDefaults defaults;
    ScriptedLanguageModel model;
    std::unique_ptr<QtWebProfile> profile;
    std::unique_ptr<ArticleCleaner> cleaner;
};

TEST_F(ArticleCleanerEngineTest, CleansAFetchedPageAndADirectlyLoadedOne) {
    auto fetched = clean(server.url("/story"));
    ASSERT_TRUE(fetched) << fetched.error().description;
    EXPECT_EQ(fetched->title, "The River Survey");
    EXPECT_TRUE(fetched->textContent.starts_with("The river survey began on a cold morning in March"))
        << fetched->textContent;
    EXPECT_NE(fetched->textContent.find("leaked at the stern. Over the following weeks"), std::string::npos);
    EXPECT_TRUE(fetched->textContent.ends_with("getting their boots wet.")) << fetched->textContent;
    ASSERT_TRUE(fetched->heroImageURL);
    EXPECT_EQ(fetched->heroImageURL->absoluteString(), server.url("/images/river.jpg"));
    EXPECT_TRUE(logs->contains("fm polish skipped: system model unavailable"));

    // Connected: the page comes straight into the engine, with only the user agent of the cleaner's own.
    ConnectedPublishers::connect(defaults, "127.0.0.1");
    const auto before = server.requestCount();
    auto direct = clean(server.url("/story"));
    ASSERT_TRUE(direct) << direct.error().description;
    // The page's own script ran this time (it renamed the document).
    EXPECT_NE(direct->textContent.find("The river survey began"), std::string::npos) << direct->textContent;
    EXPECT_TRUE(logs->contains("in-WebView load (authenticated=true): "));
    const auto requests = server.requests();
    auto story = std::find_if(requests.begin() + static_cast<std::ptrdiff_t>(before), requests.end(),
                              [](const auto& r) { return r.path == "/story"; });
    ASSERT_NE(story, requests.end());
    EXPECT_EQ(story->header("User-Agent"), kBrowserUserAgent);
    // The engine's request (it asks for compressed bodies; the cleaner's fetch does not), and no fetch besides.
    EXPECT_TRUE(story->header("Accept-Encoding"));
    EXPECT_EQ(std::count_if(requests.begin() + static_cast<std::ptrdiff_t>(before), requests.end(),
                            [](const auto& r) { return r.path == "/story"; }),
              1);
}

TEST_F(ArticleCleanerEngineTest, TheStaticFetchSendsItsHeadersReadsLatin1AndKeepsCookies) {
    auto first = testsupport::LoopbackReply::text(200, "<p>caf\xe9</p>");
    first.headers.push_back({"Set-Cookie", "visitor=v42; Path=/"});
    server.route("GET", "/first", first);
    server.route("GET", "/second", testsupport::LoopbackReply::text(200, "<p>second</p>"));
    auto fetch = [&](const std::string& path) {
        auto handle = spawn(main, cleaner->staticFetch(*Url::parse(server.url(path))));
        EXPECT_TRUE(testsupport::runEventLoopUntil([&] { return handle.done(); }, 30s));
        return handle.value();
    };
    EXPECT_EQ(fetch("/first"), "<p>caf\xc3\xa9</p>");  // not UTF-8: read as Latin-1
    EXPECT_EQ(fetch("/second"), "<p>second</p>");

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"User-Agent", kBrowserUserAgent},
        {"Accept", "text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8"},
        {"Accept-Language", "en-US,en;q=0.9"},
        {"Upgrade-Insecure-Requests", "1"},
        {"Sec-Fetch-Site", "none"},
        {"Sec-Fetch-Mode", "navigate"},
        {"Sec-Fetch-User", "?1"},
        {"Sec-Fetch-Dest", "document"},
    };
    for (const auto& [name, value] : expected) EXPECT_EQ(requests[0].header(name), value) << name;
    // Nothing else but the host (the server adds the connection's addresses to what it records).
    for (const auto& [name, value] : requests[0].headers) {
        const bool ours = std::any_of(expected.begin(), expected.end(), [&](const auto& e) {
            return equalsIgnoringCase(e.first, name);
        });
        const bool server = name == "LOCAL_ADDR" || name == "LOCAL_PORT" || name == "REMOTE_ADDR" ||
                            name == "REMOTE_PORT";
        EXPECT_TRUE(ours || server || equalsIgnoringCase(name, "Host")) << name << ": " << value;
    }
    EXPECT_EQ(requests[0].header("Cookie"), std::nullopt);
    EXPECT_EQ(requests[1].header("Cookie"), "visitor=v42");
}

TEST_F(ArticleCleanerEngineTest, ARefusedPortAndAPageThatNeverArrivesFail) {
    testsupport::RefusingPort refusing;
    auto refused = clean(refusing.url("/story"));
    ASSERT_FALSE(refused);
    EXPECT_NE(refused.error().description.find("Couldn't fetch the page: net::ERR_CONNECTION_REFUSED"),
              std::string::npos)
        << refused.error().description;

    testsupport::SilentPort silent;
    ConnectedPublishers::connect(defaults, "127.0.0.1");  // straight to the engine, no fetch first
    useLoadTimeout(3s);  // a page that never arrives: no need to wait the full time
    auto waiting = clean(silent.url("/story"));
    ASSERT_FALSE(waiting);
    std::string timedOut = "Couldn't fetch the page: ";
    timedOut += ArticleCleaner::kLoadTimedOut;
    EXPECT_EQ(waiting.error().description, timedOut);
}

}  // namespace
