// Repository downloads against a fake hub on 127.0.0.1, selected through
// REGISTRY_URL, with the real libcurl client; retries and request headers
// with the scripted client in virtual time.

#include "Auralith/foundation/DownloadUtils.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "Auralith/foundation/testdata/FakeModelHub.h"
#include "platform/http/CurlHttpClient.h"
#include "platform/http/FakeHttpClient.h"
#include "platform/log/CaptureSink.h"
#include "platform/runtime/ManualExecutor.h"
#include "platform/testsupport/LoopbackServer.h"
#include "platform/testsupport/TempHome.h"
#include "platform/values/Files.h"

namespace auralith {
namespace {

namespace fs = std::filesystem;
using Progress = DownloadUtils::DownloadProgress;
using Phase = DownloadUtils::DownloadPhase;
using testhub::FakeModelHub;
using testsupport::LoopbackReply;

std::string readText(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> filesUnder(const fs::path& root) {
    std::vector<std::string> files;
    if (!fs::exists(root)) return files;
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (e.is_regular_file()) files.push_back(fs::relative(e.path(), root).string());
    std::sort(files.begin(), files.end());
    return files;
}

class DownloadUtilsTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::setRedactPrivate(false);
        useEnvironment({});
    }
    void TearDown() override { platform::setRedactPrivate(true); }

    // The environment of the service: the hub here, plus `extra`.
    void useEnvironment(std::map<std::string, std::string> extra) {
        extra.emplace("REGISTRY_URL", server_.baseUrl());
        extra.emplace("HOME", dir_.path().string());
        downloads_.reset();
        registry_ = std::make_unique<ModelRegistry>(platform::Environment(std::move(extra)));
        downloads_ = std::make_unique<DownloadUtils>(http_, *registry_, reporter_);
    }

    template <class T>
    T run(platform::Task<T> task) {
        auto h = platform::spawn(ex_, std::move(task));
        EXPECT_TRUE(ex_.runUntil([&] { return h.done(); }, std::chrono::seconds(20)));
        return h.value();
    }

    platform::Status download(Repo repo, std::vector<Progress>* progress = nullptr,
                              std::optional<std::string> variant = std::nullopt) {
        DownloadUtils::ProgressHandler handler;
        if (progress) handler = [progress](const Progress& p) { progress->push_back(p); };
        return run(downloads_->downloadRepo(repo, models_, std::move(variant), handler));
    }

