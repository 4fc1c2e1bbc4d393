#include "platform/http/CurlHttpClient.h"

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <thread>

#include "platform/http/PartialFile.h"

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

enum class Mode { whole, stream, download };

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
        s.remove_suffix(1);
    return s;
}

bool isFollowedRedirect(long code) {
    return code == 301 || code == 302 || code == 303 || code == 307 || code == 308;
}

Error curlError(CURLcode rc, const char* detailBuffer) {
    std::string detail = (detailBuffer && *detailBuffer) ? detailBuffer : curl_easy_strerror(rc);
    HttpError kind = HttpError::transport;
    if (rc == CURLE_OPERATION_TIMEDOUT)
        kind = HttpError::timedOut;
    else if (rc == CURLE_URL_MALFORMAT || rc == CURLE_UNSUPPORTED_PROTOCOL)
        kind = HttpError::invalidURL;
    return toError(kind, detail)
        .withUnderlying(Error::make("curl", static_cast<int>(rc), "CURLcode", curl_easy_strerror(rc)));
}

}  // namespace

// The cookies of requests that keep them. Easy handles are configured on the
// callers' threads and run on the curl thread, so the share is locked.
struct CurlHttpClient::CookieJar {
    CURLSH* share = nullptr;
    std::mutex mutexes[CURL_LOCK_DATA_LAST];

    CookieJar() {
        share = curl_share_init();
        if (!share) return;
        curl_share_setopt(share, CURLSHOPT_LOCKFUNC, &CookieJar::lock);
        curl_share_setopt(share, CURLSHOPT_UNLOCKFUNC, &CookieJar::unlock);
        curl_share_setopt(share, CURLSHOPT_USERDATA, this);
        curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
    }
    ~CookieJar() {
        if (share) curl_share_cleanup(share);
    }
    CookieJar(const CookieJar&) = delete;
    CookieJar& operator=(const CookieJar&) = delete;

    static void lock(CURL*, curl_lock_data data, curl_lock_access, void* user) {
        static_cast<CookieJar*>(user)->mutexes[data].lock();
    }
    static void unlock(CURL*, curl_lock_data data, void* user) { static_cast<CookieJar*>(user)->mutexes[data].unlock(); }
};

// One request from submission to completion. Fields marked "curl thread" are
// touched only there once the transfer is submitted; the awaiting task reads
// the results after it has been resumed, which the executor's post orders
// after every write.
struct CurlHttpClient::Transfer : std::enable_shared_from_this<Transfer> {
    Mode mode = Mode::whole;
    HttpRequest request;
    CURL* easy = nullptr;
    curl_slist* headerList = nullptr;
    std::shared_ptr<CookieJar> cookies;  // outlives `easy`, which points into it
    char errorBuffer[CURL_ERROR_SIZE] = {};

    std::atomic<bool> cancelRequested{false};
    // curl thread
    bool active = false;
    bool completed = false;
    Clock::time_point lastActivity;
    curl_off_t lastDown = 0;
    curl_off_t lastUp = 0;
    bool consumerGone = false;
    std::optional<Error> writeFailure;
    HttpHeaders pendingHeaders;
    bool headDone = false;

    // Results.
    int status = 0;
    HttpHeaders headers;
    Bytes body;
    Channel<Bytes> channel;
    PartialFile file;
    bool stored = false;
    std::optional<Error> failure;

    // Download progress, reported on the awaiting task's executor, coalesced.
    ProgressCallback progress;
    std::atomic<std::int64_t> received{0};
    std::atomic<std::int64_t> expected{-1};
    std::atomic<bool> progressPending{false};
    std::mutex progressMutex;
    bool progressClosed = false;
    std::int64_t reported = -1;

    // The awaiting coroutine.
    std::coroutine_handle<> waiter;
    Executor* executor = nullptr;

    ~Transfer() { releaseCurl(); }

    void releaseCurl() {
        if (easy) curl_easy_cleanup(std::exchange(easy, nullptr));
        if (headerList) curl_slist_free_all(std::exchange(headerList, nullptr));
        cookies.reset();
    }

    void resumeWaiter() {
        if (auto h = std::exchange(waiter, {})) executor->post([h] { h.resume(); });
    }

