#include <gtest/gtest.h>

#include "Parlowen/listenlater/queue/RenderFailureExplanation.h"

using namespace parlowen;
using Action = RenderFailureExplanation::Action;

namespace {

TEST(RenderFailureExplanation, EveryRowWithItsExactTexts) {
    EXPECT_EQ(RenderFailureExplanation(std::string("The Internet connection appears to be offline.")),
              RenderFailureExplanation("wifi.slash", "Couldn\u2019t connect",
                                       "Quon couldn\u2019t reach this page. Check your connection and try again.",
                                       Action::retry));
    EXPECT_EQ(RenderFailureExplanation(std::string("HTTP 403")),
              RenderFailureExplanation("hand.raised", "This site said no",
                                       "This site blocks apps like Quon from reading its pages \u2014 but you can "
                                       "still open it in your browser.",
                                       Action::openInBrowser));
    EXPECT_EQ(RenderFailureExplanation(std::string("HTTP 404 not found")),
              RenderFailureExplanation("questionmark.circle", "Page not found",
                                       "That link didn\u2019t lead anywhere Quon could read.", Action::openInBrowser));
    EXPECT_EQ(RenderFailureExplanation(std::string("Couldn't find an article on this page")),
              RenderFailureExplanation("doc.plaintext", "No article to read",
                                       "Quon couldn\u2019t find readable article text here. It may be behind a "
                                       "paywall or sign-in, or it\u2019s a page without an article \u2014 like a "
                                       "video, gallery, or homepage.",
                                       Action::openInBrowser));
    EXPECT_EQ(RenderFailureExplanation(std::string("Script generation failed: empty")),
              RenderFailureExplanation("exclamationmark.bubble", "Couldn\u2019t read this one",
                                       "Quon hit a snag reading this page. Trying again sometimes clears it.",
                                       Action::retry));
    EXPECT_EQ(RenderFailureExplanation(std::nullopt),
              RenderFailureExplanation("exclamationmark.triangle", "Couldn\u2019t prepare this",
                                       "Quon couldn\u2019t turn this one into audio. Trying again sometimes helps.",
                                       Action::retry));
}

TEST(RenderFailureExplanation, RulesAreCaseInsensitiveSubstringsTestedInOrder) {
    const std::pair<std::optional<std::string>, const char*> cases[] = {
        {"The request TIMED OUT.", "wifi.slash"},
        {"TIMEOUT", "wifi.slash"},
        {"Could not connect to the server.", "wifi.slash"},
        {"Error 1403 while loading", "hand.raised"},  // plain substring: 1403 holds 403
        {"429 Too Many Requests", "hand.raised"},
        {"Forbidden", "hand.raised"},
        {"HTTP 410 Gone", "questionmark.circle"},
        {"Page Not Found", "questionmark.circle"},
        {"No content", "doc.plaintext"},
        {"Readability extraction failed", "exclamationmark.bubble"},
        {"network connection lost: 404", "wifi.slash"},  // rule 1 comes first
        {"Synthesis failed: no audio was produced", "exclamationmark.triangle"},
        {"", "exclamationmark.triangle"},
    };
    for (const auto& [text, symbol] : cases)
        EXPECT_EQ(RenderFailureExplanation(text).symbol, symbol) << text.value_or("<none>");
}

}  // namespace