    testsupport::LoopbackServer server_;
    platform::CurlHttpClient http_;
    platform::ManualExecutor ex_;
    testsupport::TempDir dir_;
    platform::ScopedLogCapture log_;
    SystemInfoReporter reporter_{ex_};
    std::unique_ptr<ModelRegistry> registry_;
    std::unique_ptr<DownloadUtils> downloads_;
    const fs::path models_ = dir_ / "Models";
};

TEST_F(DownloadUtilsTest, SubPathIsStrippedAndOnlyAdmittedEntriesAreFetched) {
    FakeModelHub hub(server_, "Corvexa/parakeet-realtime-eou-120m-coreml");
    hub.addFile("160ms/streaming_encoder.mlmodelc/coremldata.bin", "encoder");
    hub.addFile("160ms/streaming_encoder.mlmodelc/weights/weight.bin", "encoder weights");
    hub.addFile("160ms/decoder.mlmodelc/coremldata.bin", "decoder");
    hub.addFile("160ms/joint_decision.mlmodelc/coremldata.bin", "joint");
    hub.addFile("160ms/joint_decision.mlmodelc/model.mil", "program");
    hub.addFile("160ms/vocab.json", "{}");
    hub.addFile("160ms/config.json", "{\"chunk\":160}");
    hub.addFile("160ms/tokenizer.model", "spm");
    hub.addFile("160ms/notes.txt", "not needed");                       // with a sub-path: only inside a required folder
    hub.addFile("160ms/extra.mlmodelc/model.mil", "not required");  // folder listed, file not taken
    hub.addFile("320ms/decoder.mlmodelc/coremldata.bin", "other variant");
    hub.addFile("README.md", "top level");
    hub.publish();

    ASSERT_TRUE(download(Repo::parakeetEou160));
    const fs::path folder = models_ / "parakeet-eou-streaming/160ms";
    EXPECT_EQ(filesUnder(folder),
              (std::vector<std::string>{"config.json", "decoder.mlmodelc/coremldata.bin",
                                        "joint_decision.mlmodelc/coremldata.bin", "joint_decision.mlmodelc/model.mil",
                                        "streaming_encoder.mlmodelc/coremldata.bin",
                                        "streaming_encoder.mlmodelc/weights/weight.bin", "tokenizer.model",
                                        "vocab.json"}));
    EXPECT_EQ(readText(folder / "streaming_encoder.mlmodelc/weights/weight.bin"), "encoder weights");
    // The listing starts at the sub-path: nothing of the other variant is asked for.
    for (const auto& listed : hub.listedFolders()) EXPECT_EQ(listed.rfind("160ms", 0), 0u) << listed;
    EXPECT_TRUE(log_->contains("Downloading parakeet-eou-streaming/160ms from HuggingFace..."));
    EXPECT_TRUE(log_->contains("Found 8 files to download"));
    EXPECT_TRUE(log_->contains("Downloaded 8/8 files"));
    EXPECT_TRUE(log_->contains("Downloaded all required models for parakeet-eou-streaming/160ms"));
}

TEST_F(DownloadUtilsTest, WithoutSubPathFoldersOffTheRequiredOnesAreNotListed) {
    FakeModelHub hub(server_, "Corvexa/silero-vad-coreml");
    const std::string model = "silero-vad-unified-256ms-v6.0.0.mlmodelc";
    hub.addFile(model + "/coremldata.bin", "model");
    hub.addFile(model + "/analytics/coremldata.bin", "analytics");
    hub.addFile("config.json", "{}");             // top-level .json: taken
    hub.addFile("LICENSE.txt", "license");        // top-level .txt: taken
    hub.addFile("other.bin", "weights");          // .bin outside the required folders: skipped
    hub.addFile("tokenizer.model", "spm");        // .model outside: skipped
    hub.addFile("README.md", "readme");           // anything else outside: skipped
    hub.addFile("old-model.mlmodelc/coremldata.bin", "old");
    hub.publish();

    ASSERT_TRUE(download(Repo::vad));
    EXPECT_EQ(filesUnder(models_ / "silero-vad"),
              (std::vector<std::string>{"LICENSE.txt", "config.json", model + "/analytics/coremldata.bin",
                                        model + "/coremldata.bin"}));
    EXPECT_EQ(hub.listedFolders(), (std::vector<std::string>{"", model, model + "/analytics"}));
}

TEST_F(DownloadUtilsTest, ListingEntriesThatLeaveTheRepositoryAreRefused) {
    FakeModelHub hub(server_, "Corvexa/parakeet-realtime-eou-120m-coreml");
    for (const char* name : {"streaming_encoder", "decoder", "joint_decision"})
        hub.addFile(std::string("160ms/") + name + ".mlmodelc/coremldata.bin", name);
    hub.addFile("160ms/vocab.json", "{}");
    const auto file = [](const char* path) {
        return nlohmann::ordered_json{{"type", "file"}, {"path", path}, {"size", 4}};
    };
    const auto folder = [](const char* path) { return nlohmann::ordered_json{{"type", "directory"}, {"path", path}}; };
    hub.addListingObject("160ms", file("160ms/../../../escape.json"));
    hub.addListingObject("160ms", file("160ms/./dot.json"));
    hub.addListingObject("160ms", file("/etc/absolute.json"));
    hub.addListingObject("160ms", file("160ms//double.json"));
    hub.addListingObject("160ms", folder("160ms/.."));
    hub.addListingObject("160ms", folder("160ms"));  // a folder that lists itself
    hub.addListingObject("160ms", folder("160ms/decoder.mlmodelc/../.."));
    hub.publish();

    ASSERT_TRUE(download(Repo::parakeetEou160));
    EXPECT_EQ(hub.fileRequests(), 4u);
    EXPECT_EQ(hub.listingRequests(), 4u);  // 160ms and its three model folders
    EXPECT_EQ(filesUnder(models_ / "parakeet-eou-streaming/160ms").size(), 4u);
    EXPECT_FALSE(fs::exists(dir_ / "escape.json"));
    EXPECT_TRUE(log_->contains("Refusing listing entry outside the repository: 160ms/../../../escape.json"));
}

TEST_F(DownloadUtilsTest, EmptyFilesExistingFilesAndASecondRun) {
    FakeModelHub hub(server_, "Corvexa/silero-vad-coreml");
    const std::string model = "silero-vad-unified-256ms-v6.0.0.mlmodelc";
    hub.addFile(model + "/model.mil", std::string(2000, 'm'));
    hub.addFile(model + "/metadata.json", "", nlohmann::ordered_json(0));  // created here, never requested
    hub.addFile(model + "/coremldata.bin", std::string(3000, 'c'));
    hub.addFile(model + "/weights/weight.bin", std::string(5000, 'w'));
    hub.publish();
    // A file already in the cache is kept as it is, whatever it holds.
    fs::create_directories(models_ / "silero-vad" / model);
    std::ofstream(models_ / "silero-vad" / model / "model.mil") << "local";

    std::vector<Progress> progress;
    ASSERT_TRUE(download(Repo::vad, &progress));
    EXPECT_EQ(hub.requestedFiles(), (std::vector<std::string>{model + "/coremldata.bin", model + "/weights/weight.bin"}));
    EXPECT_TRUE(fs::is_regular_file(models_ / "silero-vad" / model / "metadata.json"));
    EXPECT_EQ(fs::file_size(models_ / "silero-vad" / model / "metadata.json"), 0u);
    EXPECT_EQ(readText(models_ / "silero-vad" / model / "model.mil"), "local");

    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.front(), (Progress{0.0, Phase::listing()}));
    double last = 0;
    for (const auto& p : progress) {
        EXPECT_LE(p.fractionCompleted, 0.5);
        EXPECT_GE(p.fractionCompleted, last);
        last = p.fractionCompleted;
    }
    // Weighted by bytes: of 10000 listed bytes the kept 2000 count as done,
    // so the first file fetched ends at (2000 + 3000) / 10000 of the half.
    EXPECT_NE(std::find(progress.begin(), progress.end(), Progress{0.25, Phase::downloading(3, 4)}), progress.end());
    EXPECT_EQ(progress.back(), (Progress{0.5, Phase::downloading(4, 4)}));