    void reportProgress(bool final) {
        std::lock_guard lock(progressMutex);
        if (progressClosed) return;
        if (final) progressClosed = true;
        std::int64_t now = received.load();
        if (now == reported) return;
        reported = now;
        progress(now, expected.load());
    }

    void postProgress() {
        if (!progress || progressPending.exchange(true)) return;
        executor->post([self = shared_from_this()] {
            self->progressPending = false;
            self->reportProgress(false);
        });
    }

    // The final head of the response (after redirects and interim answers).
    void deliverHead(int code, HttpHeaders fields) {
        headDone = true;
        status = code;
        headers = std::move(fields);
        curl_off_t length = -1;
        if (curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK && length >= 0)
            expected = length;
        if (mode == Mode::stream) resumeWaiter();
    }

    void deliverHeadFromInfo() {
        long code = 0;
        curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &code);
        deliverHead(static_cast<int>(code), std::move(pendingHeaders));
    }

    static size_t onHeader(char* data, size_t size, size_t count, void* user) {
        auto* t = static_cast<Transfer*>(user);
        size_t length = size * count;
        t->lastActivity = Clock::now();
        if (t->headDone) return length;  // trailers
        std::string_view line(data, length);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
        if (line.starts_with("HTTP/")) {
            t->pendingHeaders = {};
        } else if (line.empty()) {
            long code = 0;
            curl_easy_getinfo(t->easy, CURLINFO_RESPONSE_CODE, &code);
            // Interim answers and redirects that curl follows are not the response.
            if ((code >= 100 && code < 200) || (isFollowedRedirect(code) && t->pendingHeaders.has("Location")))
                t->pendingHeaders = {};
            else
                t->deliverHead(static_cast<int>(code), std::move(t->pendingHeaders));
        } else if ((line.front() == ' ' || line.front() == '\t') && !t->pendingHeaders.empty()) {
            // An obsolete folded continuation of the previous field.
            auto fields = t->pendingHeaders.fields();
            fields.back().second += " " + std::string(trim(line));
            HttpHeaders rebuilt;
            for (auto& f : fields) rebuilt.add(std::move(f.first), std::move(f.second));
            t->pendingHeaders = std::move(rebuilt);
        } else if (auto colon = line.find(':'); colon != std::string_view::npos) {
            t->pendingHeaders.add(std::string(trim(line.substr(0, colon))),
                                  std::string(trim(line.substr(colon + 1))));
        }
        return length;
    }

    static size_t onWrite(char* data, size_t size, size_t count, void* user) {
        auto* t = static_cast<Transfer*>(user);
        size_t length = size * count;
        t->lastActivity = Clock::now();
        if (!t->headDone) t->deliverHeadFromInfo();
        switch (t->mode) {
            case Mode::whole:
                t->body.insert(t->body.end(), data, data + length);
                break;
            case Mode::stream:
                if (!t->channel.send(Bytes(data, data + length))) {
                    t->consumerGone = true;
                    return 0;
                }
                break;
            case Mode::download:
                if (auto written = t->file.write(data, length); !written) {
                    t->writeFailure = written.error();
                    return 0;
                }
                t->received += static_cast<std::int64_t>(length);
                t->postProgress();
                break;
        }
        return length;
    }

    static int onProgress(void* user, curl_off_t, curl_off_t down, curl_off_t, curl_off_t up) {
        auto* t = static_cast<Transfer*>(user);
        if (down != t->lastDown || up != t->lastUp) {
            t->lastDown = down;
            t->lastUp = up;
            t->lastActivity = Clock::now();
        }
        return 0;
    }

    // Sets up the easy handle; fails for a URL that is not http(s).
    Status configure(const HttpClientConfig& config, const std::shared_ptr<CookieJar>& jar) {
        CURLU* url = curl_url();
        CURLUcode parsed = curl_url_set(url, CURLUPART_URL, request.url.c_str(), 0);
        char* scheme = nullptr;
        if (parsed == CURLUE_OK) parsed = curl_url_get(url, CURLUPART_SCHEME, &scheme, 0);
        std::string schemeText = scheme ? scheme : "";
        curl_free(scheme);
        curl_url_cleanup(url);
        if (parsed != CURLUE_OK) return fail(toError(HttpError::invalidURL, curl_url_strerror(parsed)));
        if (schemeText != "http" && schemeText != "https")
            return fail(toError(HttpError::invalidURL, "unsupported scheme \"" + schemeText + "\""));

        easy = curl_easy_init();
        if (!easy) return fail(toError(HttpError::transport, "cannot create a transfer"));
        curl_easy_setopt(easy, CURLOPT_URL, request.url.c_str());
        curl_easy_setopt(easy, CURLOPT_PRIVATE, this);
        curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, errorBuffer);
        curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 16L);
        curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
        if (request.keepsCookies && jar && jar->share) {
            cookies = jar;
            curl_easy_setopt(easy, CURLOPT_SHARE, jar->share);
            curl_easy_setopt(easy, CURLOPT_COOKIEFILE, "");  // the cookie engine, reading no file
        }

        // Only our configuration decides on proxies: an empty proxy disables
        // them, and an explicit no-proxy list keeps the environment's out.
        const auto& proxy = schemeText == "https" ? config.httpsProxy : config.httpProxy;
        curl_easy_setopt(easy, CURLOPT_PROXY, proxy ? proxy->c_str() : "");
        curl_easy_setopt(easy, CURLOPT_NOPROXY, proxy ? "" : "*");

        const std::string& method = request.method;
        bool sendsBody = !request.body.empty() || (method != "GET" && method != "HEAD" && method != "DELETE");
        if (method == "HEAD") {
            curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
        } else if (method == "GET" && !sendsBody) {
            curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
        }
        if (sendsBody) {
            curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
            curl_easy_setopt(easy, CURLOPT_POSTFIELDS,
                             request.body.empty() ? "" : reinterpret_cast<const char*>(request.body.data()));
        }
        if (method != "GET" && method != "HEAD" && method != "POST")
            curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method.c_str());

        for (const auto& [name, value] : request.headers) {
            std::string line = value.empty() ? name + ";" : name + ": " + value;
            headerList = curl_slist_append(headerList, line.c_str());
        }
        // Never wait for a "100 Continue" that some servers do not send.
        if (!request.headers.has("Expect")) headerList = curl_slist_append(headerList, "Expect:");
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headerList);

        curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Transfer::onHeader);
        curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Transfer::onWrite);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
        curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &Transfer::onProgress);
        curl_easy_setopt(easy, CURLOPT_XFERINFODATA, this);
        curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
        return ok();
    }
};

