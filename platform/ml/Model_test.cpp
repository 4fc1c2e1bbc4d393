#include "platform/ml/Model.h"

#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "platform/ml/TestModelRuntime.h"
#include "platform/runtime/ManualExecutor.h"
#include "platform/testsupport/TempHome.h"

namespace platform::ml {
namespace {

namespace fs = std::filesystem;

MultiArray floats(const Shape& shape, std::vector<float> values, DataType type = DataType::float32) {
    auto a = MultiArray::make(shape, type);
    for (std::size_t i = 0; i < values.size(); ++i) a->set(static_cast<std::int64_t>(i), values[i]);
    return *a;
}

// y = scale · x + offset, with the offset read from a file inside the bundle,
// so a model loaded from the wrong bundle gives a wrong answer.
Result<FeatureMap> affine(const TestPrediction& call) {
    std::ifstream in(call.bundle.path / "offset.txt");
    float offset = 0;
    in >> offset;
    const auto x = call.input("x");
    const float scale = static_cast<float>(call.input("scale").get(0));
    auto y = MultiArray::make(x.shape(), DataType::float32);
    if (!y) return fail(y.error());
    for (std::int64_t i = 0; i < x.count(); ++i) y->setLogical(i, scale * x.getLogical(i) + offset);
    return FeatureMap{{"y", *y}};
}

ModelDescription affineDescription() {
    ModelDescription d;
    auto x = arrayFeature("x", DataType::float32, {1, 4});
    x.multiArrayConstraint->shapeConstraint = {ShapeConstraint::Kind::enumerated, {{1, 4}, {1, 8}}, {}};
    d.inputs = {x, arrayFeature("scale", DataType::float32, {1})};
    auto y = arrayFeature("y", DataType::float32, {1, 4});
    y.multiArrayConstraint->shapeConstraint = x.multiArrayConstraint->shapeConstraint;
    d.outputs = {y};
    d.metadata.author = "tests";
    d.metadata.creatorDefined = {{"config", R"({"chunkSize":8})"}};
    return d;
}

class ModelTest : public ::testing::Test {
protected:
    void SetUp() override {
        runtime_->registerBehaviour("affine", affine);
        writeAffine(dir_ / "Affine.mlmodelc", 1.0f);
    }
    void writeAffine(const fs::path& bundle, float offset, bool package = false) {
        ASSERT_TRUE(writeTestModelBundle(bundle, affineDescription(), "affine", package));
        std::ofstream(bundle / "offset.txt") << offset;
    }
    Model load(const fs::path& path, ModelConfiguration config = {}) {
        auto m = Model::load(path, config);
        EXPECT_TRUE(m) << (m ? "" : m.error().description);
        return *m;
    }

