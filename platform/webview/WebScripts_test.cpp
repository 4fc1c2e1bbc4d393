#include "platform/webview/WebScripts.h"

#include <gtest/gtest.h>

#include "platform/runtime/ManualExecutor.h"

using namespace platform;
namespace ws = platform::webscripts;

namespace {

TEST(WebScripts, ReadsEachKindOfTaggedAnswer) {
    struct Case {
        std::optional<std::string> answer;
        Result<WebScriptValue> expected;
    };
    const Case cases[] = {
        {R"({"kind":"string","value":"x"})", WebScriptValue::string("x")},
        {R"({"kind":"string","value":""})", WebScriptValue::string("")},
        {R"({"kind":"null"})", WebScriptValue::null()},
        {R"({"kind":"other","value":"42"})", WebScriptValue::other("42")},
        {R"({"kind":"error","message":"boom"})", fail(toError(WebViewError::scriptFailed, "boom"))},
    };
    for (const auto& c : cases) EXPECT_EQ(ws::readAnswer(c.answer), c.expected) << c.answer.value_or("<none>");
}

TEST(WebScripts, AnAnswerThatIsMissingOrUnreadableIsAScriptFailure) {
    for (const std::optional<std::string>& answer :
         {std::optional<std::string>{}, std::optional<std::string>{"not json"},
          std::optional<std::string>{R"({"value":"x"})"}, std::optional<std::string>{R"({"kind":"strange"})"}}) {
        auto r = ws::readAnswer(answer);
        ASSERT_FALSE(r) << answer.value_or("<none>");
        EXPECT_TRUE(r.error().is(kWebViewErrorDomain, static_cast<int>(WebViewError::scriptFailed)));
        EXPECT_FALSE(r.error().description.empty());
    }
}

TEST(WebScripts, TheWrapperCarriesTheScriptAsOneStringLiteral) {
    // Quotes and line ends cannot break out of the literal; invalid UTF-8 becomes U+FFFD.
    const std::string script = "a = \"q\";\n</script>'\xff";
    const auto wrapped = ws::wrap(script);
    EXPECT_NE(wrapped.find("(0, eval)(\"a = \\\"q\\\";\\n</script>'\xef\xbf\xbd\")"), std::string::npos) << wrapped;
}

TEST(WebScripts, BaseIsInsertedWhereTheDocumentResolvesItFirst) {
    const std::string base = R"(<base href="http://h/a?x=1&amp;y=&quot;2&quot;">)";
    const std::string url = "http://h/a?x=1&y=\"2\"";
    struct Case {
        std::string html, expected;
    };
    const Case cases[] = {
        {"<html><head><title>t</title></head></html>", "<html><head>" + base + "<title>t</title></head></html>"},
        {"<HTML><HEAD lang=en><header></header>", "<HTML><HEAD lang=en>" + base + "<header></header>"},
        {"<html><body>x</body></html>", "<html>" + base + "<body>x</body></html>"},
        {"<!DOCTYPE html><p>x", "<!DOCTYPE html>" + base + "<p>x"},
        {"<p>x</p>", base + "<p>x</p>"},
        // The document's own base wins, as it would in the engine.
        {"<head><BASE href=/other/></head>", "<head><BASE href=/other/></head>"},
    };
    for (const auto& c : cases) EXPECT_EQ(ws::withBase(c.html, url), c.expected) << c.html;
}

TEST(WebScripts, DataUrlLengthCountsEscapedBytesThreeTimes) {
    EXPECT_EQ(ws::dataUrlLength("aZ9-._~"), 7u);
    EXPECT_EQ(ws::dataUrlLength("<p>"), 7u);
    EXPECT_EQ(ws::dataUrlLength("\xc3\xa9"), 6u);
    EXPECT_GT(ws::dataUrlLength(std::string(ws::kDataUrlLimit / 3 + 1, '<')), ws::kDataUrlLimit);
}

TEST(WebScripts, PendingAnswersResolveOnceAndAreCancelledWhenTheirOwnerGoes) {
    ManualExecutor ex;
    auto pending = std::make_unique<ws::PendingAnswers>();
    auto [first, firstSlot] = pending->open();
    auto [second, secondSlot] = pending->open();
    auto answered = spawn(ex, ws::awaitAnswer(firstSlot));
    auto abandoned = spawn(ex, ws::awaitAnswer(secondSlot));
    ex.runUntilIdle();
    pending->resolve(first, WebScriptValue::string("a"));
    pending->resolve(first, WebScriptValue::string("late"));  // ignored
    pending.reset();
    ex.runUntilIdle();
    ASSERT_TRUE(answered.done());
    EXPECT_EQ(answered.value(), WebScriptValue::string("a"));
    ASSERT_TRUE(abandoned.done());
    ASSERT_FALSE(abandoned.value());
    EXPECT_TRUE(abandoned.value().error().isCancellation());
}

}  // namespace
