#pragma once

// Loading and running models.
//
// A compiled model is a bundle directory ("<name>.mlmodelc") holding a small
// manifest, "manifest.json", that names the runtime which executes it, that
// runtime's options, and the model description. A model package
// ("<name>.mlpackage") has the same manifest with "kind": "package" and is
// turned into a compiled bundle by compileModel. Runtimes register by name;
// loading picks the one the manifest names and fails with a clear error when
// it is not registered. Every runtime, the test runtime included, goes
// through the same `Model` code: inputs are checked strictly against the
// description, output backings are honoured, and outputs are checked.

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ml/Feature.h"
#include "platform/ml/ModelDescription.h"
#include "platform/ml/MultiArray.h"
#include "platform/runtime/Error.h"
#include "platform/runtime/Task.h"

namespace platform::ml {

inline constexpr const char* kManifestFileName = "manifest.json";

// Where a model may run. Recorded and handed to the runtime; on Linux it
// changes nothing by itself.
enum class ComputeUnits { cpuOnly = 0, cpuAndGPU = 1, all = 2, cpuAndNeuralEngine = 3 };
std::string_view computeUnitsName(ComputeUnits units);  // "cpuOnly", "cpuAndGPU", "all", "cpuAndNeuralEngine"

struct ModelConfiguration {
    ComputeUnits computeUnits = ComputeUnits::all;
    bool allowLowPrecisionAccumulationOnGPU = false;
    // Threads one prediction may use; 0 leaves it to the bundle (default 1).
    int threadCount = 0;
    friend bool operator==(const ModelConfiguration&, const ModelConfiguration&) = default;
};

struct PredictionOptions {
    // Arrays the named outputs are written into; the prediction returns these
    // same arrays as the outputs. All inputs are read before any output is
    // written, so a backing may be an input of the same prediction.
    std::map<std::string, MultiArray, std::less<>> outputBackings;
};

// The state arrays of one session of a stateful model (for example a
// decoder's key/value cache), made by Model::makeState and updated in place by
// each prediction that is given it. Copies share the arrays.
class State {
public:
    State() = default;
    explicit State(std::map<std::string, MultiArray, std::less<>> arrays) : arrays_(std::move(arrays)) {}
    std::optional<MultiArray> array(std::string_view name) const;
    const std::map<std::string, MultiArray, std::less<>>& arrays() const { return arrays_; }

private:
    std::map<std::string, MultiArray, std::less<>> arrays_;
};

// A loaded bundle as a runtime sees it.
struct ModelBundle {
    std::filesystem::path path;
    ModelDescription description;
    std::string runtime;
    std::string runtimeOptionsJson;  // the manifest's "runtimeOptions" object as JSON text ("{}" when absent)
};

struct PredictionRequest {
    const ModelBundle& bundle;
    const ModelConfiguration& configuration;
    const FeatureProvider& inputs;  // already checked against the description
    const State* state;             // for stateful models, else null
    const PredictionOptions& options;
};

// One loaded model inside a runtime. Must be safe to call from several threads at once.
class ModelEngine {
public:
    virtual ~ModelEngine() = default;
    // New output values; the caller copies them into backings. Read the inputs
    // (and state) fully before writing state arrays.
    virtual Result<FeatureMap> predict(const PredictionRequest& request) = 0;
    // The asynchronous form; by default the synchronous one on the ml layer's
    // worker pool, after which the awaiting task resumes on its own executor.
    virtual Task<Result<FeatureMap>> predictAsync(const PredictionRequest& request);
    // A runtime may refuse caller-provided output buffers; callers then predict without them.
    virtual Status acceptOutputBackings(const PredictionRequest& request);
    // A description read from the model itself, used when the manifest gives none.
    virtual std::optional<ModelDescription> graphDescription() const { return std::nullopt; }
};

// The worker pool asynchronous predictions run on by default (made on first use, never destroyed).
Executor& predictionExecutor();

class ModelRuntime {
public:
    virtual ~ModelRuntime() = default;
    virtual std::string name() const = 0;
    virtual Result<std::unique_ptr<ModelEngine>> load(const ModelBundle& bundle,
                                                      const ModelConfiguration& configuration) = 0;
};

// The runtimes available to this process, by name. Thread-safe.
class RuntimeRegistry {
public:
    // The process's registry; made on first use with every runtime that can
    // run here (ONNX Runtime when its library opens).
    static RuntimeRegistry& shared();
    void add(std::shared_ptr<ModelRuntime> runtime);
    void remove(const std::string& name);
    std::shared_ptr<ModelRuntime> find(const std::string& name) const;
    std::vector<std::string> names() const;

private:
    mutable std::mutex mutex_;
    std::map<std::string, std::shared_ptr<ModelRuntime>> runtimes_;
};

// Registers a runtime with the shared registry for its lifetime.
class ScopedRuntimeRegistration {
public:
    explicit ScopedRuntimeRegistration(std::shared_ptr<ModelRuntime> runtime);
    ~ScopedRuntimeRegistration();
    ScopedRuntimeRegistration(const ScopedRuntimeRegistration&) = delete;
    ScopedRuntimeRegistration& operator=(const ScopedRuntimeRegistration&) = delete;

private:
    std::string name_;
};

// A loaded model. A handle: copies share one loaded model. Predictions are
// thread-safe.
class Model {
public:
    // Loads the compiled bundle directory at `path` with the runtime its manifest names.
    static Result<Model> load(const std::filesystem::path& path, const ModelConfiguration& configuration = {},
                              const RuntimeRegistry& registry = RuntimeRegistry::shared());

