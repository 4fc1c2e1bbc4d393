#pragma once

// The engine-independent parts of running scripts and showing HTML strings:
// the wrapper that turns a script's outcome into a tagged answer, the
// reading of that answer, and the HTML served for a document too large to
// pass to the engine directly.

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/runtime/Channel.h"
#include "platform/webview/WebView.h"

namespace platform::webscripts {

// A script that evaluates `script` and answers with a JSON text tagging the
// outcome: {"kind":"string"|"null"|"other","value":...} or
// {"kind":"error","message":...}. The engine reports a thrown exception and a
// null result alike, and a script that does not parse not at all, so the
// script runs through eval inside the wrapper's try.
std::string wrap(std::string_view script);

// Reads the wrapper's answer; nothing (the engine had no answer, as when the
// document went away meanwhile) is an error too.
Result<WebScriptValue> readAnswer(const std::optional<std::string>& answer);

// Length of the data: URL the engine builds for `html` (every byte outside
// the unreserved characters percent-encoded), which it refuses above
// kDataUrlLimit.
std::size_t dataUrlLength(std::string_view html);
inline constexpr std::size_t kDataUrlLimit = 2 * 1024 * 1024 - 1024;  // a margin for the URL's prefix

// `html` with <base href="baseURL"> inserted at the start of its head, so
// that it resolves against `baseURL` when served from another URL. A
// document that names a base of its own keeps it and gets none.
std::string withBase(std::string_view html, std::string_view baseURL);

// Script evaluations waiting for the engine's answer. Each resolves once:
// with its answer, or cancelled when the page goes away first.
class PendingAnswers {
public:
    using Slot = Channel<Result<WebScriptValue>>;

    PendingAnswers() = default;
    PendingAnswers(const PendingAnswers&) = delete;
    PendingAnswers& operator=(const PendingAnswers&) = delete;
    ~PendingAnswers() { cancelAll(); }

    std::pair<std::uint64_t, Slot> open();
    // Unknown (already resolved) ids are ignored.
    void resolve(std::uint64_t id, Result<WebScriptValue> answer);
    void cancelAll();

private:
    std::uint64_t next_ = 1;
    std::map<std::uint64_t, Slot> slots_;
};

// A task that gives `cookies` at once.
Task<std::vector<WebCookie>> readyCookies(std::vector<WebCookie> cookies);

// The answer that arrives in `slot` (cancelled when the awaiting task is).
Task<Result<WebScriptValue>> awaitAnswer(PendingAnswers::Slot slot);

}  // namespace platform::webscripts
