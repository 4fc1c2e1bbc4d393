#include "platform/ml/OnnxModelRuntime.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <random>
#include <thread>

#include "platform/ml/OnnxModelWriter.h"
#include "platform/ml/OnnxTestSupport.h"
#include "platform/runtime/ManualExecutor.h"
#include "platform/testsupport/TempHome.h"

namespace platform::ml {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;
using Dims = std::vector<std::optional<std::int64_t>>;
constexpr auto open_ = std::nullopt;

MultiArray arrayOf(DataType type, const Shape& shape, const std::vector<double>& values) {
    auto a = MultiArray::make(shape, type);
    for (std::size_t i = 0; i < values.size(); ++i) a->setLogical(static_cast<std::int64_t>(i), values[i]);
    return *a;
}

std::vector<double> valuesOf(const MultiArray& a) {
    std::vector<double> out;
    for (std::int64_t i = 0; i < a.count(); ++i) out.push_back(a.getLogical(i));
    return out;
}

FeatureDescription openFeature(std::string name, DataType type, std::vector<SizeRange> ranges, Shape shape) {
    auto f = arrayFeature(std::move(name), type, std::move(shape));
    f.multiArrayConstraint->shapeConstraint = {ShapeConstraint::Kind::range, {}, std::move(ranges)};
    return f;
}

class OnnxModelRuntimeTest : public ::testing::Test {
protected:
    void SetUp() override {
        PARLOWEN_REQUIRE_ONNXRUNTIME_OR_SKIP(registerOnnxRuntime(registry_));
    }

    // A bundle folder holding the graph as "model.onnx" and a manifest with
    // `description` (empty: none) and `options`.
    fs::path bundle(const std::string& name, const OnnxGraph& graph, const ModelDescription& description,
                    Json options = Json::object()) {
        const fs::path dir = dir_ / (name + ".mlmodelc");
        fs::create_directories(dir);
        EXPECT_TRUE(writeOnnxModel(dir / "model.onnx", graph));
        options["model"] = "model.onnx";
        EXPECT_TRUE(writeModelBundle(dir, description, kOnnxRuntimeName, options.dump()));
        return dir;
    }

    Result<Model> load(const fs::path& dir, ModelConfiguration configuration = {}) {
        return Model::load(dir, configuration, registry_);
    }

    Model mustLoad(const fs::path& dir) {
        auto m = load(dir);
        EXPECT_TRUE(m) << (m ? "" : m.error().description);
        return m ? *m : Model();
    }