    // A second run over the complete cache asks only for the listings.
    const auto files = hub.fileRequests();
    const auto listings = hub.listingRequests();
    progress.clear();
    ASSERT_TRUE(download(Repo::vad, &progress));
    EXPECT_EQ(hub.fileRequests(), files);
    EXPECT_EQ(hub.listingRequests(), listings * 2);
    EXPECT_EQ(progress, (std::vector<Progress>{{0.0, Phase::listing()}}));
}

TEST_F(DownloadUtilsTest, WithoutListedSizesProgressCountsFiles) {
    FakeModelHub hub(server_, "Corvexa/silero-vad-coreml");
    const std::string model = "silero-vad-unified-256ms-v6.0.0.mlmodelc";
    hub.addFile(model + "/coremldata.bin", "a", std::nullopt);
    hub.addFile(model + "/b.bin", "bb", std::nullopt);
    hub.addFile(model + "/c.bin", "ccc", nlohmann::ordered_json(2.5));  // not an integer: no size
    hub.addFile(model + "/d.bin", "dddd", nlohmann::ordered_json("4"));
    hub.publish();
    std::vector<Progress> progress;
    ASSERT_TRUE(download(Repo::vad, &progress));
    EXPECT_EQ(progress, (std::vector<Progress>{{0.0, Phase::listing()},
                                               {0.125, Phase::downloading(1, 4)},
                                               {0.25, Phase::downloading(2, 4)},
                                               {0.375, Phase::downloading(3, 4)},
                                               {0.5, Phase::downloading(4, 4)}}));
    EXPECT_EQ(readText(models_ / "silero-vad" / model / "d.bin"), "dddd");
}

TEST_F(DownloadUtilsTest, AnswerThatDiffersFromTheListedSizeIsNotStored) {
    FakeModelHub hub(server_, "Corvexa/silero-vad-coreml");
    const std::string model = "silero-vad-unified-256ms-v6.0.0.mlmodelc";
    hub.addFile(model + "/coremldata.bin", "short", nlohmann::ordered_json(10));
    hub.addFile(model + "/weights.bin", "this is longer than listed", nlohmann::ordered_json(4));
    for (const bool longer : {false, true}) {
        SCOPED_TRACE(longer ? "longer" : "shorter");
        hub.publish();
        if (longer) std::ofstream(models_ / "silero-vad" / model / "coremldata.bin") << "short";
        auto result = download(Repo::vad);
        ASSERT_FALSE(result);
        EXPECT_EQ(result.error().domain, HuggingFaceDownloadError::kDomain);
        EXPECT_EQ(result.error().code, HuggingFaceDownloadError::downloadFailed);
        const std::string path = model + (longer ? "/weights.bin" : "/coremldata.bin");
        EXPECT_EQ(result.error().description.rfind("Failed to download " + path + ": ", 0), 0u)
            << result.error().description;
        EXPECT_EQ(filesUnder(models_ / "silero-vad"),
                  longer ? std::vector<std::string>{model + "/coremldata.bin"} : std::vector<std::string>{});
    }
}

