#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/webview/WebView.h"

namespace platform {

// The test double of the web layer. Pages and views it makes load nothing:
// they record what they were asked, answer scripts from a script, and
// deliver the navigation events the test plans or sends, on the test's
// executor (a ManualExecutor, so delays are virtual time).
class ScriptedWebProfile final : public WebProfile {
public:
    struct Load {
        WebNavigationId navigation = 0;
        bool isHTML = false;
        WebRequest request;   // a request load
        std::string html;     // an HTML load
        std::string baseURL;  // an HTML load
    };

    struct ScriptAnswer {
        Result<WebScriptValue> result = WebScriptValue::null();
        Duration delay{};  // before the answer arrives
    };

    // An event that every new navigation receives by itself, `delay` after it starts.
    struct PlannedEvent {
        WebNavigationEventKind kind = WebNavigationEventKind::finished;
        Duration delay{};
        std::string errorDescription;
    };

    // What one page or view made by this profile saw; it stays readable
    // after the page is gone.
    class PageRecord {
    public:
        WebPageId id() const { return id_; }
        bool isView() const { return isView_; }
        bool alive() const { return alive_; }
        const std::vector<Load>& loads() const { return loads_; }
        const std::vector<std::string>& scripts() const { return scripts_; }
        int backRequests() const { return back_; }
        int forwardRequests() const { return forward_; }
        // The last navigation started, 0 before any.
        WebNavigationId lastNavigation() const { return last_; }

        // Hands an event to the page's observer now, whatever its navigation
        // (late, repeated or out of order events included); nothing once the
        // page is gone.
        void deliver(WebNavigationEventKind kind, WebNavigationId navigation, std::string errorDescription = {});
        // The same after `delay` on the profile's executor.
        void deliverAfter(Duration delay, WebNavigationEventKind kind, WebNavigationId navigation,
                          std::string errorDescription = {});
        // The URL the page reports from now on.
        void setURL(std::optional<std::string> url) { url_ = std::move(url); }

    private:
        friend class ScriptedWebProfile;
        template <class>
        friend class Recorded;
        WebPageId id_ = 0;
        bool isView_ = false;
        bool alive_ = true;
        std::vector<Load> loads_;
        std::vector<std::string> scripts_;
        int back_ = 0;
        int forward_ = 0;
        WebNavigationId last_ = 0;
        std::optional<std::string> url_;
        WebNavigationObserver observer_;
        Executor* executor_ = nullptr;
        std::weak_ptr<PageRecord> self_;
    };

    explicit ScriptedWebProfile(Executor& executor);
    ~ScriptedWebProfile() override;

    // The answer to a script (compared as a whole text); other scripts get
    // the default answer, at first a `scriptFailed` error.
    void answer(std::string script, ScriptAnswer answer);
    void setDefaultAnswer(ScriptAnswer answer);
    // The events each new navigation receives by itself (none at first).
    void setNavigationPlan(std::vector<PlannedEvent> plan);
    void setCookies(std::vector<WebCookie> cookies);
    // How long the cookie queries made from now on take to answer (none at
    // first). Each answers with the cookies set when it was asked, so
    // answers can arrive out of order.
    void setCookieDelay(Duration delay) { cookieDelay_ = delay; }

    std::unique_ptr<WebPage> makePage() override;
    std::unique_ptr<WebView> makeView() override;
    Task<std::vector<WebCookie>> allCookies() override;

    // Every page and view made, in order.
    const std::vector<std::shared_ptr<PageRecord>>& pages() const { return pages_; }
    std::size_t cookieQueries() const { return cookieQueries_; }

private:
    template <class>
    friend class Recorded;
    class Page;
    class View;
    std::shared_ptr<PageRecord> newRecord(bool isView);
    WebNavigationId startNavigation(const std::shared_ptr<PageRecord>& record);
    WebNavigationId recordRequest(const std::shared_ptr<PageRecord>& record, WebRequest request);
    ScriptAnswer answerFor(const std::string& script) const;

    Executor& executor_;
    std::map<std::string, ScriptAnswer> answers_;
    ScriptAnswer defaultAnswer_;
    std::vector<PlannedEvent> plan_;
    std::vector<WebCookie> cookies_;
    Duration cookieDelay_{};
    std::vector<std::shared_ptr<PageRecord>> pages_;
    std::size_t cookieQueries_ = 0;
    WebNavigationId nextNavigation_ = 1;
};

}  // namespace platform
