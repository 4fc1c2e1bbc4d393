#include "Parlowen/listenlater/queue/RenderFailureExplanation.h"

#include <initializer_list>
#include <string_view>

#include "platform/text/Unicode.h"

namespace parlowen {

namespace {

using Action = RenderFailureExplanation::Action;

struct Rule {
    std::initializer_list<std::string_view> keywords;
    const char* symbol;
    const char* title;
    const char* message;
    Action action;
};

// Tested in order; the first rule with a keyword in the text wins.
const Rule kRules[] = {
    {{"offline", "internet", "network connection", "timed out", "timeout", "could not connect",
      "connect to the server", "appears to be offline"},
     "wifi.slash", "Couldn\u2019t connect", "Quon couldn\u2019t reach this page. Check your connection and try again.",
     Action::retry},
    {{"403", "401", "429", "forbidden"},
     "hand.raised", "This site said no",
     "This site blocks apps like Quon from reading its pages \u2014 but you can still open it in your browser.",
     Action::openInBrowser},
    {{"404", "410", "not found"},
     "questionmark.circle", "Page not found", "That link didn\u2019t lead anywhere Quon could read.",
     Action::openInBrowser},
    {{"find an article", "no article", "no content"},
     "doc.plaintext", "No article to read",
     "Quon couldn\u2019t find readable article text here. It may be behind a paywall or sign-in, or it\u2019s a page "
     "without an article \u2014 like a video, gallery, or homepage.",
     Action::openInBrowser},
    {{"extraction", "readability", "script"},
     "exclamationmark.bubble", "Couldn\u2019t read this one",
     "Quon hit a snag reading this page. Trying again sometimes clears it.", Action::retry},
};

const Rule kFallback{{},
                     "exclamationmark.triangle",
                     "Couldn\u2019t prepare this",
                     "Quon couldn\u2019t turn this one into audio. Trying again sometimes helps.",
                     Action::retry};

const Rule& ruleFor(const std::string& lower) {
    for (const Rule& rule : kRules)
        for (std::string_view k : rule.keywords)
            if (lower.find(k) != std::string::npos) return rule;
    return kFallback;
}

}  // namespace

RenderFailureExplanation::RenderFailureExplanation(const std::optional<std::string>& renderError) {
    const Rule& rule = ruleFor(platform::text::lowercased(renderError.value_or("")));
    symbol = rule.symbol;
    title = rule.title;
    message = rule.message;
    action = rule.action;
}

}  // namespace parlowen
