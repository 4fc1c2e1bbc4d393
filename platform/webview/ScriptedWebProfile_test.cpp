#include "platform/webview/ScriptedWebProfile.h"

#include <gtest/gtest.h>

#include "platform/runtime/ManualExecutor.h"

using namespace platform;
using Kind = WebNavigationEventKind;

namespace {

struct Events {
    std::vector<WebNavigationEvent> seen;
    WebNavigationObserver observer() {
        return [this](const WebNavigationEvent& e) { seen.push_back(e); };
    }
    std::vector<std::pair<Kind, WebNavigationId>> kinds() const {
        std::vector<std::pair<Kind, WebNavigationId>> out;
        for (const auto& e : seen) out.emplace_back(e.kind, e.navigation);
        return out;
    }
};

TEST(ScriptedWebProfile, RecordsLoadsAndPlaysThePlanToEachPageOnItsOwn) {
    ManualExecutor ex;
    ScriptedWebProfile profile(ex);
    profile.setNavigationPlan({{Kind::committed, milliseconds(10), {}}, {Kind::finished, milliseconds(30), {}}});
    auto a = profile.makePage();
    auto b = profile.makePage();
    Events ea, eb;
    a->setNavigationObserver(ea.observer());
    b->setNavigationObserver(eb.observer());

    const auto na = a->load({.url = "https://a.example/x", .headers = {{"User-Agent", "UA"}}, .timeout = seconds(60)});
    const auto nb = b->loadHTML("<p>hi</p>", "https://b.example/page");
    ex.advance(milliseconds(10));
    EXPECT_EQ(ea.kinds(), (std::vector<std::pair<Kind, WebNavigationId>>{{Kind::committed, na}}));
    ex.advance(milliseconds(20));
    EXPECT_EQ(ea.kinds(), (std::vector<std::pair<Kind, WebNavigationId>>{{Kind::committed, na}, {Kind::finished, na}}));
    EXPECT_EQ(eb.kinds(), (std::vector<std::pair<Kind, WebNavigationId>>{{Kind::committed, nb}, {Kind::finished, nb}}));
    for (const auto& e : ea.seen) EXPECT_EQ(e.page, a->id());
    for (const auto& e : eb.seen) EXPECT_EQ(e.page, b->id());

    const auto& pages = profile.pages();
    ASSERT_EQ(pages.size(), 2u);
    ASSERT_EQ(pages[0]->loads().size(), 1u);
    const auto& load = pages[0]->loads()[0];
    EXPECT_FALSE(load.isHTML);
    EXPECT_EQ(load.navigation, na);
    EXPECT_EQ(load.request.url, "https://a.example/x");
    EXPECT_EQ(load.request.headers, (std::vector<std::pair<std::string, std::string>>{{"User-Agent", "UA"}}));
    EXPECT_EQ(load.request.timeout, seconds(60));
    ASSERT_EQ(pages[1]->loads().size(), 1u);
    EXPECT_TRUE(pages[1]->loads()[0].isHTML);
    EXPECT_EQ(pages[1]->loads()[0].html, "<p>hi</p>");
    EXPECT_EQ(pages[1]->loads()[0].baseURL, "https://b.example/page");
    EXPECT_EQ(b->url(), "https://b.example/page");
}

TEST(ScriptedWebProfile, DeliversWhateverTheTestSendsAndNothingOnceThePageIsGone) {
    ManualExecutor ex;
    ScriptedWebProfile profile(ex);
    auto page = profile.makePage();
    Events events;
    page->setNavigationObserver(events.observer());
    const auto first = page->load({.url = "https://x.example/"});
    const auto second = page->load({.url = "https://x.example/2"});
    auto record = profile.pages()[0];
    // Out of order, repeated, and late for a navigation that was replaced.
    record->deliver(Kind::finished, second);
    record->deliver(Kind::finished, second);
    record->deliverAfter(milliseconds(5), Kind::provisionallyFailed, first, "late");
    ex.advance(milliseconds(5));
    ASSERT_EQ(events.seen.size(), 3u);
    EXPECT_EQ(events.seen[2].navigation, first);
    EXPECT_EQ(events.seen[2].errorDescription, "late");

    record->deliverAfter(milliseconds(5), Kind::finished, second);
    page.reset();
    ex.advance(milliseconds(5));
    record->deliver(Kind::finished, second);
    EXPECT_EQ(events.seen.size(), 3u);
    EXPECT_FALSE(record->alive());
}

TEST(ScriptedWebProfile, AnswersScriptsAsScriptedAndCancelsThemWhenThePageGoesFirst) {
    ManualExecutor ex;
    ScriptedWebProfile profile(ex);
    profile.answer("'x'", {WebScriptValue::string("x"), milliseconds(20)});
    profile.answer("throw 1", {fail(toError(WebViewError::scriptFailed, "boom")), {}});
    auto page = profile.makePage();

    auto slow = spawn(ex, page->evaluateJavaScript("'x'"));
    auto failing = spawn(ex, page->evaluateJavaScript("throw 1"));
    auto unscripted = spawn(ex, page->evaluateJavaScript("1 + 1"));
    ex.runUntilIdle();
    EXPECT_FALSE(slow.done());
    ASSERT_TRUE(failing.done());
    EXPECT_EQ(failing.value().error().description, "boom");
    ASSERT_TRUE(unscripted.done());
    EXPECT_FALSE(unscripted.value());
    ex.advance(milliseconds(20));
    ASSERT_TRUE(slow.done());
    EXPECT_EQ(slow.value(), WebScriptValue::string("x"));

    auto abandoned = spawn(ex, page->evaluateJavaScript("'x'"));
    ex.runUntilIdle();
    page.reset();
    ex.runUntilIdle();
    ASSERT_TRUE(abandoned.done());
    EXPECT_TRUE(abandoned.value().error().isCancellation());
    EXPECT_EQ(profile.pages()[0]->scripts(), (std::vector<std::string>{"'x'", "throw 1", "1 + 1", "'x'"}));
}

TEST(ScriptedWebProfile, ViewsRecordTheirHistoryRequestsAndCookiesAreAnsweredAsSet) {
    ManualExecutor ex;
    ScriptedWebProfile profile(ex);
    const std::vector<WebCookie> cookies{{"sessionid", "abcdefghij0123456789", ".news.example", "/"}};
    profile.setCookies(cookies);
    auto view = profile.makeView();
    EXPECT_EQ(view->widget(), nullptr);
    view->load({.url = "https://news.example/"});
    EXPECT_FALSE(view->canGoBack());
    view->load({.url = "https://news.example/login"});
    ASSERT_TRUE(view->canGoBack());
    view->goBack();
    EXPECT_EQ(profile.pages()[0]->backRequests(), 1);
    EXPECT_TRUE(profile.pages()[0]->isView());

    auto answer = spawn(ex, profile.allCookies());
    ex.runUntilIdle();
    ASSERT_TRUE(answer.done());
    EXPECT_EQ(answer.value(), cookies);
    EXPECT_EQ(profile.cookieQueries(), 1u);

    // Delayed queries answer with what was set when they were asked, each after its own delay.
    profile.setCookieDelay(seconds(2));
    auto slow = spawn(ex, profile.allCookies());
    profile.setCookies({});
    profile.setCookieDelay(seconds(1));
    auto fast = spawn(ex, profile.allCookies());
    ex.advance(seconds(1));
    ASSERT_TRUE(fast.done());
    EXPECT_TRUE(fast.value().empty());
    EXPECT_FALSE(slow.done());
    ex.advance(seconds(1));
    ASSERT_TRUE(slow.done());
    EXPECT_EQ(slow.value(), cookies);
}

}  // namespace
