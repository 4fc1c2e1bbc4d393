#include "Parlowen/shell/UninstallManager.h"

#include <fstream>

#include <gtest/gtest.h>

#include "platform/defaults/InMemoryUserDefaults.h"
#include "platform/defaults/JsonFileUserDefaults.h"
#include "platform/keychain/SecretStore.h"
#include "platform/log/CaptureSink.h"
#include "platform/runtime/ManualExecutor.h"
#include "platform/testsupport/Services.h"
#include "platform/testsupport/TempHome.h"
#include "platform/values/XdgDirs.h"

namespace parlowen {
namespace {

namespace fs = std::filesystem;
using Key = KeychainStore::Key;
using Lines = std::vector<std::string>;

void touch(const fs::path& file) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << "x";
}

class UninstallTest : public ::testing::Test {
protected:
    platform::ScopedLogCapture logs;
    testsupport::TempDir home;
    platform::Environment env{std::map<std::string, std::string>{{"HOME", home.path().string()}}};
    platform::InMemorySecretStore secrets;
    platform::ManualExecutor keychainWork;
    KeychainStore keychain{secrets, keychainWork};
    platform::InMemoryUserDefaults defaults;
    platform::ScriptedLoginItemService loginItems;

    UninstallManager::Result run() { return UninstallManager::uninstall({keychain, defaults, env, loginItems}); }
    void store(Key key) { ASSERT_TRUE(keychain.write(key, "secret-" + KeychainStore::service(key))); }
    fs::path appCaches() { return home / ".cache" / "com.kelvatrum.Parlowen"; }
    fs::path auralith() { return home / ".cache" / "auralith"; }
};

TEST_F(UninstallTest, RemovesEverythingInTheFixedOrderAndLogsTheCounts) {
    for (Key k : {Key::openAI, Key::cartesia, Key::anthropic, Key::groq, Key::googleAIStudio, Key::shareUpload}) store(k);
    defaults.set("selectedTheme", std::string("dusk"));
    touch(appCaches() / "fsCachedData" / "a");
    touch(auralith() / "models" / "kokoro" / "voice.bin");
    loginItems.setStatus(platform::LoginItemStatus::enabled);

    auto result = run();
    EXPECT_EQ(result.removed, (Lines{"3 Keychain entries", "All app preferences", "App caches",
                                     "Quon voice packs + neural models", "Launch at login"}));
    EXPECT_TRUE(result.errors.empty());
    for (Key k : {Key::openAI, Key::cartesia, Key::elevenLabs, Key::anthropic})
        EXPECT_FALSE(keychain.exists(k)) << KeychainStore::service(k);
    for (Key k : {Key::groq, Key::googleAIStudio, Key::shareUpload})
        EXPECT_TRUE(keychain.exists(k)) << KeychainStore::service(k) << " is not touched";
    EXPECT_TRUE(defaults.keys().empty());
    EXPECT_FALSE(fs::exists(appCaches()));
    EXPECT_FALSE(fs::exists(auralith()));
    EXPECT_TRUE(fs::exists(home / ".cache")) << "only the application's folders go";
    EXPECT_EQ(loginItems.unregistrations(), 1);
    EXPECT_EQ(loginItems.status(), platform::LoginItemStatus::notRegistered);
    ASSERT_EQ(logs->linesOfCategory("uninstall").size(), 1u);
    EXPECT_EQ(logs->linesOfCategory("uninstall")[0].message, "uninstall complete — removed 5 items, errors 0");
}

TEST_F(UninstallTest, WithNothingStoredOnlyThePreferencesLineRemains) {
    store(Key::groq);
    auto result = run();
    EXPECT_EQ(result.removed, Lines{"All app preferences"});
    EXPECT_TRUE(result.errors.empty());
    EXPECT_EQ(loginItems.unregistrations(), 0);
    EXPECT_TRUE(logs->contains("uninstall complete — removed 1 items, errors 0"));
}

TEST_F(UninstallTest, OneKeychainEntryIsSingularAndAFailedDeletionDoesNotStopTheOthers) {
    store(Key::openAI);
    store(Key::elevenLabs);
    secrets.failRemovalOf(KeychainStore::account, "openai-tts", {-25308, "User interaction is not allowed."});
    touch(auralith() / "x");
    auto result = run();
    EXPECT_EQ(result.removed, (Lines{"1 Keychain entry", "All app preferences", "Quon voice packs + neural models"}));
    EXPECT_EQ(result.errors,
              Lines{"Keychain openai-tts: Keychain error -25308: User interaction is not allowed."});
    EXPECT_TRUE(keychain.exists(Key::openAI));
    EXPECT_FALSE(keychain.exists(Key::elevenLabs));
    EXPECT_TRUE(logs->contains("uninstall complete — removed 3 items, errors 1"));
}

TEST_F(UninstallTest, AFailedUnregistrationStillReportsTheLoginItemAndIsLogged) {
    loginItems.setStatus(platform::LoginItemStatus::enabled);
    loginItems.failNextUnregistration(platform::Error::make("LoginItem", 1, "x", "read-only file system"));
    auto result = run();
    EXPECT_EQ(result.removed, (Lines{"All app preferences", "Launch at login"}));
    EXPECT_TRUE(result.errors.empty());
    EXPECT_TRUE(logs->contains("login item update failed: read-only file system"));
}

TEST_F(UninstallTest, CachesFollowXdgCacheHomeButTheModelFolderStaysUnderHome) {
    testsupport::TempDir elsewhere;
    env = env.with("XDG_CACHE_HOME", elsewhere.path().string());
    touch(elsewhere / "com.kelvatrum.Parlowen" / "a");
    touch(appCaches() / "kept");  // not the caches folder now
    auto result = run();
    EXPECT_EQ(result.removed, (Lines{"All app preferences", "App caches"}));
    EXPECT_FALSE(fs::exists(elsewhere / "com.kelvatrum.Parlowen"));
    EXPECT_TRUE(fs::exists(appCaches() / "kept"));
}

// Against a real Secret Service, the defaults file and the autostart entry
// on a fixture's own HOME.
TEST(UninstallOnTheDesktop, RemovesKeysFilesAndTheAutostartEntry) {
    platform::ScopedLogCapture logs;
    testsupport::KeyringService keyring;
    PARLOWEN_REQUIRE_OR_SKIP(keyring.start());
    keyring.exportToProcess();
    const platform::Environment env = keyring.environment();
    const platform::XdgDirs dirs(env);
    auto secrets = platform::makeLibsecretStore();
    platform::ManualExecutor keychainWork;
    KeychainStore keychain(*secrets, keychainWork);
    ASSERT_TRUE(keychain.write(Key::openAI, "sk-openai"));
    ASSERT_TRUE(keychain.write(Key::cartesia, "sk-cartesia"));
    ASSERT_TRUE(keychain.write(Key::groq, "gsk-groq"));

    auto defaults = platform::JsonFileUserDefaults::forDomain(dirs, "com.kelvatrum.Parlowen");
    defaults->set("hasCompletedFirstRun", true);
    ASSERT_TRUE(fs::exists(defaults->path()));
    touch(dirs.cacheHome() / "com.kelvatrum.Parlowen" / "cache.db");
    touch(dirs.homeDir() / ".cache" / "auralith" / "models" / "m.onnx");
    platform::XdgAutostartLoginItem autostart(env, "/usr/bin/Parlowen");
    ASSERT_TRUE(autostart.registerItem());

    auto result = UninstallManager::uninstall({keychain, *defaults, env, autostart});
    EXPECT_EQ(result.removed, (Lines{"2 Keychain entries", "All app preferences", "App caches",
                                     "Quon voice packs + neural models", "Launch at login"}));
    EXPECT_TRUE(result.errors.empty()) << result.errors.front();
    EXPECT_FALSE(keychain.exists(Key::openAI));
    EXPECT_FALSE(keychain.exists(Key::cartesia));
    EXPECT_EQ(keychain.read(Key::groq).value_or(""), "gsk-groq");
    EXPECT_FALSE(fs::exists(defaults->path()));
    EXPECT_FALSE(fs::exists(dirs.cacheHome() / "com.kelvatrum.Parlowen"));
    EXPECT_FALSE(fs::exists(dirs.homeDir() / ".cache" / "auralith"));
    EXPECT_FALSE(fs::exists(autostart.entryPath()));
}

}  // namespace
}  // namespace parlowen
