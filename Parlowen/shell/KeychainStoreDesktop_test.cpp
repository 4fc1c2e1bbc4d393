// The keychain store's asynchronous form against a real, locked keyring
// whose unlock prompt (gcr's prompter, activated on the session bus) shows
// on a private display and waits for the user.

#include <gtest/gtest.h>

#include "Parlowen/shell/KeychainStore.h"
#include "platform/runtime/ManualExecutor.h"
#include "platform/runtime/Strand.h"
#include "platform/runtime/WorkerPool.h"
#include "platform/testsupport/Services.h"

namespace parlowen {
namespace {

using namespace std::chrono_literals;
using Key = KeychainStore::Key;

class LockedKeyringTest : public ::testing::Test {
protected:
    void SetUp() override {
        PARLOWEN_REQUIRE_OR_SKIP(keyring.start());
        keyring.exportToProcess();  // libsecret finds the bus from the process's own variables
        // The prompter needs no accessibility bus of its own.
        auto env = keyring.run({"dbus-update-activation-environment", "NO_AT_BRIDGE=1"});
        ASSERT_TRUE(env.ok()) << env.describe();
        ASSERT_TRUE(store.write(Key::groq, "gsk_locked"));
        auto locked = keyring.run({"dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.secrets",
                                   "/org/freedesktop/secrets", "org.freedesktop.Secret.Service.Lock",
                                   "array:objpath:/org/freedesktop/secrets/collection/login"});
        ASSERT_TRUE(locked.ok()) << locked.describe();
    }

    // Runs the main executor until the unlock prompt shows.
    bool waitForPrompt() {
        return testsupport::waitUntil(
            [&] {
                main.runUntilIdle();
                return keyring.run({"xdotool", "search", "--onlyvisible", "--name", kPromptTitle}).ok();
            },
            30s);
    }

    // Gives the prompt the keyboard focus, types `keys` (xdotool commands,
    // through XTest), and runs the main executor until `read` ends.
    template <class T>
    bool answerPrompt(platform::JoinHandle<T>& read, const std::vector<std::vector<std::string>>& keys) {
        // A window that the search still finds may go away before the focus
        // reaches it: search again.
        testsupport::RunResult sent;
        const bool focused = testsupport::waitUntil(
            [&] {
                sent = keyring.run({"xdotool", "search", "--onlyvisible", "--name", kPromptTitle, "windowfocus",
                                    "--sync"});
                return sent.ok();
            },
            30s);
        EXPECT_TRUE(focused) << sent.describe();
        for (auto command : keys) {
            command.insert(command.begin(), "xdotool");
            sent = keyring.run(command);
            EXPECT_TRUE(sent.ok()) << sent.describe();
        }
        return focused && main.runUntil([&] { return read.done(); }, 30s);
    }

    static constexpr const char* kPromptTitle = "Unlock Login Keyring";

    testsupport::XvfbDisplay display;
    testsupport::DbusSession bus{display};
    testsupport::KeyringService keyring{bus};
    std::unique_ptr<platform::SecretStore> secrets = platform::makeLibsecretStore();
    platform::WorkerPool pool{1};
    platform::Strand work{pool};
    platform::ManualExecutor main;
    KeychainStore store{*secrets, work};
};

// While the unlock prompt waits for the user, the main executor goes on
// running; a dismissed prompt reads as locked (not missing), and a prompt
// answered with the password gives the secret.
TEST_F(LockedKeyringTest, TheMainExecutorRunsWhileTheUnlockPromptWaits) {
    auto dismissed = platform::spawn(main, store.readAsync(Key::groq));
    ASSERT_TRUE(waitForPrompt()) << "no unlock prompt showed";
    int ran = 0;
    main.post([&] { ++ran; });
    main.runUntilIdle();
    EXPECT_EQ(ran, 1);
    EXPECT_FALSE(dismissed.done()) << "the read did not wait for the prompt";

    ASSERT_TRUE(answerPrompt(dismissed, {{"key", "Escape"}}));
    ASSERT_FALSE(dismissed.value());
    auto failure = keychainError(dismissed.value().error());
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->kind, KeychainError::Case::unexpectedStatus);
    EXPECT_EQ(failure->status, platform::keychain_status::interactionNotAllowed) << failure->systemMessage;

    auto unlocked = platform::spawn(main, store.readAsync(Key::groq));
    ASSERT_TRUE(waitForPrompt());
    ASSERT_TRUE(answerPrompt(unlocked, {{"type", testsupport::KeyringService::kPassword}, {"key", "Return"}}));
    ASSERT_TRUE(unlocked.value()) << unlocked.value().error().description;
    EXPECT_EQ(*unlocked.value(), "gsk_locked");
}

}  // namespace
}  // namespace parlowen
