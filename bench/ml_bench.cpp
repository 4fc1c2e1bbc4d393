// The ml layer's own cost per prediction on ONNX Runtime (checks, binding,
// wrapping outputs, the state copy) against ORT's bare Run on an identical
// session, in the same run: the Silero voice-activity chunk (a small, fast
// model, where the glue weighs most) and a generated dense layer of 1024.
// Without the runtime the benchmarks report an error and nothing is checked.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/BenchMain.h"
#include "platform/ml/Model.h"
#include "platform/ml/OnnxModelRuntime.h"
#include "platform/ml/OnnxModelWriter.h"
#include "platform/ml/OnnxRuntimeLibrary.h"

namespace {

using namespace platform::ml;
namespace fs = std::filesystem;

// One model loaded twice: through Model, and as a bare ORT session with the
// same options, with its inputs made once.
struct Subject {
    std::string error;
    Model model;
    std::optional<State> state;
    std::unique_ptr<DictionaryFeatureProvider> inputs;
    std::shared_ptr<OnnxModelRuntime> runtime;
    OrtSession* session = nullptr;
    std::vector<OrtValue*> inputValues;
    std::vector<std::string> inputNames, outputNames;
    std::vector<MultiArray> arrays;  // memory under inputValues
};

// A temporary folder for the bundles, removed at exit.
const fs::path& folder() {
    struct Folder {
        fs::path path;
        Folder() {
            std::string pattern = (fs::temp_directory_path() / "parlowen-ml-bench-XXXXXX").string();
            if (mkdtemp(pattern.data())) path = pattern;
        }
        ~Folder() {
            std::error_code ec;
            if (!path.empty()) fs::remove_all(path, ec);
        }
    };
    static Folder f;
    return f.path;
}

bool openBare(Subject& s, const fs::path& onnx) {
    const auto& lib = s.runtime->library();
    const OrtApi* api = lib.api;
    OrtSessionOptions* options = nullptr;
    bool good = lib.check(api->CreateSessionOptions(&options)) &&
                lib.check(api->SetIntraOpNumThreads(options, 1)) && lib.check(api->SetInterOpNumThreads(options, 1)) &&
                lib.check(api->SetSessionGraphOptimizationLevel(options, ORT_ENABLE_ALL)) &&
                lib.check(api->AddSessionConfigEntry(options, "session.intra_op.allow_spinning", "0")) &&
                lib.check(api->CreateSession(lib.env, onnx.c_str(), options, &s.session));
    if (options) api->ReleaseSessionOptions(options);
    if (!good) {
        s.error = "cannot open a bare session";
        return false;
    }
    OrtMemoryInfo* memory = nullptr;
    if (!lib.check(api->CreateCpuMemoryInfo(OrtDeviceAllocator, OrtMemTypeDefault, &memory))) return false;
    for (const auto& a : s.arrays) {
        OrtValue* v = nullptr;
        const auto type = a.dataType() == DataType::int64 ? ONNX_TENSOR_ELEMENT_DATA_TYPE_INT64 : ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT;
        if (!lib.check(api->CreateTensorWithDataAsOrtValue(memory, a.data(),
                                                            static_cast<std::size_t>(a.count()) * bytesPerElement(a.dataType()),
                                                            a.shape().data(), a.shape().size(), type, &v)))
            return false;
        s.inputValues.push_back(v);
    }
    api->ReleaseMemoryInfo(memory);
    return true;
}

// Loads `bundle` through Model with a freshly opened runtime; false (with the
// reason in s.error) when that fails.
bool loadThroughModel(Subject& s, const fs::path& bundle) {
    auto runtime = OnnxModelRuntime::open();
    if (!runtime) return s.error = runtime.error().description, false;
    s.runtime = *runtime;
    RuntimeRegistry registry;
    registry.add(s.runtime);
    auto model = Model::load(bundle, {}, registry);
    if (!model) return s.error = model.error().description, false;
    s.model = *model;
    return true;
}

void makeSilero(Subject& s) {
    const fs::path onnx = onnxRuntimePrefix() / "models" / "silero_vad_v5.onnx";
    const fs::path bundle = folder() / "SileroVad.mlmodelc";
    if (auto w = writeSileroVadBundle(bundle, onnx); !w) {
        s.error = w.error().description;
        return;
    }
    if (!loadThroughModel(s, bundle)) return;
    s.state = *s.model.makeState();
    auto audio = *MultiArray::make({1, kSileroContext + kSileroChunk}, DataType::float32);
    for (std::int64_t i = 0; i < audio.count(); ++i) audio.set(i, 0.3 * std::sin(0.05 * double(i)));
    auto rate = *MultiArray::make({}, DataType::int64);
    *rate.dataAs<std::int64_t>() = 16000;
    auto state = *MultiArray::make({2, 1, 128}, DataType::float32);
    s.inputs = std::make_unique<DictionaryFeatureProvider>(
        FeatureMap{{"audio", audio}, {"sampleRate", FeatureValue::fromInt64(16000)}});
    s.arrays = {audio, state, rate};
    s.inputNames = {"input", "state", "sr"};
    s.outputNames = {"output", "stateN"};
    openBare(s, bundle / onnx.filename());
}

void makeDenseLayer(Subject& s) {
    const fs::path bundle = folder() / "Dense.mlmodelc";
    fs::create_directories(bundle);
    auto written = writeOnnxModel(bundle / "model.onnx", denseTanhGraph(1024));
    if (written) written = writeModelBundle(bundle, {}, kOnnxRuntimeName, R"({"model": "model.onnx"})");
    if (!written) {
        s.error = written.error().description;
        return;
    }
    if (!loadThroughModel(s, bundle)) return;
    auto x = *MultiArray::make({1, 1024}, DataType::float32);
    for (std::int64_t i = 0; i < x.count(); ++i) x.set(i, std::cos(0.01 * double(i)));
    s.inputs = std::make_unique<DictionaryFeatureProvider>(FeatureMap{{"x", x}});
    s.arrays = {x};
    s.inputNames = {"x"};
    s.outputNames = {"y"};
    openBare(s, bundle / "model.onnx");
}

// Made once, on first use.
Subject& subject(void (*make)(Subject&)) {
    static std::map<void (*)(Subject&), std::unique_ptr<Subject>> made;
    auto& s = made[make];
    if (!s) {
        s = std::make_unique<Subject>();
        make(*s);
    }
    return *s;
}
Subject& silero() { return subject(makeSilero); }
Subject& denseLayer() { return subject(makeDenseLayer); }

// One prediction each way. Each benchmark runs both in every iteration and
// times only its own, so both see the same machine load (the machine running
// them is shared) and the ratio is the glue alone.
bool predictThroughModel(Subject& s) {
    // The bare session always starts from a zero state; so does this one
    // (a state carried on can drift into slower, denormal arithmetic).
    if (s.state) s.state->array("state")->zero();
    auto out = s.state ? s.model.prediction(*s.inputs, *s.state) : s.model.prediction(*s.inputs);
    benchmark::DoNotOptimize(out);
    return static_cast<bool>(out);
}

bool runBare(Subject& s) {
    const OrtApi* api = s.runtime->library().api;
    std::vector<const char*> in, out;
    for (const auto& n : s.inputNames) in.push_back(n.c_str());
    for (const auto& n : s.outputNames) out.push_back(n.c_str());
    std::vector<OrtValue*> outputs(out.size(), nullptr);
    const bool ran = static_cast<bool>(s.runtime->library().check(
        api->Run(s.session, nullptr, in.data(), s.inputValues.data(), in.size(), out.data(), out.size(), outputs.data())));
    for (auto* v : outputs)
        if (v) api->ReleaseValue(v);
    return ran;
}

void timeOneSide(benchmark::State& state, Subject& s, bool model) {
    if (!s.error.empty() || !s.session) return state.SkipWithError(s.error.empty() ? "no session" : s.error.c_str());
    using Clock = std::chrono::steady_clock;
    double fastest = 1e9;
    for (auto _ : state) {
        if (!(model ? runBare(s) : predictThroughModel(s))) return state.SkipWithError("the untimed side failed");
        const auto start = Clock::now();
        const bool ran = model ? predictThroughModel(s) : runBare(s);
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        state.SetIterationTime(seconds);
        fastest = std::min(fastest, seconds);
        if (!ran) return state.SkipWithError("prediction failed");
    }
    // The fastest run, which load on a shared machine disturbs least.
    state.counters["fastest_us"] = fastest * 1e6;
}

void BM_SileroChunkThroughModel(benchmark::State& state) { timeOneSide(state, silero(), true); }
void BM_SileroChunkBareOrt(benchmark::State& state) { timeOneSide(state, silero(), false); }
void BM_Dense1024ThroughModel(benchmark::State& state) { timeOneSide(state, denseLayer(), true); }
void BM_Dense1024BareOrt(benchmark::State& state) { timeOneSide(state, denseLayer(), false); }

BENCHMARK(BM_SileroChunkBareOrt)->UseManualTime();
BENCHMARK(BM_SileroChunkThroughModel)->UseManualTime();
BENCHMARK(BM_Dense1024BareOrt)->UseManualTime();
BENCHMARK(BM_Dense1024ThroughModel)->UseManualTime();

PARLOWEN_RATIO_TARGET("BM_SileroChunkThroughModel/manual_time", "BM_SileroChunkBareOrt/manual_time", 1.05);
PARLOWEN_RATIO_TARGET("BM_Dense1024ThroughModel/manual_time", "BM_Dense1024BareOrt/manual_time", 1.05);

}  // namespace
