#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "platform/http/FakeHttpClient.h"
#include "platform/runtime/ManualExecutor.h"
#include "platform/testsupport/TempHome.h"

using namespace platform;
using namespace std::chrono_literals;

namespace {

Bytes bytes(std::string_view s) { return Bytes(s.begin(), s.end()); }
std::string text(const Bytes& b) { return std::string(b.begin(), b.end()); }

Task<Result<HttpResponse>> sendOnly(HttpClient* client, HttpRequest request) {
    co_return co_await client->send(std::move(request));
}

TEST(FakeHttpClient, AnswersFromTheScriptInVirtualTimeAndRecordsRequests) {
    ManualExecutor ex;
    FakeHttpClient fake;
    auto slow = FakeHttpAnswer::text(200, "standing");
    slow.delay = 3s;
    fake.answer("GET", "https://api.example/v1/models", slow);
    fake.answerOnce("GET", "https://api.example/v1/models", FakeHttpAnswer::text(401, "first"));

    HttpRequest r = HttpRequest::get("https://api.example/v1/models");
    r.headers.add("Authorization", "Bearer key");
    auto first = spawn(ex, sendOnly(&fake, r));
    ex.runUntilIdle();
    ASSERT_TRUE(first.done());
    EXPECT_EQ(first.value()->status, 401);  // the one-off answer goes first

    auto second = spawn(ex, sendOnly(&fake, r));
    ex.advance(2999ms);
    EXPECT_FALSE(second.done());
    ex.advance(1ms);
    ASSERT_TRUE(second.done());
    EXPECT_EQ(second.value()->text(), "standing");

    auto unscripted = spawn(ex, sendOnly(&fake, HttpRequest::get("https://api.example/other")));
    ex.runUntilIdle();
    ASSERT_FALSE(unscripted.value());
    EXPECT_TRUE(isHttpError(unscripted.value().error(), HttpError::transport));
    EXPECT_NE(unscripted.value().error().description.find("GET https://api.example/other"), std::string::npos);

    auto seen = fake.requests();
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].headers.value("authorization"), "Bearer key");
    EXPECT_EQ(seen[2].url, "https://api.example/other");
}

TEST(FakeHttpClient, TimeoutsScriptedErrorsAndCancellationEndRequests) {
    ManualExecutor ex;
    FakeHttpClient fake;
    auto silent = FakeHttpAnswer::text(200, "too late");
    silent.delay = 30s;
    fake.answer("GET", "u:silent", silent);
    auto refused = FakeHttpAnswer::failure(toError(HttpError::transport, "Connection refused"));
    refused.delay = 1s;
    fake.answer("GET", "u:refused", refused);

    auto timed = spawn(ex, sendOnly(&fake, HttpRequest::get("u:silent", 5s)));
    auto failed = spawn(ex, sendOnly(&fake, HttpRequest::get("u:refused")));
    auto cancelled = spawn(ex, sendOnly(&fake, HttpRequest::get("u:silent")));
    ex.advance(1s);
    ASSERT_TRUE(failed.done());
    EXPECT_EQ(failed.value().error().description, "The network connection failed: Connection refused");
    cancelled.cancel();
    ex.runUntilIdle();
    ASSERT_TRUE(cancelled.done());
    EXPECT_TRUE(cancelled.value().error().isCancellation());
    EXPECT_FALSE(timed.done());
    ex.advance(4s);
    ASSERT_TRUE(timed.done());
    EXPECT_TRUE(isHttpError(timed.value().error(), HttpError::timedOut));
    EXPECT_EQ(ex.elapsed(), 5s);
}

struct Read {
    int status = 0;
    std::vector<std::pair<std::string, Duration>> chunks;  // with the virtual time of arrival
    bool finished = false;
    std::optional<Error> error;
};

Task<void> readStream(HttpClient* client, HttpRequest request, ManualExecutor* ex, Read* out, std::size_t stopAfter) {
    auto opened = co_await client->stream(std::move(request));
    if (!opened) {
        out->error = opened.error();
        co_return;
    }
    out->status = opened->status;
    for (;;) {
        auto next = co_await opened->body.next();
        if (!next) {
            out->error = next.error();
            co_return;
        }
        if (!*next) {
            out->finished = true;
            co_return;
        }
        out->chunks.emplace_back(text(**next), ex->elapsed());
        if (out->chunks.size() >= stopAfter) co_return;
    }
}

