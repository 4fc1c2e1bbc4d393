#pragma once

// One HTTP request split into what a caller waits for separately: the head
// (status and headers), once, and the body as chunks in network order. The
// cloud voices use it to judge the status before reading and to play audio
// while the rest of a sentence is still arriving.

#include <cstdint>
#include <optional>

#include "platform/http/HttpClient.h"

namespace parlowen {

class ChunkedDataStream {
public:
    // The response head.
    struct Head {
        int statusCode = 0;
        platform::HttpHeaders headers;
    };

    // The body: chunks unchanged and in arrival order, however slowly they
    // are read (nothing is dropped or merged); it ends normally, or with the
    // transfer's error after every chunk that came before it. Stopping early
    // (stop(), or dropping the body) and cancelling the reading task cancel
    // the transfer.
    class Body {
    public:
        Body() = default;
        explicit Body(platform::HttpStream transfer) : transfer_(std::move(transfer)) {}

        // A chunk, nullopt at the end of the body, or the transfer's error.
        // Only for a body that came from go().
        auto next() { return transfer_->body.next(); }
        void stop() {
            if (transfer_) transfer_->cancel();
        }

    private:
        std::optional<platform::HttpStream> transfer_;
    };

    struct Response {
        Head http;
        Body stream;
    };

    // The error for an answer that is not HTTP: "ChunkedDataStream", -1, "Non-HTTP response".
    static constexpr const char* kErrorDomain = "ChunkedDataStream";
    static platform::Error nonHttpResponse();

    // One object serves one request; `http` must outlive it.
    explicit ChunkedDataStream(platform::HttpClient& http) : http_(http) {}

    // Starts the request and returns once the head has arrived. Status codes
    // are not judged: a 4xx or 5xx answer comes back like any other. A
    // failure before the head fails here, and no body is exposed.
    platform::Task<platform::Result<Response>> go(platform::HttpRequest request);

private:
    platform::HttpClient& http_;
};

}  // namespace parlowen
