#include <gtest/gtest.h>

#include <set>

#include "Parlowen/shell/KeychainStore.h"
#include "platform/runtime/ManualExecutor.h"

using namespace parlowen;
using Key = KeychainStore::Key;

namespace {

std::string stored(platform::InMemorySecretStore& s, Key key) {
    auto item = s.item("Parlowen", KeychainStore::service(key));
    return item ? std::string(item->begin(), item->end()) : "<none>";
}

TEST(KeychainStore, WritesTrimmedTextAndUpdatesTheItemInPlace) {
    platform::InMemorySecretStore secrets;
    platform::ManualExecutor work;
    KeychainStore store(secrets, work);
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
    platform::ManualExecutor work;
    KeychainStore store(secrets, work);
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
    platform::ManualExecutor work;
    KeychainStore store(secrets, work);
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
    platform::ManualExecutor work;
    KeychainStore store(secrets, work);
    EXPECT_EQ(store.read(Key::elevenLabs).error().description, "Keychain error 0: unknown");
}

// The asynchronous form runs each call on the keychain's own executor (where
// an unlock prompt may keep it waiting) and resumes the caller on its own.
TEST(KeychainStore, AsyncCallsRunOnTheKeychainExecutorAndResumeOnTheCaller) {
    platform::InMemorySecretStore secrets;
    platform::ManualExecutor main, work;
    KeychainStore store(secrets, work);

    auto written = platform::spawn(main, store.writeAsync(Key::groq, " gsk_async\n"));
    main.runUntilIdle();
    EXPECT_FALSE(secrets.item("Parlowen", "groq")) << "written on the caller's executor";
    work.runUntilIdle();
    EXPECT_EQ(stored(secrets, Key::groq), "gsk_async");
    EXPECT_FALSE(written.done()) << "resumed on the keychain's executor";
    main.runUntilIdle();
    ASSERT_TRUE(written.done());
    EXPECT_TRUE(written.value());

    auto read = platform::spawn(main, store.readAsync(Key::groq));
    auto exists = platform::spawn(main, store.existsAsync(Key::groq));
    auto removed = platform::spawn(main, store.removeAsync(Key::openAI));
    auto missing = platform::spawn(main, store.readAsync(Key::openAI));
    while (main.runUntilIdle() + work.runUntilIdle() > 0) {
    }
    EXPECT_EQ(read.value().value(), "gsk_async");
    EXPECT_TRUE(exists.value());
    EXPECT_TRUE(removed.value());
    EXPECT_EQ(keychainError(missing.value().error())->kind, KeychainError::Case::missing);
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