    RuntimeRegistry registry_;
    testsupport::TempDir dir_;
};

// y = transpose(x): every element type the layer has, fixed and open shapes.
// A transpose catches any mix-up of element size, order or shape.
TEST_F(OnnxModelRuntimeTest, EveryElementTypeRunsWithFixedAndOpenShapes) {
    for (DataType type : kAllDataTypes) {
        for (bool openShape : {false, true}) {
            SCOPED_TRACE(fmt::format("{} {}", dataTypeName(type), openShape ? "open" : "fixed"));
            OnnxGraph g;
            g.inputs = {{"x", type, openShape ? Dims{open_, 3} : Dims{2, 3}}};
            g.outputs = {{"y", type, openShape ? Dims{3, open_} : Dims{3, 2}}};
            g.nodes = {{"Transpose", {"x"}, {"y"}, {{"perm", std::nullopt, {1, 0}}}}};
            ModelDescription d;
            if (openShape) {
                d.inputs = {openFeature("x", type, {{1, std::nullopt}, {3, 3}}, {1, 3})};
                d.outputs = {openFeature("y", type, {{3, 3}, {1, std::nullopt}}, {3, 1})};
            } else {
                d.inputs = {arrayFeature("x", type, {2, 3})};
                d.outputs = {arrayFeature("y", type, {3, 2})};
            }
            auto model = mustLoad(bundle(fmt::format("t{}{}", rawValue(type), openShape), g, d));
            const std::int64_t rows = openShape ? 4 : 2;
            std::vector<double> x;
            for (std::int64_t i = 0; i < rows * 3; ++i)
                x.push_back(type == DataType::boolean ? double(i % 3 == 1) : double((i * 7) % 11) - (type == DataType::uint8 ? 0 : 3));
            auto out = model.prediction(DictionaryFeatureProvider{{"x", arrayOf(type, {rows, 3}, x)}});
            ASSERT_TRUE(out) << out.error().description;
            auto y = multiArrayFeature(*out, "y");
            ASSERT_TRUE(y);
            EXPECT_EQ(y->dataType(), type);
            EXPECT_EQ(y->shape(), (Shape{3, rows}));
            for (std::int64_t r = 0; r < rows; ++r)
                for (std::int64_t c = 0; c < 3; ++c) EXPECT_EQ(y->getAt({c, r}), x[static_cast<std::size_t>(r * 3 + c)]);
        }
    }
}

// difference = minuend − subtrahend on a graph with other names: a mapping
// that swapped the two would give the negated answer.
OnnxGraph subtraction() {
    OnnxGraph g;
    g.inputs = {{"graph_a", DataType::float32, {1, 3}}, {"graph_b", DataType::float32, {1, 3}}};
    g.outputs = {{"graph_diff", DataType::float32, {1, 3}}};
    g.nodes = {{"Sub", {"graph_a", "graph_b"}, {"graph_diff"}}};
    return g;
}

Json subtractionMapping() {
    return Json{{"inputs", {{"minuend", "graph_a"}, {"subtrahend", "graph_b"}}},
                {"outputs", {{"difference", "graph_diff"}}}};
}

ModelDescription subtractionDescription() {
    ModelDescription d;
    d.inputs = {arrayFeature("subtrahend", DataType::float32, {1, 3}), arrayFeature("minuend", DataType::float32, {1, 3})};
    d.outputs = {arrayFeature("difference", DataType::float32, {1, 3})};
    return d;
}

TEST_F(OnnxModelRuntimeTest, FeatureNamesMapToTheGraphsNames) {
    auto model = mustLoad(bundle("sub", subtraction(), subtractionDescription(), subtractionMapping()));
    auto out = model.prediction(DictionaryFeatureProvider{
        {"minuend", arrayOf(DataType::float32, {1, 3}, {10, 20, 30})},
        {"subtrahend", arrayOf(DataType::float32, {1, 3}, {1, 2, 3})}});
    ASSERT_TRUE(out) << out.error().description;
    EXPECT_EQ(valuesOf(*multiArrayFeature(*out, "difference")), (std::vector<double>{9, 18, 27}));
}

TEST_F(OnnxModelRuntimeTest, AManifestWithoutDescriptionGetsOneFromTheGraph) {
    OnnxGraph g = subtraction();
    g.inputs[1].dims = {open_, 3};
    auto model = mustLoad(bundle("described", g, ModelDescription{}, subtractionMapping()));
    const auto& d = model.modelDescription();
    ASSERT_EQ(d.inputs.size(), 2u);
    EXPECT_EQ(d.inputs[0], arrayFeature("minuend", DataType::float32, {1, 3}));
    EXPECT_EQ(d.inputs[1], openFeature("subtrahend", DataType::float32, {{1, std::nullopt}, {3, 3}}, {1, 3}));
    ASSERT_EQ(d.outputs.size(), 1u);
    EXPECT_EQ(d.outputs[0].name, "difference");
    auto out = model.prediction(DictionaryFeatureProvider{
        {"minuend", arrayOf(DataType::float32, {1, 3}, {1, 1, 1})},
        {"subtrahend", arrayOf(DataType::float32, {1, 3}, {1, 2, 3})}});
    ASSERT_TRUE(out) << out.error().description;
    EXPECT_EQ(valuesOf(*multiArrayFeature(*out, "difference")), (std::vector<double>{0, -1, -2}));
}

TEST_F(OnnxModelRuntimeTest, ADescriptionThatDisagreesWithTheGraphFailsToLoad) {
    struct Case {
        const char* what;
        std::function<void(ModelDescription&, Json&)> change;
        const char* message;
    };
    const Case cases[] = {
        {"unknown input name", [](ModelDescription&, Json& o) { o["inputs"]["minuend"] = "graph_x"; }, "graph_x"},
        {"unknown output name", [](ModelDescription&, Json& o) { o["outputs"]["difference"] = "nope"; }, "nope"},
        {"element type",
         [](ModelDescription& d, Json&) { d.inputs[0] = arrayFeature("subtrahend", DataType::float64, {1, 3}); },
         "float64"},
        {"rank", [](ModelDescription& d, Json&) { d.outputs[0] = arrayFeature("difference", DataType::float32, {3}); },
         "rank"},
        {"fixed size", [](ModelDescription& d, Json&) { d.inputs[1] = arrayFeature("minuend", DataType::float32, {1, 4}); },
         "[1, 4]"},
        {"mapping of no feature", [](ModelDescription&, Json& o) { o["outputs"]["sum"] = "graph_diff"; }, "\"sum\""},
        {"graph input fed by nothing",
         [](ModelDescription& d, Json&) { d.inputs.pop_back(); }, "graph_a"},
        {"state not in the graph",
         [](ModelDescription& d, Json& o) {
             d.states = {arrayFeature("s", DataType::float32, {1, 3})};
             o["states"]["s"] = {{"input", "s_in"}, {"output", "s_out"}};
         },
         "s_in"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto d = subtractionDescription();
        auto options = subtractionMapping();
        c.change(d, options);
        auto m = load(bundle("mismatch", subtraction(), d, options));
        ASSERT_FALSE(m);
        EXPECT_EQ(m.error().domain, kMLErrorDomain);
        EXPECT_EQ(m.error().code, static_cast<int>(MLErrorCode::featureType));
        EXPECT_NE(m.error().description.find(c.message), std::string::npos) << m.error().description;
    }
}

TEST_F(OnnxModelRuntimeTest, DamagedOrUnrunnableModelFilesFailToLoadWithOrtsMessage) {
    const auto good = onnxModelBytes(subtraction());
    std::mt19937 random(7);
    std::string noise(good.size(), '\0');
    for (auto& ch : noise) ch = static_cast<char>(random());
    OnnxGraph unknownOp = subtraction();
    unknownOp.nodes[0].op = "NoSuchOperator";
    struct Case {
        const char* what;
        std::optional<std::string> bytes;  // none: no file
        MLErrorCode code;
    };
    const Case cases[] = {
        {"random bytes", noise, MLErrorCode::io},
        {"truncated", good.substr(0, good.size() / 2), MLErrorCode::io},
        {"empty", std::string(), MLErrorCode::io},
        {"missing", std::nullopt, MLErrorCode::io},
        {"unknown operator", onnxModelBytes(unknownOp), MLErrorCode::generic},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto dir = bundle("damaged", subtraction(), subtractionDescription(), subtractionMapping());
        fs::remove(dir / "model.onnx");
        if (c.bytes) std::ofstream(dir / "model.onnx", std::ios::binary) << *c.bytes;
        auto m = load(dir);
        ASSERT_FALSE(m);
        EXPECT_EQ(m.error().code, static_cast<int>(c.code)) << m.error().description;
        EXPECT_NE(m.error().description.find("model.onnx"), std::string::npos) << m.error().description;
        if (c.bytes && !c.bytes->empty()) {
            ASSERT_TRUE(m.error().underlying);
            EXPECT_EQ(m.error().underlying->domain, kOnnxRuntimeErrorDomain);
        }
    }
}

TEST_F(OnnxModelRuntimeTest, BadRuntimeOptionsFailToLoad) {
    const std::pair<const char*, Json> cases[] = {
        {"escaping model path", Json{{"model", "../model.onnx"}}},
        {"unknown optimisation level", Json{{"optimizationLevel", "turbo"}}},
        {"no threads", Json{{"intraOpThreads", 0}}},
        {"state without output", Json{{"states", {{"s", {{"input", "graph_a"}}}}}}},
    };
    for (const auto& [what, change] : cases) {
        SCOPED_TRACE(what);
        auto options = subtractionMapping();
        options.update(change);
        const auto dir = bundle("options", subtraction(), subtractionDescription(), subtractionMapping());
        Json manifest;
        std::ifstream(dir / kManifestFileName) >> manifest;
        manifest["runtimeOptions"] = options;
        std::ofstream(dir / kManifestFileName) << manifest.dump();
        auto m = load(dir);
        ASSERT_FALSE(m);
        EXPECT_EQ(m.error().code, static_cast<int>(MLErrorCode::io)) << m.error().description;
    }
}

// y = x · W with W of 3 rows: an input of 4 columns passes the description
// (open) but not the graph, at run time.
TEST_F(OnnxModelRuntimeTest, AShapeTheGraphRefusesAtRunTimeIsAPredictionError) {
    OnnxGraph g;
    g.inputs = {{"x", DataType::float32, {1, open_}}};
    g.outputs = {{"y", DataType::float32, {1, 2}}};
    g.initializers = {floatInitializer("w", {3, 2}, {1, 0, 0, 1, 1, 1})};
    g.nodes = {{"MatMul", {"x", "w"}, {"y"}}};
    auto model = mustLoad(bundle("matmul", g, ModelDescription{}));
    auto bad = model.prediction(DictionaryFeatureProvider{{"x", arrayOf(DataType::float32, {1, 4}, {1, 2, 3, 4})}});
    ASSERT_FALSE(bad);
    EXPECT_EQ(bad.error().code, static_cast<int>(MLErrorCode::generic));
    ASSERT_TRUE(bad.error().underlying);
    EXPECT_EQ(bad.error().underlying->domain, kOnnxRuntimeErrorDomain);
    auto good = model.prediction(DictionaryFeatureProvider{{"x", arrayOf(DataType::float32, {1, 3}, {1, 2, 3})}});
    ASSERT_TRUE(good) << good.error().description;
    EXPECT_EQ(valuesOf(*multiArrayFeature(*good, "y")), (std::vector<double>{4, 5}));
}

// total = state + x, with total also carried into the state.
OnnxGraph accumulator() {
    OnnxGraph g;
    g.inputs = {{"x", DataType::float32, {1, 4}}, {"state", DataType::float32, {1, 4}}};
    g.outputs = {{"total", DataType::float32, {1, 4}}, {"stateOut", DataType::float32, {1, 4}}};
    g.nodes = {{"Add", {"state", "x"}, {"total"}}, {"Identity", {"total"}, {"stateOut"}}};
    return g;
}

Json accumulatorOptions() { return Json{{"states", {{"sum", {{"input", "state"}, {"output", "stateOut"}}}}}}; }

TEST_F(OnnxModelRuntimeTest, TheProcesssRegistryHasTheRuntimeWithoutAnyoneRegisteringIt) {
    const auto names = RuntimeRegistry::shared().names();
    EXPECT_NE(std::find(names.begin(), names.end(), kOnnxRuntimeName), names.end());
}

TEST_F(OnnxModelRuntimeTest, StateOutputsAccumulateAcrossPredictionsAndAFreshStateRestarts) {
    auto model = mustLoad(bundle("acc", accumulator(), ModelDescription{}, accumulatorOptions()));
    ASSERT_EQ(model.modelDescription().states.size(), 1u);
    EXPECT_EQ(model.modelDescription().states[0].name, "sum");
    EXPECT_EQ(model.modelDescription().inputs.size(), 1u);
    EXPECT_EQ(model.modelDescription().outputs.size(), 1u);  // the state output is the model's business
    auto state = model.makeState();
    ASSERT_TRUE(state);
    const DictionaryFeatureProvider in{{"x", arrayOf(DataType::float32, {1, 4}, {1, 2, 3, 4})}};
    for (double step = 1; step <= 3; ++step) {
        auto out = model.prediction(in, *state);
        ASSERT_TRUE(out) << out.error().description;
        EXPECT_EQ(valuesOf(*multiArrayFeature(*out, "total")), (std::vector<double>{step, 2 * step, 3 * step, 4 * step}));
    }
    EXPECT_EQ(valuesOf(*state->array("sum")), (std::vector<double>{3, 6, 9, 12}));
    auto fresh = model.makeState();
    auto out = model.prediction(in, *fresh);
    ASSERT_TRUE(out);
    EXPECT_EQ(valuesOf(*multiArrayFeature(*out, "total")), (std::vector<double>{1, 2, 3, 4}));
    EXPECT_FALSE(model.prediction(in)) << "a stateful model needs its state";
}

// y = transpose(x) on 3 × 3: writing y while x is still being read would
// scramble it, so an input that is its own backing shows the order.
TEST_F(OnnxModelRuntimeTest, OutputBackingsAreFilledInPlaceEvenWhenTheyAreInputs) {
    OnnxGraph g;
    g.inputs = {{"x", DataType::float32, {3, 3}}};
    g.outputs = {{"y", DataType::float32, {3, 3}}};
    g.nodes = {{"Transpose", {"x"}, {"y"}, {{"perm", std::nullopt, {1, 0}}}}};
    auto model = mustLoad(bundle("transpose", g, ModelDescription{}));
    const std::vector<double> x{1, 2, 3, 4, 5, 6, 7, 8, 9};
    const std::vector<double> xt{1, 4, 7, 2, 5, 8, 3, 6, 9};

    auto backing = *MultiArray::make({3, 3}, DataType::float32);
    void* memory = backing.data();
    PredictionOptions options;
    options.outputBackings.emplace("y", backing);
    auto out = model.prediction(DictionaryFeatureProvider{{"x", arrayOf(DataType::float32, {3, 3}, x)}}, options);
    ASSERT_TRUE(out) << out.error().description;
    EXPECT_TRUE(multiArrayFeature(*out, "y")->isSameArray(backing));
    EXPECT_EQ(backing.data(), memory);
    EXPECT_EQ(valuesOf(backing), xt);

    auto self = arrayOf(DataType::float32, {3, 3}, x);
    PredictionOptions inPlace;
    inPlace.outputBackings.emplace("y", self);
    out = model.prediction(DictionaryFeatureProvider{{"x", self}}, inPlace);
    ASSERT_TRUE(out) << out.error().description;
    EXPECT_EQ(valuesOf(self), xt);

    // A padded (strided) input is read through its strides.
    auto padded = *MultiArray::make({3, 3}, DataType::float32, {8, 1});
    for (std::int64_t i = 0; i < 9; ++i) padded.setLogical(i, x[static_cast<std::size_t>(i)]);
    out = model.prediction(DictionaryFeatureProvider{{"x", padded}});
    ASSERT_TRUE(out) << out.error().description;
    EXPECT_EQ(valuesOf(*multiArrayFeature(*out, "y")), xt);
}

TEST_F(OnnxModelRuntimeTest, ConcurrentPredictionsOnOneModelEqualSequentialOnes) {
    auto model = mustLoad(bundle("dense", denseTanhGraph(64), ModelDescription{}));
    constexpr int kThreads = 4, kEach = 25;
    auto input = [](int k) {
        std::vector<double> x(64);
        for (std::size_t i = 0; i < x.size(); ++i) x[i] = std::sin(double(k) + double(i) * 0.1);
        return arrayOf(DataType::float32, {1, 64}, x);
    };
    std::vector<std::vector<float>> expected(kThreads * kEach), got(kThreads * kEach);
    for (int k = 0; k < kThreads * kEach; ++k)
        expected[k] = multiArrayFeature(*model.prediction(DictionaryFeatureProvider{{"x", input(k)}}), "y")->toFloats();
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int j = 0; j < kEach; ++j) {
                const int k = t * kEach + j;
                auto out = model.prediction(DictionaryFeatureProvider{{"x", input(k)}});
                if (out) got[k] = multiArrayFeature(*out, "y")->toFloats();
            }
        });
    for (auto& th : threads) th.join();
    EXPECT_EQ(got, expected);
}

