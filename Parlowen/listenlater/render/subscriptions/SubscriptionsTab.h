#pragma once

#include <QPointer>
#include <QWidget>

#include "Parlowen/listenlater/render/subscriptions/MacPublisherSignInView.h"
#include "Parlowen/listenlater/render/subscriptions/SubscriptionsTabModel.h"

class QLineEdit;

namespace platform::ui {
class PushButton;
class Section;
}  // namespace platform::ui

namespace parlowen {

// The Subscriptions page of the preferences: the connected publishers with
// "Remove", five ready-made publishers and a field for any other site.
// Choosing one opens a fresh sign-in sheet, window-modal over the page's
// window. The list is read again each time the page comes on screen.
// Children: "connectedPublishers" (section) with one "connectedHost" row
// per host ("symbol", "host", "remove") or "noPublishers";
// "addPublisher" (section) with "preset" buttons ("name", "symbol"),
// "customURL" and "go".
class SubscriptionsTab : public QWidget {
public:
    using Dependencies = PublisherSignInViewModel::Dependencies;

    explicit SubscriptionsTab(Dependencies dependencies, QWidget* parent = nullptr);
    ~SubscriptionsTab() override;

    SubscriptionsTabModel& model() { return model_; }
    // The sign-in sheet open now, if any.
    MacPublisherSignInView* signInSheet() const { return sheet_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void showHosts(const std::vector<std::string>& hosts);
    void present(const std::optional<SignInTarget>& target);
    void tint();

    Dependencies deps_;
    SubscriptionsTabModel model_;
    platform::ui::Section* connected_;
    platform::ui::Section* add_;
    QLineEdit* customURL_;
    platform::ui::PushButton* go_;
    QPointer<MacPublisherSignInView> sheet_;
    std::optional<platform::Uuid> sheetId_;
    platform::Lifetime lifetime_;
    platform::SubscriptionSet subscriptions_;
};

}  // namespace parlowen
