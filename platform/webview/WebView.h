#pragma once

// Web pages in a browser engine: off-screen pages that load a URL or an HTML
// string and run scripts, a visible view, and the cookies they share.
//
// Every page and view of a profile shares its website data (cookies above
// all), kept on disk: a sign-in made in a view carries into the loads of
// off-screen pages and survives restarts. Everything here belongs to the
// main executor.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/runtime/Error.h"
#include "platform/runtime/Executor.h"
#include "platform/runtime/Task.h"

class QWidget;

namespace platform {

// The browser string that the profile sends as its user agent.
inline constexpr const char* kBrowserUserAgent =
    "Mozilla/5.0 (Macintosh; Intel Mac OS X 14_0) AppleWebKit/605.1.15 (KHTML, like Gecko) Version/17.0 "
    "Safari/605.1.15";

// The failure description of a navigation that outlived its request's time-out.
inline constexpr const char* kWebRequestTimedOut = "The request timed out.";

struct WebRequest {
    std::string url;
    // Sent as given (a "User-Agent" here replaces the profile's for this load).
    std::vector<std::pair<std::string, std::string>> headers;
    // How long the document may take to arrive (until it commits) before the
    // page is stopped and the navigation fails with kWebRequestTimedOut; zero
    // waits as long as the engine does.
    Duration timeout{};
};

using WebNavigationId = std::uint64_t;
using WebPageId = std::uint64_t;

enum class WebNavigationEventKind {
    committed,            // the new document started to arrive and replaced the old one
    finished,             // the document and its resources have loaded (an HTTP error page too)
    failed,               // the navigation failed after it had committed
    provisionallyFailed,  // the navigation failed before anything was committed
};

// What happened to one navigation of one page. Every navigation of a page
// ends with exactly one finished, failed or provisionallyFailed event; a
// committed event, when there is one, comes before it.
struct WebNavigationEvent {
    WebNavigationEventKind kind = WebNavigationEventKind::finished;
    WebPageId page = 0;
    WebNavigationId navigation = 0;
    // The engine's description of a failure; empty otherwise.
    std::string errorDescription;
};

using WebNavigationObserver = std::function<void(const WebNavigationEvent&)>;

// What a script evaluated to.
struct WebScriptValue {
    enum class Kind { string, null, other };
    Kind kind = Kind::null;
    // The string itself; for another value, its JSON text (or its text
    // form where it has no JSON form); empty for null.
    std::string text;

    static WebScriptValue string(std::string s) { return {Kind::string, std::move(s)}; }
    static WebScriptValue null() { return {Kind::null, {}}; }
    static WebScriptValue other(std::string text) { return {Kind::other, std::move(text)}; }
    bool isString() const { return kind == Kind::string; }
    friend bool operator==(const WebScriptValue&, const WebScriptValue&) = default;
};

struct WebCookie {
    std::string name;
    std::string value;
    // As the engine keeps it: "example.com" for a host-only cookie,
    // ".example.com" for one that subdomains receive as well.
    std::string domain;
    std::string path = "/";
    friend bool operator==(const WebCookie&, const WebCookie&) = default;
};

// Errors of this layer (domain "webview"). Cancellation (the task was
// cancelled or the page went away first) is `Error::cancelled()`.
inline constexpr const char* kWebViewErrorDomain = "webview";
enum class WebViewError {
    scriptFailed = 1,  // the script threw or did not parse; the description is the engine's message
};
Error toError(WebViewError code, std::string detail);

// What off-screen pages and visible views have in common.
class WebContent {
public:
    virtual ~WebContent() = default;

    virtual WebPageId id() const = 0;
    // Receives this page's navigation events, and only this page's.
    virtual void setNavigationObserver(WebNavigationObserver observer) = 0;
    // Starts a navigation; returns its id, which its events carry.
    virtual WebNavigationId load(WebRequest request) = 0;
    // The URL of the current document (the base URL for an HTML string).
    virtual std::optional<std::string> url() const = 0;
};

// A page that nobody sees.
class WebPage : public WebContent {
public:
    // Shows `html` as if it had been served from `baseURL`: relative links
    // and resources resolve against it (unless the document names a base
    // of its own).
    virtual WebNavigationId loadHTML(std::string html, std::string baseURL) = 0;

    // Evaluates `script` in the current document (sharing its DOM, not its
    // scripts' variables; globals a script defines stay for later scripts of
    // this document). A thrown exception or a script that does not parse
    // gives `WebViewError::scriptFailed` with its message.
    virtual Task<Result<WebScriptValue>> evaluateJavaScript(std::string script) = 0;
};

// A page the user sees and uses, as a widget.
class WebView : public WebContent {
public:
    // Back and forward through the view's history (also the mouse's side
    // buttons and Alt+Left / Alt+Right); each starts a navigation of its own.
    virtual bool canGoBack() const = 0;
    virtual bool canGoForward() const = 0;
    virtual void goBack() = 0;
    virtual void goForward() = 0;

    // The widget to place in a window; owned by this view. None in doubles.
    virtual QWidget* widget() = 0;
};

// The shared website data and the factory of pages and views on it. It must
// outlive every page and view it made.
class WebProfile {
public:
    virtual ~WebProfile() = default;

    virtual std::unique_ptr<WebPage> makePage() = 0;
    virtual std::unique_ptr<WebView> makeView() = 0;

    // Every cookie of the profile, of every site.
    virtual Task<std::vector<WebCookie>> allCookies() = 0;
};

}  // namespace platform
