#include "platform/webview/ScriptedWebProfile.h"

#include <utility>

#include "platform/webview/WebScripts.h"

namespace platform {

void ScriptedWebProfile::PageRecord::deliver(WebNavigationEventKind kind, WebNavigationId navigation,
                                             std::string errorDescription) {
    if (!alive_ || !observer_) return;
    // A copy: the observer may replace itself or destroy the page.
    auto observer = observer_;
    observer(WebNavigationEvent{kind, id_, navigation, std::move(errorDescription)});
}

void ScriptedWebProfile::PageRecord::deliverAfter(Duration delay, WebNavigationEventKind kind,
                                                  WebNavigationId navigation, std::string errorDescription) {
    executor_->postAfter(delay, [weak = self_, kind, navigation, text = std::move(errorDescription)]() mutable {
        if (auto record = weak.lock()) record->deliver(kind, navigation, std::move(text));
    });
}

// What pages and views share: a record of what they were asked.
template <class Base>
class Recorded : public Base {
public:
    Recorded(ScriptedWebProfile& profile, std::shared_ptr<ScriptedWebProfile::PageRecord> record)
        : profile_(profile), record_(std::move(record)) {}
    ~Recorded() override {
        record_->alive_ = false;
        record_->observer_ = {};
    }

    WebPageId id() const override { return record_->id(); }
    void setNavigationObserver(WebNavigationObserver observer) override { record_->observer_ = std::move(observer); }
    WebNavigationId load(WebRequest request) override { return profile_.recordRequest(record_, std::move(request)); }
    std::optional<std::string> url() const override { return record_->url_; }

protected:
    ScriptedWebProfile& profile_;
    std::shared_ptr<ScriptedWebProfile::PageRecord> record_;
};

class ScriptedWebProfile::Page final : public Recorded<WebPage> {
public:
    using Recorded::Recorded;
    ~Page() override { pending_.cancelAll(); }

    WebNavigationId loadHTML(std::string html, std::string baseURL) override {
        const auto navigation = profile_.startNavigation(record_);
        record_->url_ = baseURL;
        record_->loads_.push_back(Load{navigation, true, {}, std::move(html), std::move(baseURL)});
        return navigation;
    }

    Task<Result<WebScriptValue>> evaluateJavaScript(std::string script) override {
        record_->scripts_.push_back(script);
        auto answer = profile_.answerFor(script);
        auto [id, slot] = pending_.open();
        // The answer arrives through the executor, as the engine's would, unless the page goes first.
        profile_.executor_.postAfter(answer.delay, [this, alive = std::weak_ptr<bool>(alive_), id = id,
                                                    result = std::move(answer.result)]() mutable {
            if (alive.lock()) pending_.resolve(id, std::move(result));
        });
        return webscripts::awaitAnswer(slot);
    }

private:
    webscripts::PendingAnswers pending_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

class ScriptedWebProfile::View final : public Recorded<WebView> {
public:
    using Recorded::Recorded;

    bool canGoBack() const override { return record_->loads_.size() > 1; }
    bool canGoForward() const override { return false; }
    void goBack() override {
        ++record_->back_;
        profile_.startNavigation(record_);
    }
    void goForward() override {
        ++record_->forward_;
        profile_.startNavigation(record_);
    }
    QWidget* widget() override { return nullptr; }
};

ScriptedWebProfile::ScriptedWebProfile(Executor& executor)
    : executor_(executor), defaultAnswer_{fail(toError(WebViewError::scriptFailed, "no scripted answer")), {}} {}

ScriptedWebProfile::~ScriptedWebProfile() = default;

void ScriptedWebProfile::answer(std::string script, ScriptAnswer answer) {
    answers_.insert_or_assign(std::move(script), std::move(answer));
}
void ScriptedWebProfile::setDefaultAnswer(ScriptAnswer answer) { defaultAnswer_ = std::move(answer); }
void ScriptedWebProfile::setNavigationPlan(std::vector<PlannedEvent> plan) { plan_ = std::move(plan); }
void ScriptedWebProfile::setCookies(std::vector<WebCookie> cookies) { cookies_ = std::move(cookies); }

ScriptedWebProfile::ScriptAnswer ScriptedWebProfile::answerFor(const std::string& script) const {
    auto it = answers_.find(script);
    return it != answers_.end() ? it->second : defaultAnswer_;
}

WebNavigationId ScriptedWebProfile::startNavigation(const std::shared_ptr<PageRecord>& record) {
    const auto navigation = nextNavigation_++;
    record->last_ = navigation;
    for (const auto& planned : plan_)
        record->deliverAfter(planned.delay, planned.kind, navigation, planned.errorDescription);
    return navigation;
}

WebNavigationId ScriptedWebProfile::recordRequest(const std::shared_ptr<PageRecord>& record, WebRequest request) {
    const auto navigation = startNavigation(record);
    record->url_ = request.url;
    record->loads_.push_back(Load{navigation, false, std::move(request), {}, {}});
    return navigation;
}

std::shared_ptr<ScriptedWebProfile::PageRecord> ScriptedWebProfile::newRecord(bool isView) {
    auto record = std::make_shared<PageRecord>();
    record->id_ = pages_.size() + 1;
    record->isView_ = isView;
    record->executor_ = &executor_;
    record->self_ = record;
    pages_.push_back(record);
    return record;
}

std::unique_ptr<WebPage> ScriptedWebProfile::makePage() { return std::make_unique<Page>(*this, newRecord(false)); }

std::unique_ptr<WebView> ScriptedWebProfile::makeView() { return std::make_unique<View>(*this, newRecord(true)); }

namespace {
Task<std::vector<WebCookie>> cookiesAfter(Duration delay, std::vector<WebCookie> cookies) {
    (void)co_await sleepFor(delay);
    co_return cookies;
}
}  // namespace

Task<std::vector<WebCookie>> ScriptedWebProfile::allCookies() {
    ++cookieQueries_;
    if (cookieDelay_ > Duration::zero()) return cookiesAfter(cookieDelay_, cookies_);
    return webscripts::readyCookies(cookies_);
}

}  // namespace platform
