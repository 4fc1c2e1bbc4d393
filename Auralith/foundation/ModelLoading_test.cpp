// Loading models through the cache: real bundle folders served by a fake hub
// on 127.0.0.1, downloaded into a temporary models root and loaded with the
// test runtime, whose behaviour reads its factor from the bundle (so a model
// loaded from the wrong folder gives a wrong answer).

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "Auralith/foundation/CacheRoots.h"
#include "Auralith/foundation/DownloadUtils.h"
#include "Auralith/foundation/testdata/FakeModelHub.h"
#include "platform/http/CurlHttpClient.h"
#include "platform/log/CaptureSink.h"
#include "platform/ml/TestModelRuntime.h"
#include "platform/runtime/ManualExecutor.h"
#include "platform/testsupport/LoopbackServer.h"
#include "platform/testsupport/TempHome.h"
#include "platform/values/XdgDirs.h"

#include <nlohmann/json.hpp>

namespace auralith {
namespace {

namespace fs = std::filesystem;
namespace ml = platform::ml;
using Progress = DownloadUtils::DownloadProgress;
using Phase = DownloadUtils::DownloadPhase;
using testhub::FakeModelHub;

std::string readText(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Adds "files" to a bundle's manifest, keeping what is there.
void declareFiles(const fs::path& bundle, const std::vector<std::string>& files) {
    auto json = nlohmann::ordered_json::parse(readText(bundle / "manifest.json"));
    json["files"] = files;
    std::ofstream(bundle / "manifest.json", std::ios::trunc) << json.dump(2);
}

// y = factor · x, the factor read from "factor.txt" in the bundle.
platform::Result<ml::FeatureMap> scale(const ml::TestPrediction& call) {
    const float factor = std::stof(readText(call.bundle.path / "factor.txt"));
    const auto x = call.input("x");
    auto y = ml::MultiArray::make(x.shape(), ml::DataType::float32);
    if (!y) return platform::fail(y.error());
    for (std::int64_t i = 0; i < x.count(); ++i) y->setLogical(i, factor * x.getLogical(i));
    return ml::FeatureMap{{"y", *y}};
}

ml::ModelDescription scaleDescription() {
    ml::ModelDescription d;
    d.inputs = {ml::arrayFeature("x", ml::DataType::float32, {2})};
    d.outputs = {ml::arrayFeature("y", ml::DataType::float32, {2})};
    return d;
}

const std::vector<std::string> kParakeetModels{"Preprocessor.mlmodelc", "Encoder.mlmodelc", "Decoder.mlmodelc",
                                               "JointDecision.mlmodelc"};

class ModelLoadingTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::setRedactPrivate(false);
        runtime_->registerBehaviour("scale", scale);
        env_ = platform::Environment(std::map<std::string, std::string>{{"REGISTRY_URL", server_.baseUrl()}, {"HOME", dir_.path().string()}});
        registry_ = std::make_unique<ModelRegistry>(env_);
        downloads_ = std::make_unique<DownloadUtils>(http_, *registry_, reporter_);
        // The Parakeet v2 repository: four bundles, each with its own factor.
        float factor = 2;
        for (const auto& name : kParakeetModels) publishBundle(name, factor++);
        hub_.addFile("parakeet_vocab.json", R"({"0":"a"})");
        hub_.publish();
    }
    void TearDown() override { platform::setRedactPrivate(true); }

    // A real test-runtime bundle, its files served by the hub under `name`.
    void publishBundle(const std::string& name, float factor) {
        const fs::path bundle = staging_ / name;
        ASSERT_TRUE(ml::writeTestModelBundle(bundle, scaleDescription(), "scale"));
        std::ofstream(bundle / "factor.txt") << factor;
        std::ofstream(bundle / "coremldata.bin") << "compiled " << name;
        declareFiles(bundle, {"factor.txt", "coremldata.bin"});
        for (const auto& e : fs::recursive_directory_iterator(bundle))
            if (e.is_regular_file())
                hub_.addFile(name + "/" + fs::relative(e.path(), bundle).string(), readText(e.path()));
    }

