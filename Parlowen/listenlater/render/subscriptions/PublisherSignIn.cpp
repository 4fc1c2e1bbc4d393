#include "Parlowen/listenlater/render/subscriptions/PublisherSignIn.h"

#include <algorithm>

#include "Parlowen/listenlater/render/cleaner/ConnectedPublishers.h"

namespace parlowen {

namespace {

std::optional<std::string> hostOf(const std::optional<std::string>& url) {
    if (!url) return std::nullopt;
    auto parsed = platform::Url::parse(*url);
    if (!parsed) return std::nullopt;
    return parsed->host();
}

// Keeps the model alive until its check has written its answer.
platform::Task<void> runCheck(std::shared_ptr<MacAuthWebViewModel> model, std::string host) {
    co_await model->checkSession(std::move(host));
}

}  // namespace

platform::Task<void> MacAuthWebViewModel::checkSession(std::string host) {
    hasNavigated.set(true);
    auto cookies = co_await profile_.allCookies();
    looksSignedIn.set(ConnectedPublishers::hasSessionCookie(cookies, host));
}

MacAuthWebViewCoordinator::MacAuthWebViewCoordinator(std::shared_ptr<MacAuthWebViewModel> model,
                                                     std::string targetHost, platform::Executor& main)
    : model_(std::move(model)), targetHost_(std::move(targetHost)), main_(main) {}

MacAuthWebViewCoordinator::~MacAuthWebViewCoordinator() {
    for (auto& check : checks_) check.cancel();
}

void MacAuthWebViewCoordinator::showHostOf(const platform::WebContent& webView) {
    model_->currentHost.set(ConnectedPublishers::normalizedHost(hostOf(webView.url())));
}

void MacAuthWebViewCoordinator::didCommitNavigation(const platform::WebContent& webView) { showHostOf(webView); }

void MacAuthWebViewCoordinator::didFinishNavigation(const platform::WebContent& webView) {
    showHostOf(webView);
    std::erase_if(checks_, [](const auto& check) { return check.done(); });
    checks_.push_back(platform::spawn(main_, runCheck(model_, targetHost_)));
}

platform::WebNavigationObserver MacAuthWebViewCoordinator::navigationObserver(const platform::WebContent& webView) {
    const auto* view = &webView;
    return lifetime_.guard([this, view](const platform::WebNavigationEvent& event) {
        switch (event.kind) {
            case platform::WebNavigationEventKind::committed:
                didCommitNavigation(*view);
                break;
            case platform::WebNavigationEventKind::finished:
                didFinishNavigation(*view);
                break;
            case platform::WebNavigationEventKind::failed:
            case platform::WebNavigationEventKind::provisionallyFailed:
                break;
        }
    });
}

std::unique_ptr<platform::WebView> makeAuthWebView(platform::WebProfile& profile,
                                                   MacAuthWebViewCoordinator& coordinator, const platform::Url& url) {
    auto view = profile.makeView();
    view->setNavigationObserver(coordinator.navigationObserver(*view));
    view->load(platform::WebRequest{
        .url = url.absoluteString(),
        .headers = {{"User-Agent", kSignInUserAgent}},
        .timeout = kSignInRequestTimeout,
    });
    return view;
}

std::string signInDisplayHost(const platform::Url& startURL) {
    if (auto normalized = ConnectedPublishers::normalizedHost(startURL.host())) return *normalized;
    if (startURL.host()) return *startURL.host();
    return "this site";
}

SignInFooter signInFooter(bool looksSignedIn, bool hasNavigated) {
    if (looksSignedIn) return SignInFooter::signedIn;
    return hasNavigated ? SignInFooter::signInPromptWithConnectAnyway : SignInFooter::signInPrompt;
}

std::string signInPrompt(const std::string& displayHost) {
    return "Sign in to your " + displayHost + " account above. Connect unlocks once Quon detects your session.";
}

std::string signInConnectLabel(const std::string& displayHost) { return "Connect " + displayHost; }

PublisherSignInViewModel::PublisherSignInViewModel(Dependencies dependencies, platform::Url startURL,
                                                   std::function<void(const std::string&)> onConnected,
                                                   std::function<void()> dismiss)
    : deps_(dependencies),
      startURL_(std::move(startURL)),
      displayHost_(signInDisplayHost(startURL_)),
      onConnected_(std::move(onConnected)),
      dismiss_(std::move(dismiss)),
      model_(std::make_shared<MacAuthWebViewModel>(deps_.web)),
      coordinator_(model_, displayHost_, deps_.main),
      shown_{displayHost_, SignInFooter::signInPrompt},
      state_(shown_) {
    subscriptions_ += model_->currentHost.subscribe([this](const std::optional<std::string>& host) {
        currentHost_ = host;
        publish();
    });
    subscriptions_ += model_->looksSignedIn.subscribe([this](const bool& value) {
        looksSignedIn_ = value;
        publish();
    });
    subscriptions_ += model_->hasNavigated.subscribe([this](const bool& value) {
        hasNavigated_ = value;
        publish();
    });
}

void PublisherSignInViewModel::publish() {
    PublisherSignInState next{currentHost_.value_or(displayHost_), signInFooter(looksSignedIn_, hasNavigated_)};
    if (next == shown_) return;
    shown_ = next;
    state_.set(std::move(next));
}

std::unique_ptr<platform::WebView> PublisherSignInViewModel::makeWebView() {
    return makeAuthWebView(deps_.web, coordinator_, startURL_);
}

void PublisherSignInViewModel::connect() {
    if (std::exchange(closed_, true)) return;
    ConnectedPublishers::connect(deps_.defaults, startURL_.host());
    // Copies: either callback may end this object (the sheet closes).
    auto onConnected = onConnected_;
    auto dismiss = dismiss_;
    const auto host = displayHost_;
    if (onConnected) onConnected(host);
    if (dismiss) dismiss();
}

void PublisherSignInViewModel::done() {
    if (std::exchange(closed_, true)) return;
    auto dismiss = dismiss_;
    if (dismiss) dismiss();
}

}  // namespace parlowen
