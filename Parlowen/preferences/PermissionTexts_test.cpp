#include "Parlowen/preferences/PermissionTexts.h"

#include <gtest/gtest.h>

#include "Parlowen/preferences/PreferencesTab.h"

namespace parlowen {
namespace {

TEST(PreferencesTab, SidebarOrderTitlesAndRawValues) {
    std::vector<std::string> titles;
    for (const auto& t : preferencesTabs) {
        titles.emplace_back(t.title);
        EXPECT_EQ(preferencesTabFromRawValue(t.rawValue), t.tab);
        EXPECT_EQ(info(t.tab).tab, t.tab) << "the table is in enumeration order";
    }
    EXPECT_EQ(titles, (std::vector<std::string>{"General", "Tips", "Dictation", "Read-Aloud", "Subscriptions",
                                                "AI Refinement", "Per-App Rules", "Appearance", "Permissions",
                                                "Privacy", "About"}));
    EXPECT_EQ(rawValue(PreferencesTab::readAloud), "readAloud");
    EXPECT_EQ(systemSymbol(PreferencesTab::permissions), "lock.shield");
    for (auto raw : {"", "General", "read-aloud", "permissions "})
        EXPECT_EQ(preferencesTabFromRawValue(raw), std::nullopt) << raw;
}

// The pre-screen over kind × state: the expectation text and the primary label.
TEST(PermissionPreScreenText, ExpectationAndLabelOverKindAndState) {
    using K = PermissionKind;
    using S = PermissionState;
    const std::string mic = "A macOS sheet asking \"Parlowen would like to access the microphone.\" Click Allow.";
    const std::string speech = "A macOS sheet asking \"Parlowen would like to access speech recognition.\" Click OK.";
    const std::string ax =
        "macOS opens System Settings → Privacy & Security → Accessibility. Flip the Parlowen switch on.";
    const std::string input =
        "macOS opens System Settings → Privacy & Security → Input Monitoring. Flip the Parlowen switch on.";
    const std::map<K, std::string> notDenied{
        {K::microphone, mic}, {K::speech, speech}, {K::accessibility, ax}, {K::inputMonitoring, input}};
    for (auto kind : allPermissionKinds) {
        for (auto state : {S::unknown, S::granted, S::notDetermined})
            EXPECT_EQ(PermissionPreScreenText::expectationText(kind, state), notDenied.at(kind));
        EXPECT_EQ(PermissionPreScreenText::expectationText(kind, S::denied),
                  "macOS opens System Settings → Privacy & Security → " + title(kind) +
                      ". Flip the Parlowen switch on. Parlowen will detect the change automatically.");
    }
    EXPECT_EQ(PermissionPreScreenText::primaryLabel(S::granted), "Got it");
    EXPECT_EQ(PermissionPreScreenText::primaryLabel(S::denied), "Open Settings");
    EXPECT_EQ(PermissionPreScreenText::primaryLabel(S::unknown), "Show me the prompt");
    EXPECT_EQ(PermissionPreScreenText::primaryLabel(S::notDetermined), "Show me the prompt");
    EXPECT_EQ(PermissionPreScreenText::heading(K::speech), "Speech Recognition — heads up");
    EXPECT_EQ(PermissionPreScreenText::headerSymbol(K::inputMonitoring), "keyboard");
}

}  // namespace
}  // namespace parlowen
