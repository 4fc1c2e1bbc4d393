#pragma once

#include <optional>
#include <string>

namespace parlowen {

// Turns a stored render-error text into something a person can act on: a
// symbol, a headline, a message and one suggested remedy.
struct RenderFailureExplanation {
    enum class Action { openInBrowser, retry };

    std::string symbol;
    std::string title;
    std::string message;
    Action action = Action::retry;

    RenderFailureExplanation(std::string symbol, std::string title, std::string message, Action action)
        : symbol(std::move(symbol)), title(std::move(title)), message(std::move(message)), action(action) {}
    // Matches keywords in the lower-cased error text (none counts as empty text);
    // the first matching rule wins, and an unmatched text still gets an explanation.
    explicit RenderFailureExplanation(const std::optional<std::string>& renderError);

    friend bool operator==(const RenderFailureExplanation&, const RenderFailureExplanation&) = default;
};

}  // namespace parlowen