TEST_F(DownloadUtilsTest, ListingFailures) {
    struct Case {
        const char* name;
        LoopbackReply reply;
        std::string domain;
        int code;
        std::string description;
    };
    const std::string longPage = "  \n<html><head><title>Too many requests</title></head><body>" +
                                 std::string(200, 'x') + "</body></html>";
    const Case cases[] = {
        {"429", LoopbackReply::text(429, "[]"), HuggingFaceDownloadError::kDomain,
         HuggingFaceDownloadError::rateLimited, "Hugging Face rate limit encountered: Rate limited while listing files"},
        {"503", LoopbackReply::text(503, "busy"), HuggingFaceDownloadError::kDomain,
         HuggingFaceDownloadError::rateLimited, "Hugging Face rate limit encountered: Rate limited while listing files"},
        {"html page", LoopbackReply::text(200, longPage), HuggingFaceDownloadError::kDomain,
         HuggingFaceDownloadError::htmlErrorResponse,
         "HuggingFace returned HTML instead of JSON for  (rate limit or server issue): " +
             longPage.substr(3, 100)},
        {"doctype inside", LoopbackReply::text(200, "oops <!DocType HTML> here"), HuggingFaceDownloadError::kDomain,
         HuggingFaceDownloadError::htmlErrorResponse,
         "HuggingFace returned HTML instead of JSON for  (rate limit or server issue): oops <!DocType HTML> here"},
        {"404 with an error object", LoopbackReply::text(404, R"({"error":"Repository not found"})"),
         HuggingFaceDownloadError::kDomain, HuggingFaceDownloadError::invalidResponse,
         "Received an invalid response from Hugging Face."},
        {"array of numbers", LoopbackReply::text(200, "[1,2]"), HuggingFaceDownloadError::kDomain,
         HuggingFaceDownloadError::invalidResponse, "Received an invalid response from Hugging Face."},
        {"not JSON", LoopbackReply::text(200, "{nope"), "json", 1, ""},
    };
    FakeModelHub hub(server_, "Corvexa/silero-vad-coreml");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        hub.setListingReply("", c.reply);
        hub.publish();
        auto result = download(Repo::vad);
        ASSERT_FALSE(result);
        EXPECT_EQ(result.error().domain, c.domain);
        EXPECT_EQ(result.error().code, c.code);
        if (!c.description.empty()) {
            EXPECT_EQ(result.error().description, c.description);
        }
    }
    // An HTML body is cut at 100 characters, not bytes.
    hub.setListingReply("", LoopbackReply::text(200, "<p>" + std::string(150, 'a') + "\xC3\xA9"));
    hub.publish();
    auto accented = download(Repo::vad);
    ASSERT_FALSE(accented);
    EXPECT_TRUE(accented.error().description.ends_with(": <p>" + std::string(97, 'a')));

    // The status itself is not judged: a 500 with a listing is a listing.
    hub.setListingReply("", LoopbackReply::text(500, "[]"));
    hub.publish();
    auto accepted = download(Repo::vad);
    ASSERT_FALSE(accepted);
    EXPECT_EQ(accepted.error().code, HuggingFaceDownloadError::modelNotFound);
    EXPECT_EQ(accepted.error().description, "Model file not found: silero-vad-unified-256ms-v6.0.0.mlmodelc");
}

TEST_F(DownloadUtilsTest, FileFailuresKeepWhatWasStored) {
    const std::string model = "silero-vad-unified-256ms-v6.0.0.mlmodelc";
    struct Case {
        const char* name;
        LoopbackReply reply;
        int code;
        std::string description;
    };
    const Case cases[] = {
        {"429", LoopbackReply::text(429, ""), HuggingFaceDownloadError::rateLimited,
         "Hugging Face rate limit encountered: Rate limited while downloading " + model + "/b.bin"},
        {"404", LoopbackReply::text(404, "missing"), HuggingFaceDownloadError::downloadFailed,
         "Failed to download " + model + "/b.bin: The operation couldn\u2019t be completed. (HTTP error 404.)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::TempDir root;
        FakeModelHub hub(server_, "Corvexa/silero-vad-coreml");
        hub.addFile(model + "/a.bin", "aaaa");
        hub.addFile(model + "/b.bin", "bbbb");
        hub.addFile(model + "/coremldata.bin", "cccc");
        hub.setFileReply(model + "/b.bin", c.reply);
        hub.publish();
        auto result = run(downloads_->downloadRepo(Repo::vad, root.path()));
        ASSERT_FALSE(result);
        EXPECT_EQ(result.error().code, c.code);
        EXPECT_EQ(result.error().description, c.description);
        EXPECT_EQ(filesUnder(root.path() / "silero-vad"), std::vector<std::string>{model + "/a.bin"});
    }

    // A connection cut short leaves no file at its destination; what arrived
    // waits in the staging file, and the next download resumes it with a
    // range request.
    testsupport::TempDir root;
    FakeModelHub hub(server_, "Corvexa/silero-vad-coreml");
    std::string content;
    for (int i = 0; i < 100; ++i) content.push_back(static_cast<char>('a' + i % 26));
    hub.addLfsFile(model + "/coremldata.bin", content);
    LoopbackReply cut{200, {}, ""};
    cut.chunks = {content.substr(0, 40)};
    cut.contentLength = 100;
    hub.setFileReply(model + "/coremldata.bin", cut);
    hub.publish();
    auto result = run(downloads_->downloadRepo(Repo::vad, root.path()));
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().domain, platform::kHttpErrorDomain);
    const fs::path folder = root.path() / "silero-vad" / model;
    EXPECT_FALSE(fs::exists(folder / "coremldata.bin"));
    EXPECT_EQ(readText(folder / ".coremldata.bin.auralith-download"), content.substr(0, 40));

    hub.serveRanges(model + "/coremldata.bin");
    hub.publish();
    auto resumed = run(downloads_->downloadRepo(Repo::vad, root.path()));
    ASSERT_TRUE(resumed) << resumed.error().description;
    EXPECT_EQ(readText(folder / "coremldata.bin"), content);
    EXPECT_EQ(filesUnder(root.path() / "silero-vad"), std::vector<std::string>{model + "/coremldata.bin"});
    const auto requests = server_.requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests.back().header("Range"), "bytes=40-");
    EXPECT_TRUE(log_->contains("Resuming " + model + "/coremldata.bin from byte 40"));
}

