// The share upload against a loopback service through the libcurl client:
// the keychain double and in-memory defaults on the test's manual main
// executor, the file and body work on a real worker thread.

#include <gtest/gtest.h>

#include <filesystem>
#include <mutex>
#include <nlohmann/json.hpp>

#include "Parlowen/listenlater/queue/ShareService.h"
#include "Parlowen/shell/KeychainStore.h"
#include "platform/defaults/InMemoryUserDefaults.h"
#include "platform/http/CurlHttpClient.h"
#include "platform/keychain/SecretStore.h"
#include "platform/log/CaptureSink.h"
#include "platform/runtime/ManualExecutor.h"
#include "platform/runtime/WorkerPool.h"
#include "platform/testsupport/LoopbackServer.h"
#include "platform/testsupport/TempHome.h"
#include "platform/values/Files.h"

namespace parlowen {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testsupport::LoopbackReply;
using testsupport::LoopbackRequest;
using Key = KeychainStore::Key;

constexpr const char* kOkReply =
    R"({"id":"abc123","shareURL":"https://share.example/s/abc123","audioURL":"https://cdn.example/abc123.caf","ttl":7})";
constexpr const char* kNotConfigured =
    "Share upload isn't configured. From Terminal, run:\n\ndefaults write com.kelvatrum.Parlowen shareUploadSecret "
    "<secret>\n\nwhere <secret> matches the SHARE_UPLOAD_SECRET env var on the Vercel project. Then relaunch "
    "Parlowen.";

class ShareServiceTest : public ::testing::Test {
protected:
    void SetUp() override { setReply(LoopbackReply::text(200, kOkReply)); }

    void setReply(LoopbackReply reply) {
        server.route("POST", "/api/share", [reply](const LoopbackRequest&) { return reply; });
    }

    // An item whose audio file holds `bytes` bytes.
    QueueItem itemWithAudio(std::size_t bytes, const std::string& name = "item.caf") {
        std::string audio(bytes, '\0');
        for (std::size_t i = 0; i < bytes; ++i) audio[i] = static_cast<char>(i * 31 + 7);
        EXPECT_TRUE(platform::writeFileAtomically(dir / name, std::string_view(audio)));
        QueueItem item = QueueItem::create({.text = "Salmon find home by smell.", .title = "How salmon find home",
                                            .voiceEngine = "appleSpeech", .voiceID = ""});
        item.audioFileURL = platform::Url::fromFilePath(dir / name);
        item.durationSec = 12.5;
        return item;
    }

    platform::Result<ShareResult> share(ShareService& service, QueueItem item) {
        auto h = platform::spawn(main, service.share(std::move(item)));
        EXPECT_TRUE(main.runUntil([&] { return h.done(); }, 20s)) << "the upload did not end";
        return h.value();
    }
    platform::Result<ShareResult> share(QueueItem item) { return share(service, std::move(item)); }

    std::vector<std::string> shareLines() {
        std::vector<std::string> out;
        for (const auto& l : log.sink().linesOfCategory("share-service")) out.push_back(l.message);
        return out;
    }