TEST(FakeHttpClient, StreamsChunksOnScheduleAndNoticesAReaderThatStops) {
    ManualExecutor ex;
    FakeHttpClient fake;
    FakeHttpAnswer audio;
    audio.status = 200;
    audio.chunks = {bytes("aa"), bytes("bb"), bytes("cc")};
    audio.delay = 100ms;
    audio.chunkDelay = 50ms;
    fake.answer("POST", "https://tts.example/speak", audio);
    FakeHttpAnswer cut = audio;
    cut.bodyError = toError(HttpError::transport, "connection lost");
    fake.answer("POST", "https://tts.example/cut", cut);

    HttpRequest r;
    r.method = "POST";
    r.url = "https://tts.example/speak";
    Read whole;
    auto h1 = spawn(ex, readStream(&fake, r, &ex, &whole, 100));
    ex.advanceUntilIdle();
    ASSERT_TRUE(h1.done());
    EXPECT_TRUE(whole.finished);
    ASSERT_EQ(whole.chunks.size(), 3u);
    EXPECT_EQ(whole.chunks[0], (std::pair<std::string, Duration>{"aa", 150ms}));
    EXPECT_EQ(whole.chunks[2], (std::pair<std::string, Duration>{"cc", 250ms}));

    r.url = "https://tts.example/cut";
    Read broken;
    auto h2 = spawn(ex, readStream(&fake, r, &ex, &broken, 100));
    ex.advanceUntilIdle();
    EXPECT_EQ(broken.chunks.size(), 3u);
    ASSERT_TRUE(broken.error);
    EXPECT_EQ(broken.error->description, "The network connection failed: connection lost");

    r.url = "https://tts.example/speak";
    Read early;
    auto h3 = spawn(ex, readStream(&fake, r, &ex, &early, 1));
    ex.advanceUntilIdle();
    ASSERT_TRUE(h3.done());
    EXPECT_EQ(early.chunks.size(), 1u);
    EXPECT_EQ(fake.abortedStreams(), 1u);
    EXPECT_EQ(ex.pendingTimers(), 0u);
}

Task<Result<DownloadResult>> download(HttpClient* client, std::string url, std::filesystem::path to,
                                      std::vector<std::int64_t>* progress) {
    co_return co_await client->download(HttpRequest::get(std::move(url)), std::move(to),
                                        [progress](std::int64_t got, std::int64_t) { progress->push_back(got); });
}

std::string readFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(FakeHttpClient, DownloadStoresOnlyACompleteSuccessfulBody) {
    ManualExecutor ex;
    FakeHttpClient fake;
    testsupport::TempDir dir;
    FakeHttpAnswer ok;
    ok.chunks = {bytes("abc"), bytes("defg")};
    fake.answer("GET", "u:ok", ok);
    FakeHttpAnswer limited = FakeHttpAnswer::text(429, "slow down");
    fake.answer("GET", "u:429", limited);
    FakeHttpAnswer cut = ok;
    cut.bodyError = toError(HttpError::transport, "cut");
    fake.answer("GET", "u:cut", cut);

    std::vector<std::int64_t> progress;
    auto h = spawn(ex, download(&fake, "u:ok", dir / "a.bin", &progress));
    ex.runUntilIdle();
    ASSERT_TRUE(h.value());
    EXPECT_TRUE(h.value()->stored);
    EXPECT_EQ(readFile(dir / "a.bin"), "abcdefg");
    EXPECT_EQ(progress, (std::vector<std::int64_t>{3, 7}));

    auto h429 = spawn(ex, download(&fake, "u:429", dir / "b.bin", &progress));
    auto hcut = spawn(ex, download(&fake, "u:cut", dir / "c.bin", &progress));
    ex.runUntilIdle();
    ASSERT_TRUE(h429.value());
    EXPECT_EQ(h429.value()->status, 429);
    EXPECT_FALSE(h429.value()->stored);
    EXPECT_FALSE(hcut.value());
    std::vector<std::string> left;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) left.push_back(e.path().filename());
    EXPECT_EQ(left, std::vector<std::string>{"a.bin"});
}

}  // namespace