    std::shared_ptr<TestModelRuntime> runtime_ = std::make_shared<TestModelRuntime>();
    ScopedRuntimeRegistration registration_{runtime_};
    testsupport::TempDir dir_;
};

TEST_F(ModelTest, LoadsFromItsBundleAndComputesFromTheInputs) {
    writeAffine(dir_ / "Other.mlmodelc", 100.0f);
    auto model = load(dir_ / "Affine.mlmodelc", {ComputeUnits::cpuAndNeuralEngine, true});
    auto other = load(dir_ / "Other.mlmodelc");
    DictionaryFeatureProvider in{{"x", floats({1, 4}, {1, 2, 3, 4})}, {"scale", floats({1}, {2})}};

    auto out = model.prediction(in);
    ASSERT_TRUE(out) << out.error().description;
    EXPECT_EQ(multiArrayFeature(*out, "y")->toFloats(), (std::vector<float>{3, 5, 7, 9}));
    EXPECT_EQ(multiArrayFeature(*other.prediction(in), "y")->toFloats(), (std::vector<float>{102, 104, 106, 108}));

    EXPECT_EQ(model.modelDescription(), affineDescription());
    EXPECT_EQ(model.modelDescription().metadata.creatorDefined.at("config"), R"({"chunkSize":8})");
    ASSERT_EQ(runtime_->loads().size(), 2u);
    EXPECT_EQ(runtime_->loads()[0].configuration.computeUnits, ComputeUnits::cpuAndNeuralEngine);
    EXPECT_TRUE(runtime_->predictions()[0].configuration.allowLowPrecisionAccumulationOnGPU);
}

TEST_F(ModelTest, RejectsWronglyNamedTypedOrShapedInputsBeforeRunning) {
    auto model = load(dir_ / "Affine.mlmodelc");
    const auto x = floats({1, 4}, {1, 2, 3, 4});
    const auto scale = floats({1}, {2});
    struct Case {
        const char* what;
        DictionaryFeatureProvider input;
        const char* message;
    };
    const Case cases[] = {
        {"missing", {{"x", x}}, "Required input \"scale\" is missing"},
        {"misnamed", {{"x", x}, {"scale", scale}, {"bias", scale}}, "Feature \"bias\" is not an input"},
        {"wrong type", {{"x", x}, {"scale", FeatureValue::fromDouble(2)}}, "is a double"},
        {"wrong data type", {{"x", floats({1, 4}, {1, 2, 3, 4}, DataType::float16)}, {"scale", scale}},
         "has data type float16 (65552), but the model expects float32 (65568)"},
        {"wrong shape", {{"x", floats({1, 5}, {})}, {"scale", scale}}, "has shape [1, 5]"},
        {"other rank", {{"x", floats({4}, {})}, {"scale", scale}}, "has shape [4]"},
    };
    for (const auto& c : cases) {
        auto out = model.prediction(c.input);
        ASSERT_FALSE(out) << c.what;
        EXPECT_EQ(out.error().domain, kMLErrorDomain);
        EXPECT_EQ(out.error().code, static_cast<int>(MLErrorCode::featureType)) << c.what;
        EXPECT_NE(out.error().description.find(c.message), std::string::npos)
            << c.what << ": " << out.error().description;
    }
    EXPECT_TRUE(runtime_->predictions().empty());  // nothing reached the runtime

    // An enumerated alternative shape is accepted.
    auto wide = model.prediction(DictionaryFeatureProvider{{"x", floats({1, 8}, {})}, {"scale", scale}});
    ASSERT_TRUE(wide) << wide.error().description;
    EXPECT_EQ(multiArrayFeature(*wide, "y")->shape(), (Shape{1, 8}));
}

TEST_F(ModelTest, OutputBackingsAreWrittenInPlaceEvenWhenTheyAreInputs) {
    auto model = load(dir_ / "Affine.mlmodelc");
    auto x = floats({1, 4}, {1, 2, 3, 4});
    auto backing = floats({1, 4}, {});
    PredictionOptions options;
    options.outputBackings = {{"y", backing}};
    auto out = model.prediction(DictionaryFeatureProvider{{"x", x}, {"scale", floats({1}, {2})}}, options);
    ASSERT_TRUE(out) << out.error().description;
    EXPECT_TRUE(multiArrayFeature(*out, "y")->isSameArray(backing));
    EXPECT_EQ(backing.toFloats(), (std::vector<float>{3, 5, 7, 9}));

    // The input itself as the backing: every input is read before the output is written.
    options.outputBackings = {{"y", x}};
    ASSERT_TRUE(model.prediction(DictionaryFeatureProvider{{"x", x}, {"scale", floats({1}, {10})}}, options));
    EXPECT_EQ(x.toFloats(), (std::vector<float>{11, 21, 31, 41}));
    EXPECT_EQ(runtime_->predictions().back().outputBackings, (std::vector<std::string>{"y"}));
}

TEST_F(ModelTest, UnusableOrRefusedBackingsFailWithoutTouchingThem) {
    auto model = load(dir_ / "Affine.mlmodelc");
    DictionaryFeatureProvider in{{"x", floats({1, 4}, {1, 2, 3, 4})}, {"scale", floats({1}, {2})}};
    struct Case {
        const char* what;
        std::string name;
        MultiArray backing;
    };
    const Case cases[] = {
        {"not an output", "z", floats({1, 4}, {})},
        {"wrong type", "y", floats({1, 4}, {}, DataType::float16)},
        {"wrong shape", "y", floats({1, 3}, {})},
        {"shape allowed but not the produced one", "y", floats({1, 8}, {})},
    };
    for (const auto& c : cases) {
        c.backing.set(0, -1);
        PredictionOptions options;
        options.outputBackings = {{c.name, c.backing}};
        EXPECT_FALSE(model.prediction(in, options)) << c.what;
        EXPECT_EQ(c.backing.get(0), -1) << c.what;
    }

    runtime_->rejectOutputBackings("affine");
    auto backing = floats({1, 4}, {-1, -1, -1, -1});
    PredictionOptions options;
    options.outputBackings = {{"y", backing}};
    auto refused = model.prediction(in, options);
    ASSERT_FALSE(refused);
    EXPECT_NE(refused.error().description.find("does not accept output backings"), std::string::npos);
    EXPECT_EQ(backing.get(0), -1);
    EXPECT_TRUE(model.prediction(in));  // without backings the same call works
}

TEST_F(ModelTest, OutputsThatBreakTheDescriptionAreErrors) {
    runtime_->registerBehaviour("noOutput", [](const TestPrediction&) -> Result<FeatureMap> { return FeatureMap{}; });
    runtime_->registerBehaviour("extraOutput", [](const TestPrediction& call) -> Result<FeatureMap> {
        return FeatureMap{{"y", call.input("x")}, {"debug", FeatureValue::fromInt64(1)}};
    });
    runtime_->registerBehaviour("halfOutput", [](const TestPrediction&) -> Result<FeatureMap> {
        return FeatureMap{{"y", *MultiArray::make({1, 4}, DataType::float16)}};
    });
    DictionaryFeatureProvider in{{"x", floats({1, 4}, {1, 2, 3, 4})}, {"scale", floats({1}, {2})}};
    for (const char* behaviour : {"noOutput", "extraOutput", "halfOutput"}) {
        ASSERT_TRUE(writeTestModelBundle(dir_ / behaviour, affineDescription(), behaviour));
        auto model = load(dir_ / behaviour);
        EXPECT_FALSE(model.prediction(in)) << behaviour;
    }
}

TEST_F(ModelTest, ConcurrentPredictionsOnOneModel) {
    auto model = load(dir_ / "Affine.mlmodelc");
    std::vector<std::thread> threads;
    std::vector<int> wrong(8, 0);
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 50; ++i) {
                const float v = static_cast<float>(t * 100 + i);
                DictionaryFeatureProvider in{{"x", floats({1, 4}, {v, v, v, v})}, {"scale", floats({1}, {1})}};
                auto out = model.prediction(in);
                if (!out || multiArrayFeature(*out, "y")->toFloats() != std::vector<float>(4, v + 1)) ++wrong[t];
            }
        });
    }
    for (auto& th : threads) th.join();
    for (int w : wrong) EXPECT_EQ(w, 0);
    EXPECT_EQ(runtime_->predictions("affine").size(), 400u);
}