// The multi handle and the thread that drives it.
struct CurlHttpClient::Core {
    CURLM* multi = nullptr;
    std::thread thread;
    std::mutex mutex;
    bool stopping = false;
    std::vector<std::shared_ptr<Transfer>> toAdd;
    std::vector<std::shared_ptr<Transfer>> toCancel;
    std::map<CURL*, std::shared_ptr<Transfer>> active;  // curl thread

    Core() {
        static std::once_flag once;
        std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
        multi = curl_multi_init();
        thread = std::thread([this] { run(); });
    }

    ~Core() {
        shutdown();
        curl_multi_cleanup(multi);
    }

    void shutdown() {
        {
            std::lock_guard lock(mutex);
            if (stopping) return;
            stopping = true;
        }
        curl_multi_wakeup(multi);
        if (thread.joinable()) thread.join();
    }

    void submit(std::shared_ptr<Transfer> t) {
        {
            std::lock_guard lock(mutex);
            if (!stopping) {
                toAdd.push_back(std::move(t));
                curl_multi_wakeup(multi);
                return;
            }
        }
        finish(t, Error::cancelled());
    }

    void cancel(std::shared_ptr<Transfer> t) {
        t->cancelRequested = true;
        std::lock_guard lock(mutex);
        if (stopping) return;
        toCancel.push_back(std::move(t));
        curl_multi_wakeup(multi);
    }