    template <class T>
    T run(platform::Task<T> task) {
        auto h = platform::spawn(ex_, std::move(task));
        EXPECT_TRUE(ex_.runUntil([&] { return h.done(); }, std::chrono::seconds(20)));
        return h.value();
    }

    platform::Result<DownloadUtils::LoadedModels> load(std::vector<std::string> names,
                                                       std::vector<Progress>* progress = nullptr, bool repair = true) {
        DownloadUtils::ProgressHandler handler;
        if (progress) handler = [progress](const Progress& p) { progress->push_back(p); };
        if (repair)
            return run(downloads_->loadModels(Repo::parakeetV2, std::move(names), models_, ml::ComputeUnits::cpuOnly,
                                              std::nullopt, handler));
        return run(downloads_->loadModelsOnce(Repo::parakeetV2, std::move(names), models_, ml::ComputeUnits::cpuOnly,
                                              std::nullopt, handler));
    }

    static float predict(const ml::Model& model, float x) {
        auto input = ml::MultiArray::make({2}, ml::DataType::float32);
        input->set(0, x);
        input->set(1, 1);
        auto out = model.prediction(ml::DictionaryFeatureProvider({{"x", *input}}));
        EXPECT_TRUE(out) << (out ? "" : out.error().description);
        return out ? static_cast<float>(out->featureValue("y")->multiArrayValue()->get(0)) : -1;
    }

    std::vector<std::string> messages() {
        std::vector<std::string> lines;
        for (const auto& l : log_->linesOfCategory("DownloadUtils")) lines.push_back(l.message);
        return lines;
    }

