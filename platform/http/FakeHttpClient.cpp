#include "platform/http/FakeHttpClient.h"

#include "platform/http/PartialFile.h"

namespace platform {

struct FakeHttpClient::State {
    using Key = std::pair<std::string, std::string>;
    mutable std::mutex mutex;
    std::map<Key, std::deque<FakeHttpAnswer>> once;
    std::map<Key, FakeHttpAnswer> standing;
    std::vector<HttpRequest> requests;
    std::size_t abortedStreams = 0;

    void countAbort() {
        std::lock_guard lock(mutex);
        ++abortedStreams;
    }
};

FakeHttpAnswer FakeHttpAnswer::text(int status, std::string body) {
    FakeHttpAnswer a;
    a.status = status;
    a.headers.add("Content-Type", "text/plain; charset=utf-8");
    a.body.assign(body.begin(), body.end());
    return a;
}

FakeHttpAnswer FakeHttpAnswer::failure(Error error) {
    FakeHttpAnswer a;
    a.error = std::move(error);
    return a;
}

FakeHttpClient::FakeHttpClient() : state_(std::make_shared<State>()) {}
FakeHttpClient::~FakeHttpClient() = default;

void FakeHttpClient::answer(std::string method, std::string url, FakeHttpAnswer answer) {
    std::lock_guard lock(state_->mutex);
    state_->standing[{std::move(method), std::move(url)}] = std::move(answer);
}

void FakeHttpClient::answerOnce(std::string method, std::string url, FakeHttpAnswer answer) {
    std::lock_guard lock(state_->mutex);
    state_->once[{std::move(method), std::move(url)}].push_back(std::move(answer));
}

std::vector<HttpRequest> FakeHttpClient::requests() const {
    std::lock_guard lock(state_->mutex);
    return state_->requests;
}

std::size_t FakeHttpClient::requestCount() const {
    std::lock_guard lock(state_->mutex);
    return state_->requests.size();
}

std::size_t FakeHttpClient::abortedStreams() const {
    std::lock_guard lock(state_->mutex);
    return state_->abortedStreams;
}

std::optional<FakeHttpAnswer> FakeHttpClient::take(const HttpRequest& request) {
    std::lock_guard lock(state_->mutex);
    state_->requests.push_back(request);
    State::Key key{request.method, request.url};
    if (auto it = state_->once.find(key); it != state_->once.end() && !it->second.empty()) {
        FakeHttpAnswer a = std::move(it->second.front());
        it->second.pop_front();
        return a;
    }
    if (auto it = state_->standing.find(key); it != state_->standing.end()) return it->second;
    return std::nullopt;
}

namespace {

Error unscripted(const HttpRequest& request) {
    return toError(HttpError::transport, "FakeHttpClient has no answer for " + request.method + " " + request.url);
}

std::vector<Bytes> piecesOf(const FakeHttpAnswer& a) {
    if (!a.chunks.empty()) return a.chunks;
    return {a.body};
}

// Waits `d` of the executor's time; a wait longer than the request's timeout
// ends at the timeout with the timeout error, as with the real client.
Task<Status> wait(Duration d, Duration timeout) {
    if (timeout > Duration::zero() && d > timeout) {
        auto slept = co_await sleepFor(timeout);
        if (!slept) co_return slept;
        co_return fail(toError(HttpError::timedOut));
    }
    if (d > Duration::zero()) {
        auto slept = co_await sleepFor(d);
        co_return slept;
    }
    std::stop_token stop = co_await currentStopToken();
    if (stop.stop_requested()) co_return fail(Error::cancelled());
    co_return ok();
}

Task<void> produce(Channel<Bytes> body, std::vector<Bytes> pieces, Duration chunkDelay, Duration timeout,
                   std::optional<Error> bodyError, std::shared_ptr<FakeHttpClient::State> state) {
    for (auto& piece : pieces) {
        auto waited = co_await wait(chunkDelay, timeout);
        if (!waited) {
            if (waited.error().isCancellation()) {
                state->countAbort();
            } else {
                body.fail(waited.error());
            }
            co_return;
        }
        if (!body.send(std::move(piece))) {
            state->countAbort();
            co_return;
        }
    }
    if (bodyError)
        body.fail(*bodyError);
    else
        body.finish();
}

}  // namespace

Task<Result<HttpResponse>> FakeHttpClient::send(HttpRequest request) {
    auto answer = take(request);
    if (!answer) co_return fail(unscripted(request));
    auto waited = co_await wait(answer->delay, request.timeout);
    if (!waited) co_return fail(waited.error());
    if (answer->error) co_return fail(*answer->error);
    HttpResponse response{answer->status, answer->headers, {}};
    for (auto& piece : piecesOf(*answer)) {
        waited = co_await wait(answer->chunkDelay, request.timeout);
        if (!waited) co_return fail(waited.error());
        response.body.insert(response.body.end(), piece.begin(), piece.end());
    }
    if (answer->bodyError) co_return fail(*answer->bodyError);
    co_return response;
}

Task<Result<HttpStream>> FakeHttpClient::stream(HttpRequest request) {
    auto answer = take(request);
    if (!answer) co_return fail(unscripted(request));
    auto waited = co_await wait(answer->delay, request.timeout);
    if (!waited) co_return fail(waited.error());
    if (answer->error) co_return fail(*answer->error);

    Executor& executor = co_await currentExecutor();
    std::stop_token stop = co_await currentStopToken();
    Channel<Bytes> body;
    auto producer = spawn(executor, produce(body, piecesOf(*answer), answer->chunkDelay, request.timeout,
                                            answer->bodyError, state_));
    body.onConsumerStopped([producer] { producer.cancel(); });
    co_return HttpStream(answer->status, answer->headers, body, stop);
}

Task<Result<DownloadResult>> FakeHttpClient::download(HttpRequest request, std::filesystem::path destination,
                                                      ProgressCallback progress) {
    auto answer = take(request);
    if (!answer) co_return fail(unscripted(request));
    auto file = PartialFile::create(destination);
    if (!file) co_return fail(file.error());
    auto waited = co_await wait(answer->delay, request.timeout);
    if (!waited) co_return fail(waited.error());
    if (answer->error) co_return fail(*answer->error);

    auto pieces = piecesOf(*answer);
    std::int64_t expected = 0;
    for (const auto& p : pieces) expected += static_cast<std::int64_t>(p.size());
    DownloadResult result{answer->status, answer->headers, 0, false};
    for (const auto& piece : pieces) {
        waited = co_await wait(answer->chunkDelay, request.timeout);
        if (!waited) co_return fail(waited.error());
        if (auto written = file->write(piece.data(), piece.size()); !written) co_return fail(written.error());
        result.bytesReceived += static_cast<std::int64_t>(piece.size());
        if (progress && !piece.empty()) progress(result.bytesReceived, expected);
    }
    if (answer->bodyError) co_return fail(*answer->bodyError);
    if (result.isSuccess()) {
        auto committed = file->commit();
        if (!committed) co_return fail(committed.error());
        result.stored = true;
    }
    co_return result;
}

}  // namespace platform
