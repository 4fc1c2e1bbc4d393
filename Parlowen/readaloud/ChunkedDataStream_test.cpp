// The chunked response stream over the real HTTP client and a loopback
// server; the test thread runs the manual executor in real time.

#include <gtest/gtest.h>

#include "Parlowen/readaloud/ChunkedDataStream.h"
#include "platform/http/CurlHttpClient.h"
#include "platform/http/FakeHttpClient.h"
#include "platform/runtime/ManualExecutor.h"
#include "platform/testsupport/LoopbackServer.h"

namespace parlowen {
namespace {

using namespace std::chrono_literals;
using platform::Result;
using platform::Task;
using testsupport::LoopbackReply;

struct Read {
    bool opened = false;
    std::optional<platform::Error> openError;
    int status = 0;
    std::vector<std::string> chunks;
    std::optional<platform::Error> bodyError;
    bool ended = false;
};

// Opens the stream, then (when `pause` is given) waits for the test before
// reading; reads at most `limit` chunks and then stops reading.
Task<void> readAll(platform::HttpClient* http, std::string url, Read* out, std::size_t limit,
                   std::optional<platform::Channel<int>> mayRead) {
    ChunkedDataStream stream(*http);
    auto response = co_await stream.go(platform::HttpRequest::get(std::move(url), std::chrono::seconds(10)));
    if (!response) {
        out->openError = response.error();
        co_return;
    }
    out->opened = true;
    out->status = response->http.statusCode;
    if (mayRead) (void)co_await mayRead->next();
    while (out->chunks.size() < limit) {
        auto chunk = co_await response->stream.next();
        if (!chunk) {
            out->bodyError = chunk.error();
            co_return;
        }
        if (!*chunk) {
            out->ended = true;
            co_return;
        }
        out->chunks.emplace_back((*chunk)->begin(), (*chunk)->end());
    }
    response->stream.stop();
}

// Fifty chunks, 50 ms apart: still coming when the reader gives up.
LoopbackReply slowReply() {
    LoopbackReply slow;
    for (int i = 0; i < 50; ++i) slow.chunks.push_back("chunk " + std::to_string(i));
    slow.chunkDelay = 50ms;
    return slow;
}

class ChunkedDataStreamTest : public ::testing::Test {
protected:
    void run(std::string url, Read& read, std::size_t limit = 1000,
             std::optional<platform::Channel<int>> mayRead = std::nullopt) {
        auto h = platform::spawn(ex, readAll(&http, std::move(url), &read, limit, std::move(mayRead)));
        ASSERT_TRUE(ex.runUntil([&] { return h.done(); }, 10000ms)) << "the read did not end";
    }

    testsupport::LoopbackServer server;
    platform::CurlHttpClient http;
    platform::ManualExecutor ex;
};

TEST_F(ChunkedDataStreamTest, AnErrorStatusReturnsNormallyAndStreamsItsBody) {
    server.route("GET", "/fail", LoopbackReply::text(500, "server broke"));
    Read read;
    run(server.url("/fail"), read);
    EXPECT_TRUE(read.opened);
    EXPECT_EQ(read.status, 500);
    EXPECT_EQ(read.chunks, (std::vector<std::string>{"server broke"}));
    EXPECT_TRUE(read.ended);
}

TEST_F(ChunkedDataStreamTest, AConnectionClosedMidBodyGivesEveryChunkThenTheError) {
    LoopbackReply cut;
    cut.chunks = {"first", "second"};
    cut.chunkDelay = 20ms;
    cut.contentLength = 100;  // more than comes
    server.route("GET", "/cut", cut);
    Read read;
    run(server.url("/cut"), read);
    EXPECT_EQ(read.status, 200);
    std::string all;
    for (const auto& c : read.chunks) all += c;
    EXPECT_EQ(all, "firstsecond");
    ASSERT_TRUE(read.bodyError);
    EXPECT_TRUE(platform::isHttpError(*read.bodyError, platform::HttpError::transport)) << read.bodyError->description;
    EXPECT_FALSE(read.ended);
}

TEST_F(ChunkedDataStreamTest, AReaderThatStopsCancelsTheTransfer) {
    server.route("GET", "/slow", slowReply());
    Read read;
    run(server.url("/slow"), read, 1);
    EXPECT_EQ(read.chunks, (std::vector<std::string>{"chunk 0"}));
    EXPECT_EQ(server.waitForOutcome(0, 5000ms), testsupport::ReplyOutcome::aborted);
}

TEST_F(ChunkedDataStreamTest, ACancelledReaderCancelsTheTransfer) {
    server.route("GET", "/slow", slowReply());
    Read read;
    auto h = platform::spawn(ex, readAll(&http, server.url("/slow"), &read, 1000, std::nullopt));
    ASSERT_TRUE(ex.runUntil([&] { return !read.chunks.empty(); }, 5000ms));
    h.cancel();
    ASSERT_TRUE(ex.runUntil([&] { return h.done(); }, 5000ms));
    ASSERT_TRUE(read.bodyError);
    EXPECT_TRUE(read.bodyError->isCancellation());
    EXPECT_EQ(server.waitForOutcome(0, 5000ms), testsupport::ReplyOutcome::aborted);
}

TEST_F(ChunkedDataStreamTest, AFailureBeforeTheHeadFailsGo) {
    testsupport::RefusingPort nobody;
    Read read;
    run(nobody.url("/x"), read);
    EXPECT_FALSE(read.opened);
    ASSERT_TRUE(read.openError);
    EXPECT_TRUE(platform::isHttpError(*read.openError, platform::HttpError::transport));
}

TEST_F(ChunkedDataStreamTest, AChunkRightAfterTheHeadWaitsForTheReader) {
    server.route("GET", "/quick", LoopbackReply::text(200, "right behind the head"));
    Read read;
    platform::Channel<int> mayRead;
    auto h = platform::spawn(ex, readAll(&http, server.url("/quick"), &read, 1000, mayRead));
    ASSERT_TRUE(ex.runUntil([&] { return read.opened; }, 5000ms));
    // The whole answer is out before anyone reads.
    ASSERT_EQ(server.waitForOutcome(0, 5000ms), testsupport::ReplyOutcome::completed);
    mayRead.send(1);
    ASSERT_TRUE(ex.runUntil([&] { return h.done(); }, 5000ms));
    EXPECT_EQ(read.chunks, (std::vector<std::string>{"right behind the head"}));
    EXPECT_TRUE(read.ended);
}

TEST(ChunkedDataStreamNonHttp, AnAnswerWithoutAStatusLineIsNotHttp) {
    platform::ManualExecutor ex;
    platform::FakeHttpClient http;
    http.answer("GET", "http://x.test/", platform::FakeHttpAnswer::text(0, "raw"));
    Read read;
    auto h = platform::spawn(ex, readAll(&http, "http://x.test/", &read, 1000, std::nullopt));
    ex.advanceUntilIdle();
    ASSERT_TRUE(h.done());
    ASSERT_TRUE(read.openError);
    EXPECT_EQ(read.openError->domain, "ChunkedDataStream");
    EXPECT_EQ(read.openError->code, -1);
    EXPECT_EQ(read.openError->description, "Non-HTTP response");
    EXPECT_EQ(http.abortedStreams(), 1u);
}

}  // namespace
}  // namespace parlowen