    testsupport::LoopbackServer server_;
    FakeModelHub hub_{server_, "Corvexa/parakeet-tdt-0.6b-v2-coreml"};
    platform::CurlHttpClient http_;
    platform::ManualExecutor ex_;
    testsupport::TempDir dir_;
    testsupport::TempDir staging_;
    platform::ScopedLogCapture log_;
    std::shared_ptr<ml::TestModelRuntime> runtime_ = std::make_shared<ml::TestModelRuntime>();
    ml::ScopedRuntimeRegistration registration_{runtime_};
    SystemInfoReporter reporter_{ex_};
    platform::Environment env_;
    std::unique_ptr<ModelRegistry> registry_;
    std::unique_ptr<DownloadUtils> downloads_;
    const fs::path models_ = dir_ / "Models";
    const fs::path repoFolder_ = models_ / "parakeet-tdt-0.6b-v2";
};

TEST_F(ModelLoadingTest, DownloadsThenLoadsFromTheCache) {
    std::vector<Progress> progress;
    auto first = load(kParakeetModels, &progress);
    ASSERT_TRUE(first) << first.error().description;
    ASSERT_EQ(first->size(), 4u);
    EXPECT_EQ(predict(first->at("Preprocessor.mlmodelc"), 1.5f), 3.0f);
    EXPECT_EQ(predict(first->at("JointDecision.mlmodelc"), 1.5f), 7.5f);
    EXPECT_EQ(runtime_->loads().back().configuration,
              (ml::ModelConfiguration{ml::ComputeUnits::cpuOnly, true}));
    EXPECT_TRUE(fs::exists(repoFolder_ / "parakeet_vocab.json"));
    EXPECT_EQ(progress.front(), (Progress{0.0, Phase::listing()}));
    for (const auto& p : progress) {
        if (p.phase.kind != Phase::Kind::compiling) {
            EXPECT_LE(p.fractionCompleted, 0.5);
        }
    }
    EXPECT_EQ(progress.back(), (Progress{1.0, Phase::compiling("")}));
    EXPECT_TRUE(log_->contains("Models not found in cache at " + repoFolder_.string()));
    EXPECT_TRUE(log_->contains("Host environment: "));

    // From the complete cache: no request at all, and the progress of the Part.
    const auto requests = server_.requestCount();
    progress.clear();
    auto second = load(kParakeetModels, &progress);
    ASSERT_TRUE(second);
    EXPECT_EQ(server_.requestCount(), requests);
    EXPECT_EQ(progress, (std::vector<Progress>{{0.5, Phase::downloading(0, 0)},
                                               {0.5, Phase::compiling("Preprocessor.mlmodelc")},
                                               {0.625, Phase::compiling("Encoder.mlmodelc")},
                                               {0.75, Phase::compiling("Decoder.mlmodelc")},
                                               {0.875, Phase::compiling("JointDecision.mlmodelc")},
                                               {1.0, Phase::compiling("")}}));
    EXPECT_TRUE(log_->contains("Found parakeet-tdt-0.6b-v2 locally, no download needed"));
    EXPECT_TRUE(log_->find("Compiled model Encoder.mlmodelc in ")->message.find(" ms :: Linux ") != std::string::npos);

    // An empty list still makes sure the repository is there.
    progress.clear();
    auto none = load({}, &progress);
    ASSERT_TRUE(none);
    EXPECT_TRUE(none->empty());
    EXPECT_EQ(progress.back(), (Progress{1.0, Phase::compiling("")}));
}

TEST_F(ModelLoadingTest, AMissingCompiledDataFileIsRepairedOnce) {
    ASSERT_TRUE(load(kParakeetModels));
    fs::remove(repoFolder_ / "Encoder.mlmodelc/coremldata.bin");
    std::ofstream(repoFolder_ / "Decoder.mlmodelc/factor.txt") << 100;  // damage the cache elsewhere too
    log_->clear();
    const auto files = hub_.fileRequests();

    auto once = load(kParakeetModels, nullptr, false);
    ASSERT_FALSE(once);
    EXPECT_EQ(once.error().domain, ModelFileError::kDomain);
    EXPECT_EQ(once.error().code, ModelFileError::fileReadCorruptFile);
    EXPECT_EQ(once.error().description, "Missing coremldata.bin in model: Encoder.mlmodelc");
    log_->clear();

    auto repaired = load(kParakeetModels);
    ASSERT_TRUE(repaired) << repaired.error().description;
    EXPECT_TRUE(fs::exists(repoFolder_ / "Encoder.mlmodelc/coremldata.bin"));
    EXPECT_EQ(predict(repaired->at("Decoder.mlmodelc"), 1.0f), 4.0f);  // downloaded afresh
    EXPECT_GT(hub_.fileRequests(), files);

    const std::vector<std::string> expected{
        "Missing coremldata.bin in Encoder.mlmodelc",
        "First load failed: Missing coremldata.bin in model: Encoder.mlmodelc",
        "Deleting cache and re-downloading\u2026",
        "Successfully deleted corrupted cache at " + repoFolder_.string(),
    };
    const auto lines = messages();
    auto at = lines.begin();
    for (const auto& line : expected) {
        at = std::find(at, lines.end(), line);
        ASSERT_NE(at, lines.end()) << "missing or out of order: " << line;
    }
}

TEST_F(ModelLoadingTest, ARuntimeLoadFailureIsRepairedOnceAndASecondIsFinal) {
    ASSERT_TRUE(load(kParakeetModels));
    const auto files = hub_.fileRequests();
    runtime_->failLoads("scale", platform::Error::make("test", 7, "broken", "bundle is broken"), 1);
    auto repaired = load(kParakeetModels);
    ASSERT_TRUE(repaired) << repaired.error().description;
    EXPECT_TRUE(log_->contains("First load failed: bundle is broken"));
    EXPECT_GT(hub_.fileRequests(), files);

    runtime_->failLoads("scale", platform::Error::make("test", 7, "broken", "still broken"), 2);
    auto failed = load(kParakeetModels);
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error().description, "still broken");
}

