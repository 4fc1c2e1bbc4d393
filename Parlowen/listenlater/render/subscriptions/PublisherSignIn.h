#pragma once

// The logic of the publisher sign-in sheet: the user signs in to a publisher
// in a web view on the shared profile, the sheet watches the profile's
// cookies, and Connect adds the publisher's host to the connected
// publishers. The session itself stays in the profile, where the article
// cleaner's page loads find it; nothing here copies a cookie.
//
// Everything belongs to the main executor.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/defaults/UserDefaults.h"
#include "platform/runtime/Executor.h"
#include "platform/runtime/Observable.h"
#include "platform/runtime/Task.h"
#include "platform/values/Url.h"
#include "platform/webview/WebView.h"

namespace parlowen {

// The state the sheet shows and the navigation coordinator writes.
class MacAuthWebViewModel {
public:
    explicit MacAuthWebViewModel(platform::WebProfile& profile) : profile_(profile) {}

    // The normalised host of the page shown now.
    platform::Observable<std::optional<std::string>> currentHost{std::nullopt};
    // What the latest cookie check found.
    platform::Observable<bool> looksSignedIn{false};
    // Set once the first cookie check started (after a finished navigation); never cleared.
    platform::Observable<bool> hasNavigated{false};

    // Asks the profile for the cookies of every site and publishes whether
    // one of them looks like a session for `host`. Checks may overlap; each
    // writes its own answer when it arrives.
    platform::Task<void> checkSession(std::string host);

private:
    platform::WebProfile& profile_;
};

// Receives the web view's navigation events for the sheet. Commits and
// finishes set the shown host; each finish starts a cookie check of its
// own. Failures are not handled: a page that fails shows no message.
class MacAuthWebViewCoordinator {
public:
    MacAuthWebViewCoordinator(std::shared_ptr<MacAuthWebViewModel> model, std::string targetHost,
                              platform::Executor& main);
    // Checks still waiting for their answer are cancelled.
    ~MacAuthWebViewCoordinator();
    MacAuthWebViewCoordinator(const MacAuthWebViewCoordinator&) = delete;
    MacAuthWebViewCoordinator& operator=(const MacAuthWebViewCoordinator&) = delete;

    void didCommitNavigation(const platform::WebContent& webView);
    void didFinishNavigation(const platform::WebContent& webView);

    // The observer to give `webView`; it does nothing once this coordinator is gone.
    platform::WebNavigationObserver navigationObserver(const platform::WebContent& webView);

    const std::string& targetHost() const { return targetHost_; }

private:
    void showHostOf(const platform::WebContent& webView);

    std::shared_ptr<MacAuthWebViewModel> model_;
    std::string targetHost_;
    platform::Executor& main_;
    std::vector<platform::JoinHandle<void>> checks_;
    platform::Lifetime lifetime_;
};

// The user agent and the time-out of the sheet's first request.
inline constexpr const char* kSignInUserAgent = platform::kBrowserUserAgent;
inline constexpr platform::Duration kSignInRequestTimeout = std::chrono::seconds(60);

// Builds the sheet's web view on `profile` with `coordinator` as its
// navigation observer and starts loading `url`. Called once per sheet: the
// page is never loaded again when the sheet changes.
std::unique_ptr<platform::WebView> makeAuthWebView(platform::WebProfile& profile,
                                                   MacAuthWebViewCoordinator& coordinator, const platform::Url& url);

// The start address's host as the sheet names it: normalised, else as
// written, else "this site".
std::string signInDisplayHost(const platform::Url& startURL);

enum class SignInFooter {
    signInPrompt,                  // before the first finished navigation
    signInPromptWithConnectAnyway,  // a navigation finished; no session cookie seen
    signedIn,                      // the latest check found a session cookie
};
SignInFooter signInFooter(bool looksSignedIn, bool hasNavigated);

inline constexpr const char* kSignInDone = "Done";
inline constexpr const char* kSignedInText = "You appear to be signed in";
inline constexpr const char* kConnectAnyway = "Already signed in? Connect anyway";
std::string signInPrompt(const std::string& displayHost);
std::string signInConnectLabel(const std::string& displayHost);

// What the sheet shows at a moment.
struct PublisherSignInState {
    std::string title;  // the shown host, else the display host
    SignInFooter footer = SignInFooter::signInPrompt;
    friend bool operator==(const PublisherSignInState&, const PublisherSignInState&) = default;
};

// The sheet without its widgets: its model and coordinator, the display
// host, what it shows, and its two actions.
class PublisherSignInViewModel {
public:
    struct Dependencies {
        platform::Executor& main;
        platform::WebProfile& web;
        platform::UserDefaults& defaults;
    };

    // `onConnected` gets the display host after a Connect; `dismiss` closes the sheet.
    PublisherSignInViewModel(Dependencies dependencies, platform::Url startURL,
                             std::function<void(const std::string&)> onConnected, std::function<void()> dismiss);
    PublisherSignInViewModel(const PublisherSignInViewModel&) = delete;
    PublisherSignInViewModel& operator=(const PublisherSignInViewModel&) = delete;

    const platform::Url& startURL() const { return startURL_; }
    const std::string& displayHost() const { return displayHost_; }
    MacAuthWebViewModel& model() { return *model_; }
    MacAuthWebViewCoordinator& coordinator() { return coordinator_; }

    // The current state, then each change.
    platform::Stream<PublisherSignInState> state() const { return state_.stream(); }
    PublisherSignInState currentState() const { return shown_; }

    // Builds the web view and starts its load (once per sheet).
    std::unique_ptr<platform::WebView> makeWebView();

    // Stores the start address's host (whatever page is shown now), reports
    // the display host and closes. Only the first of Connect and Done counts.
    void connect();
    // Closes; stores nothing.
    void done();

private:
    void publish();

    Dependencies deps_;
    platform::Url startURL_;
    std::string displayHost_;
    std::function<void(const std::string&)> onConnected_;
    std::function<void()> dismiss_;
    std::shared_ptr<MacAuthWebViewModel> model_;
    MacAuthWebViewCoordinator coordinator_;
    // The model's values as last delivered (an observable hands a value to
    // its subscribers before it keeps it).
    std::optional<std::string> currentHost_;
    bool looksSignedIn_ = false;
    bool hasNavigated_ = false;
    PublisherSignInState shown_;
    platform::Observable<PublisherSignInState> state_;
    platform::SubscriptionSet subscriptions_;
    bool closed_ = false;
};

}  // namespace parlowen