TEST_F(DownloadUtilsTest, ResumingWhereTheServerIgnoresOrRefusesTheRange) {
    const std::string model = "silero-vad-unified-256ms-v6.0.0.mlmodelc";
    const fs::path folder = models_ / "silero-vad" / model;
    const fs::path staging = folder / ".coremldata.bin.auralith-download";
    const std::string content(64, 'z');
    struct Case {
        const char* name;
        std::string staged;
        std::optional<LoopbackReply> reply;  // nothing: the hub's own whole-file answer
    };
    const Case cases[] = {
        // A server without ranges answers 200 with the whole file: written afresh.
        {"whole file instead", std::string(10, 'q'), std::nullopt},
        // A staged part that no longer fits the file (416): discarded, then fetched whole.
        {"range refused", std::string(10, 'q'), LoopbackReply::text(416, "")},
        // A staged part that is already complete needs no request at all.
        {"already complete", content, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(models_);
        FakeModelHub hub(server_, "Corvexa/silero-vad-coreml");
        hub.addLfsFile(model + "/coremldata.bin", content);
        if (c.reply) {
            auto first = std::make_shared<bool>(true);
            const auto whole = LoopbackReply{200, {}, content};
            const auto refused = *c.reply;
            hub.setFileReply(model + "/coremldata.bin",
                             [first, whole, refused](const testsupport::LoopbackRequest& request) {
                                 if (request.header("Range") && *first) {
                                     *first = false;
                                     return refused;
                                 }
                                 return whole;
                             });
        }
        hub.publish();
        fs::create_directories(folder);
        std::ofstream(staging, std::ios::binary) << c.staged;
        const auto before = hub.fileRequests();
        auto downloaded = download(Repo::vad);
        ASSERT_TRUE(downloaded) << downloaded.error().description;
        EXPECT_EQ(readText(folder / "coremldata.bin"), content);
        EXPECT_FALSE(fs::exists(staging));
        if (c.staged == content) {
            EXPECT_EQ(hub.fileRequests(), before);
        }
    }
}

TEST_F(DownloadUtilsTest, AListedContentHashIsCheckedBeforeTheFileIsPlaced) {
    const std::string model = "silero-vad-unified-256ms-v6.0.0.mlmodelc";
    const fs::path folder = models_ / "silero-vad" / model;
    FakeModelHub hub(server_, "Corvexa/silero-vad-coreml");
    hub.addLfsFile(model + "/coremldata.bin", "the real weights", platform::sha256Hex(std::string_view("other")));
    hub.publish();
    auto result = download(Repo::vad);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().code, HuggingFaceDownloadError::downloadFailed);
    ASSERT_TRUE(result.error().underlying);
    EXPECT_EQ(result.error().underlying->caseName, "sha256Mismatch");
    const std::string expected = "Failed to download " + model + "/coremldata.bin: the content's SHA-256 is " +
                                 platform::sha256Hex(std::string_view("the real weights"));
    EXPECT_EQ(result.error().description.rfind(expected, 0), 0u) << result.error().description;
    EXPECT_TRUE(filesUnder(models_ / "silero-vad").empty()) << "neither placed nor kept for resuming";

    // The right hash (in either case) lets it through.
    FakeModelHub good(server_, "Corvexa/silero-vad-coreml");
    std::string upper = platform::sha256Hex(std::string_view("the real weights"));
    for (auto& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    good.addLfsFile(model + "/coremldata.bin", "the real weights", upper);
    good.publish();
    ASSERT_TRUE(download(Repo::vad));
    EXPECT_EQ(readText(folder / "coremldata.bin"), "the real weights");
}

TEST_F(DownloadUtilsTest, APlainFileInTheWayOfAFolderIsReplaced) {
    FakeModelHub hub(server_, "Corvexa/silero-vad-coreml");
    const std::string model = "silero-vad-unified-256ms-v6.0.0.mlmodelc";
    hub.addFile(model + "/coremldata.bin", "model");
    hub.publish();
    fs::create_directories(models_ / "silero-vad");
    std::ofstream(models_ / "silero-vad" / model) << "stale file";
    ASSERT_TRUE(download(Repo::vad));
    EXPECT_EQ(readText(models_ / "silero-vad" / model / "coremldata.bin"), "model");
    EXPECT_TRUE(log_->contains("Removing file blocking directory creation: " + (models_ / "silero-vad" / model).string(),
                               platform::LogLevel::error));
}

TEST_F(DownloadUtilsTest, AMissingRequiredFolderFailsAfterStoringTheRest) {
    FakeModelHub hub(server_, "Corvexa/speaker-diarization-coreml");
    hub.addFile("pyannote_segmentation.mlmodelc/coremldata.bin", "segmentation");
    hub.publish();
    auto result = download(Repo::diarizer);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().code, HuggingFaceDownloadError::modelNotFound);
    EXPECT_EQ(result.error().description, "Model file not found: wespeaker_v2.mlmodelc");
    EXPECT_TRUE(fs::exists(models_ / "speaker-diarization/pyannote_segmentation.mlmodelc/coremldata.bin"));
}