TEST_F(ModelLoadingTest, ANameThatIsNotRequiredFailsWithoutADownload) {
    ASSERT_TRUE(load(kParakeetModels));
    const auto requests = server_.requestCount();
    log_->clear();
    auto result = load({"Preprocessor.mlmodelc", "CtcHead.mlmodelc"});
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().domain, ModelFileError::kDomain);
    EXPECT_EQ(result.error().code, ModelFileError::fileNoSuchFile);
    EXPECT_EQ(result.error().description, "Model file not found: CtcHead.mlmodelc");
    EXPECT_EQ(server_.requestCount(), requests);
    EXPECT_TRUE(fs::exists(repoFolder_ / "Encoder.mlmodelc/coremldata.bin"));
    EXPECT_FALSE(log_->contains("Deleting cache"));

    // A plain file where a compiled model folder belongs is damage, and repaired.
    fs::remove_all(repoFolder_ / "Decoder.mlmodelc/coremldata.bin");
    auto once = load({"Decoder.mlmodelc"}, nullptr, false);
    ASSERT_FALSE(once);
    fs::remove_all(repoFolder_ / "Decoder.mlmodelc");
    std::ofstream(repoFolder_ / "Decoder.mlmodelc") << "not a folder";
    auto notFolder = load({"Decoder.mlmodelc"}, nullptr, false);
    ASSERT_FALSE(notFolder);
    EXPECT_EQ(notFolder.error().description, "Model path is not a directory: Decoder.mlmodelc");
    EXPECT_EQ(notFolder.error().code, ModelFileError::fileReadCorruptFile);
    EXPECT_TRUE(load({"Decoder.mlmodelc"}));
}

TEST_F(ModelLoadingTest, AFailedDownloadKeepsThePartialCache) {
    hub_.setFileReply("JointDecision.mlmodelc/coremldata.bin", testsupport::LoopbackReply::text(503, "busy"));
    hub_.publish();
    auto result = load(kParakeetModels);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().code, HuggingFaceDownloadError::rateLimited);
    EXPECT_TRUE(fs::exists(repoFolder_ / "Encoder.mlmodelc/coremldata.bin"));
    EXPECT_FALSE(log_->contains("Deleting cache"));

    // Every required folder is there now, one of them incomplete: the load
    // takes that for damage, but a repair that cannot download either puts
    // the partial cache back.
    auto again = load(kParakeetModels);
    ASSERT_FALSE(again);
    EXPECT_EQ(again.error().code, HuggingFaceDownloadError::rateLimited);
    EXPECT_TRUE(log_->contains("Deleting cache and re-downloading\u2026"));
    EXPECT_TRUE(log_->contains("Kept the previous cache at " + repoFolder_.string() + ": the re-download failed"));
    EXPECT_TRUE(fs::exists(repoFolder_ / "Encoder.mlmodelc/coremldata.bin"));
    EXPECT_TRUE(fs::exists(repoFolder_ / "JointDecision.mlmodelc/factor.txt"));
    EXPECT_FALSE(fs::exists(models_ / "parakeet-tdt-0.6b-v2.auralith-repair"));

    // Once the hub answers, the repair completes the cache.
    hub_.setFileReply("JointDecision.mlmodelc/coremldata.bin",
                      testsupport::LoopbackReply::text(200, "compiled JointDecision.mlmodelc"));
    hub_.publish();
    auto repaired = load(kParakeetModels);
    ASSERT_TRUE(repaired) << repaired.error().description;
    EXPECT_EQ(predict(repaired->at("JointDecision.mlmodelc"), 2.0f), 10.0f);
    EXPECT_FALSE(fs::exists(models_ / "parakeet-tdt-0.6b-v2.auralith-repair"));
}

TEST_F(ModelLoadingTest, ACancelledDownloadKeepsThePartialCache) {
    auto gate = std::make_shared<testsupport::LoopbackGate>();
    testsupport::LoopbackReply held = testsupport::LoopbackReply::text(200, "compiled Decoder.mlmodelc");
    held.bodyGate = gate;
    hub_.setFileReply("Decoder.mlmodelc/coremldata.bin", held);
    hub_.publish();
    auto h = platform::spawn(ex_, downloads_->loadModels(Repo::parakeetV2, kParakeetModels, models_,
                                                         ml::ComputeUnits::all));
    ASSERT_TRUE(ex_.runUntil([&] {
        const auto files = hub_.requestedFiles();
        return std::find(files.begin(), files.end(), "Decoder.mlmodelc/coremldata.bin") != files.end();
    }));
    h.cancel();
    ASSERT_TRUE(ex_.runUntil([&] { return h.done(); }));
    gate->open();
    ASSERT_FALSE(h.value());
    EXPECT_TRUE(h.value().error().isCancellation());
    EXPECT_TRUE(fs::exists(repoFolder_));
    EXPECT_TRUE(fs::exists(repoFolder_ / "Preprocessor.mlmodelc/coremldata.bin"));
    EXPECT_FALSE(log_->contains("Deleting cache"));
}

