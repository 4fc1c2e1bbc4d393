// The Claude client against a real HTTP server on 127.0.0.1 through the
// libcurl client. The test thread's ManualExecutor runs in real time here.

#include <gtest/gtest.h>

#include "Parlowen/notepad/ClaudeRefinementClient.h"
#include "platform/http/CurlHttpClient.h"
#include "platform/http/FakeHttpClient.h"
#include "platform/log/CaptureSink.h"
#include "platform/runtime/ManualExecutor.h"
#include "platform/testsupport/LoopbackServer.h"

using namespace parlowen;
using namespace std::chrono_literals;
using testsupport::LoopbackReply;
using testsupport::LoopbackServer;
using testsupport::RefusingPort;
using Model = ClaudeRefinementClient::Model;

namespace {

std::string repeat(std::string_view s, std::size_t n) {
    std::string out;
    for (std::size_t i = 0; i < n; ++i) out += s;
    return out;
}

class ClaudeClientTest : public ::testing::Test {
protected:
    LoopbackServer server;
    platform::ManualExecutor ex;
    platform::CurlHttpClient http;
    platform::InMemorySecretStore secrets;
    KeychainStore keychain{secrets, ex};

    void SetUp() override { ASSERT_TRUE(keychain.write(KeychainStore::Key::anthropic, "sk-ant-test")); }

    platform::Result<std::string> refine(Model model, std::string text, std::string systemPrompt = "Rewrite.",
                                         double timeout = 2, std::string baseUrl = {}) {
        ClaudeRefinementClient client(model, keychain, http, baseUrl.empty() ? server.baseUrl() : baseUrl);
        auto h = platform::spawn(ex, client.refine(std::move(text), std::move(systemPrompt), timeout));
        EXPECT_TRUE(ex.runUntil([&] { return h.done(); }, 3000ms)) << "the call did not end";
        return h.value();
    }

    void answer(int status, std::string body) { server.route("POST", "/v1/messages", LoopbackReply::text(status, std::move(body))); }
};

TEST_F(ClaudeClientTest, SendsTheExactCompactBodyAndHeadersAndJoinsTextBlocks) {
    platform::ScopedLogCapture logs;
    answer(200, R"({"id":"msg_1","type":"message","content":[{"type":"text","text":" Hello"},)"
                R"({"type":"tool_use","id":"t","input":{}},{"type":"text"},{"type":"text","text":"world \n"}],)"
                R"("usage":{"input_tokens":3}})");
    auto r = refine(Model::opus47, "naïve </input> 🙂\n\"q\"", "Be \"brief\".\nOK");
    ASSERT_TRUE(r) << r.error().description;
    EXPECT_EQ(*r, " Helloworld \n");  // joined with nothing between, not trimmed

    ASSERT_EQ(server.requestCount(), 1u);
    auto req = server.requests()[0];
    EXPECT_EQ(req.method, "POST");
    EXPECT_EQ(req.path, "/v1/messages");
    EXPECT_EQ(req.header("content-type"), "application/json");
    EXPECT_EQ(req.header("x-api-key"), "sk-ant-test");
    EXPECT_EQ(req.header("anthropic-version"), "2023-06-01");
    EXPECT_EQ(req.body,
              R"({"model":"claude-opus-4-7","max_tokens":4096,"system":[{"type":"text","text":"Be \"brief\".\nOK",)"
              R"("cache_control":{"type":"ephemeral"}}],"messages":[{"role":"user","content":"naïve </input> 🙂\n\"q\""}]})");
    EXPECT_TRUE(logs->contains("claude claude-opus-4-7 in ", platform::LogLevel::info));
    EXPECT_TRUE(logs->contains("ms (13 chars)", platform::LogLevel::info));
}

