// The libcurl client against a real HTTP server on 127.0.0.1. The test
// thread runs a ManualExecutor in real time: the client's own thread must
// hand every result back to it.

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "platform/http/CurlHttpClient.h"
#include "platform/runtime/Environment.h"
#include "platform/runtime/ManualExecutor.h"
#include "platform/testsupport/LoopbackServer.h"
#include "platform/testsupport/TempHome.h"

using namespace platform;
using namespace std::chrono_literals;
using testsupport::LoopbackGate;
using testsupport::LoopbackReply;
using testsupport::LoopbackServer;
using testsupport::RefusingPort;
using testsupport::ReplyOutcome;

namespace {

using Clock = std::chrono::steady_clock;

std::string text(const Bytes& b) { return std::string(b.begin(), b.end()); }
Bytes bytes(std::string_view s) { return Bytes(s.begin(), s.end()); }

std::string readFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const std::filesystem::path& p, const std::string& content) {
    std::ofstream(p, std::ios::binary) << content;
}

std::vector<std::string> folderEntries(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

struct Sent {
    Result<HttpResponse> result = fail(Error::cancelled());
    bool resumedOnExecutor = false;
};

Task<void> sendInto(HttpClient* client, HttpRequest request, ManualExecutor* ex, Sent* out) {
    out->result = co_await client->send(std::move(request));
    out->resumedOnExecutor = ex->isCurrent();
}

Task<Result<HttpResponse>> sendOnly(HttpClient* client, HttpRequest request) {
    co_return co_await client->send(std::move(request));
}

// What a reader saw of a stream.
struct Read {
    std::optional<Error> openError;
    int status = 0;
    HttpHeaders headers;
    bool headBeforeBody = false;
    std::vector<std::string> chunks;
    bool finished = false;
    std::optional<Error> bodyError;
    bool allOnExecutor = true;
    std::atomic<bool> gotFirstChunk{false};
};

// Reads a stream to its end, or stops after `stopAfter` chunks by dropping it.
// With a gate, the server holds the body until the head has been seen here.
Task<void> readStream(HttpClient* client, HttpRequest request, ManualExecutor* ex, Read* out,
                      LoopbackGate* gate, std::size_t stopAfter) {
    auto opened = co_await client->stream(std::move(request));
    out->allOnExecutor = out->allOnExecutor && ex->isCurrent();
    if (!opened) {
        out->openError = opened.error();
        co_return;
    }
    HttpStream stream = std::move(*opened);
    out->status = stream.status;
    out->headers = stream.headers;
    if (gate) {
        out->headBeforeBody = true;
        gate->open();
    }
    for (;;) {
        auto next = co_await stream.body.next();
        out->allOnExecutor = out->allOnExecutor && ex->isCurrent();
        if (!next) {
            out->bodyError = next.error();
            co_return;
        }
        if (!*next) {
            out->finished = true;
            co_return;
        }
        out->chunks.push_back(text(**next));
        out->gotFirstChunk = true;
        if (out->chunks.size() >= stopAfter) co_return;  // the stream is dropped here
    }
}

std::string joined(const std::vector<std::string>& parts) {
    std::string all;
    for (const auto& p : parts) all += p;
    return all;
}

class CurlHttpClientTest : public ::testing::Test {
protected:
    LoopbackServer server;
    ManualExecutor ex;
    CurlHttpClient client;

    // Runs a task on the test thread's executor until it ends (real time).
    template <class T>
    void runToEnd(const JoinHandle<T>& h, std::chrono::milliseconds limit = 3000ms) {
        ASSERT_TRUE(ex.runUntil([&] { return h.done(); }, limit)) << "the task did not end in time";
    }

    Sent send(HttpRequest request) {
        Sent out;
        auto h = spawn(ex, sendInto(&client, std::move(request), &ex, &out));
        runToEnd(h);
        return out;
    }
};

TEST_F(CurlHttpClientTest, SendsMethodsHeadersAndBodiesAndResumesOnTheCallersExecutor) {
    auto hello = LoopbackReply::text(200, "hi there");
    hello.headers.emplace_back("X-Reply", "yes");
    server.route("GET", "/hello", hello);
    for (const char* method : {"POST", "PUT", "PATCH", "DELETE"})
        server.route(method, "/echo", [](const testsupport::LoopbackRequest& r) {
            return LoopbackReply::text(201, r.method + ":" + r.body);
        });

    HttpRequest get = HttpRequest::get(server.url("/hello?a=1&b=two"));
    get.headers.add("X-Test", "42");
    Sent got = send(get);
    ASSERT_TRUE(got.result) << got.result.error().description;
    EXPECT_TRUE(got.resumedOnExecutor);
    EXPECT_EQ(got.result->status, 200);
    EXPECT_EQ(got.result->text(), "hi there");
    EXPECT_EQ(got.result->headers.value("x-reply"), "yes");

    for (const char* method : {"POST", "PUT", "PATCH", "DELETE"}) {
        SCOPED_TRACE(method);
        HttpRequest r;
        r.method = method;
        r.url = server.url("/echo");
        r.headers.add("Content-Type", "application/json");
        r.body = bytes(R"({"k":1})");
        Sent posted = send(r);
        ASSERT_TRUE(posted.result) << posted.result.error().description;
        EXPECT_EQ(posted.result->status, 201);
        EXPECT_EQ(posted.result->text(), std::string(method) + R"(:{"k":1})");
    }

    auto seen = server.requests();
    ASSERT_EQ(seen.size(), 5u);
    EXPECT_EQ(seen[0].method, "GET");
    EXPECT_EQ(seen[0].path, "/hello");
    EXPECT_EQ(seen[0].query, "a=1&b=two");
    EXPECT_EQ(seen[0].header("x-test"), "42");
    EXPECT_EQ(seen[1].method, "POST");
    EXPECT_EQ(seen[1].body, R"({"k":1})");
    EXPECT_EQ(seen[1].header("Content-Type"), "application/json");
    EXPECT_EQ(seen[4].method, "DELETE");
    EXPECT_EQ(seen[4].body, R"({"k":1})");
}

TEST_F(CurlHttpClientTest, ErrorStatusesAreResponsesWithTheirBodies) {
    server.route("GET", "/boom", LoopbackReply::text(500, "boom"));
    server.route("GET", "/busy", LoopbackReply::text(503, "later"));
    struct Case {
        const char* path;
        int status;
        const char* body;
    };
    for (const Case& c : {Case{"/nowhere", 404, "not found"}, Case{"/boom", 500, "boom"},
                          Case{"/busy", 503, "later"}}) {
        SCOPED_TRACE(c.path);
        Sent got = send(HttpRequest::get(server.url(c.path)));
        ASSERT_TRUE(got.result) << got.result.error().description;
        EXPECT_EQ(got.result->status, c.status);
        EXPECT_FALSE(got.result->isSuccess());
        EXPECT_EQ(got.result->text(), c.body);
    }
}

TEST_F(CurlHttpClientTest, RequestsThatKeepCookiesShareOneJarOfTheirOwn) {
    auto login = LoopbackReply::text(200, "in");
    login.headers.emplace_back("Set-Cookie", "session=abc123; Path=/");
    server.route("GET", "/login", login);
    server.route("GET", "/page", LoopbackReply::text(200, "page"));
    auto keeping = [&](const char* path) {
        auto r = HttpRequest::get(server.url(path));
        r.keepsCookies = true;
        return r;
    };

    // A request outside the jar neither stores the cookie nor sends one.
    ASSERT_TRUE(send(HttpRequest::get(server.url("/login"))).result);
    ASSERT_TRUE(send(keeping("/page")).result);
    ASSERT_TRUE(send(keeping("/login")).result);
    ASSERT_TRUE(send(keeping("/page")).result);
    ASSERT_TRUE(send(HttpRequest::get(server.url("/page"))).result);
    CurlHttpClient other;  // another client has a jar of its own
    Sent elsewhere;
    auto h = spawn(ex, sendInto(&other, keeping("/page"), &ex, &elsewhere));
    runToEnd(h);
    ASSERT_TRUE(elsewhere.result);

    auto seen = server.requests();
    ASSERT_EQ(seen.size(), 6u);
    EXPECT_EQ(seen[1].header("Cookie"), std::nullopt);
    EXPECT_EQ(seen[2].header("Cookie"), std::nullopt);
    EXPECT_EQ(seen[3].header("Cookie"), "session=abc123");
    EXPECT_EQ(seen[4].header("Cookie"), std::nullopt);
    EXPECT_EQ(seen[5].header("Cookie"), std::nullopt);
}

TEST_F(CurlHttpClientTest, FollowsRedirectsAndAnswersHeadWithoutABody) {
    LoopbackReply moved;
    moved.status = 302;
    moved.headers.emplace_back("Location", "/new");
    moved.body = "see elsewhere";
    server.route("GET", "/old", moved);
    auto fresh = LoopbackReply::text(200, "the new place");
    fresh.headers.emplace_back("X-Where", "new");
    server.route("GET", "/new", fresh);

    Sent got = send(HttpRequest::get(server.url("/old")));
    ASSERT_TRUE(got.result) << got.result.error().description;
    EXPECT_EQ(got.result->status, 200);
    EXPECT_EQ(got.result->text(), "the new place");
    EXPECT_EQ(got.result->headers.value("X-Where"), "new");
    EXPECT_FALSE(got.result->headers.has("Location"));  // the redirect's head is not the response's

    HttpRequest head = HttpRequest::get(server.url("/new"));
    head.method = "HEAD";
    Sent headOnly = send(head);
    ASSERT_TRUE(headOnly.result) << headOnly.result.error().description;
    EXPECT_EQ(headOnly.result->status, 200);
    EXPECT_EQ(headOnly.result->headers.value("X-Where"), "new");
    EXPECT_TRUE(headOnly.result->body.empty());
}

TEST_F(CurlHttpClientTest, StreamDeliversTheHeadBeforeTheBodyThenChunksInOrder) {
    auto gate = std::make_shared<LoopbackGate>();
    LoopbackReply reply;
    reply.status = 200;
    reply.headers.emplace_back("X-Kind", "stream");
    reply.chunks = {"one-", "two-", "three"};
    reply.chunkDelay = 30ms;
    reply.bodyGate = gate;
    server.route("GET", "/audio", reply);

    Read read;
    auto h = spawn(ex, readStream(&client, HttpRequest::get(server.url("/audio")), &ex, &read, gate.get(), 100));
    runToEnd(h);
    ASSERT_FALSE(read.openError) << read.openError->description;
    EXPECT_TRUE(read.headBeforeBody);  // the server held the body until the head was seen
    EXPECT_EQ(read.status, 200);
    EXPECT_EQ(read.headers.value("x-kind"), "stream");
    EXPECT_EQ(joined(read.chunks), "one-two-three");
    EXPECT_GE(read.chunks.size(), 2u);  // chunks come as they arrive, not as one body
    EXPECT_TRUE(read.finished);
    EXPECT_TRUE(read.allOnExecutor);
    EXPECT_EQ(server.waitForOutcome(0, 1000ms), ReplyOutcome::completed);
}

TEST_F(CurlHttpClientTest, StreamOfAnErrorStatusOrACutConnectionEndsAsTheTransferDid) {
    server.route("GET", "/fail", LoopbackReply::text(500, "boom"));
    LoopbackReply cut;
    cut.chunks = {"part1"};
    cut.cut = true;
    server.route("GET", "/cut", cut);

    Read failed;
    auto h1 = spawn(ex, readStream(&client, HttpRequest::get(server.url("/fail")), &ex, &failed, nullptr, 100));
    runToEnd(h1);
    ASSERT_FALSE(failed.openError);
    EXPECT_EQ(failed.status, 500);
    EXPECT_EQ(joined(failed.chunks), "boom");
    EXPECT_TRUE(failed.finished);

    Read broken;
    auto h2 = spawn(ex, readStream(&client, HttpRequest::get(server.url("/cut")), &ex, &broken, nullptr, 100));
    runToEnd(h2);
    ASSERT_FALSE(broken.openError);
    EXPECT_EQ(joined(broken.chunks), "part1");  // everything that arrived, then the error
    EXPECT_FALSE(broken.finished);
    ASSERT_TRUE(broken.bodyError);
    EXPECT_TRUE(isHttpError(*broken.bodyError, HttpError::transport)) << broken.bodyError->description;
}

TEST_F(CurlHttpClientTest, AReaderThatStopsEarlyAbortsTheTransfer) {
    LoopbackReply endless;
    endless.chunks.assign(200, std::string(1000, 'x'));
    endless.chunkDelay = 10ms;
    server.route("GET", "/long", endless);

    // Dropping the stream after the first chunk.
    Read dropped;
    auto h1 = spawn(ex, readStream(&client, HttpRequest::get(server.url("/long")), &ex, &dropped, nullptr, 1));
    runToEnd(h1);
    EXPECT_EQ(dropped.chunks.size(), 1u);
    EXPECT_EQ(server.waitForOutcome(0, 2000ms), ReplyOutcome::aborted);

    // Cancelling the reading task while it waits for a chunk.
    Read cancelled;
    auto h2 = spawn(ex, readStream(&client, HttpRequest::get(server.url("/long")), &ex, &cancelled, nullptr, 1000));
    ASSERT_TRUE(ex.runUntil([&] { return cancelled.gotFirstChunk.load(); }, 2000ms));
    h2.cancel();
    runToEnd(h2);
    ASSERT_TRUE(cancelled.bodyError);
    EXPECT_TRUE(cancelled.bodyError->isCancellation());
    EXPECT_LT(cancelled.chunks.size(), 200u);
    EXPECT_EQ(server.waitForOutcome(1, 2000ms), ReplyOutcome::aborted);
}

Task<void> streamOpenOnly(HttpClient* client, HttpRequest request, std::optional<Error>* error) {
    auto opened = co_await client->stream(std::move(request));
    if (!opened) *error = opened.error();
}

Task<void> downloadInto(HttpClient* client, HttpRequest request, std::filesystem::path destination,
                        Result<DownloadResult>* out, std::vector<std::pair<std::int64_t, std::int64_t>>* progress,
                        ManualExecutor* ex, bool* progressOnExecutor) {
    HttpClient::ProgressCallback onProgress;
    if (progress)
        onProgress = [progress, ex, progressOnExecutor](std::int64_t got, std::int64_t total) {
            progress->emplace_back(got, total);
            *progressOnExecutor = *progressOnExecutor && ex->isCurrent();
        };
    *out = co_await client->download(std::move(request), std::move(destination), onProgress);
}

TEST_F(CurlHttpClientTest, CancellingASlowRequestEndsItPromptly) {
    LoopbackReply slow = LoopbackReply::text(200, "late");
    slow.delay = 5000ms;
    server.route("GET", "/slow", slow);
    testsupport::TempDir dir;

    for (int operation = 0; operation < 3; ++operation) {
        SCOPED_TRACE(operation);
        Sent sent;
        std::optional<Error> streamError;
        Result<DownloadResult> downloaded = fail(toError(HttpError::transport));
        JoinHandle<void> h;
        if (operation == 0) h = spawn(ex, sendInto(&client, HttpRequest::get(server.url("/slow")), &ex, &sent));
        if (operation == 1) h = spawn(ex, streamOpenOnly(&client, HttpRequest::get(server.url("/slow")), &streamError));
        if (operation == 2)
            h = spawn(ex, downloadInto(&client, HttpRequest::get(server.url("/slow")), dir / "late.bin", &downloaded,
                                       nullptr, &ex, nullptr));
        ex.runUntilIdle();
        ASSERT_TRUE(server.waitForRequests(static_cast<std::size_t>(operation) + 1, 2000ms));
        auto start = Clock::now();
        h.cancel();
        runToEnd(h, 1000ms);
        EXPECT_LT(Clock::now() - start, 500ms);
        std::optional<Error> error;
        if (operation == 0 && !sent.result) error = sent.result.error();
        if (operation == 1) error = streamError;
        if (operation == 2 && !downloaded) error = downloaded.error();
        ASSERT_TRUE(error);
        EXPECT_TRUE(error->isCancellation()) << error->description;
    }
    EXPECT_TRUE(folderEntries(dir.path()).empty());
}

TEST_F(CurlHttpClientTest, TimeoutsTransportFailuresAndBadURLsAreToldApart) {
    LoopbackReply silent = LoopbackReply::text(200, "never in time");
    silent.delay = 5000ms;
    server.route("GET", "/silent", silent);
    LoopbackReply stalls;
    stalls.chunks = {"a", "b"};
    stalls.chunkDelay = 1000ms;
    server.route("GET", "/stalls", stalls);
    LoopbackReply steady;
    steady.chunks = {"1", "2", "3", "4", "5"};
    steady.chunkDelay = 30ms;
    server.route("GET", "/steady", steady);
    RefusingPort closed;

    struct Case {
        std::string name;
        std::string url;
        std::optional<HttpError> expected;  // none: succeeds
    };
    std::vector<Case> cases = {
        {"no head in time", server.url("/silent"), HttpError::timedOut},
        {"body stalls", server.url("/stalls"), HttpError::timedOut},
        {"slow but never idle for long", server.url("/steady"), std::nullopt},
        {"connection refused", closed.url("/x"), HttpError::transport},
        {"not a URL", "not a url", HttpError::invalidURL},
        {"not http", "ftp://127.0.0.1/file", HttpError::invalidURL},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto start = Clock::now();
        Sent got = send(HttpRequest::get(c.url, 120ms));
        auto took = Clock::now() - start;
        if (!c.expected) {
            ASSERT_TRUE(got.result) << got.result.error().description;
            EXPECT_EQ(got.result->text(), "12345");
            continue;
        }
        ASSERT_FALSE(got.result);
        EXPECT_EQ(got.result.error().domain, "http");
        EXPECT_EQ(got.result.error().caseName, caseName(*c.expected)) << got.result.error().description;
        if (*c.expected == HttpError::timedOut) {
            EXPECT_GE(took, 115ms);
            EXPECT_LT(took, 800ms);
        }
    }
}

TEST_F(CurlHttpClientTest, DownloadWritesTheFileWithByteProgressAndReplacesTheOldOne) {
    std::string body;
    for (std::uint32_t i = 0; i < 300000; ++i) body.push_back(static_cast<char>('a' + (i * 7919u) % 26));
    server.route("GET", "/model.bin", LoopbackReply{.body = body});
    testsupport::TempDir dir;
    writeFile(dir / "model.bin", "old contents");

    Result<DownloadResult> result = fail(toError(HttpError::transport));
    std::vector<std::pair<std::int64_t, std::int64_t>> progress;
    bool onExecutor = true;
    auto h = spawn(ex, downloadInto(&client, HttpRequest::get(server.url("/model.bin")), dir / "model.bin", &result,
                                    &progress, &ex, &onExecutor));
    runToEnd(h);
    ASSERT_TRUE(result) << result.error().description;
    EXPECT_EQ(result->status, 200);
    EXPECT_TRUE(result->stored);
    EXPECT_EQ(result->bytesReceived, static_cast<std::int64_t>(body.size()));
    EXPECT_EQ(readFile(dir / "model.bin"), body);
    EXPECT_EQ(folderEntries(dir.path()), std::vector<std::string>{"model.bin"});

    ASSERT_FALSE(progress.empty());
    EXPECT_TRUE(onExecutor);
    for (std::size_t i = 0; i < progress.size(); ++i) {
        EXPECT_EQ(progress[i].second, static_cast<std::int64_t>(body.size()));
        if (i > 0) {
            EXPECT_GT(progress[i].first, progress[i - 1].first);
        }
    }
    EXPECT_EQ(progress.back().first, static_cast<std::int64_t>(body.size()));
}

TEST_F(CurlHttpClientTest, AFailedDownloadLeavesNothingAtTheDestination) {
    server.route("GET", "/error", LoopbackReply::text(500, "server error page"));
    LoopbackReply cut;
    cut.chunks = {std::string(20000, 'z')};
    cut.contentLength = 50000;  // promises more than it sends
    server.route("GET", "/cut", cut);
    testsupport::TempDir dir;

    struct Case {
        const char* path;
        std::optional<HttpError> error;
        int status;
    };
    for (const Case& c : {Case{"/error", std::nullopt, 500}, Case{"/cut", HttpError::transport, 0}}) {
        SCOPED_TRACE(c.path);
        writeFile(dir / "file.bin", "previous");
        Result<DownloadResult> result = fail(toError(HttpError::file));
        auto h = spawn(ex, downloadInto(&client, HttpRequest::get(server.url(c.path)), dir / "file.bin", &result,
                                        nullptr, &ex, nullptr));
        runToEnd(h);
        if (c.error) {
            ASSERT_FALSE(result);
            EXPECT_TRUE(isHttpError(result.error(), *c.error)) << result.error().description;
        } else {
            ASSERT_TRUE(result) << result.error().description;
            EXPECT_EQ(result->status, c.status);
            EXPECT_FALSE(result->stored);
        }
        EXPECT_EQ(readFile(dir / "file.bin"), "previous");
        EXPECT_EQ(folderEntries(dir.path()), std::vector<std::string>{"file.bin"});  // no partial file left
    }

    Result<DownloadResult> nowhere = fail(toError(HttpError::transport));
    auto h = spawn(ex, downloadInto(&client, HttpRequest::get(server.url("/error")), dir / "missing" / "file.bin",
                                    &nowhere, nullptr, &ex, nullptr));
    runToEnd(h);
    ASSERT_FALSE(nowhere);
    EXPECT_TRUE(isHttpError(nowhere.error(), HttpError::file)) << nowhere.error().description;
}

TEST_F(CurlHttpClientTest, ProxiesComeFromTheConfigurationNeverFromTheEnvironment) {
    // ctest runs this folder's tests with http_proxy pointing at a dead port.
    auto stray = Environment::fromProcess().get("http_proxy");
    if (!stray) GTEST_SKIP() << "run through ctest, which sets http_proxy for this test";
    server.route("GET", "/direct", LoopbackReply::text(200, "direct"));
    Sent direct = send(HttpRequest::get(server.url("/direct")));
    ASSERT_TRUE(direct.result) << direct.result.error().description;
    EXPECT_EQ(direct.result->text(), "direct");

    LoopbackServer proxy;
    proxy.route("GET", "http://models.parlowen.invalid/file.json", LoopbackReply::text(200, "via proxy"));
    CurlHttpClient proxied(HttpClientConfig{.httpProxy = proxy.baseUrl()});
    Sent out;
    auto h = spawn(ex, sendInto(&proxied, HttpRequest::get("http://models.parlowen.invalid/file.json"), &ex, &out));
    runToEnd(h);
    ASSERT_TRUE(out.result) << out.result.error().description;
    EXPECT_EQ(out.result->text(), "via proxy");
    ASSERT_EQ(proxy.requestCount(), 1u);
    EXPECT_EQ(proxy.requests()[0].header("Host"), "models.parlowen.invalid");
}

TEST_F(CurlHttpClientTest, RequestsRunConcurrently) {
    LoopbackReply slow = LoopbackReply::text(200, "done");
    slow.delay = 200ms;
    server.route("GET", "/slow", slow);
    std::vector<JoinHandle<Result<HttpResponse>>> handles;
    auto start = Clock::now();
    for (int i = 0; i < 6; ++i) handles.push_back(spawn(ex, sendOnly(&client, HttpRequest::get(server.url("/slow")))));
    ASSERT_TRUE(ex.runUntil(
        [&] { return std::all_of(handles.begin(), handles.end(), [](const auto& h) { return h.done(); }); }, 3000ms));
    EXPECT_LT(Clock::now() - start, 900ms);  // six in a row would take 1.2 s
    for (const auto& h : handles) {
        ASSERT_TRUE(h.value());
        EXPECT_EQ(h.value()->text(), "done");
    }
}

}  // namespace
