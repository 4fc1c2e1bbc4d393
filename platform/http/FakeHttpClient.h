#pragma once

#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/http/HttpClient.h"

namespace platform {

// One scripted answer of the fake client.
struct FakeHttpAnswer {
    int status = 200;
    HttpHeaders headers;
    Bytes body;
    // The body in these pieces (stream() delivers one chunk each, download()
    // reports progress after each); `body` is used when this is empty.
    std::vector<Bytes> chunks;
    // The request fails with this instead of answering (after `delay`).
    std::optional<Error> error;
    // The body ends with this error after the chunks (a cut connection).
    std::optional<Error> bodyError;
    // Virtual time on the caller's executor before the head, and before each chunk.
    Duration delay{};
    Duration chunkDelay{};

    static FakeHttpAnswer text(int status, std::string body);
    static FakeHttpAnswer failure(Error error);
};

// The test double: answers come from a script, time passes on the caller's
// executor (a ManualExecutor in tests), and every request is recorded. A
// request's timeout applies to each wait as with the real client; a request
// nothing was scripted for fails with a transport error naming it.
class FakeHttpClient final : public HttpClient {
public:
    FakeHttpClient();
    ~FakeHttpClient() override;

    // Answers every matching request (method and exact URL).
    void answer(std::string method, std::string url, FakeHttpAnswer answer);
    // Answers the next matching request only; such answers are used in order,
    // before the standing one.
    void answerOnce(std::string method, std::string url, FakeHttpAnswer answer);

    std::vector<HttpRequest> requests() const;
    std::size_t requestCount() const;
    // Streams whose reader stopped, or whose task was cancelled, before the body ended.
    std::size_t abortedStreams() const;

    Task<Result<HttpResponse>> send(HttpRequest request) override;
    Task<Result<HttpStream>> stream(HttpRequest request) override;
    Task<Result<DownloadResult>> download(HttpRequest request, std::filesystem::path destination,
                                          ProgressCallback progress = {}) override;

    struct State;

private:
    std::optional<FakeHttpAnswer> take(const HttpRequest& request);
    std::shared_ptr<State> state_;
};

}  // namespace platform