TEST_F(ModelTest, BundlesThatCannotBeLoadedSayWhy) {
    struct Case {
        const char* what;
        std::function<fs::path()> make;
        const char* message;
    };
    const Case cases[] = {
        {"missing folder", [&] { return dir_ / "Missing.mlmodelc"; }, "No model bundle at"},
        {"no manifest",
         [&] {
             fs::create_directories(dir_ / "Empty.mlmodelc");
             return dir_ / "Empty.mlmodelc";
         },
         "has no manifest.json"},
        {"broken manifest",
         [&] {
             fs::create_directories(dir_ / "Broken.mlmodelc");
             std::ofstream(dir_ / "Broken.mlmodelc" / "manifest.json") << "{ not json";
             return dir_ / "Broken.mlmodelc";
         },
         "is not valid JSON"},
        {"unknown runtime",
         [&] {
             EXPECT_TRUE(writeModelBundle(dir_ / "Onnx.mlmodelc", affineDescription(), "onnx"));
             return dir_ / "Onnx.mlmodelc";
         },
         "needs the runtime \"onnx\", which is not available in this build"},
        {"package",
         [&] {
             writeAffine(dir_ / "Affine.mlpackage", 1.0f, true);
             return dir_ / "Affine.mlpackage";
         },
         "is a model package"},
        {"unregistered behaviour",
         [&] {
             EXPECT_TRUE(writeTestModelBundle(dir_ / "Nobody.mlmodelc", affineDescription(), "nobody"));
             return dir_ / "Nobody.mlmodelc";
         },
         "No test behaviour \"nobody\""},
    };
    for (const auto& c : cases) {
        auto m = Model::load(c.make());
        ASSERT_FALSE(m) << c.what;
        EXPECT_NE(m.error().description.find(c.message), std::string::npos) << c.what << ": " << m.error().description;
    }
}

