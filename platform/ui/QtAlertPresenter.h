#pragma once

#include "platform/ui/AlertPresenter.h"

namespace platform::ui {

// Alerts as Qt message boxes, application-modal. Buttons appear in the order
// given, the first one is the default (Return); Escape and the window's close
// button choose the alert's escape button, or nothing when it has none and
// more than one button.
class QtAlertPresenter final : public AlertPresenter {
public:
    int run(const Alert& alert) override;
};

}  // namespace platform::ui
