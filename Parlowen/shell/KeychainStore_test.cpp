#include <gtest/gtest.h>

#include <set>

#include "Parlowen/shell/KeychainStore.h"

using namespace parlowen;
using Key = KeychainStore::Key;

namespace {

std::string stored(platform::InMemorySecretStore& s, Key key) {
    auto item = s.item("Parlowen", KeychainStore::service(key));
    return item ? std::string(item->begin(), item->end()) : "<none>";
}

TEST(KeychainStore, WritesTrimmedTextAndUpdatesTheItemInPlace) {
    platform::InMemorySecretStore secrets;
    KeychainStore store(secrets);
    ASSERT_TRUE(store.write(Key::groq, " gsk_abc\n"));
    EXPECT_EQ(stored(secrets, Key::groq), "gsk_abc");
    EXPECT_EQ(store.read(Key::groq).value(), "gsk_abc");
    ASSERT_TRUE(store.write(Key::groq, "gsk_def"));
    EXPECT_EQ(secrets.addCount(), 1u);  // the second write updated, it did not add
    EXPECT_EQ(secrets.itemCount(), 1u);
    EXPECT_EQ(store.read(Key::groq).value(), "gsk_def");

    ASSERT_TRUE(store.write(Key::anthropic, " \t\n"));  // empty after trimming: kept as an empty item
    EXPECT_TRUE(store.exists(Key::anthropic));
    EXPECT_EQ(store.read(Key::anthropic).value(), "");
}

TEST(KeychainStore, MissingItemsAndDeletion) {
    platform::InMemorySecretStore secrets;
    KeychainStore store(secrets);
    auto r = store.read(Key::openAI);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().description, "Keychain item not found");
    EXPECT_EQ(keychainError(r.error())->kind, KeychainError::Case::missing);
    EXPECT_FALSE(store.exists(Key::openAI));
    EXPECT_TRUE(store.remove(Key::openAI));  // deleting what was never written succeeds
    ASSERT_TRUE(store.write(Key::openAI, "sk"));
    EXPECT_TRUE(store.remove(Key::openAI));
    EXPECT_FALSE(store.exists(Key::openAI));
}

TEST(KeychainStore, KeychainFailuresCarryTheirStatusAndMessage) {
    platform::InMemorySecretStore secrets;
    KeychainStore store(secrets);
    ASSERT_TRUE(store.write(Key::cartesia, "k"));
    secrets.failWith(platform::KeychainStatus{-25308, "Cannot create an item in a locked collection"});
    EXPECT_FALSE(store.exists(Key::cartesia));  // never fails, just absent
    auto r = store.read(Key::cartesia);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().description, "Keychain error -25308: Cannot create an item in a locked collection");
    EXPECT_EQ(keychainError(r.error())->status, -25308);
    EXPECT_EQ(store.write(Key::cartesia, "x").error().description,
              "Keychain error -25308: Cannot create an item in a locked collection");
    EXPECT_FALSE(store.remove(Key::cartesia));

    secrets.failWith(platform::KeychainStatus{-25291, ""});
    EXPECT_EQ(store.read(Key::cartesia).error().description, "Keychain error -25291: unknown");
}

TEST(KeychainStore, StoredBytesThatAreNotUtf8FailWithStatusZero) {
    platform::InMemorySecretStore secrets;
    secrets.add("Parlowen", "elevenlabs", {0xff, 0xfe});
    KeychainStore store(secrets);
    EXPECT_EQ(store.read(Key::elevenLabs).error().description, "Keychain error 0: unknown");
}

TEST(KeychainStore, EveryKeyHasItsOwnService) {
    const std::pair<Key, const char*> rows[] = {
        {Key::openAI, "openai-tts"}, {Key::cartesia, "cartesia"}, {Key::elevenLabs, "elevenlabs"},
        {Key::anthropic, "anthropic"}, {Key::groq, "groq"}, {Key::googleAIStudio, "google-ai-studio"},
        {Key::shareUpload, "share-upload"}};
    std::set<std::string> seen;
    for (auto [key, service] : rows) {
        EXPECT_EQ(KeychainStore::service(key), service);
        seen.insert(service);
    }
    EXPECT_EQ(seen.size(), 7u);
}

}  // namespace
