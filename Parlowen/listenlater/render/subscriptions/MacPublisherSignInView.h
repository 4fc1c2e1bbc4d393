#pragma once

#include <functional>
#include <memory>
#include <string>

#include <QDialog>

#include "Parlowen/listenlater/render/subscriptions/PublisherSignIn.h"

class QLabel;
class QPropertyAnimation;

namespace platform::ui {
class PushButton;
}

namespace parlowen {

// The publisher sign-in sheet: a header with the shown host and "Done", the
// publisher's pages in a web view on the shared profile, and a footer that
// offers Connect once the profile holds a session cookie for the publisher.
// Window-modal over its parent; at least 720 × 600.
// Children: "header", "title", "done", "webView", "footer", "prompt",
// "connectAnyway", "signedIn" (with "signedInSymbol" and "signedInText"),
// "connect".
class MacPublisherSignInView : public QDialog {
public:
    static constexpr int kMinimumWidth = 720;
    static constexpr int kMinimumHeight = 600;
    static constexpr int kFooterFadeMs = 200;

    MacPublisherSignInView(PublisherSignInViewModel::Dependencies dependencies, platform::Url startURL,
                           std::function<void(const std::string&)> onConnected, QWidget* parent = nullptr);
    ~MacPublisherSignInView() override;

    PublisherSignInViewModel& viewModel() { return *viewModel_; }
    platform::WebView& webView() { return *webView_; }
    // True while the footer fades in after a change of the signed-in state.
    bool isFooterFading() const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void render(const PublisherSignInState& state);
    void tint();

    std::unique_ptr<PublisherSignInViewModel> viewModel_;
    std::unique_ptr<platform::WebView> webView_;  // after the view model: it goes first
    QLabel* title_;
    QWidget* footer_;
    QLabel* prompt_;
    platform::ui::PushButton* connectAnyway_;
    QWidget* signedIn_;
    QLabel* signedInSymbol_;
    QLabel* signedInText_;
    platform::ui::PushButton* connect_;
    QPropertyAnimation* fade_ = nullptr;
    std::optional<bool> shownSignedIn_;
    platform::Subscription subscription_;
};

}  // namespace parlowen
