#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace testsupport {

// A request as the loopback server received it.
struct LoopbackRequest {
    std::string method;
    std::string path;   // decoded, without the query
    std::string query;  // raw text after "?", empty when none
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;

    // First value of a header; the name is compared without regard to case.
    std::optional<std::string> header(std::string_view name) const;
};

// Holds a reply's body back until the test opens it (or the server stops).
class LoopbackGate {
public:
    LoopbackGate();
    ~LoopbackGate();
    void open();
    // True once open; false when `timeout` passed first.
    bool wait(std::chrono::milliseconds timeout);

private:
    struct State;
    std::unique_ptr<State> state_;
};

// A scripted reply.
struct LoopbackReply {
    int status = 200;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    // When set, the body is sent in these pieces, one write each, with
    // chunked transfer encoding (unless `contentLength` is given).
    std::vector<std::string> chunks;
    // Declared length; a value beyond the bytes sent cuts the connection
    // after the last piece.
    std::optional<std::size_t> contentLength;
    // Close the connection after the pieces instead of ending the body.
    bool cut = false;
    std::chrono::milliseconds delay{0};       // before the head
    std::chrono::milliseconds chunkDelay{0};  // before each piece of the body
    // The body waits for this gate after the head has gone out.
    std::shared_ptr<LoopbackGate> bodyGate;

    static LoopbackReply text(int status, std::string body);
};

// How a reply ended on the server's side.
enum class ReplyOutcome {
    pending,    // still being sent
    completed,  // every byte written
    aborted,    // the client went away (or the reply was cut on purpose)
};

// An HTTP server on 127.0.0.1 with a free port, on threads of its own, for
// tests of HTTP clients. Routes are scripted per method and exact path;
// anything else is answered 404. Every request is recorded.
class LoopbackServer {
public:
    using Handler = std::function<LoopbackReply(const LoopbackRequest&)>;

    LoopbackServer();
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    // "http://127.0.0.1:<port>"
    std::string baseUrl() const;
    // baseUrl() + path
    std::string url(std::string_view path) const;
    int port() const;

    // HEAD requests fall back to the GET route.
    void route(std::string method, std::string path, LoopbackReply reply);
    void route(std::string method, std::string path, Handler handler);

    std::vector<LoopbackRequest> requests() const;
    std::size_t requestCount() const;
    // Waits in real time until `count` requests have arrived.
    bool waitForRequests(std::size_t count, std::chrono::milliseconds timeout);
    ReplyOutcome outcome(std::size_t index) const;
    // Waits in real time until the reply to request `index` has ended.
    ReplyOutcome waitForOutcome(std::size_t index, std::chrono::milliseconds timeout);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// A port on 127.0.0.1, held while the object lives.
class LoopbackPort {
public:
    LoopbackPort(const LoopbackPort&) = delete;
    LoopbackPort& operator=(const LoopbackPort&) = delete;

    // "http://127.0.0.1:<port>"
    std::string baseUrl() const;
    // baseUrl() + path
    std::string url(std::string_view path) const { return baseUrl() + std::string(path); }

protected:
    explicit LoopbackPort(bool listening);
    ~LoopbackPort();

private:
    int fd_ = -1;
    int port_ = 0;
};

// A port that refuses connections (bound, never listening): a server that
// is certainly not there.
class RefusingPort : public LoopbackPort {
public:
    RefusingPort() : LoopbackPort(false) {}
};

// A port that accepts connections (the kernel does) and never answers on
// them: a server that never replies.
class SilentPort : public LoopbackPort {
public:
    SilentPort() : LoopbackPort(true) {}
};

}  // namespace testsupport