TEST_F(DownloadUtilsTest, AnEmptyFileThatCannotBeCreatedFailsTheDownload) {
    // A name longer than the file system allows: nothing to fetch, yet the
    // file cannot be made, and a later load would miss it.
    const std::string tooLong(300, 'n');
    FakeModelHub hub(server_, "Corvexa/silero-vad-coreml");
    hub.addFile("silero-vad-unified-256ms-v6.0.0.mlmodelc/" + tooLong, "", nlohmann::ordered_json(0));
    hub.publish();
    auto failed = download(Repo::vad);
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error().domain, platform::kFileErrorDomain);

    FakeModelHub magpie(server_, "Corvexa/magpie-tts-multilingual-357m-coreml");
    magpie.addFile("decoder_prefill.mlmodelc/" + tooLong, "", nlohmann::ordered_json(0));
    magpie.publish();
    auto subdirectory =
        run(downloads_->downloadSubdirectory(Repo::magpieTts, "decoder_prefill.mlmodelc", models_ / "magpie-tts"));
    ASSERT_FALSE(subdirectory);
    EXPECT_EQ(subdirectory.error().domain, platform::kFileErrorDomain);
}

TEST_F(DownloadUtilsTest, SubdirectoryDownloads) {
    FakeModelHub hub(server_, "Corvexa/magpie-tts-multilingual-357m-coreml");
    for (int i = 1; i <= 6; ++i)
        hub.addFile("decoder_prefill.mlmodelc/part" + std::to_string(i) + ".bin", "p" + std::to_string(i));
    hub.addFile("decoder_prefill.mlmodelc/nested/empty.bin", "", nlohmann::ordered_json(0));
    hub.addFile("text_encoder.mlmodelc/coremldata.bin", "not asked for");
    hub.addFolder("empty_folder");
    hub.publish();
    const fs::path folder = models_ / "magpie-tts";

    std::vector<Progress> progress;
    auto handler = [&progress](const Progress& p) { progress.push_back(p); };
    ASSERT_TRUE(run(downloads_->downloadSubdirectory(Repo::magpieTts, "decoder_prefill.mlmodelc", folder, handler)));
    EXPECT_EQ(filesUnder(folder).size(), 7u);
    EXPECT_EQ(readText(folder / "decoder_prefill.mlmodelc/part3.bin"), "p3");
    EXPECT_EQ(hub.fileRequests(), 6u);
    EXPECT_TRUE(log_->contains("Found 7 files in decoder_prefill.mlmodelc"));
    EXPECT_TRUE(log_->contains("Downloaded 5/7 decoder_prefill.mlmodelc files"));
    EXPECT_TRUE(log_->contains("Downloaded 7/7 decoder_prefill.mlmodelc files"));
    EXPECT_FALSE(log_->contains("Downloaded 6/7"));
    EXPECT_TRUE(log_->contains("Downloaded decoder_prefill.mlmodelc from magpie-tts"));
    ASSERT_EQ(progress.size(), 9u);
    EXPECT_EQ(progress[0], (Progress{0.0, Phase::listing()}));
    EXPECT_EQ(progress[1], (Progress{0.0, Phase::downloading(0, 7)}));
    EXPECT_EQ(progress[8], (Progress{1.0, Phase::downloading(7, 7)}));

    // Everything present: listings only, progress per file, no count lines.
    log_->clear();
    progress.clear();
    ASSERT_TRUE(run(downloads_->downloadSubdirectory(Repo::magpieTts, "decoder_prefill.mlmodelc", folder, handler)));
    EXPECT_EQ(hub.fileRequests(), 6u);
    EXPECT_EQ(progress.size(), 9u);
    EXPECT_FALSE(log_->contains("Downloaded 5/7"));

    // An empty folder.
    progress.clear();
    ASSERT_TRUE(run(downloads_->downloadSubdirectory(Repo::magpieTts, "empty_folder", folder, handler)));
    EXPECT_EQ(progress, (std::vector<Progress>{{0.0, Phase::listing()}, {1.0, Phase::downloading(0, 0)}}));
    EXPECT_TRUE(log_->contains("Found 0 files in empty_folder"));

    // Unlike a repository download, a plain file where a folder belongs is an error.
    fs::remove_all(folder);
    fs::create_directories(folder);
    std::ofstream(folder / "decoder_prefill.mlmodelc") << "in the way";
    auto blocked = run(downloads_->downloadSubdirectory(Repo::magpieTts, "decoder_prefill.mlmodelc", folder));
    ASSERT_FALSE(blocked);
    EXPECT_EQ(blocked.error().domain, platform::kFileErrorDomain);
}

