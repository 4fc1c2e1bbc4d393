#include "platform/webview/WebScripts.h"

#include <algorithm>
#include <cctype>
#include <nlohmann/json.hpp>

namespace platform {

Error toError(WebViewError code, std::string detail) {
    switch (code) {
        case WebViewError::scriptFailed:
            return Error::make(kWebViewErrorDomain, static_cast<int>(code), "scriptFailed", std::move(detail));
    }
    return Error::make(kWebViewErrorDomain, static_cast<int>(code), "unknown", std::move(detail));
}

namespace webscripts {

namespace {

constexpr std::string_view kWrapperHead = R"JS((function () {
  try {
    var value = (0, eval)()JS";

constexpr std::string_view kWrapperTail = R"JS();
    if (value === null || value === undefined) return JSON.stringify({kind: "null"});
    if (typeof value === "string") return JSON.stringify({kind: "string", value: value});
    var text;
    try { text = JSON.stringify(value); } catch (ignored) { text = undefined; }
    if (typeof text !== "string") text = String(value);
    return JSON.stringify({kind: "other", value: text});
  } catch (e) {
    var message = (e !== null && typeof e === "object" && "message" in e) ? String(e.message) : String(e);
    return JSON.stringify({kind: "error", message: message});
  }
})())JS";

std::string lower(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
    return out;
}

// Position just after the '>' of the first tag `name` (as "<name>" or "<name ..."), if any.
std::optional<std::size_t> afterTag(const std::string& lowered, std::string_view name) {
    std::string open = "<" + std::string(name);
    for (std::size_t at = lowered.find(open); at != std::string::npos; at = lowered.find(open, at + 1)) {
        std::size_t next = at + open.size();
        if (next >= lowered.size()) return std::nullopt;
        char c = lowered[next];
        if (c != '>' && c != '/' && !std::isspace(static_cast<unsigned char>(c))) continue;
        std::size_t close = lowered.find('>', next);
        if (close == std::string::npos) return std::nullopt;
        return close + 1;
    }
    return std::nullopt;
}

std::string escapeAttribute(std::string_view text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

}  // namespace

std::string wrap(std::string_view script) {
    const auto source =
        nlohmann::json(std::string(script)).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    std::string out;
    out.reserve(kWrapperHead.size() + source.size() + kWrapperTail.size());
    out.append(kWrapperHead).append(source).append(kWrapperTail);
    return out;
}

Result<WebScriptValue> readAnswer(const std::optional<std::string>& answer) {
    if (!answer) return fail(toError(WebViewError::scriptFailed, "The page gave no answer to the script"));
    auto tagged = nlohmann::json::parse(*answer, nullptr, false);
    if (!tagged.is_object() || !tagged.contains("kind") || !tagged["kind"].is_string())
        return fail(toError(WebViewError::scriptFailed, "The page gave an unreadable answer to the script"));
    const auto kind = tagged["kind"].get<std::string>();
    auto text = [&](const char* member) {
        auto it = tagged.find(member);
        return it != tagged.end() && it->is_string() ? it->get<std::string>() : std::string();
    };
    if (kind == "null") return WebScriptValue::null();
    if (kind == "string") return WebScriptValue::string(text("value"));
    if (kind == "other") return WebScriptValue::other(text("value"));
    if (kind == "error") return fail(toError(WebViewError::scriptFailed, text("message")));
    return fail(toError(WebViewError::scriptFailed, "The page gave an unreadable answer to the script"));
}

std::size_t dataUrlLength(std::string_view html) {
    std::size_t n = 0;
    for (unsigned char c : html) n += (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') ? 1 : 3;
    return n;
}

std::string withBase(std::string_view html, std::string_view baseURL) {
    const std::string lowered = lower(html);
    if (afterTag(lowered, "base")) return std::string(html);
    const std::string base = "<base href=\"" + escapeAttribute(baseURL) + "\">";
    std::size_t at = 0;
    if (auto head = afterTag(lowered, "head")) {
        at = *head;
    } else if (auto root = afterTag(lowered, "html")) {
        at = *root;
    } else if (auto doctype = afterTag(lowered, "!doctype")) {
        at = *doctype;  // before it, the document would fall into quirks mode
    }
    std::string out(html);
    out.insert(at, base);
    return out;
}

std::pair<std::uint64_t, PendingAnswers::Slot> PendingAnswers::open() {
    const auto id = next_++;
    auto [it, inserted] = slots_.emplace(id, Slot{});
    return {id, it->second};
}

void PendingAnswers::resolve(std::uint64_t id, Result<WebScriptValue> answer) {
    auto it = slots_.find(id);
    if (it == slots_.end()) return;
    Slot slot = std::move(it->second);
    slots_.erase(it);
    slot.send(std::move(answer));
}

void PendingAnswers::cancelAll() {
    auto slots = std::exchange(slots_, {});
    for (auto& [id, slot] : slots) slot.send(fail(Error::cancelled()));
}

Task<std::vector<WebCookie>> readyCookies(std::vector<WebCookie> cookies) { co_return cookies; }

Task<Result<WebScriptValue>> awaitAnswer(PendingAnswers::Slot slot) {
    auto next = co_await slot.next();
    if (!next) co_return fail(next.error());
    if (!*next) co_return fail(Error::cancelled());
    co_return std::move(**next);
}

}  // namespace webscripts
}  // namespace platform