TEST_F(ModelLoadingTest, ClearingTheCaches) {
    DownloadUtils clearer(http_, *registry_, reporter_);
    clearer.clearAllModelCaches();  // nothing there yet
    EXPECT_TRUE(log_->contains("All model caches cleared"));

    const fs::path support = MLModelConfigurationUtils::defaultModelsDirectory(env_);
    const fs::path tts = *ttsModelsCacheDirectory(env_);
    fs::create_directories(support / "silero-vad");
    fs::create_directories(tts / "magpie-tts");
    ASSERT_TRUE(load(kParakeetModels));
    clearer.clearModelCache(Repo::parakeetV2, models_);
    EXPECT_FALSE(fs::exists(repoFolder_));
    EXPECT_TRUE(fs::exists(models_));
    clearer.clearAllModelCaches();
    EXPECT_FALSE(fs::exists(support));
    EXPECT_FALSE(fs::exists(tts));
    EXPECT_TRUE(fs::exists(tts.parent_path()));
}

// ---- Bundles that cannot run here, user folders, interrupted repairs, the lock

const std::string kVadModel = "silero-vad-unified-256ms-v6.0.0.mlmodelc";

class ModelCacheTest : public ModelLoadingTest {
protected:
    // The voice-activity repository with one bundle made by `make` in a staging folder.
    void publishVad(const std::function<void(const fs::path&)>& make) { publishVad(vadHub_, make); }
    void publishVad(FakeModelHub& hub, const std::function<void(const fs::path&)>& make) {
        const fs::path bundle = vadStaging_ / kVadModel;
        fs::remove_all(bundle);
        fs::create_directories(bundle);
        make(bundle);
        for (const auto& e : fs::recursive_directory_iterator(bundle))
            if (e.is_regular_file())
                hub.addFile(kVadModel + "/" + fs::relative(e.path(), bundle).string(), readText(e.path()));
        hub.publish();
    }
    platform::Result<DownloadUtils::LoadedModels> loadVad(bool repair = true) {
        if (repair)
            return run(downloads_->loadModels(Repo::vad, {kVadModel}, models_, ml::ComputeUnits::cpuOnly));
        return run(downloads_->loadModelsOnce(Repo::vad, {kVadModel}, models_, ml::ComputeUnits::cpuOnly));
    }

    testsupport::TempDir vadStaging_;
    FakeModelHub vadHub_{server_, "Corvexa/silero-vad-coreml"};
    const fs::path vadFolder_ = models_ / "silero-vad";
};