// ---- Requests and retries with the scripted client, in virtual time

class DownloadRequestsTest : public ::testing::Test {
protected:
    void SetUp() override { platform::setRedactPrivate(false); }
    void TearDown() override { platform::setRedactPrivate(true); }

    void use(std::map<std::string, std::string> env) {
        env.emplace("REGISTRY_URL", "http://hub.test");
        downloads_.reset();
        registry_ = std::make_unique<ModelRegistry>(platform::Environment(std::move(env)));
        downloads_ = std::make_unique<DownloadUtils>(http_, *registry_, reporter_);
    }

    platform::FakeHttpClient http_;
    platform::ManualExecutor ex_;
    testsupport::TempDir dir_;
    platform::ScopedLogCapture log_;
    SystemInfoReporter reporter_{ex_};
    std::unique_ptr<ModelRegistry> registry_;
    std::unique_ptr<DownloadUtils> downloads_;
};

TEST_F(DownloadRequestsTest, AccessTokenFromTheFirstVariableThatIsSet) {
    struct Case {
        std::map<std::string, std::string> env;
        std::optional<std::string> header;
    };
    const Case cases[] = {
        {{}, std::nullopt},
        {{{"HF_TOKEN", ""}, {"HUGGING_FACE_HUB_TOKEN", "hub"}}, "Bearer "},
        {{{"HUGGING_FACE_HUB_TOKEN", "hub"}, {"HUGGINGFACEHUB_API_TOKEN", "api"}}, "Bearer hub"},
        {{{"HUGGINGFACEHUB_API_TOKEN", "api"}}, "Bearer api"},
    };
    const std::string listing = "http://hub.test/api/models/Corvexa/silero-vad-coreml/tree/main";
    const std::string file = "http://hub.test/Corvexa/silero-vad-coreml/resolve/main/"
                             "silero-vad-unified-256ms-v6.0.0.mlmodelc/coremldata.bin";
    http_.answer("GET", listing,
                 platform::FakeHttpAnswer::text(
                     200, R"([{"type":"file","path":"silero-vad-unified-256ms-v6.0.0.mlmodelc/coremldata.bin","size":2}])"));
    http_.answer("GET", file, platform::FakeHttpAnswer::text(200, "ok"));
    for (const auto& c : cases) {
        use(c.env);
        testsupport::TempDir root;
        const auto before = http_.requestCount();
        auto h = platform::spawn(ex_, downloads_->downloadRepo(Repo::vad, root.path()));
        ex_.runUntil([&] { return h.done(); });
        ASSERT_TRUE(h.value()) << h.value().error().description;
        const auto requests = http_.requests();
        ASSERT_EQ(requests.size() - before, 2u);
        for (std::size_t i = before; i < requests.size(); ++i) {
            EXPECT_EQ(requests[i].headers.value("Authorization"), c.header);
            EXPECT_EQ(requests[i].timeout, platform::seconds(1800));
            EXPECT_EQ(requests[i].method, "GET");
        }
        EXPECT_EQ(downloads_->huggingFaceToken(), c.header ? std::optional(c.header->substr(7)) : std::nullopt);
    }
}