Task<Result<DictionaryFeatureProvider>> predictTemporary(Model model, State state) {
    // The task must keep what it needs of the provider, which is gone before it runs.
    auto task = [&] {
        FeatureMap features;
        features.emplace("x", arrayOf(DataType::float32, {1, 4}, std::vector<double>(4, 1.0)));
        auto provider = std::make_unique<DictionaryFeatureProvider>(std::move(features));
        return model.predictionAsync(*provider, state);
    }();
    co_return co_await std::move(task);
}

TEST_F(OnnxModelRuntimeTest, AsynchronousPredictionsRunOffTheCallersExecutorAndOwnTheirInputs) {
    // A description of the state alone: inputs and outputs come from the graph.
    ModelDescription onlyTheState;
    onlyTheState.states = {arrayFeature("sum", DataType::float32, {1, 4})};
    onlyTheState.states[0].type = FeatureType::state;
    auto model = mustLoad(bundle("acc", accumulator(), onlyTheState, accumulatorOptions()));
    auto state = *model.makeState();
    ManualExecutor ex;
    auto h = spawn(ex, predictTemporary(model, state));
    ASSERT_TRUE(ex.runUntil([&] { return h.done(); }));
    auto out = h.value();
    ASSERT_TRUE(out) << out.error().description;
    EXPECT_EQ(valuesOf(*multiArrayFeature(*out, "total")), (std::vector<double>{1, 1, 1, 1}));
    EXPECT_EQ(valuesOf(*state.array("sum")), (std::vector<double>{1, 1, 1, 1}));
}

