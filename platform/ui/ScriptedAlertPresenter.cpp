#include "platform/ui/ScriptedAlertPresenter.h"

#include <algorithm>

namespace platform::ui {

int ScriptedAlertPresenter::run(const Alert& alert) {
    shown_.push_back(alert);
    int answer = defaultAnswer_;
    if (!script_.empty()) {
        answer = script_.front();
        script_.pop_front();
    }
    // An alert without buttons shows one "OK", as the real presenter does. An
    // answer past the buttons would be a broken script, not a user choice.
    const int buttonCount = std::max(1, static_cast<int>(alert.buttons.size()));
    if (answer < -1 || answer >= buttonCount) return -1;
    return answer;
}

}  // namespace platform::ui