    // Ends a transfer: out of the multi handle, results handed to the waiter or stream.
    void finish(const std::shared_ptr<Transfer>& t, std::optional<Error> failure) {
        if (t->completed) return;
        t->completed = true;
        if (!failure && !t->headDone && t->easy) t->deliverHeadFromInfo();
        if (t->active) {
            curl_multi_remove_handle(multi, t->easy);
            active.erase(t->easy);
            t->active = false;
        }
        t->releaseCurl();
        switch (t->mode) {
            case Mode::whole:
                t->failure = std::move(failure);
                t->resumeWaiter();
                break;
            case Mode::download:
                if (!failure && t->status >= 200 && t->status < 300) {
                    if (auto committed = t->file.commit(); committed)
                        t->stored = true;
                    else
                        failure = committed.error();
                } else {
                    t->file.discard();
                }
                t->failure = std::move(failure);
                t->resumeWaiter();
                break;
            case Mode::stream:
                if (t->waiter) {  // the head never came
                    t->failure = failure ? std::move(failure) : Error::cancelled();
                    t->resumeWaiter();
                } else if (failure) {
                    t->channel.fail(std::move(*failure));
                } else {
                    t->channel.finish();
                }
                break;
        }
    }

    std::optional<Error> outcome(const Transfer& t, CURLcode rc) const {
        if (rc == CURLE_OK) return std::nullopt;
        if (t.consumerGone) return Error::cancelled();
        if (t.writeFailure) return t.writeFailure;
        return curlError(rc, t.errorBuffer);
    }

    void run() {
        for (;;) {
            std::vector<std::shared_ptr<Transfer>> adds, cancels;
            {
                std::lock_guard lock(mutex);
                if (stopping) break;
                adds.swap(toAdd);
                cancels.swap(toCancel);
            }
            for (auto& t : adds) {
                if (t->cancelRequested) {
                    finish(t, Error::cancelled());
                    continue;
                }
                t->lastActivity = Clock::now();
                if (CURLMcode rc = curl_multi_add_handle(multi, t->easy); rc != CURLM_OK) {
                    finish(t, toError(HttpError::transport, curl_multi_strerror(rc)));
                    continue;
                }
                t->active = true;
                active.emplace(t->easy, t);
            }
            for (auto& t : cancels)
                if (t->active) finish(t, Error::cancelled());

            int running = 0;
            curl_multi_perform(multi, &running);
            int queued = 0;
            while (CURLMsg* msg = curl_multi_info_read(multi, &queued)) {
                if (msg->msg != CURLMSG_DONE) continue;
                auto it = active.find(msg->easy_handle);
                if (it == active.end()) continue;
                auto t = it->second;
                finish(t, outcome(*t, msg->data.result));
            }

            // Idle timeouts: nothing moved for longer than the request allows.
            auto now = Clock::now();
            auto wake = now + std::chrono::seconds(1);
            std::vector<std::shared_ptr<Transfer>> expired;
            for (auto& [easy, t] : active) {
                if (t->request.timeout <= Duration::zero()) continue;
                auto deadline = t->lastActivity + t->request.timeout;
                if (deadline <= now)
                    expired.push_back(t);
                else
                    wake = std::min(wake, deadline);
            }
            for (auto& t : expired) finish(t, toError(HttpError::timedOut));

            auto waitMs = std::chrono::ceil<std::chrono::milliseconds>(wake - Clock::now()).count();
            if (!expired.empty()) waitMs = 0;
            curl_multi_poll(multi, nullptr, 0, static_cast<int>(std::clamp<long long>(waitMs, 0, 1000)), nullptr);
        }

        std::vector<std::shared_ptr<Transfer>> left;
        for (auto& [easy, t] : active) left.push_back(t);
        {
            std::lock_guard lock(mutex);
            for (auto& t : toAdd) left.push_back(t);
            toAdd.clear();
            toCancel.clear();
        }
        for (auto& t : left) finish(t, Error::cancelled());
    }
};

