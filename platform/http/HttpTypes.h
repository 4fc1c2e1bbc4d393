#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/runtime/Channel.h"
#include "platform/runtime/Error.h"
#include "platform/runtime/Executor.h"
#include "platform/values/Bytes.h"

namespace platform {

// Header fields in the order they were given or received. Names compare
// without regard to case, as HTTP wants; values are kept as they are.
class HttpHeaders {
public:
    using Field = std::pair<std::string, std::string>;

    HttpHeaders() = default;
    HttpHeaders(std::initializer_list<Field> fields) : fields_(fields) {}

    // Appends a field (a repeated name keeps every value).
    void add(std::string name, std::string value);
    // Replaces every field of that name with one field, or appends it.
    void set(std::string name, std::string value);
    void remove(std::string_view name);

    // The first value of `name`, if present.
    std::optional<std::string> value(std::string_view name) const;
    std::vector<std::string> values(std::string_view name) const;
    bool has(std::string_view name) const { return value(name).has_value(); }

    const std::vector<Field>& fields() const { return fields_; }
    std::size_t size() const { return fields_.size(); }
    bool empty() const { return fields_.empty(); }
    auto begin() const { return fields_.begin(); }
    auto end() const { return fields_.end(); }

    friend bool operator==(const HttpHeaders&, const HttpHeaders&) = default;

private:
    std::vector<Field> fields_;
};

bool equalsIgnoringCase(std::string_view a, std::string_view b);

struct HttpRequest {
    std::string method = "GET";
    std::string url;  // absolute http(s) URL as text (Url::absoluteString())
    HttpHeaders headers;
    Bytes body;
    // The longest wait with no data moving in either direction before the
    // request fails as timed out; zero waits for ever.
    Duration timeout{};
    // Sends the cookies that earlier such requests were given and keeps the
    // ones this response sets, in the client's in-memory jar (one per client,
    // never written to disk and never shared with the web engine's profile).
    bool keepsCookies = false;

    static HttpRequest get(std::string url, Duration timeout = {});
};

struct HttpResponse {
    int status = 0;
    HttpHeaders headers;
    Bytes body;

    bool isSuccess() const { return status >= 200 && status < 300; }
    std::string text() const { return std::string(body.begin(), body.end()); }
};

// A response whose body is still arriving. The head (status and headers) is
// here; the body comes through `body` as chunks in network order, then ends
// normally or with the transfer's error.
//
// Dropping the stream, calling cancel(), stopping consumption of `body`, or
// cancelling the task that opened the stream aborts the transfer. Keep the
// stream alive while reading its body.
class HttpStream {
public:
    HttpStream() = default;
    // `cancelWith` is the stop token of the task that opened the stream.
    HttpStream(int status, HttpHeaders headers, Channel<Bytes> body, std::stop_token cancelWith = {});
    HttpStream(HttpStream&&) noexcept;
    HttpStream& operator=(HttpStream&&) noexcept;
    ~HttpStream();

    int status = 0;
    HttpHeaders headers;
    Channel<Bytes> body;

    bool isSuccess() const { return status >= 200 && status < 300; }
    // Aborts the transfer; later chunks are dropped.
    void cancel();

private:
    struct Guard;
    std::unique_ptr<Guard> guard_;
};

// What a download produced. The file at the destination is replaced only when
// the whole body arrived with a 2xx status (`stored`); otherwise it is left as
// it was and the partial file is removed.
struct DownloadResult {
    int status = 0;
    HttpHeaders headers;
    std::int64_t bytesReceived = 0;
    bool stored = false;

    bool isSuccess() const { return status >= 200 && status < 300; }
};

// Errors of this layer (domain "http"). An HTTP status is never one of them:
// a 404 or 500 is a response. Cancellation is `Error::cancelled()`.
enum class HttpError {
    transport = 1,   // no connection, connection lost, protocol failure
    timedOut = 2,    // nothing moved for longer than the request's timeout
    invalidURL = 3,  // the URL cannot be parsed or its scheme is not http(s)
    file = 4,        // a download could not write or place its file
};

inline constexpr const char* kHttpErrorDomain = "http";

Error toError(HttpError code, std::string detail = {});
// The case name of an HTTP error ("transport", "timedOut", ...).
const char* caseName(HttpError code);
inline bool isHttpError(const Error& e, HttpError code) {
    return e.is(kHttpErrorDomain, static_cast<int>(code));
}

}  // namespace platform
