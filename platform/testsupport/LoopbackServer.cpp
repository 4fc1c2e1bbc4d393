#include "platform/testsupport/LoopbackServer.h"

#include <httplib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <condition_variable>
#include <csignal>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace testsupport {

using namespace std::chrono_literals;

namespace {
bool sameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}
}  // namespace

std::optional<std::string> LoopbackRequest::header(std::string_view name) const {
    for (const auto& [n, v] : headers)
        if (sameName(n, name)) return v;
    return std::nullopt;
}

// ---- Gate

struct LoopbackGate::State {
    std::mutex mutex;
    std::condition_variable opened;
    bool isOpen = false;
};

LoopbackGate::LoopbackGate() : state_(std::make_unique<State>()) {}
LoopbackGate::~LoopbackGate() = default;

void LoopbackGate::open() {
    {
        std::lock_guard lock(state_->mutex);
        state_->isOpen = true;
    }
    state_->opened.notify_all();
}

bool LoopbackGate::wait(std::chrono::milliseconds timeout) {
    std::unique_lock lock(state_->mutex);
    return state_->opened.wait_for(lock, timeout, [&] { return state_->isOpen; });
}

LoopbackReply LoopbackReply::text(int status, std::string body) {
    LoopbackReply r;
    r.status = status;
    r.headers.emplace_back("Content-Type", "text/plain; charset=utf-8");
    r.body = std::move(body);
    return r;
}

// ---- Server

struct LoopbackServer::Impl {
    httplib::Server server;
    std::thread thread;
    int port = 0;

    mutable std::mutex mutex;
    std::condition_variable changed;
    bool stopping = false;
    std::map<std::pair<std::string, std::string>, Handler> routes;
    std::vector<LoopbackRequest> requests;
    std::vector<ReplyOutcome> outcomes;

    // Sleeps `d` unless the server stops first (then false).
    bool pause(std::chrono::milliseconds d) {
        if (d <= 0ms) return !isStopping();
        std::unique_lock lock(mutex);
        return !changed.wait_for(lock, d, [&] { return stopping; });
    }
    bool isStopping() const {
        std::lock_guard lock(mutex);
        return stopping;
    }
    bool waitForGate(LoopbackGate& gate) {
        while (!gate.wait(20ms))
            if (isStopping()) return false;
        return true;
    }
    void setOutcome(std::size_t index, ReplyOutcome o) {
        {
            std::lock_guard lock(mutex);
            outcomes[index] = o;
        }
        changed.notify_all();
    }

    // The body of one reply, written piece by piece from the server's thread.
    struct Body {
        Impl* impl;
        LoopbackReply reply;
        std::vector<std::string> pieces;
        std::size_t next = 0;
        bool gatePassed = false;

        // False ends the reply early (connection closed).
        bool writeNext(httplib::DataSink& sink) {
            if (!gatePassed) {
                if (reply.bodyGate && !impl->waitForGate(*reply.bodyGate)) return false;
                gatePassed = true;
            }
            if (!impl->pause(reply.chunkDelay)) return false;
            const std::string& piece = pieces[next++];
            return sink.write(piece.data(), piece.size());
        }
        bool morePieces() const { return next < pieces.size(); }
    };

    void handle(const httplib::Request& req, httplib::Response& res) {
        LoopbackRequest r;
        r.method = req.method;
        r.path = req.path;
        if (auto q = req.target.find('?'); q != std::string::npos) r.query = req.target.substr(q + 1);
        for (const auto& [n, v] : req.headers) r.headers.emplace_back(n, v);
        r.body = req.body;
        // Replies go out exactly as scripted: httplib would otherwise cut the
        // body to a request's Range itself. The request object is the
        // server's own, not const; only the handler's view of it is.
        const_cast<httplib::Request&>(req).ranges.clear();

        std::size_t index = 0;
        Handler handler;
        {
            std::lock_guard lock(mutex);
            index = requests.size();
            requests.push_back(r);
            outcomes.push_back(ReplyOutcome::pending);
            auto it = routes.find({r.method, r.path});
            if (it == routes.end() && r.method == "HEAD") it = routes.find({"GET", r.path});
            if (it != routes.end()) handler = it->second;
        }
        changed.notify_all();

        LoopbackReply reply = handler ? handler(r) : LoopbackReply::text(404, "not found");
        if (!pause(reply.delay)) {
            res.status = 503;
            setOutcome(index, ReplyOutcome::aborted);
            return;
        }
        res.status = reply.status;
        std::string contentType = "application/octet-stream";
        for (const auto& [n, v] : reply.headers) {
            if (sameName(n, "Content-Type"))
                contentType = v;
            else
                res.set_header(n, v);
        }

        auto body = std::make_shared<Body>();
        body->impl = this;
        body->pieces = reply.chunks.empty() ? std::vector<std::string>{reply.body} : reply.chunks;
        std::size_t total = 0;
        for (const auto& p : body->pieces) total += p.size();
        bool streamed = !reply.chunks.empty() || reply.contentLength || reply.cut || reply.bodyGate ||
                        reply.chunkDelay > 0ms;
        if (r.method == "HEAD" || (!streamed && total == 0)) {
            res.set_content(reply.body, contentType);
            setOutcome(index, ReplyOutcome::completed);
            return;
        }
        body->reply = std::move(reply);
        const LoopbackReply& rp = body->reply;
        auto release = [this, index](bool success) {
            setOutcome(index, success ? ReplyOutcome::completed : ReplyOutcome::aborted);
        };
        std::optional<std::size_t> declared = rp.contentLength;
        if (!declared && rp.chunks.empty()) declared = total + (rp.cut ? 1 : 0);
        if (declared) {
            res.set_content_provider(
                *declared, contentType,
                [body](std::size_t, std::size_t, httplib::DataSink& sink) {
                    // Out of pieces before the declared length: the connection is cut.
                    return body->morePieces() && body->writeNext(sink);
                },
                release);
        } else {
            res.set_chunked_content_provider(
                contentType,
                [body](std::size_t, httplib::DataSink& sink) {
                    if (body->morePieces()) return body->writeNext(sink);
                    if (body->reply.cut) return false;
                    sink.done();
                    return true;
                },
                release);
        }
    }
};