TEST_F(ModelTest, WithoutTheTestRuntimeRegisteredTheSameBundleDoesNotLoad) {
    RuntimeRegistry empty;
    auto m = Model::load(dir_ / "Affine.mlmodelc", {}, empty);
    ASSERT_FALSE(m);
    EXPECT_EQ(m.error().code, static_cast<int>(MLErrorCode::runtimeUnavailable));
    EXPECT_NE(m.error().description.find("available: none"), std::string::npos);
}

TEST_F(ModelTest, CompilingAPackageGivesALoadableBundle) {
    writeAffine(dir_ / "Pkg.mlpackage", 5.0f, true);
    auto compiled = compileModel(dir_ / "Pkg.mlpackage", dir_.path());
    ASSERT_TRUE(compiled) << compiled.error().description;
    EXPECT_EQ(compiled->filename(), "Pkg.mlmodelc");
    EXPECT_TRUE(fs::exists(*compiled / "offset.txt"));  // the package's files come along
    auto model = load(*compiled);
    auto out = model.prediction(DictionaryFeatureProvider{{"x", floats({1, 4}, {0, 0, 0, 0})}, {"scale", floats({1}, {1})}});
    EXPECT_EQ(multiArrayFeature(*out, "y")->toFloats(), std::vector<float>(4, 5));

    EXPECT_FALSE(compileModel(dir_ / "Affine.mlmodelc", dir_.path()));  // already compiled
}

// A recurrent cell: state h ← h + x, output y = h.
Result<FeatureMap> accumulate(const TestPrediction& call) {
    auto h = *call.stateArray("h");
    const auto x = call.input("x");
    for (std::int64_t i = 0; i < h.count(); ++i) h.set(i, h.get(i) + x.get(i));
    return FeatureMap{{"y", *h.clone()}};
}

TEST_F(ModelTest, StatefulPredictionsUpdateTheirState) {
    runtime_->registerBehaviour("accumulate", accumulate);
    ModelDescription d;
    d.inputs = {arrayFeature("x", DataType::float32, {2})};
    d.outputs = {arrayFeature("y", DataType::float32, {2})};
    d.states = {arrayFeature("h", DataType::float32, {2})};
    ASSERT_TRUE(writeTestModelBundle(dir_ / "Cell.mlmodelc", d, "accumulate"));
    auto model = load(dir_ / "Cell.mlmodelc");
    auto first = model.makeState(), second = model.makeState();
    ASSERT_TRUE(first && second);
    DictionaryFeatureProvider in{{"x", floats({2}, {1, 2})}};
    ASSERT_TRUE(model.prediction(in, *first));
    auto out = model.prediction(in, *first);
    EXPECT_EQ(multiArrayFeature(*out, "y")->toFloats(), (std::vector<float>{2, 4}));
    EXPECT_EQ(second->array("h")->toFloats(), (std::vector<float>{0, 0}));  // sessions are apart
    EXPECT_FALSE(model.prediction(in));  // a stateful model needs its state
    EXPECT_FALSE(load(dir_ / "Affine.mlmodelc").makeState());
}

Task<Result<DictionaryFeatureProvider>> predictOnce(Model model, DictionaryFeatureProvider in) {
    co_return co_await model.predictionAsync(in);
}

TEST_F(ModelTest, AsynchronousPredictionsWaitTheInjectedLatencyInVirtualTime) {
    auto model = load(dir_ / "Affine.mlmodelc");
    runtime_->setLatency("affine", milliseconds(250));
    ManualExecutor ex;
    DictionaryFeatureProvider in{{"x", floats({1, 4}, {1, 1, 1, 1})}, {"scale", floats({1}, {1})}};
    auto h = spawn(ex, predictOnce(model, in));
    ex.runUntilIdle();
    ex.advance(milliseconds(249));
    EXPECT_FALSE(h.done());
    ex.advance(milliseconds(1));
    ASSERT_TRUE(h.done());
    EXPECT_EQ(multiArrayFeature(*h.value(), "y")->toFloats(), std::vector<float>(4, 2));
    EXPECT_TRUE(runtime_->predictions().back().asynchronous);

    // Cancelled while waiting: the cancellation error, no result.
    auto cancelled = spawn(ex, predictOnce(model, in));
    ex.runUntilIdle();
    cancelled.cancel();
    ex.runUntilIdle();
    ASSERT_TRUE(cancelled.done());
    EXPECT_TRUE(cancelled.value().error().isCancellation());
}

