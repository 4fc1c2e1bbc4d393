// The Secret Service implementation against a real, private gnome-keyring.

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/keychain/SecretStore.h"
#include "platform/testsupport/Services.h"

using namespace platform;

namespace {

std::vector<std::uint8_t> bytes(const std::string& s) { return {s.begin(), s.end()}; }

TEST(LibsecretStore, RoundTripsItemsThroughAnUnlockedKeyring) {
    testsupport::KeyringService keyring;
    PARLOWEN_REQUIRE_OR_SKIP(keyring.start());
    keyring.exportToProcess();
    auto store = makeLibsecretStore();

    EXPECT_EQ(store->copyData("Parlowen", "groq").status.code, keychain_status::itemNotFound);
    EXPECT_EQ(store->find("Parlowen", "groq").code, keychain_status::itemNotFound);
    EXPECT_EQ(store->update("Parlowen", "groq", bytes("x")).code, keychain_status::itemNotFound);

    ASSERT_TRUE(store->add("Parlowen", "groq", bytes("gsk_first")).ok());
    ASSERT_TRUE(store->add("Parlowen", "anthropic", bytes("sk-ant")).ok());
    ASSERT_TRUE(store->update("Parlowen", "groq", bytes("gsk_second")).ok());
    auto read = store->copyData("Parlowen", "groq");
    ASSERT_TRUE(read.status.ok()) << read.status.message;
    EXPECT_EQ(read.data, bytes("gsk_second"));
    EXPECT_EQ(store->copyData("Parlowen", "anthropic").data, bytes("sk-ant"));  // services never share an item

    // One item per service, not one per write.
    auto listed = keyring.run({"secret-tool", "search", "--all", "service", "groq"});
    ASSERT_TRUE(listed.ok()) << listed.describe();
    std::string text = listed.out + listed.err;
    std::size_t labels = 0;
    for (auto pos = text.find("label = "); pos != std::string::npos; pos = text.find("label = ", pos + 1)) ++labels;
    EXPECT_EQ(labels, 1u) << text;

    EXPECT_TRUE(store->remove("Parlowen", "groq").ok());
    EXPECT_EQ(store->remove("Parlowen", "groq").code, keychain_status::itemNotFound);
    EXPECT_EQ(store->find("Parlowen", "groq").code, keychain_status::itemNotFound);
}

// The key fields show this command for storing a key from a terminal.
TEST(LibsecretStore, AKeyStoredWithSecretToolIsFound) {
    testsupport::KeyringService keyring;
    PARLOWEN_REQUIRE_OR_SKIP(keyring.start());
    keyring.exportToProcess();
    auto store = makeLibsecretStore();
    auto stored = keyring.run({"secret-tool", "store", "--label=Parlowen: openai-tts", "account", "Parlowen", "service",
                               "openai-tts"},
                              {.input = "sk-from-the-terminal"});
    ASSERT_TRUE(stored.ok()) << stored.describe();
    EXPECT_TRUE(store->find("Parlowen", "openai-tts").ok());
    auto read = store->copyData("Parlowen", "openai-tts");
    ASSERT_TRUE(read.status.ok()) << read.status.message;
    EXPECT_EQ(read.data, bytes("sk-from-the-terminal"));
}

// A session bus activates the desktop's keyring on demand, but nobody has
// unlocked it: nothing can be read or stored, and nothing counts as present.
TEST(LibsecretStore, ALockedKeyringRefusesWithoutFallingBackToAnythingElse) {
    testsupport::DbusSession bus;
    PARLOWEN_REQUIRE_OR_SKIP(bus.start());
    bus.exportToProcess();
    auto store = makeLibsecretStore();
    auto added = store->add("Parlowen", "openai-tts", bytes("k"));
    EXPECT_FALSE(added.ok());
    EXPECT_FALSE(added.message.empty());
    EXPECT_FALSE(store->find("Parlowen", "openai-tts").ok());
    EXPECT_FALSE(store->copyData("Parlowen", "openai-tts").status.ok());
}

// A real keyring, locked after an item was stored. Nothing can show the
// unlock prompt here, which is what a dismissed prompt gives: reading the
// item reads "locked" (not "missing"), and storing reports the locked code.
TEST(LibsecretStore, ALockedCollectionReadsAsLockedNotMissing) {
    testsupport::KeyringService keyring;
    PARLOWEN_REQUIRE_OR_SKIP(keyring.start());
    keyring.exportToProcess();
    auto store = makeLibsecretStore();
    ASSERT_TRUE(store->add("Parlowen", "groq", bytes("gsk_locked")).ok());
    auto locked = keyring.run({"dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.secrets",
                               "/org/freedesktop/secrets", "org.freedesktop.Secret.Service.Lock",
                               "array:objpath:/org/freedesktop/secrets/collection/login"});
    ASSERT_TRUE(locked.ok()) << locked.describe();

    auto read = store->copyData("Parlowen", "groq");
    EXPECT_EQ(read.status.code, keychain_status::interactionNotAllowed) << read.status.message;
    EXPECT_TRUE(read.data.empty());
    EXPECT_EQ(store->find("Parlowen", "groq").code, keychain_status::interactionNotAllowed);
    auto added = store->add("Parlowen", "anthropic", bytes("sk"));
    EXPECT_EQ(added.code, keychain_status::interactionNotAllowed) << added.message;
    EXPECT_FALSE(added.message.empty());
    // An item that does not exist is still missing.
    EXPECT_EQ(store->copyData("Parlowen", "elevenlabs").status.code, keychain_status::itemNotFound);
}

TEST(LibsecretStore, NoReachableBusIsReportedNotAvailable) {
    testsupport::DbusSession bus;
    PARLOWEN_REQUIRE_OR_SKIP(bus.start());
    bus.exportToProcess();
    bus.stop();  // the address now leads nowhere
    auto store = makeLibsecretStore();
    auto read = store->copyData("Parlowen", "openai-tts");
    EXPECT_EQ(read.status.code, keychain_status::notAvailable);
    EXPECT_FALSE(read.status.message.empty());
    EXPECT_EQ(store->add("Parlowen", "openai-tts", bytes("k")).code, keychain_status::notAvailable);
}

}  // namespace
