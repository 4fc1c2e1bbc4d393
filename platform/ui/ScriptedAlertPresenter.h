#pragma once

#include <deque>
#include <vector>

#include "platform/ui/AlertPresenter.h"

namespace platform::ui {

// Test double: records every alert it is asked to show and answers from a
// script of button indices (then with the default answer once the script is used up).
class ScriptedAlertPresenter final : public AlertPresenter {
public:
    explicit ScriptedAlertPresenter(int defaultAnswer = 0) : defaultAnswer_(defaultAnswer) {}

    // Queues the answer for the next alert.
    void answerNext(int buttonIndex) { script_.push_back(buttonIndex); }
    void setDefaultAnswer(int buttonIndex) { defaultAnswer_ = buttonIndex; }

    int run(const Alert& alert) override;

    const std::vector<Alert>& shown() const { return shown_; }

private:
    int defaultAnswer_;
    std::deque<int> script_;
    std::vector<Alert> shown_;
};

}  // namespace platform::ui
