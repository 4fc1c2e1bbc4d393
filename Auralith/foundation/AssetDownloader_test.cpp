#include "Auralith/foundation/AssetDownloader.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "platform/http/CurlHttpClient.h"
#include "platform/http/FakeHttpClient.h"
#include "platform/log/CaptureSink.h"
#include "platform/runtime/ManualExecutor.h"
#include "platform/testsupport/LoopbackServer.h"
#include "platform/testsupport/TempHome.h"

namespace auralith {
namespace {

namespace fs = std::filesystem;
using testsupport::LoopbackReply;

std::string readText(const fs::path& p) {
    std::ifstream in(p);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class AssetDownloaderTest : public ::testing::Test {
protected:
    void SetUp() override { platform::setRedactPrivate(false); }
    void TearDown() override { platform::setRedactPrivate(true); }

    template <class T>
    T run(platform::Task<T> task) {
        auto h = platform::spawn(ex_, std::move(task));
        EXPECT_TRUE(ex_.runUntil([&] { return h.done(); }, std::chrono::seconds(20)));
        return h.value();
    }
    AssetDownloader::Descriptor descriptor(const std::string& path, fs::path destination, bool skip, bool fileMode) {
        auto url = *platform::Url::parse(server_.url(path));
        auto mode = fileMode ? AssetDownloader::TransferMode::file(AssetDownloader::moveReplacingItem)
                             : AssetDownloader::TransferMode::data(AssetDownloader::writeDataAtomically);
        return {"vocabulary", url, std::move(destination), skip, mode};
    }

    testsupport::LoopbackServer server_;
    platform::CurlHttpClient http_;
    platform::ManualExecutor ex_;
    testsupport::TempDir dir_;
    platform::ScopedLogCapture log_;
    AppLogger logger_{"KokoroResources"};
};

TEST_F(AssetDownloaderTest, StatusTableInBothModes) {
    struct Case {
        int status;
        bool ok;
    };
    const Case cases[] = {{200, true}, {299, true}, {300, false}, {404, false}, {500, false}};
    for (bool fileMode : {false, true}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message() << "status " << c.status << (fileMode ? " file" : " data"));
            const std::string path = "/s" + std::to_string(c.status);
            server_.route("GET", path, LoopbackReply::text(c.status, "body " + std::to_string(c.status)));
            const fs::path dest = dir_ / (fileMode ? "file" : "data") / (std::to_string(c.status) + ".json");
            auto r = run(AssetDownloader::ensure(descriptor(path, dest, false, fileMode), http_, logger_));
            if (c.ok) {
                ASSERT_TRUE(r) << r.error().description;
                EXPECT_EQ(*r, dest);
                EXPECT_EQ(readText(dest), "body " + std::to_string(c.status));
            } else {
                ASSERT_FALSE(r);
                EXPECT_EQ(AssetDownloader::invalidResponseStatus(r.error()), c.status);
                EXPECT_EQ(r.error().description, "Unexpected response (status " + std::to_string(c.status) +
                                                     ") while downloading vocabulary");
                EXPECT_FALSE(fs::exists(dest));
            }
            // No temporary file is left beside the destination.
            for (const auto& e : fs::directory_iterator(dest.parent_path()))
                EXPECT_EQ(e.path().filename().string().find(".download-"), std::string::npos) << e.path();
        }
    }
    EXPECT_TRUE(log_->contains("Downloading vocabulary\u2026", platform::LogLevel::info));
    EXPECT_TRUE(log_->contains("Cached vocabulary at " + (dir_ / "data" / "200.json").string()));
}

TEST_F(AssetDownloaderTest, ANonHttpResponseCountsAsStatusMinusOne) {
    std::ofstream(dir_ / "local.txt") << "x";
    AssetDownloader::Descriptor d{"voice", platform::Url::fromFilePath(dir_ / "local.txt"), dir_ / "out/voice.bin",
                                  false, AssetDownloader::TransferMode::data(AssetDownloader::writeDataAtomically)};
    auto r = run(AssetDownloader::ensure(d, http_, logger_));
    ASSERT_FALSE(r);
    EXPECT_EQ(AssetDownloader::invalidResponseStatus(r.error()), -1);
    EXPECT_FALSE(fs::exists(dir_ / "out/voice.bin"));
    auto data = run(AssetDownloader::fetchData(platform::Url::fromFilePath(dir_ / "local.txt"), "voice", http_, logger_));
    ASSERT_FALSE(data);
    EXPECT_EQ(data.error().description, "Unexpected response (status -1) while downloading voice");
}

TEST_F(AssetDownloaderTest, SkipIfExistsTakesAnyItemWithoutARequest) {
    fs::create_directories(dir_ / "voices/af_heart.json");  // a folder counts too
    std::ofstream(dir_ / "lexicon.json") << "old";
    server_.route("GET", "/new", LoopbackReply::text(200, "new"));
    log_->clear();
    auto skipped = run(AssetDownloader::ensure(descriptor("/new", dir_ / "voices/af_heart.json", true, false), http_, logger_));
    ASSERT_TRUE(skipped);
    EXPECT_EQ(*skipped, dir_ / "voices/af_heart.json");
    auto kept = run(AssetDownloader::ensure(descriptor("/new", dir_ / "lexicon.json", true, true), http_, logger_));
    ASSERT_TRUE(kept);
    EXPECT_EQ(readText(dir_ / "lexicon.json"), "old");
    EXPECT_EQ(server_.requestCount(), 0u);
    EXPECT_TRUE(log_->lines().empty());

    // Without skipping, the file is fetched again and replaced, a folder included.
    ASSERT_TRUE(run(AssetDownloader::ensure(descriptor("/new", dir_ / "lexicon.json", false, false), http_, logger_)));
    EXPECT_EQ(readText(dir_ / "lexicon.json"), "new");
    ASSERT_TRUE(run(AssetDownloader::ensure(descriptor("/new", dir_ / "voices/af_heart.json", false, true), http_, logger_)));
    EXPECT_EQ(readText(dir_ / "voices/af_heart.json"), "new");
}

TEST_F(AssetDownloaderTest, AParentThatCannotBeMadeFailsBeforeAnyRequest) {
    std::ofstream(dir_ / "blocker") << "a file where a folder should be";
    server_.route("GET", "/v", LoopbackReply::text(200, "v"));
    log_->clear();
    auto r = run(AssetDownloader::ensure(descriptor("/v", dir_ / "blocker/sub/v.json", false, false), http_, logger_));
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().domain, "file");
    EXPECT_EQ(server_.requestCount(), 0u);
    EXPECT_FALSE(log_->contains("Downloading "));
}