TEST_F(ModelTest, InjectedFailuresAndRecordedInputs) {
    auto model = load(dir_ / "Affine.mlmodelc");
    runtime_->failPredictions("affine", Error::make("test", 7, "boom", "Model exploded"), 1);
    auto x = floats({1, 4}, {1, 2, 3, 4});
    DictionaryFeatureProvider in{{"x", x}, {"scale", floats({1}, {2})}};
    auto failed = model.prediction(in);
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error().description, "Model exploded");
    EXPECT_TRUE(model.prediction(in));  // only once

    x.set(0, 100);  // the record keeps what the model saw
    auto calls = runtime_->predictions("affine");
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].inputs.at("x").multiArrayValue()->get(0), 1);

    runtime_->failLoads("affine", Error::make("test", 8, "corrupt", "Corrupt weights"));
    auto m = Model::load(dir_ / "Affine.mlmodelc");
    ASSERT_FALSE(m);
    EXPECT_EQ(m.error().description, "Corrupt weights");
}

TEST_F(ModelTest, BatchPredictionsRunInOrder) {
    auto model = load(dir_ / "Affine.mlmodelc");
    std::vector<std::shared_ptr<const FeatureProvider>> items;
    for (float v : {1.0f, 2.0f, 3.0f})
        items.push_back(std::make_shared<DictionaryFeatureProvider>(
            DictionaryFeatureProvider{{"x", floats({1, 4}, {v, v, v, v})}, {"scale", floats({1}, {1})}}));
    auto out = model.predictions(ArrayBatchProvider(items));
    ASSERT_TRUE(out);
    ASSERT_EQ(out->size(), 3u);
    EXPECT_EQ(multiArrayFeature((*out)[2], "y")->get(0), 4.0);
}

// A runtime whose engine keeps the default asynchronous form: y = x, and the
// thread each prediction ran on.
class ThreadRecordingRuntime : public ModelRuntime {
public:
    std::string name() const override { return "thread-recording"; }
    Result<std::unique_ptr<ModelEngine>> load(const ModelBundle&, const ModelConfiguration&) override {
        struct Engine : ModelEngine {
            std::thread::id* thread;
            explicit Engine(std::thread::id* t) : thread(t) {}
            Result<FeatureMap> predict(const PredictionRequest& request) override {
                *thread = std::this_thread::get_id();
                return FeatureMap{{"y", *multiArrayFeature(request.inputs, "x")}};
            }
        };
        return std::unique_ptr<ModelEngine>(std::make_unique<Engine>(&predictedOn));
    }
    std::thread::id predictedOn;
};

Task<std::thread::id> predictAndReport(Model model, Result<DictionaryFeatureProvider>* out) {
    FeatureMap features;  // no braced lists in a coroutine body: g++ 12 miscompiles them
    features.emplace("x", floats({1}, std::vector<float>(1, 5.0f)));
    *out = co_await model.predictionAsync(DictionaryFeatureProvider(std::move(features)));
    co_return std::this_thread::get_id();
}

TEST(ModelAsyncTest, AsynchronousPredictionsRunOnTheWorkerPoolAndResumeOnTheCaller) {
    testsupport::TempDir dir;
    auto runtime = std::make_shared<ThreadRecordingRuntime>();
    RuntimeRegistry registry;
    registry.add(runtime);
    ModelDescription d;
    d.inputs = {arrayFeature("x", DataType::float32, {1})};
    d.outputs = {arrayFeature("y", DataType::float32, {1})};
    ASSERT_TRUE(writeModelBundle(dir.path(), d, runtime->name()));
    auto model = Model::load(dir.path(), {}, registry);
    ASSERT_TRUE(model);
    ManualExecutor ex;
    Result<DictionaryFeatureProvider> out = fail(Error::cancelled());
    auto h = spawn(ex, predictAndReport(*model, &out));
    ASSERT_TRUE(ex.runUntil([&] { return h.done(); }));
    ASSERT_TRUE(out) << out.error().description;
    EXPECT_EQ(multiArrayFeature(*out, "y")->get(0), 5.0);
    EXPECT_NE(runtime->predictedOn, std::this_thread::get_id());
    EXPECT_EQ(h.value(), std::this_thread::get_id());
}

}  // namespace
}  // namespace platform::ml
