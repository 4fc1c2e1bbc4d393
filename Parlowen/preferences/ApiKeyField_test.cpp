#include "Parlowen/preferences/ApiKeyField.h"

#include <gtest/gtest.h>

#include "Parlowen/shell/settings/PreferencesStore.h"
#include "platform/defaults/InMemoryUserDefaults.h"
#include "platform/log/CaptureSink.h"
#include "platform/pasteboard/InMemoryPasteboard.h"
#include "platform/runtime/ManualExecutor.h"
#include "platform/text/Unicode.h"
#include "platform/x11/Workspace.h"

namespace parlowen {
namespace {

using namespace std::chrono_literals;
using Member = ApiKeyMember;

std::string key(std::string_view prefix, std::size_t length) {
    std::string k(prefix);
    while (k.size() < length) k += 'x';
    return k;
}

// A connection test the test releases by moving virtual time on.
platform::Task<ConnectionTestResult> slowTest(std::string apiKey, std::vector<std::string>* tested,
                                              ConnectionTestResult result) {
    tested->push_back(apiKey);
    co_await platform::sleepFor(10s);
    co_return result;
}

class ApiKeyFieldTest : public ::testing::Test {
protected:
    platform::ScopedLogCapture logs;
    platform::ManualExecutor main;
    platform::InMemorySecretStore secrets;
    KeychainStore keychain{secrets, main};
    platform::InMemoryPasteboard pasteboard;
    platform::ScriptedWorkspace workspace;
    platform::InMemoryUserDefaults defaults;
    PreferencesStore preferences{defaults, {}};
    std::vector<std::string> tested;
    ConnectionTestResult nextResult = ConnectionTestResult::success();