TEST_F(ClaudeClientTest, EveryModelSendsItsIdentifierAndTheSameLimit) {
    answer(200, R"({"content":[{"type":"text","text":"ok"}]})");
    const std::pair<Model, const char*> models[] = {
        {Model::haiku45, "claude-haiku-4-5-20251001"}, {Model::sonnet46, "claude-sonnet-4-6"}, {Model::opus47, "claude-opus-4-7"}};
    std::string longText = repeat("long text ", 2000);
    for (const auto& [model, id] : models) {
        ASSERT_TRUE(refine(model, longText, repeat("rule ", 500)));
        auto body = server.requests().back().body;
        EXPECT_EQ(body.rfind(std::string(R"({"model":")") + id + R"(","max_tokens":4096,"system":[{"type":"text",)", 0), 0u)
            << body.substr(0, 80);
    }
}

TEST_F(ClaudeClientTest, KeychainFailuresSendNothing) {
    ASSERT_TRUE(keychain.remove(KeychainStore::Key::anthropic));
    auto missing = refine(Model::sonnet46, "text");
    EXPECT_EQ(missing.error().description, "No Anthropic API key configured");
    EXPECT_EQ(missing.error().domain, ClaudeRefinementClient::kErrorDomain);

    secrets.failWith(platform::KeychainStatus{platform::keychain_status::interactionNotAllowed, "The keychain is locked"});
    auto locked = refine(Model::sonnet46, "text");
    EXPECT_EQ(locked.error().description, "Keychain error -25308: The keychain is locked");  // passed on unchanged
    EXPECT_EQ(server.requestCount(), 0u);
}

// The loopback server drops empty header values, so this one runs on the scripted client.
TEST(ClaudeClient, EmptyStoredKeyIsSentAsItIs) {
    platform::InMemorySecretStore secrets;
    platform::ManualExecutor ex;
    KeychainStore keychain(secrets, ex);
    ASSERT_TRUE(keychain.write(KeychainStore::Key::anthropic, ""));
    platform::FakeHttpClient http;
    http.answer("POST", "https://api.example.test/v1/messages",
                platform::FakeHttpAnswer::text(401, R"({"type":"error"})"));
    ClaudeRefinementClient client(Model::sonnet46, keychain, http, "https://api.example.test");
    auto h = platform::spawn(ex, client.refine("text", "Rewrite.", 30));
    ex.runUntilIdle();
    ASSERT_TRUE(h.done());
    EXPECT_EQ(h.value().error().description, R"(Claude API 401: {"type":"error"})");
    ASSERT_EQ(http.requestCount(), 1u);
    auto request = http.requests()[0];
    EXPECT_EQ(request.headers.value("x-api-key"), "");
    EXPECT_EQ(request.timeout, std::chrono::seconds(30));
    EXPECT_EQ(request.headers.fields(),
              (std::vector<platform::HttpHeaders::Field>{
                  {"content-type", "application/json"}, {"x-api-key", ""}, {"anthropic-version", "2023-06-01"}}));
}

TEST_F(ClaudeClientTest, ErrorStatusesCarryTheirBodyShortenedTo500Characters) {
    platform::ScopedLogCapture logs;
    const std::string json401 = R"({"type":"error","error":{"type":"authentication_error","message":"invalid x-api-key"}})";
    struct Case {
        const char* name;
        int status;
        std::string body;
        std::string carried;
    };
    const Case cases[] = {
        {"JSON error body", 401, json401, json401},
        {"600 characters", 401, repeat("é", 600), repeat("é", 500) + "…"},
        {"exactly 500 characters", 500, repeat("x", 500), repeat("x", 500)},
        {"emoji count as one character", 400, repeat("👩‍💻", 501), repeat("👩‍💻", 500) + "…"},
        {"not UTF-8", 502, std::string("\xff\xfe\x80 bad"), "(non-utf8 body)"},
        {"empty body", 503, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        answer(c.status, c.body);
        auto r = refine(Model::sonnet46, "text");
        ASSERT_FALSE(r);
        EXPECT_EQ(r.error().caseName, "serverError");
        EXPECT_EQ(r.error().description, "Claude API " + std::to_string(c.status) + ": " + c.carried);
    }
    // The body is private in the log.
    auto line = logs->find("claude 401 in ", platform::LogLevel::error);
    ASSERT_TRUE(line);
    EXPECT_NE(line->message.find("ms: <private>"), std::string::npos) << line->message;
    EXPECT_FALSE(logs->contains("authentication_error"));
}

TEST_F(ClaudeClientTest, SuccessfulStatusWithAnUnusableBodyIsABadResponse) {
    const std::pair<std::string, std::string> cases[] = {
        {R"({"content":[]})", "Unexpected Claude response: empty content"},
        {R"({"content":[{"type":"tool_use","id":"x"},{"type":"text"}]})", "Unexpected Claude response: empty content"},
        {R"({"content":[{"type":"text","text":""}]})", "Unexpected Claude response: empty content"},
        {R"({"id":"msg"})", "Unexpected Claude response: decode failed: "},
        {R"({"content":null})", "Unexpected Claude response: decode failed: "},
        {R"({"content":[{"text":"no type"}]})", "Unexpected Claude response: decode failed: "},
        {R"({"content":[{"type":"text","text":"fine"},{"type":"text","text":7}]})", "Unexpected Claude response: decode failed: "},
        {"not json at all", "Unexpected Claude response: decode failed: "},
        {R"([{"type":"text","text":"x"}])", "Unexpected Claude response: decode failed: "},
    };
    for (const auto& [body, description] : cases) {
        answer(200, body);
        auto r = refine(Model::haiku45, "text");
        ASSERT_FALSE(r) << body;
        EXPECT_EQ(r.error().caseName, "badResponse") << body;
        EXPECT_EQ(r.error().description.rfind(description, 0), 0u) << body << " → " << r.error().description;
    }
}

TEST_F(ClaudeClientTest, SlowServerTimesOutAndNoServerIsANetworkError) {
    auto slow = LoopbackReply::text(200, R"({"content":[{"type":"text","text":"late"}]})");
    slow.delay = 600ms;
    server.route("POST", "/v1/messages", slow);
    auto start = std::chrono::steady_clock::now();
    auto r = refine(Model::sonnet46, "text", "Rewrite.", 0.15);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 550ms);
    EXPECT_EQ(r.error().description, "Claude request timed out");

    RefusingPort closed;
    auto offline = refine(Model::sonnet46, "text", "Rewrite.", 2, closed.baseUrl());
    EXPECT_EQ(offline.error().caseName, "network");
    EXPECT_EQ(offline.error().description.rfind("Network error: ", 0), 0u) << offline.error().description;
}

TEST_F(ClaudeClientTest, CallerCancellationEndsTheTransfer) {
    auto slow = LoopbackReply::text(200, R"({"content":[{"type":"text","text":"late"}]})");
    slow.delay = 1500ms;
    server.route("POST", "/v1/messages", slow);
    ClaudeRefinementClient client(Model::sonnet46, keychain, http, server.baseUrl());
    auto h = platform::spawn(ex, client.refine("text", "Rewrite.", 10));
    ASSERT_TRUE(ex.runUntil([&] { return server.requestCount() == 1; }, 2000ms));
    h.cancel();
    ASSERT_TRUE(ex.runUntil([&] { return h.done(); }, 1000ms));
    EXPECT_TRUE(h.value().error().isCancellation());
}

}  // namespace