    testsupport::TempDir dir;
    platform::ManualExecutor main;
    platform::WorkerPool pool{2};
    platform::InMemorySecretStore secrets;
    KeychainStore keychain{secrets, pool};
    platform::InMemoryUserDefaults defaults;
    // The server outlives the client, whose closed connections let it stop at once.
    testsupport::LoopbackServer server;
    platform::CurlHttpClient http;
    platform::ScopedLogCapture log;
    ShareService service{*ShareService::endpointFor(server.baseUrl()), {main, pool, keychain, defaults, http}};
};

TEST_F(ShareServiceTest, PostsTheAudioAndTheItemsFactsAndReturnsTheLinks) {
    ASSERT_TRUE(keychain.write(Key::shareUpload, "s3cret"));
    QueueItem item = itemWithAudio(3000);
    item.sourceURL = platform::Url::parse("https://news.example/salmon?x=1");
    item.sourceApp = "News Example";
    item.voiceID = "com.apple.voice.Samantha";

    auto result = share(item);
    ASSERT_TRUE(result) << result.error().description;
    EXPECT_EQ(result->id, "abc123");
    EXPECT_EQ(result->shareURL.absoluteString(), "https://share.example/s/abc123");
    EXPECT_EQ(result->audioURL.absoluteString(), "https://cdn.example/abc123.caf");

    ASSERT_EQ(server.requestCount(), 1u);
    const LoopbackRequest req = server.requests()[0];
    EXPECT_EQ(req.method, "POST");
    EXPECT_EQ(req.path, "/api/share");
    EXPECT_EQ(req.header("Content-Type"), "application/json");
    EXPECT_EQ(req.header("X-Share-Secret"), "s3cret");
    auto body = nlohmann::json::parse(req.body);
    EXPECT_EQ(platform::base64Decode(body["audio"].get<std::string>()), platform::readFile(dir / "item.caf"));
    EXPECT_EQ(body["audioMime"], "audio/x-caf");
    EXPECT_EQ(body["title"], "How salmon find home");
    EXPECT_EQ(body["duration"], 12.5);
    EXPECT_EQ(body["sourceURL"], "https://news.example/salmon?x=1");
    EXPECT_EQ(body["siteName"], "News Example");
    EXPECT_EQ(body["voiceName"], "com.apple.voice.Samantha");

    EXPECT_EQ(shareLines(), (std::vector<std::string>{"share upload begin: " + item.id.uuidString() + " bytes=3000",
                                                      "share upload done: " + item.id.uuidString() +
                                                          " shareURL=<private>"}));
}

TEST_F(ShareServiceTest, SendsOnlyTheFourMembersAnItemAlwaysHas) {
    ASSERT_TRUE(keychain.write(Key::shareUpload, "s3cret"));
    ASSERT_TRUE(share(itemWithAudio(10, "item.CAF")));
    auto body = nlohmann::json::parse(server.requests()[0].body);
    std::vector<std::string> keys;
    for (const auto& [k, v] : body.items()) keys.push_back(k);
    EXPECT_EQ(keys, (std::vector<std::string>{"audio", "audioMime", "duration", "title"}));
    EXPECT_EQ(body["audioMime"], "audio/x-caf");
}

TEST(ShareServiceMime, FollowsTheLowerCasedExtension) {
    const std::pair<const char*, const char*> cases[] = {
        {"caf", "audio/x-caf"}, {"CAF", "audio/x-caf"}, {"Caf", "audio/x-caf"},
        {"m4a", "audio/mp4"},   {"wav", "audio/mp4"},   {"", "audio/mp4"},
    };
    for (const auto& [ext, mime] : cases) EXPECT_EQ(ShareService::audioMime(ext), mime) << ext;
}

TEST_F(ShareServiceTest, TurnsEachReplyIntoItsOutcome) {
    ASSERT_TRUE(keychain.write(Key::shareUpload, "s3cret"));
    struct Case {
        int status;
        std::string body;
        std::string description;
    };
    const std::vector<Case> cases = {
        {401, R"({"error":"bad secret"})", "Upload failed: HTTP 401 \u2014 bad secret"},
        {413, R"({"error":42})", "Upload failed: HTTP 413"},
        {500, "<html><body>Internal error</body></html>", "Upload failed: HTTP 500"},
        {200, "<html>hello</html>", "Server returned an unexpected response: <html>hello</html>"},
        {200, "\xff\xfe\x00\x01", "Server returned an unexpected response: <binary>"},
        {201, R"({"id":"a","shareURL":"https://s/a"})",
         R"(Server returned an unexpected response: {"id":"a","shareURL":"https://s/a"})"},
        {200, R"({"id":"a","shareURL":"http://share.example/a","audioURL":"https://cdn.example/a"})",
         "Server returned an unexpected response: Server returned a non-https URL (shareURL=http, audioURL=https)"},
        {200, R"({"id":"a","shareURL":"share.example/a","audioURL":"https://cdn.example/a"})",
         "Server returned an unexpected response: Server returned a non-https URL (shareURL=<none>, audioURL=https)"},
        {200, R"({"id":"a","shareURL":"HTTPS://share.example/a","audioURL":"ftp://cdn.example/a"})",
         "Server returned an unexpected response: Server returned a non-https URL (shareURL=HTTPS, audioURL=ftp)"},
        {200, R"({"id":"a","shareURL":"https://share example/a","audioURL":"https://cdn.example/a"})",
         R"(Server returned an unexpected response: {"id":"a","shareURL":"https://share example/a","audioURL":"https://cdn.example/a"})"},
    };
    const QueueItem item = itemWithAudio(100);
    for (const auto& c : cases) {
        log->clear();
        setReply(LoopbackReply::text(c.status, c.body));
        auto result = share(item);
        ASSERT_FALSE(result) << c.body;
        EXPECT_EQ(result.error().description, c.description);
        EXPECT_EQ(result.error().domain, ShareError::kDomain);
        // Only the line before sending; failures are the caller's to show.
        EXPECT_EQ(shareLines().size(), 1u) << c.body;
    }
}

TEST_F(ShareServiceTest, AConnectionThatFailsIsAnUploadFailure) {
    ASSERT_TRUE(keychain.write(Key::shareUpload, "s3cret"));
    testsupport::RefusingPort refusing;
    ShareService unreachable(*ShareService::endpointFor(refusing.baseUrl()), {main, pool, keychain, defaults, http});
    auto result = share(unreachable, itemWithAudio(100));
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().caseName, "uploadFailed");
    EXPECT_TRUE(result.error().description.starts_with("Upload failed: ")) << result.error().description;
    EXPECT_GT(result.error().description.size(), std::string("Upload failed: ").size());
}

TEST_F(ShareServiceTest, CapsTheAudioAt25MiB) {
    ASSERT_TRUE(keychain.write(Key::shareUpload, "s3cret"));
    ASSERT_TRUE(share(itemWithAudio(26214400)));
    ASSERT_EQ(server.requestCount(), 1u);
    auto sent = nlohmann::json::parse(server.requests()[0].body);
    EXPECT_EQ(platform::base64Decode(sent["audio"].get<std::string>())->size(), 26214400u);

    const std::pair<std::size_t, const char*> tooLarge[] = {{26214401, "25"}, {30 * 1048576 + 5, "30"}};
    for (const auto& [bytes, mb] : tooLarge) {
        auto result = share(itemWithAudio(bytes));
        ASSERT_FALSE(result);
        EXPECT_EQ(result.error().description,
                  std::string("Upload failed: Audio is ") + mb + " MB; current cap is 25 MB. Try a shorter article.");
    }
    EXPECT_EQ(server.requestCount(), 1u);
}

TEST_F(ShareServiceTest, WithoutASecretTheHelpTextExplainsTheSetup) {
    auto result = share(itemWithAudio(10));
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().caseName, "notConfigured");
    EXPECT_EQ(result.error().description, kNotConfigured);

    defaults.set("shareUploadSecret", "");
    EXPECT_EQ(share(itemWithAudio(10)).error().description, kNotConfigured);
    EXPECT_EQ(server.requestCount(), 0u);
}

TEST_F(ShareServiceTest, MovesTheDefaultsSecretIntoTheKeychainOnce) {
    defaults.set("shareUploadSecret", "s3cret\n");
    ASSERT_TRUE(share(itemWithAudio(10)));
    EXPECT_EQ(server.requests()[0].header("X-Share-Secret"), "s3cret");
    EXPECT_EQ(keychain.read(Key::shareUpload), "s3cret");
    EXPECT_FALSE(defaults.object("shareUploadSecret"));
    EXPECT_TRUE(log->contains("migrated share-upload secret from UserDefaults to Keychain", platform::LogLevel::info));

    // The keychain answers from now on; a later defaults value is left alone.
    defaults.set("shareUploadSecret", "other");
    log->clear();
    ASSERT_TRUE(share(itemWithAudio(10)));
    EXPECT_EQ(server.requests()[1].header("X-Share-Secret"), "s3cret");
    EXPECT_EQ(defaults.stringForKey("shareUploadSecret"), "other");
    EXPECT_FALSE(log->contains("migrated"));
    for (const auto& line : log->messages()) EXPECT_EQ(line.find("s3cret"), std::string::npos) << line;
}

TEST_F(ShareServiceTest, AFailedKeychainWriteKeepsTheDefaultsSecretAndStillUploads) {
    defaults.set("shareUploadSecret", "  s3cret");
    secrets.failWith(platform::KeychainStatus{platform::keychain_status::interactionNotAllowed, "locked"});
    ASSERT_TRUE(share(itemWithAudio(10)));
    EXPECT_EQ(server.requests()[0].header("X-Share-Secret"), "s3cret");
    EXPECT_EQ(defaults.stringForKey("shareUploadSecret"), "  s3cret");
    EXPECT_FALSE(log->contains("migrated"));
    EXPECT_TRUE(log->contains("keychain write failed", platform::LogLevel::error));
    for (const auto& line : log->messages()) EXPECT_EQ(line.find("s3cret"), std::string::npos) << line;
}

TEST_F(ShareServiceTest, ASecretWithAControlCharacterIsNotUsed) {
    defaults.set("shareUploadSecret", "s3\x01" "cret");
    auto result = share(itemWithAudio(10));
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().caseName, "notConfigured");
    EXPECT_EQ(server.requestCount(), 0u);
    EXPECT_FALSE(keychain.exists(Key::shareUpload));
    EXPECT_TRUE(defaults.object("shareUploadSecret"));
}

TEST_F(ShareServiceTest, AnItemWithoutItsAudioFileHasNothingToShare) {
    ASSERT_TRUE(keychain.write(Key::shareUpload, "s3cret"));
    QueueItem noFile = itemWithAudio(10);
    noFile.audioFileURL.reset();
    QueueItem purged = itemWithAudio(10, "purged.caf");
    fs::remove(dir / "purged.caf");
    for (const QueueItem& item : {noFile, purged}) {
        auto result = share(item);
        ASSERT_FALSE(result);
        EXPECT_EQ(result.error().description,
                  "This item doesn't have rendered audio yet. Wait for it to finish, then try again.");
    }
    EXPECT_EQ(server.requestCount(), 0u);
}

}  // namespace
}  // namespace parlowen