LoopbackServer::LoopbackServer() : impl_(std::make_unique<Impl>()) {
    // A client that goes away mid-reply must not kill the test process.
    std::signal(SIGPIPE, SIG_IGN);
    Impl* impl = impl_.get();
    auto h = [impl](const httplib::Request& req, httplib::Response& res) { impl->handle(req, res); };
    impl->server.Get(".*", h);
    impl->server.Post(".*", h);
    impl->server.Put(".*", h);
    impl->server.Patch(".*", h);
    impl->server.Delete(".*", h);
    impl->server.Options(".*", h);
    impl->server.set_tcp_nodelay(true);
    impl->port = impl->server.bind_to_any_port("127.0.0.1");
    if (impl->port <= 0) throw std::runtime_error("LoopbackServer: cannot bind 127.0.0.1");
    impl->thread = std::thread([impl] { impl->server.listen_after_bind(); });
    // stop() only works once the accept loop runs.
    for (int i = 0; i < 5000 && !impl->server.is_running(); ++i) std::this_thread::sleep_for(1ms);
    if (!impl->server.is_running()) throw std::runtime_error("LoopbackServer: the server did not start");
}

LoopbackServer::~LoopbackServer() {
    {
        std::lock_guard lock(impl_->mutex);
        impl_->stopping = true;
    }
    impl_->changed.notify_all();
    impl_->server.stop();
    impl_->thread.join();
}

std::string LoopbackServer::baseUrl() const { return "http://127.0.0.1:" + std::to_string(impl_->port); }

std::string LoopbackServer::url(std::string_view path) const { return baseUrl() + std::string(path); }

int LoopbackServer::port() const { return impl_->port; }

void LoopbackServer::route(std::string method, std::string path, LoopbackReply reply) {
    route(std::move(method), std::move(path), Handler([reply](const LoopbackRequest&) { return reply; }));
}

void LoopbackServer::route(std::string method, std::string path, Handler handler) {
    std::lock_guard lock(impl_->mutex);
    impl_->routes[{std::move(method), std::move(path)}] = std::move(handler);
}

std::vector<LoopbackRequest> LoopbackServer::requests() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->requests;
}

std::size_t LoopbackServer::requestCount() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->requests.size();
}

bool LoopbackServer::waitForRequests(std::size_t count, std::chrono::milliseconds timeout) {
    std::unique_lock lock(impl_->mutex);
    return impl_->changed.wait_for(lock, timeout, [&] { return impl_->requests.size() >= count; });
}

ReplyOutcome LoopbackServer::outcome(std::size_t index) const {
    std::lock_guard lock(impl_->mutex);
    return index < impl_->outcomes.size() ? impl_->outcomes[index] : ReplyOutcome::pending;
}

ReplyOutcome LoopbackServer::waitForOutcome(std::size_t index, std::chrono::milliseconds timeout) {
    std::unique_lock lock(impl_->mutex);
    impl_->changed.wait_for(lock, timeout, [&] {
        return index < impl_->outcomes.size() && impl_->outcomes[index] != ReplyOutcome::pending;
    });
    return index < impl_->outcomes.size() ? impl_->outcomes[index] : ReplyOutcome::pending;
}

// ---- Refusing and silent ports

LoopbackPort::LoopbackPort(bool listening) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    if (listening) ::listen(fd_, 16);
}

LoopbackPort::~LoopbackPort() {
    if (fd_ >= 0) ::close(fd_);
}

std::string LoopbackPort::baseUrl() const { return "http://127.0.0.1:" + std::to_string(port_); }

}  // namespace testsupport
