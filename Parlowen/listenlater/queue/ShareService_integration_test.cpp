// The share secret written by hand into the real defaults file moves into a
// real keyring (gnome-keyring on a private session bus) on the next upload,
// with no restart, and reaches the loopback share service.

#include <gtest/gtest.h>

#include <fstream>

#include "Parlowen/listenlater/queue/ShareService.h"
#include "Parlowen/shell/KeychainStore.h"
#include "platform/defaults/JsonFileUserDefaults.h"
#include "platform/http/CurlHttpClient.h"
#include "platform/keychain/SecretStore.h"
#include "platform/runtime/ManualExecutor.h"
#include "platform/runtime/Strand.h"
#include "platform/runtime/WorkerPool.h"
#include "platform/testsupport/LoopbackServer.h"
#include "platform/testsupport/Services.h"
#include "platform/testsupport/TempHome.h"
#include "platform/values/Files.h"

namespace parlowen {
namespace {

using namespace std::chrono_literals;

TEST(ShareServiceIntegration, ASecretWrittenIntoTheDefaultsFileMovesIntoTheKeyring) {
    testsupport::KeyringService keyring;
    PARLOWEN_REQUIRE_OR_SKIP(keyring.start());
    keyring.exportToProcess();

    testsupport::TempDir dir;
    testsupport::LoopbackServer server;
    server.route("POST", "/api/share",
                 testsupport::LoopbackReply::text(
                     200, R"({"id":"x1","shareURL":"https://share.example/x1","audioURL":"https://cdn.example/x1"})"));

    platform::ManualExecutor main;
    platform::WorkerPool pool(2);
    platform::Strand keychainWork(pool);
    std::unique_ptr<platform::SecretStore> secrets = platform::makeLibsecretStore();
    KeychainStore keychain(*secrets, keychainWork);
    const auto defaultsFile = dir / "config" / "com.kelvatrum.Parlowen" / "defaults.json";
    platform::JsonFileUserDefaults defaults(defaultsFile);
    defaults.set("launches", std::int64_t{3});  // the file exists, as it would for a running application
    platform::CurlHttpClient http;
    ShareService service(*ShareService::endpointFor(server.baseUrl()), {main, pool, keychain, defaults, http});

    ASSERT_TRUE(platform::writeFileAtomically(dir / "a.caf", std::string_view("caf bytes")));
    QueueItem item = QueueItem::create({.text = "t", .title = "T", .voiceEngine = "appleSpeech", .voiceID = ""});
    item.audioFileURL = platform::Url::fromFilePath(dir / "a.caf");
    auto share = [&] {
        auto h = platform::spawn(main, service.share(item));
        EXPECT_TRUE(main.runUntil([&] { return h.done(); }, 30s));
        return h.value();
    };

    // Not configured yet.
    EXPECT_EQ(share().error().caseName, "notConfigured");

    // The user edits the file while the application runs.
    {
        std::ofstream out(defaultsFile, std::ios::trunc);
        out << R"({"launches":{"integer":3},"shareUploadSecret":{"string":"hand-written-secret\n"}})";
    }
    auto first = share();
    ASSERT_TRUE(first) << first.error().description;
    EXPECT_EQ(server.requests().back().header("X-Share-Secret"), "hand-written-secret");
    EXPECT_EQ(keychain.read(KeychainStore::Key::shareUpload), "hand-written-secret");
    EXPECT_FALSE(defaults.object("shareUploadSecret"));
    auto onDisk = platform::readFile(defaultsFile);
    ASSERT_TRUE(onDisk);
    EXPECT_EQ(platform::toString(*onDisk).find("hand-written-secret"), std::string::npos);

    // From the keyring from now on.
    auto second = share();
    ASSERT_TRUE(second) << second.error().description;
    EXPECT_EQ(server.requests().back().header("X-Share-Secret"), "hand-written-secret");
}

}  // namespace
}  // namespace parlowen