namespace {

// Cancels the transfer on the curl thread, unless the client or the transfer is gone.
std::function<void()> cancellation(std::weak_ptr<CurlHttpClient::Core> core,
                                   std::weak_ptr<CurlHttpClient::Transfer> transfer) {
    return [core = std::move(core), transfer = std::move(transfer)] {
        auto c = core.lock();
        auto t = transfer.lock();
        if (c && t) c->cancel(t);
    };
}

// Suspends the awaiting task until the curl thread finishes the transfer (or,
// for streams, delivers the head). Cancellation goes through the curl thread,
// so the task is resumed exactly once, by `finish` or `deliverHead`.
struct TransferAwaiter {
    std::weak_ptr<CurlHttpClient::Core> core;
    std::shared_ptr<CurlHttpClient::Transfer> transfer;
    std::optional<std::stop_callback<std::function<void()>>> onStop;

    bool await_ready() const noexcept { return false; }

    template <detail::TaskPromise P>
    bool await_suspend(std::coroutine_handle<P> h) {
        auto& p = h.promise();
        auto c = core.lock();
        if (!c || p.stop.stop_requested()) {
            transfer->failure = Error::cancelled();
            return false;
        }
        transfer->waiter = h;
        transfer->executor = p.executor;
        if (p.stop.stop_possible()) onStop.emplace(p.stop, cancellation(core, transfer));
        // Last: once submitted, the task may be resumed on another thread.
        c->submit(transfer);
        return true;
    }

    void await_resume() { onStop.reset(); }
};

}  // namespace

CurlHttpClient::CurlHttpClient(HttpClientConfig config)
    : config_(std::move(config)), cookies_(std::make_shared<CookieJar>()), core_(std::make_shared<Core>()) {}

CurlHttpClient::~CurlHttpClient() { core_->shutdown(); }

namespace {
Result<std::shared_ptr<CurlHttpClient::Transfer>> makeTransfer(
    Mode mode, HttpRequest request, const HttpClientConfig& config,
    const std::shared_ptr<CurlHttpClient::CookieJar>& cookies) {
    auto t = std::make_shared<CurlHttpClient::Transfer>();
    t->mode = mode;
    t->request = std::move(request);
    if (auto configured = t->configure(config, cookies); !configured) return fail(configured.error());
    return t;
}
}  // namespace

Task<Result<HttpResponse>> CurlHttpClient::send(HttpRequest request) {
    auto made = makeTransfer(Mode::whole, std::move(request), config_, cookies_);
    if (!made) co_return fail(made.error());
    std::shared_ptr<Transfer> t = *made;
    TransferAwaiter awaiter{core_, t, std::nullopt};
    co_await awaiter;
    if (t->failure) co_return fail(*t->failure);
    co_return HttpResponse{t->status, std::move(t->headers), std::move(t->body)};
}

Task<Result<HttpStream>> CurlHttpClient::stream(HttpRequest request) {
    auto made = makeTransfer(Mode::stream, std::move(request), config_, cookies_);
    if (!made) co_return fail(made.error());
    std::shared_ptr<Transfer> t = *made;
    // The reader stopping (or the stream being dropped) aborts the transfer.
    t->channel.onConsumerStopped(cancellation(core_, t));
    TransferAwaiter awaiter{core_, t, std::nullopt};
    co_await awaiter;
    if (t->failure) {
        t->channel.stopConsuming();
        co_return fail(*t->failure);
    }
    std::stop_token stop = co_await currentStopToken();
    if (stop.stop_requested()) {
        t->channel.stopConsuming();
        co_return fail(Error::cancelled());
    }
    co_return HttpStream(t->status, t->headers, t->channel, stop);
}

Task<Result<DownloadResult>> CurlHttpClient::download(HttpRequest request, std::filesystem::path destination,
                                                      ProgressCallback progress) {
    auto file = PartialFile::create(destination);
    if (!file) co_return fail(file.error());
    auto made = makeTransfer(Mode::download, std::move(request), config_, cookies_);
    if (!made) co_return fail(made.error());
    std::shared_ptr<Transfer> t = *made;
    t->file = std::move(*file);
    t->progress = std::move(progress);
    TransferAwaiter awaiter{core_, t, std::nullopt};
    co_await awaiter;
    if (t->progress) t->reportProgress(true);
    t->file.discard();  // only left open when the transfer never started
    if (t->failure) co_return fail(*t->failure);
    co_return DownloadResult{t->status, std::move(t->headers), t->received.load(), t->stored};
}

}  // namespace platform