    const ModelDescription& modelDescription() const;
    const ModelConfiguration& configuration() const;
    const std::filesystem::path& bundlePath() const;

    Result<DictionaryFeatureProvider> prediction(const FeatureProvider& input,
                                                 const PredictionOptions& options = {}) const;
    // For stateful models: `state` comes from makeState and is updated in place.
    Result<DictionaryFeatureProvider> prediction(const FeatureProvider& input, const State& state,
                                                 const PredictionOptions& options = {}) const;
    // The asynchronous forms. The task keeps what it needs of `input` (its
    // feature values, which share the arrays) and of `state` (its arrays), so
    // temporaries may be passed; the arrays themselves must not change until
    // the task ends.
    Task<Result<DictionaryFeatureProvider>> predictionAsync(const FeatureProvider& input,
                                                            PredictionOptions options = {}) const;
    Task<Result<DictionaryFeatureProvider>> predictionAsync(const FeatureProvider& input, const State& state,
                                                            PredictionOptions options = {}) const;
    // One prediction per provider, in order; the first failure ends the batch.
    Result<std::vector<DictionaryFeatureProvider>> predictions(const BatchProvider& batch,
                                                               const PredictionOptions& options = {}) const;
    // Fresh zero-filled state arrays for a stateful model.
    Result<State> makeState() const;

private:
    struct Impl;
    static Task<Result<DictionaryFeatureProvider>> runAsync(std::shared_ptr<const Impl> impl,
                                                            DictionaryFeatureProvider input,
                                                            std::optional<State> state, PredictionOptions options);
    std::shared_ptr<const Impl> impl_;
};

// Compiles the model package at `package` into a compiled bundle in a new
// temporary folder ("<stem>.mlmodelc") and returns its path. The caller moves
// it where it belongs.
Result<std::filesystem::path> compileModel(const std::filesystem::path& package);
// The same, with the temporary folder made under `temporaryRoot`.
Result<std::filesystem::path> compileModel(const std::filesystem::path& package,
                                           const std::filesystem::path& temporaryRoot);

// Writes a bundle directory (a compiled bundle, or a package when `package`
// is true) with its manifest; extra files are the runtime's business.
Status writeModelBundle(const std::filesystem::path& directory, const ModelDescription& description,
                        std::string_view runtime, std::string_view runtimeOptionsJson = "{}", bool package = false);

}  // namespace platform::ml
