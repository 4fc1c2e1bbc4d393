#include "platform/ui/ScriptedAlertPresenter.h"

namespace platform::ui {

int ScriptedAlertPresenter::run(const Alert& alert) {
    shown_.push_back(alert);
    int answer = defaultAnswer_;
    if (!script_.empty()) {
        answer = script_.front();
        script_.pop_front();
    }
    // An answer past the alert's buttons would be a broken script, not a user choice.
    if (answer < -1 || answer >= static_cast<int>(alert.buttons.size())) return -1;
    return answer;
}

}  // namespace platform::ui