    std::unique_ptr<ApiKeyField> make(Member member) {
        return std::make_unique<ApiKeyField>(
            member, ApiKeyField::Dependencies{
                        .keychain = keychain, .pasteboard = pasteboard, .workspace = workspace, .main = main,
                        .preferences = &preferences,
                        .connectionTest = [this](std::string k) { return slowTest(std::move(k), &tested, nextResult); }});
    }
    void store(Member member, const std::string& text) {
        ASSERT_TRUE(keychain.write(info(member).key, text));
    }
    void clip(const std::string& text) { pasteboard.writeStringAsAnotherClient(text); }
    // Shown on screen: presence, then the clipboard.
    std::unique_ptr<ApiKeyField> appear(Member member) {
        auto f = make(member);
        f->refreshPresence(true);
        main.runUntilIdle();
        return f;
    }
};

TEST_F(ApiKeyFieldTest, ClipboardRulesMeasureTheTrimmedText) {
    struct Case {
        Member member;
        std::string clipboard;
        bool fills;
    };
    const std::vector<Case> cases{
        {Member::openAI, key("sk-", 19), false},
        {Member::openAI, key("sk-", 20), true},
        {Member::openAI, "  \n" + key("sk-", 200) + "\n", true},
        {Member::openAI, key("sk-", 201), false},
        {Member::anthropic, key("sk-ant-", 39), false},
        {Member::anthropic, key("sk-ant-", 40), true},
        {Member::openAI, key("sk-ant-", 60), false},  // an Anthropic key never fills OpenAI
        {Member::elevenLabs, key("sk_car_", 40), false},  // a Cartesia key never fills ElevenLabs
        {Member::elevenLabs, key("sk_", 40), true},
        {Member::cartesia, key("sk_car_", 40), true},
        {Member::cartesia, key("sk_", 40), false},
        {Member::groq, key("gsk_", 56), true},
        {Member::groq, key("sk-", 56), false},
    };
    for (const auto& c : cases) {
        clip(c.clipboard);
        auto f = appear(c.member);
        EXPECT_EQ(!f->keyEntry().empty(), c.fills) << info(c.member).name << " " << c.clipboard.size();
        EXPECT_EQ(f->pastedFromClipboard(), c.fills);
        if (c.fills) EXPECT_EQ(f->keyEntry(), platform::text::trim(c.clipboard));
    }
}

TEST_F(ApiKeyFieldTest, TheClipboardNeverOverwritesAnEntryNorFillsAConfiguredMember) {
    clip(key("sk-", 40));
    auto f = make(Member::openAI);
    f->setKeyEntry("typed");
    f->clipboardCheck();
    EXPECT_EQ(f->keyEntry(), "typed");
    EXPECT_FALSE(f->pastedFromClipboard());

    // Emptying the entry hides the paste note; the next check fills it again.
    f->setKeyEntry("");
    f->clipboardCheck();
    EXPECT_TRUE(f->pastedFromClipboard());
    f->setKeyEntry("");
    EXPECT_FALSE(f->pastedFromClipboard());

    store(Member::openAI, "sk-stored-key-0000000000");
    auto configured = appear(Member::openAI);
    EXPECT_TRUE(configured->configured());
    EXPECT_EQ(configured->keyEntry(), "");
    // Replacing reads it again.
    configured->replace();
    configured->clipboardCheck();
    EXPECT_EQ(configured->keyEntry(), key("sk-", 40));
}

TEST_F(ApiKeyFieldTest, AHiddenMemberIsFilledToo) {
    // The section checks all three voice members, whichever is on screen.
    clip(key("sk-", 48));
    auto openAI = appear(Member::openAI);
    auto cartesia = appear(Member::cartesia);
    EXPECT_EQ(openAI->keyEntry(), key("sk-", 48));
    EXPECT_EQ(cartesia->keyEntry(), "");
}

TEST_F(ApiKeyFieldTest, SaveStoresTheTrimmedKeyAndFailuresKeepTheEntry) {
    auto f = appear(Member::openAI);
    f->setKeyEntry("   \n ");
    EXPECT_FALSE(f->canSave());
    f->save();  // Return in the field
    main.runUntilIdle();
    EXPECT_EQ(secrets.itemCount(), 0u);

    secrets.failWith(platform::KeychainStatus{-25308, "The keyring is locked"});
    f->setKeyEntry("  sk-typed-key-1234567890\n");
    f->save();
    main.runUntilIdle();
    EXPECT_EQ(f->saveError(), "Keychain error -25308: The keyring is locked");
    EXPECT_EQ(f->keyEntry(), "  sk-typed-key-1234567890\n");
    EXPECT_FALSE(f->keyPresent());

    secrets.failWith(std::nullopt);
    f->save();
    main.runUntilIdle();
    EXPECT_EQ(keychain.read(KeychainStore::Key::openAI).value(), "sk-typed-key-1234567890");
    EXPECT_TRUE(f->configured());
    EXPECT_EQ(f->keyEntry(), "");
    EXPECT_EQ(f->saveError(), std::nullopt);
}

TEST_F(ApiKeyFieldTest, CancelAndReplaceClearTheEntryAndReplaceClearsTheTestResult) {
    store(Member::openAI, "sk-stored-key-0000000000");
    auto f = appear(Member::openAI);
    f->testConnection();
    main.advanceUntilIdle();
    ASSERT_TRUE(f->testResult());

    f->replace();
    EXPECT_TRUE(f->replacing());
    EXPECT_EQ(f->testResult(), std::nullopt);
    secrets.failWith(platform::KeychainStatus{-25291, "No keyring"});
    f->setKeyEntry("sk-new-key-000000000000");
    f->save();
    main.runUntilIdle();
    ASSERT_TRUE(f->saveError());
    f->cancel();
    EXPECT_TRUE(f->configured());
    EXPECT_EQ(f->keyEntry(), "");
    EXPECT_EQ(f->saveError(), std::nullopt);
    secrets.failWith(std::nullopt);
    EXPECT_EQ(keychain.read(KeychainStore::Key::openAI).value(), "sk-stored-key-0000000000");

    // Groq's Replace only turns replacing on.
    store(Member::groq, key("gsk_", 40));
    auto groq = appear(Member::groq);
    groq->setKeyEntry("partial");
    groq->replace();
    EXPECT_TRUE(groq->replacing());
    EXPECT_EQ(groq->keyEntry(), "partial");
}

TEST_F(ApiKeyFieldTest, TestConnectionTestsTheStoredKeyAndReportsEachOutcome) {
    store(Member::cartesia, "sk_car_stored_key_000000");
    auto f = appear(Member::cartesia);
    f->replace();
    f->cancel();
    f->testConnection();
    EXPECT_TRUE(f->isTesting());
    main.runUntilIdle();
    EXPECT_TRUE(f->isTesting()) << "held until the test releases it";
    EXPECT_EQ(tested, std::vector<std::string>{"sk_car_stored_key_000000"});
    f->testConnection();  // the button is disabled while testing
    main.advanceUntilIdle();
    EXPECT_FALSE(f->isTesting());
    EXPECT_EQ(f->testResult(), ConnectionTestResult::success());
    EXPECT_EQ(tested.size(), 1u);

    nextResult = ConnectionTestResult::failure("Invalid API key (HTTP 401)");
    f->testConnection();
    main.advanceUntilIdle();
    EXPECT_EQ(f->testResult(), nextResult);

    // Deleted outside the application.
    ASSERT_TRUE(keychain.remove(KeychainStore::Key::cartesia));
    f->testConnection();
    main.advanceUntilIdle();
    EXPECT_EQ(f->testResult(), ConnectionTestResult::failure("Couldn't read key from Keychain: Keychain item not found"));
}

TEST_F(ApiKeyFieldTest, AResultArrivingAfterTheFieldIsGoneIsDropped) {
    store(Member::openAI, "sk-stored-key-0000000000");
    auto f = appear(Member::openAI);
    f->testConnection();
    main.runUntilIdle();
    f.reset();
    main.advanceUntilIdle();  // nothing touches the destroyed field
    EXPECT_EQ(tested.size(), 1u);
}

TEST_F(ApiKeyFieldTest, RemoveTurnsPolishingOffEvenWhenTheItemWasAlreadyGone) {
    for (bool deletedOutside : {false, true}) {
        preferences.polishPunctuationEnabled.set(true);
        store(Member::anthropic, key("sk-ant-", 50));
        auto f = appear(Member::anthropic);
        ASSERT_TRUE(f->configured());
        if (deletedOutside) ASSERT_TRUE(keychain.remove(KeychainStore::Key::anthropic));
        f->remove();
        main.runUntilIdle();
        EXPECT_FALSE(f->keyPresent());
        EXPECT_FALSE(preferences.polishPunctuationEnabled());
    }
}

TEST_F(ApiKeyFieldTest, AFailedRemoveKeepsTheKeyAndSaysSoUntilReplace) {
    preferences.polishPunctuationEnabled.set(true);
    store(Member::anthropic, key("sk-ant-", 50));
    auto f = appear(Member::anthropic);
    secrets.failRemovalOf(KeychainStore::account, "anthropic", {-25308, "The keyring is locked"});
    f->remove();
    main.runUntilIdle();
    EXPECT_TRUE(f->configured());
    EXPECT_EQ(f->saveError(), "Keychain error -25308: The keyring is locked");
    EXPECT_TRUE(preferences.polishPunctuationEnabled());
    EXPECT_TRUE(keychain.exists(KeychainStore::Key::anthropic));
    f->replace();
    EXPECT_EQ(f->saveError(), std::nullopt);
}

TEST_F(ApiKeyFieldTest, AGroqItemHoldingNothingIsMissing) {
    store(Member::groq, "");
    EXPECT_FALSE(appear(Member::groq)->keyPresent());
    store(Member::groq, key("gsk_", 30));
    EXPECT_TRUE(appear(Member::groq)->keyPresent());
    secrets.failWith(platform::KeychainStatus{-25308, "locked"});
    EXPECT_FALSE(appear(Member::groq)->keyPresent()) << "a read error counts as no key";
}

TEST_F(ApiKeyFieldTest, TextsAndKeyPages) {
    EXPECT_EQ(ApiKeyFieldText::titleConfigured(Member::openAI), "OpenAI key — Configured");
    EXPECT_EQ(ApiKeyFieldText::titleReplacing(Member::elevenLabs), "Replace ElevenLabs key");
    EXPECT_EQ(ApiKeyFieldText::keychainNote(Member::cartesia),
              "Stored in macOS Keychain (account: Parlowen, service: cartesia).");
    EXPECT_EQ(ApiKeyFieldText::titleConfigured(Member::groq), "Groq key — stored in Keychain");
    EXPECT_EQ(ApiKeyFieldText::terminalCommand(Member::openAI),
              "secret-tool store --label=\"Parlowen: openai-tts\" account Parlowen service openai-tts");
    EXPECT_EQ(ApiKeyFieldText::terminalCommand(Member::groq), "");
    EXPECT_EQ(ApiKeyFieldText::placeholder(Member::anthropic), "sk-ant-…");
    auto f = make(Member::groq);
    f->openKeyPage();
    EXPECT_EQ(workspace.openedURLs(), std::vector<std::string>{ApiKeyPages{}.groq});
}

}  // namespace
}  // namespace parlowen