TEST_F(ModelCacheTest, ARepositoryThatCannotRunHereIsDownloadedOnceThenReported) {
    const struct {
        const char* name;
        std::function<void(const fs::path&)> make;
        std::string reason;
    } cases[] = {
        {"a runtime this build does not have",
         [](const fs::path& b) { ASSERT_TRUE(ml::writeModelBundle(b, scaleDescription(), "elsewhere-runtime")); },
         "needs the runtime \"elsewhere-runtime\""},
        {"no manifest: another platform's compiled format",
         [](const fs::path& b) {
             std::ofstream(b / "coremldata.bin") << "compiled";
             std::ofstream(b / "model.mil") << "program";
         },
         kVadModel + " is compiled for another platform: it has no manifest.json naming a runtime"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(models_);
        FakeModelHub hub(server_, "Corvexa/silero-vad-coreml");
        publishVad(hub, c.make);
        log_->clear();
        const auto before = hub.fileRequests();
        auto first = loadVad();
        ASSERT_FALSE(first);
        EXPECT_TRUE(first.error().is(ml::kMLErrorDomain, static_cast<int>(ml::MLErrorCode::runtimeUnavailable)))
            << first.error().description;
        EXPECT_NE(first.error().description.find(c.reason), std::string::npos) << first.error().description;
        const auto downloaded = hub.fileRequests();
        EXPECT_GT(downloaded, before);

        // Loaded again (with repair): reported the same way, and nothing fetched.
        auto second = loadVad();
        ASSERT_FALSE(second);
        EXPECT_EQ(second.error().description, first.error().description);
        EXPECT_EQ(hub.fileRequests(), downloaded);
        EXPECT_FALSE(log_->contains("Deleting cache"));
        EXPECT_TRUE(log_->contains(kVadModel + " cannot run here: " + first.error().description));
        EXPECT_TRUE(fs::exists(vadFolder_ / kVadModel));
    }
}

TEST_F(ModelCacheTest, TheManifestDeclaresTheFilesThatMakeABundleComplete) {
    // No coremldata.bin: the manifest's list of files decides.
    publishVad([](const fs::path& b) {
        ASSERT_TRUE(ml::writeTestModelBundle(b, scaleDescription(), "scale"));
        std::ofstream(b / "factor.txt") << 3;
        fs::create_directories(b / "weights");
        std::ofstream(b / "weights/model.onnx") << "graph";
        declareFiles(b, {"factor.txt", "weights/model.onnx"});
    });
    auto loaded = loadVad();
    ASSERT_TRUE(loaded) << loaded.error().description;
    EXPECT_EQ(predict(loaded->at(kVadModel), 2.0f), 6.0f);

    // A declared file gone: incomplete, so damaged, and repaired by a download.
    fs::remove(vadFolder_ / kVadModel / "weights/model.onnx");
    auto once = loadVad(false);
    ASSERT_FALSE(once);
    EXPECT_EQ(once.error().domain, ModelFileError::kDomain);
    EXPECT_EQ(once.error().description, "Missing weights/model.onnx in model: " + kVadModel);
    auto repaired = loadVad();
    ASSERT_TRUE(repaired) << repaired.error().description;
    EXPECT_TRUE(fs::exists(vadFolder_ / kVadModel / "weights/model.onnx"));

    // A list that names something outside the bundle is no list.
    declareFiles(vadFolder_ / kVadModel, {"../escape"});
    auto invalid = loadVad(false);
    ASSERT_FALSE(invalid);
    EXPECT_EQ(invalid.error().description, "Invalid manifest.json in model: " + kVadModel);
}

TEST_F(ModelCacheTest, AFolderTheUserPutInPlaceIsNeverRepaired) {
    vadHub_.addFile(kVadModel + "/coremldata.bin", "the hub's own");
    vadHub_.publish();
    const fs::path bundle = vadFolder_ / kVadModel;
    ASSERT_TRUE(ml::writeTestModelBundle(bundle, scaleDescription(), "scale"));
    std::ofstream(bundle / "factor.txt") << 5;
    declareFiles(bundle, {"factor.txt"});

    auto loaded = loadVad();
    ASSERT_TRUE(loaded) << loaded.error().description;
    EXPECT_EQ(predict(loaded->at(kVadModel), 1.0f), 5.0f);
    EXPECT_EQ(vadHub_.fileRequests(), 0u);

    // Failing to load, or incomplete: reported with its reason, left in place, nothing fetched.
    runtime_->failLoads("scale", platform::Error::make("test", 7, "broken", "the user's export is broken"), 1);
    auto failed = loadVad();
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error().description, "the user's export is broken");
    fs::remove(bundle / "factor.txt");
    auto incomplete = loadVad();
    ASSERT_FALSE(incomplete);
    EXPECT_EQ(incomplete.error().description, "Missing factor.txt in model: " + kVadModel);
    EXPECT_EQ(vadHub_.fileRequests(), 0u);
    EXPECT_FALSE(log_->contains("Deleting cache"));
    EXPECT_TRUE(fs::exists(bundle / "manifest.json"));
    EXPECT_TRUE(log_->contains(kVadModel + " was put in place by the user; not repairing it: " +
                               incomplete.error().description));
}

