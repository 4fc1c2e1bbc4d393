#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace platform::ui {

enum class AlertStyle { informational, warning, critical };

// One modal alert: a message, an optional informative text below it, and
// buttons in the order they are added (the first is the default button).
struct Alert {
    std::string messageText;
    std::string informativeText;
    AlertStyle style = AlertStyle::informational;
    std::vector<std::string> buttons;
    // The button Escape chooses. None: Escape chooses nothing, unless the
    // alert has a single button.
    std::optional<std::size_t> escapeButton;
};

// Shows alerts and blocks until the user answers.
class AlertPresenter {
public:
    virtual ~AlertPresenter() = default;

    // Runs `alert` modally and returns the index of the chosen button in
    // `alert.buttons`, or -1 when the alert went away without a choice.
    virtual int run(const Alert& alert) = 0;
};

}  // namespace platform::ui
