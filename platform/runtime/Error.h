#pragma once

#include <expected>
#include <memory>
#include <string>
#include <utility>

namespace platform {

// One error value for the whole system. Each component keeps its own error
// enumeration (with the descriptions users see) and converts to this at its
// boundary; `underlying` keeps the cause so messages can end in ": <detail>".
struct Error {
    std::string domain;       // e.g. "KeychainStore.Error", "http", "runtime"
    int code = 0;             // stable per domain
    std::string caseName;     // the enumeration case, for logs and tests
    std::string description;  // user-facing text
    std::shared_ptr<const Error> underlying;

    static constexpr const char* kRuntimeDomain = "runtime";
    static constexpr int kCancelledCode = 1;

    static Error make(std::string domain, int code, std::string caseName, std::string description,
                      std::shared_ptr<const Error> underlying = nullptr) {
        return Error{std::move(domain), code, std::move(caseName), std::move(description),
                     std::move(underlying)};
    }

    // Cancellation is told apart from every failure: callers usually stay silent on it.
    static Error cancelled() { return make(kRuntimeDomain, kCancelledCode, "cancelled", "cancelled"); }

    bool isCancellation() const { return domain == kRuntimeDomain && code == kCancelledCode; }
    bool is(const std::string& d, int c) const { return domain == d && code == c; }

    Error withUnderlying(Error cause) const {
        Error e = *this;
        e.underlying = std::make_shared<const Error>(std::move(cause));
        return e;
    }

    friend bool operator==(const Error& a, const Error& b) {
        return a.domain == b.domain && a.code == b.code && a.caseName == b.caseName &&
               a.description == b.description;
    }
};

template <class T>
using Result = std::expected<T, Error>;
using Status = Result<void>;

inline std::unexpected<Error> fail(Error e) { return std::unexpected<Error>(std::move(e)); }
inline Status ok() { return {}; }

// Conversion point for component error enumerations: a component defines
// `platform::Error toError(const TheirError&)` next to its enumeration and
// calls `platform::fail(toError(e))`.

}  // namespace platform