TEST_F(AssetDownloaderTest, AFailingStoreStepIsTheError) {
    server_.route("GET", "/v", LoopbackReply::text(200, "v"));
    auto d = descriptor("/v", dir_ / "v.json", false, true);
    d.transferMode = AssetDownloader::TransferMode::file([](const fs::path&, const fs::path&) -> platform::Status {
        return platform::fail(platform::Error::make("test", 1, "full", "Disk full"));
    });
    auto r = run(AssetDownloader::ensure(d, http_, logger_));
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().description, "Disk full");
    EXPECT_TRUE(fs::is_empty(dir_.path()));  // no file, no leftover temporary
}

TEST_F(AssetDownloaderTest, FetchDataReturnsTheBodyOrTheStatus) {
    server_.route("GET", "/pack", LoopbackReply::text(200, "voice pack"));
    server_.route("GET", "/gone", LoopbackReply::text(404, "no"));
    auto ok = run(AssetDownloader::fetchData(*platform::Url::parse(server_.url("/pack")), "voice pack", http_, logger_));
    ASSERT_TRUE(ok);
    EXPECT_EQ(platform::toString(*ok), "voice pack");
    EXPECT_TRUE(log_->contains("Fetching voice pack from " + server_.url("/pack"), platform::LogLevel::debug));
    auto gone = run(AssetDownloader::fetchData(*platform::Url::parse(server_.url("/gone")), "zf_001", http_, logger_));
    ASSERT_FALSE(gone);
    EXPECT_EQ(gone.error().description, "Unexpected response (status 404) while downloading zf_001");
}

TEST_F(AssetDownloaderTest, AnInformationalStatusIsRejected) {
    // A final status of 199 (curl takes a 1xx head as informational and waits
    // for another, so the fake client plays such a server).
    platform::FakeHttpClient fake;
    fake.answer("GET", "https://hub.example/v", platform::FakeHttpAnswer::text(199, "early"));
    AssetDownloader::Descriptor d{"vocabulary", *platform::Url::parse("https://hub.example/v"), dir_ / "v.json", false,
                                  AssetDownloader::TransferMode::data(AssetDownloader::writeDataAtomically)};
    auto h = platform::spawn(ex_, AssetDownloader::ensure(d, fake, logger_));
    ex_.runUntilIdle();
    ASSERT_TRUE(h.done());
    EXPECT_EQ(AssetDownloader::invalidResponseStatus(h.value().error()), 199);
    EXPECT_FALSE(fs::exists(dir_ / "v.json"));
}

}  // namespace
}  // namespace auralith