TEST_F(OnnxModelRuntimeTest, SingleNumbersFeedScalarGraphInputs) {
    OnnxGraph g;
    g.inputs = {{"x", DataType::float32, {2}}, {"k", DataType::int64, {}}};
    g.outputs = {{"y", DataType::float32, {2}}};
    g.nodes = {{"Cast", {"k"}, {"kf"}, {{"to", 1, {}}}}, {"Mul", {"x", "kf"}, {"y"}}};
    ModelDescription d;
    d.inputs = {arrayFeature("x", DataType::float32, {2}), FeatureDescription{"k", FeatureType::int64}};
    d.outputs = {arrayFeature("y", DataType::float32, {2})};
    auto model = mustLoad(bundle("scale", g, d));
    auto out = model.prediction(DictionaryFeatureProvider{{"x", arrayOf(DataType::float32, {2}, {1.5, -2})},
                                                          {"k", FeatureValue::fromInt64(4)}});
    ASSERT_TRUE(out) << out.error().description;
    EXPECT_EQ(valuesOf(*multiArrayFeature(*out, "y")), (std::vector<double>{6, -8}));
}

// Needs no library: it is the case of a machine without one.
TEST(OnnxRuntimeAvailabilityTest, AMissingLibraryLeavesTheRuntimeOutAndBundlesFailWithNoRuntime) {
    const auto env = Environment::fromProcess();
    for (const char* library : {"/nonexistent/libonnxruntime.so.1", "libm.so.6"}) {
        SCOPED_TRACE(library);
        RuntimeRegistry registry;
        auto registered = registerOnnxRuntime(registry, env.with(kOnnxRuntimeLibraryVariable, library));
        ASSERT_FALSE(registered);
        EXPECT_EQ(registered.error().code, static_cast<int>(MLErrorCode::runtimeUnavailable));
        EXPECT_NE(registered.error().description.find(library), std::string::npos) << registered.error().description;
        EXPECT_TRUE(registry.names().empty());

        testsupport::TempDir dir;
        ASSERT_TRUE(writeOnnxModel(dir / "model.onnx", subtraction()));
        ASSERT_TRUE(writeModelBundle(dir.path(), subtractionDescription(), kOnnxRuntimeName, "{}"));
        auto m = Model::load(dir.path(), {}, registry);
        ASSERT_FALSE(m);
        EXPECT_EQ(m.error().code, static_cast<int>(MLErrorCode::runtimeUnavailable));
        EXPECT_NE(m.error().description.find("\"onnxruntime\", which is not available"), std::string::npos)
            << m.error().description;
    }
}

}  // namespace
}  // namespace platform::ml