TEST_F(DownloadRequestsTest, RetryingFetchBacksOffExponentially) {
    use({});
    const std::string url = "http://hub.test/Corvexa/r/resolve/main/voice.bin";
    http_.answerOnce("GET", url, platform::FakeHttpAnswer::text(503, "busy"));
    http_.answerOnce("GET", url, platform::FakeHttpAnswer::text(503, "busy"));
    http_.answer("GET", url, platform::FakeHttpAnswer::text(200, "voice"));

    auto h = platform::spawn(ex_, downloads_->fetchHuggingFaceFile(url, "voice pack", 3, 0.5));
    ex_.runUntilIdle();
    EXPECT_EQ(http_.requestCount(), 1u);
    ex_.advance(platform::milliseconds(499));
    EXPECT_EQ(http_.requestCount(), 1u);
    ex_.advance(platform::milliseconds(1));
    EXPECT_EQ(http_.requestCount(), 2u);
    ex_.advance(platform::milliseconds(999));
    EXPECT_EQ(http_.requestCount(), 2u);
    ex_.advance(platform::milliseconds(1));
    ASSERT_TRUE(h.done());
    ASSERT_TRUE(h.value());
    EXPECT_EQ(std::string(h.value()->begin(), h.value()->end()), "voice");
    const auto warnings = log_->messages();
    ASSERT_EQ(warnings.size(), 2u);
    EXPECT_EQ(warnings[0],
              "Download attempt 1/3 for voice pack failed: Hugging Face rate limit encountered: HTTP 503. "
              "Retrying in 0.5s.");
    EXPECT_EQ(warnings[1],
              "Download attempt 2/3 for voice pack failed: Hugging Face rate limit encountered: HTTP 503. "
              "Retrying in 1.0s.");
}

TEST_F(DownloadRequestsTest, RetryingFetchFailures) {
    use({});
    const std::string url = "http://hub.test/x";
    http_.answer("GET", url, platform::FakeHttpAnswer::text(404, "missing"));
    {
        // One attempt: the first error, at once, without a log line.
        auto h = platform::spawn(ex_, downloads_->fetchHuggingFaceFile(url, "x", 1, 1.0));
        ex_.runUntilIdle();
        ASSERT_TRUE(h.done());
        ASSERT_FALSE(h.value());
        EXPECT_EQ(h.value().error().code, HuggingFaceDownloadError::invalidResponse);
        EXPECT_TRUE(log_->messages().empty());
    }
    {
        // The last attempt's error after every attempt failed.
        auto h = platform::spawn(ex_, downloads_->fetchHuggingFaceFile(url, "x", 3, 1.0));
        ex_.advanceUntilIdle();
        ASSERT_TRUE(h.done());
        EXPECT_EQ(h.value().error().code, HuggingFaceDownloadError::invalidResponse);
        EXPECT_EQ(ex_.elapsed(), platform::seconds(3));
        EXPECT_EQ(http_.requestCount(), 4u);
    }
    {
        // Cancelled while waiting to try again.
        auto h = platform::spawn(ex_, downloads_->fetchHuggingFaceFile(url, "x", 5, 10.0));
        ex_.runUntilIdle();
        h.cancel();
        ex_.runUntilIdle();
        ASSERT_TRUE(h.done());
        EXPECT_TRUE(h.value().error().isCancellation());
        EXPECT_EQ(http_.requestCount(), 5u);
    }
}

TEST_F(DownloadRequestsTest, LoggerTakesTheDefaultSubsystemOfItsMaking) {
    const auto original = AppLogger::defaultSubsystem();
    AppLogger::setDefaultSubsystem("com.example.package");
    use({});
    AppLogger::setDefaultSubsystem(original);
    EXPECT_EQ(downloads_->logger().subsystem(), "com.example.package");
    EXPECT_EQ(downloads_->logger().category(), "DownloadUtils");
}

TEST_F(DownloadRequestsTest, AuthorisedFetchHandsBackAnyStatus) {
    use({{"HF_TOKEN", "secret"}});
    http_.answer("GET", "http://hub.test/y", platform::FakeHttpAnswer::text(404, "nope"));
    auto h = platform::spawn(ex_, downloads_->fetchWithAuth("http://hub.test/y"));
    ex_.runUntilIdle();
    ASSERT_TRUE(h.done());
    ASSERT_TRUE(h.value());
    EXPECT_EQ(h.value()->status, 404);
    EXPECT_EQ(h.value()->text(), "nope");
    EXPECT_EQ(http_.requests().back().headers.value("Authorization"), "Bearer secret");
}

}  // namespace
}  // namespace auralith
