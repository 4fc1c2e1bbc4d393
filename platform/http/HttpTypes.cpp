#include "platform/http/HttpTypes.h"

#include <algorithm>
#include <functional>

namespace platform {

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
               return lower(x) == lower(y);
           });
}

void HttpHeaders::add(std::string name, std::string value) {
    fields_.emplace_back(std::move(name), std::move(value));
}

void HttpHeaders::set(std::string name, std::string value) {
    auto first = std::find_if(fields_.begin(), fields_.end(),
                              [&](const Field& f) { return equalsIgnoringCase(f.first, name); });
    if (first == fields_.end()) {
        add(std::move(name), std::move(value));
        return;
    }
    first->first = std::move(name);
    first->second = std::move(value);
    auto rest = std::next(first);
    const std::string& kept = first->first;
    fields_.erase(std::remove_if(rest, fields_.end(),
                                 [&](const Field& f) { return equalsIgnoringCase(f.first, kept); }),
                  fields_.end());
}

void HttpHeaders::remove(std::string_view name) {
    std::erase_if(fields_, [&](const Field& f) { return equalsIgnoringCase(f.first, name); });
}

std::optional<std::string> HttpHeaders::value(std::string_view name) const {
    for (const auto& f : fields_)
        if (equalsIgnoringCase(f.first, name)) return f.second;
    return std::nullopt;
}

std::vector<std::string> HttpHeaders::values(std::string_view name) const {
    std::vector<std::string> out;
    for (const auto& f : fields_)
        if (equalsIgnoringCase(f.first, name)) out.push_back(f.second);
    return out;
}

HttpRequest HttpRequest::get(std::string url, Duration timeout) {
    HttpRequest r;
    r.url = std::move(url);
    r.timeout = timeout;
    return r;
}

// ---- HttpStream

struct HttpStream::Guard {
    Channel<Bytes> body;
    std::optional<std::stop_callback<std::function<void()>>> onStop;

    ~Guard() {
        // The stop link goes first so it cannot fire while the stream is torn down.
        onStop.reset();
        body.stopConsuming();
    }
};

HttpStream::HttpStream(int status_, HttpHeaders headers_, Channel<Bytes> body_, std::stop_token cancelWith)
    : status(status_), headers(std::move(headers_)), body(body_), guard_(std::make_unique<Guard>()) {
    guard_->body = body_;
    if (cancelWith.stop_possible()) {
        guard_->onStop.emplace(std::move(cancelWith),
                               std::function<void()>([ch = body_] { ch.stopConsuming(); }));
    }
}

HttpStream::HttpStream(HttpStream&&) noexcept = default;
HttpStream& HttpStream::operator=(HttpStream&&) noexcept = default;
HttpStream::~HttpStream() = default;

void HttpStream::cancel() {
    if (guard_) guard_->body.stopConsuming();
}

// ---- Errors

const char* caseName(HttpError code) {
    switch (code) {
        case HttpError::transport: return "transport";
        case HttpError::timedOut: return "timedOut";
        case HttpError::invalidURL: return "invalidURL";
        case HttpError::file: return "file";
    }
    return "unknown";
}

Error toError(HttpError code, std::string detail) {
    std::string description;
    switch (code) {
        case HttpError::transport: description = "The network connection failed"; break;
        case HttpError::timedOut: description = "The request timed out"; break;
        case HttpError::invalidURL: description = "Unsupported URL"; break;
        case HttpError::file: description = "The download could not be saved"; break;
    }
    if (!detail.empty()) description += ": " + detail;
    return Error::make(kHttpErrorDomain, static_cast<int>(code), caseName(code), std::move(description));
}

}  // namespace platform