TEST_F(ModelCacheTest, ARepairMovesOnlyWhatTheDownloadWrote) {
    ASSERT_TRUE(load(kParakeetModels));
    // The user's own folder beside the downloaded ones.
    fs::create_directories(repoFolder_ / "Custom.mlmodelc");
    std::ofstream(repoFolder_ / "Custom.mlmodelc/model.onnx") << "mine";
    fs::remove(repoFolder_ / "Encoder.mlmodelc/coremldata.bin");
    auto repaired = load(kParakeetModels);
    ASSERT_TRUE(repaired) << repaired.error().description;
    EXPECT_TRUE(log_->contains("Deleting cache and re-downloading\u2026"));
    EXPECT_EQ(readText(repoFolder_ / "Custom.mlmodelc/model.onnx"), "mine");
    EXPECT_FALSE(fs::exists(models_ / "parakeet-tdt-0.6b-v2.auralith-repair"));
}

TEST_F(ModelCacheTest, AnInterruptedRepairIsFinishedOnTheNextLoad) {
    ASSERT_TRUE(load(kParakeetModels));
    const auto files = hub_.fileRequests();
    // A crash in the middle of a repair: Encoder was moved aside and not yet
    // fetched again (put back), Decoder was fetched again (its old copy goes).
    const fs::path aside = models_ / "parakeet-tdt-0.6b-v2.auralith-repair";
    fs::create_directories(aside);
    fs::rename(repoFolder_ / "Encoder.mlmodelc", aside / "Encoder.mlmodelc");
    fs::copy(repoFolder_ / "Decoder.mlmodelc", aside / "Decoder.mlmodelc", fs::copy_options::recursive);
    std::ofstream(aside / "Decoder.mlmodelc/factor.txt", std::ios::trunc) << 100;
    log_->clear();

    auto loaded = load(kParakeetModels, nullptr, false);
    ASSERT_TRUE(loaded) << loaded.error().description;
    EXPECT_EQ(predict(loaded->at("Encoder.mlmodelc"), 1.0f), 3.0f);
    EXPECT_EQ(predict(loaded->at("Decoder.mlmodelc"), 1.0f), 4.0f);
    EXPECT_FALSE(fs::exists(aside));
    EXPECT_EQ(hub_.fileRequests(), files);
    EXPECT_TRUE(log_->contains("Finished an interrupted repair of " + repoFolder_.string() + " (1 entries put back)"));
}

TEST_F(ModelCacheTest, AnotherHolderOfTheRepositoryLockIsWaitedFor) {
    auto held = RepositoryLock::tryAcquire(repoFolder_);
    ASSERT_TRUE(held && *held);
    EXPECT_TRUE(fs::exists(models_ / "parakeet-tdt-0.6b-v2.auralith-lock"));
    auto second = RepositoryLock::tryAcquire(repoFolder_);
    ASSERT_TRUE(second);
    EXPECT_FALSE(*second) << "a second holder is refused";

    auto h = platform::spawn(ex_, downloads_->loadModels(Repo::parakeetV2, kParakeetModels, models_,
                                                         ml::ComputeUnits::cpuOnly));
    ex_.runUntilIdle();
    ex_.advance(std::chrono::seconds(5));
    EXPECT_FALSE(h.done());
    EXPECT_EQ(server_.requestCount(), 0u);
    EXPECT_TRUE(log_->contains("Waiting for another process to finish with " + repoFolder_.string()));

    held->reset();  // the other process is done
    ex_.advance(std::chrono::milliseconds(200));
    ASSERT_TRUE(ex_.runUntil([&] { return h.done(); }, std::chrono::seconds(20)));
    ASSERT_TRUE(h.value()) << h.value().error().description;
    EXPECT_GT(server_.requestCount(), 0u);

    // Cancelled while waiting: nothing happens.
    auto again = RepositoryLock::tryAcquire(repoFolder_);
    ASSERT_TRUE(again && *again);
    const auto requests = server_.requestCount();
    auto cancelled = platform::spawn(ex_, downloads_->loadModels(Repo::parakeetV2, kParakeetModels, models_,
                                                                 ml::ComputeUnits::cpuOnly));
    ex_.runUntilIdle();
    cancelled.cancel();
    ex_.advance(std::chrono::milliseconds(200));
    ASSERT_TRUE(ex_.runUntil([&] { return cancelled.done(); }));
    ASSERT_FALSE(cancelled.value());
    EXPECT_TRUE(cancelled.value().error().isCancellation());
    EXPECT_EQ(server_.requestCount(), requests);
}

}  // namespace
}  // namespace auralith
