#include "platform/ml/Model.h"

#include <nlohmann/json.hpp>

#include <fmt/format.h>

#include <cstdlib>
#include <system_error>
#include <thread>

#include "platform/log/Log.h"
#include "platform/ml/OnnxModelRuntime.h"
#include "platform/runtime/WorkerPool.h"
#include "platform/values/Files.h"

namespace platform::ml {

using Json = nlohmann::ordered_json;
namespace fs = std::filesystem;

std::string_view computeUnitsName(ComputeUnits units) {
    switch (units) {
        case ComputeUnits::cpuOnly: return "cpuOnly";
        case ComputeUnits::cpuAndGPU: return "cpuAndGPU";
        case ComputeUnits::all: return "all";
        case ComputeUnits::cpuAndNeuralEngine: return "cpuAndNeuralEngine";
    }
    return "all";
}

std::optional<MultiArray> State::array(std::string_view name) const {
    auto it = arrays_.find(name);
    if (it == arrays_.end()) return std::nullopt;
    return it->second;
}

Executor& predictionExecutor() {
    static WorkerPool* pool = new WorkerPool(std::max(2u, std::thread::hardware_concurrency()));
    return *pool;
}

Task<Result<FeatureMap>> ModelEngine::predictAsync(const PredictionRequest& request) {
    Executor& caller = co_await currentExecutor();
    co_await resumeOn(predictionExecutor());
    auto produced = predict(request);
    co_await resumeOn(caller);
    co_return produced;
}

Status ModelEngine::acceptOutputBackings(const PredictionRequest&) { return ok(); }

RuntimeRegistry& RuntimeRegistry::shared() {
    static RuntimeRegistry* registry = [] {
        auto* r = new RuntimeRegistry;
        if (auto s = registerOnnxRuntime(*r); !s)
            Logger("com.corvexa", "OnnxRuntime").notice("ONNX models cannot run: {}", s.error().description);
        return r;
    }();
    return *registry;
}

void RuntimeRegistry::add(std::shared_ptr<ModelRuntime> runtime) {
    std::lock_guard lock(mutex_);
    runtimes_[runtime->name()] = std::move(runtime);
}

void RuntimeRegistry::remove(const std::string& name) {
    std::lock_guard lock(mutex_);
    runtimes_.erase(name);
}

std::shared_ptr<ModelRuntime> RuntimeRegistry::find(const std::string& name) const {
    std::lock_guard lock(mutex_);
    auto it = runtimes_.find(name);
    return it == runtimes_.end() ? nullptr : it->second;
}

std::vector<std::string> RuntimeRegistry::names() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> out;
    for (const auto& [name, _] : runtimes_) out.push_back(name);
    return out;
}

ScopedRuntimeRegistration::ScopedRuntimeRegistration(std::shared_ptr<ModelRuntime> runtime) : name_(runtime->name()) {
    RuntimeRegistry::shared().add(std::move(runtime));
}

ScopedRuntimeRegistration::~ScopedRuntimeRegistration() { RuntimeRegistry::shared().remove(name_); }

namespace {

struct Manifest {
    std::string kind;
    std::string runtime;
    std::string runtimeOptionsJson;
    ModelDescription description;
};

Result<Manifest> readManifest(const fs::path& bundle) {
    std::error_code ec;
    if (!fs::is_directory(bundle, ec))
        return fail(mlError(MLErrorCode::io, fmt::format("No model bundle at {}", bundle.string())));
    const fs::path file = bundle / kManifestFileName;
    if (!fs::is_regular_file(file, ec))
        return fail(mlError(MLErrorCode::io, fmt::format("{} is not a model bundle: it has no {}", bundle.string(),
                                                          kManifestFileName)));
    auto bytes = readFile(file);
    if (!bytes)
        return fail(
            mlError(MLErrorCode::io, fmt::format("Cannot read {}", file.string())).withUnderlying(bytes.error()));
    try {
        const Json j = Json::parse(bytes->begin(), bytes->end());
        Manifest m;
        m.kind = j.value("kind", "compiled");
        if (!j.contains("runtime") || !j["runtime"].is_string() || j["runtime"].get<std::string>().empty())
            return fail(mlError(MLErrorCode::io, fmt::format("The manifest of {} names no runtime", bundle.string())));
        m.runtime = j["runtime"].get<std::string>();
        m.runtimeOptionsJson = j.contains("runtimeOptions") ? j["runtimeOptions"].dump() : "{}";
        // Without a description the runtime may read one from the model (see Model::load).
        if (!j.contains("description")) return m;
        auto d = descriptionFromJson(j["description"].dump());
        if (!d) return fail(d.error());
        m.description = std::move(*d);
        return m;
    } catch (const std::exception& e) {
        return fail(mlError(MLErrorCode::io, fmt::format("The manifest of {} is not valid JSON: {}", bundle.string(),
                                                          e.what())));
    }
}

std::string typeText(const FeatureValue& v) {
    if (auto a = v.multiArrayValue())
        return fmt::format("{} array of shape {}", dataTypeName(a->dataType()), shapeText(a->shape()));
    return std::string(featureTypeName(v.type()));
}

Status checkArray(std::string_view role, std::string_view name, const MultiArray& a, const MultiArrayConstraint& c) {
    if (a.dataType() != c.dataType)
        return fail(mlError(MLErrorCode::featureType,
                            fmt::format("{} \"{}\" has data type {} ({}), but the model expects {} ({})", role, name,
                                        dataTypeName(a.dataType()), rawValue(a.dataType()), dataTypeName(c.dataType),
                                        rawValue(c.dataType))));
    if (!c.allows(a.shape()))
        return fail(mlError(MLErrorCode::featureType,
                            fmt::format("{} \"{}\" has shape {}, which the model does not accept (expected {})", role,
                                        name, shapeText(a.shape()), shapeText(c.shape))));
    return ok();
}

Status checkValue(std::string_view role, const FeatureDescription& d, const FeatureValue& v) {
    if (v.type() != d.type)
        return fail(mlError(MLErrorCode::featureType,
                            fmt::format("{} \"{}\" is a {}, but the model expects a {}", role, d.name, typeText(v),
                                        featureTypeName(d.type))));
    if (auto a = v.multiArrayValue(); a && d.multiArrayConstraint) return checkArray(role, d.name, *a, *d.multiArrayConstraint);
    return ok();
}

Status checkInputs(const ModelDescription& description, const FeatureProvider& inputs) {
    for (const auto& name : inputs.featureNames()) {
        if (!description.input(name)) {
            std::vector<std::string> known;
            for (const auto& f : description.inputs) known.push_back(f.name);
            return fail(mlError(MLErrorCode::featureType,
                                fmt::format("Feature \"{}\" is not an input of this model (inputs: {})", name,
                                            fmt::join(known, ", "))));
        }
    }
    for (const auto& d : description.inputs) {
        auto v = inputs.featureValue(d.name);
        if (!v) {
            if (d.isOptional) continue;
            return fail(mlError(MLErrorCode::featureType, fmt::format("Required input \"{}\" is missing", d.name)));
        }
        if (auto s = checkValue("Input", d, *v); !s) return s;
    }
    return ok();
}

Status checkState(const ModelDescription& description, const State* state) {
    if (description.states.empty()) {
        if (state) return fail(mlError(MLErrorCode::generic, "This model is not stateful but was given a state"));
        return ok();
    }
    if (!state) return fail(mlError(MLErrorCode::generic, "This model is stateful; predict with a state from makeState"));
    for (const auto& d : description.states) {
        auto a = state->array(d.name);
        if (!a) return fail(mlError(MLErrorCode::featureType, fmt::format("State \"{}\" is missing", d.name)));
        if (d.multiArrayConstraint)
            if (auto s = checkArray("State", d.name, *a, *d.multiArrayConstraint); !s) return s;
    }
    return ok();
}

Status checkBackings(const ModelDescription& description, const PredictionOptions& options) {
    for (const auto& [name, backing] : options.outputBackings) {
        const auto* d = description.output(name);
        if (!d || d->type != FeatureType::multiArray)
            return fail(mlError(MLErrorCode::featureType,
                                fmt::format("Output backing \"{}\" names no array output of this model", name)));
        if (!backing)
            return fail(mlError(MLErrorCode::featureType, fmt::format("Output backing \"{}\" is empty", name)));
        if (d->multiArrayConstraint)
            if (auto s = checkArray("Output backing", name, backing, *d->multiArrayConstraint); !s) return s;
    }
    return ok();
}

}  // namespace

struct Model::Impl {
    ModelBundle bundle;
    ModelConfiguration configuration;
    std::unique_ptr<ModelEngine> engine;

    Status prepare(const PredictionRequest& request) const {
        if (auto s = checkInputs(bundle.description, request.inputs); !s) return s;
        if (auto s = checkState(bundle.description, request.state); !s) return s;
        if (!request.options.outputBackings.empty()) {
            if (auto s = checkBackings(bundle.description, request.options); !s) return s;
            if (auto s = engine->acceptOutputBackings(request); !s) return s;
        }
        return ok();
    }

    Result<DictionaryFeatureProvider> finish(Result<FeatureMap> produced, const PredictionOptions& options) const {
        if (!produced) return fail(produced.error());
        FeatureMap& outputs = *produced;
        for (const auto& [name, value] : outputs) {
            const auto* d = bundle.description.output(name);
            if (!d)
                return fail(mlError(MLErrorCode::generic,
                                    fmt::format("The runtime returned \"{}\", which is not an output of the model", name)));
            if (auto s = checkValue("Output", *d, value); !s) return fail(s.error());
        }
        for (const auto& d : bundle.description.outputs) {
            if (!d.isOptional && !outputs.count(d.name))
                return fail(mlError(MLErrorCode::generic, fmt::format("The runtime returned no output \"{}\"", d.name)));
        }
        // Check every backing before writing any, so a failure writes nothing.
        for (const auto& [name, backing] : options.outputBackings) {
            auto it = outputs.find(name);
            if (it == outputs.end())
                return fail(mlError(MLErrorCode::generic, fmt::format("No output \"{}\" for its backing", name)));
            const auto out = *it->second.multiArrayValue();
            if (out.shape() != backing.shape())
                return fail(mlError(MLErrorCode::featureType,
                                    fmt::format("Output \"{}\" has shape {}, its backing {}", name,
                                                shapeText(out.shape()), shapeText(backing.shape()))));
        }
        for (const auto& [name, backing] : options.outputBackings) {
            auto it = outputs.find(name);
            if (auto s = backing.copyFrom(*it->second.multiArrayValue()); !s) return fail(s.error());
            it->second = FeatureValue(backing);
        }
        return DictionaryFeatureProvider(std::move(outputs));
    }

    Result<DictionaryFeatureProvider> run(const FeatureProvider& input, const State* state,
                                          const PredictionOptions& options) const {
        PredictionRequest request{bundle, configuration, input, state, options};
        if (auto s = prepare(request); !s) return fail(s.error());
        return finish(engine->predict(request), options);
    }
};

Task<Result<DictionaryFeatureProvider>> Model::runAsync(std::shared_ptr<const Impl> impl, DictionaryFeatureProvider input,
                                                        std::optional<State> state, PredictionOptions options) {
    PredictionRequest request{impl->bundle, impl->configuration, input, state ? &*state : nullptr, options};
    if (auto s = impl->prepare(request); !s) co_return fail(s.error());
    auto produced = co_await impl->engine->predictAsync(request);
    co_return impl->finish(std::move(produced), options);
}

Result<Model> Model::load(const fs::path& path, const ModelConfiguration& configuration,
                          const RuntimeRegistry& registry) {
    auto manifest = readManifest(path);
    if (!manifest) return fail(manifest.error());
    if (manifest->kind == "package")
        return fail(mlError(MLErrorCode::io,
                            fmt::format("{} is a model package; compile it before loading", path.string())));
    if (manifest->kind != "compiled")
        return fail(mlError(MLErrorCode::io, fmt::format("{} has an unknown bundle kind \"{}\"", path.string(),
                                                          manifest->kind)));
    auto runtime = registry.find(manifest->runtime);
    if (!runtime)
        return fail(mlError(MLErrorCode::runtimeUnavailable,
                            fmt::format("The model at {} needs the runtime \"{}\", which is not available in this "
                                        "build (available: {})",
                                        path.string(), manifest->runtime,
                                        registry.names().empty() ? std::string("none")
                                                                 : fmt::format("{}", fmt::join(registry.names(), ", ")))));
    auto impl = std::make_shared<Impl>();
    impl->bundle = ModelBundle{path, std::move(manifest->description), manifest->runtime,
                               std::move(manifest->runtimeOptionsJson)};
    impl->configuration = configuration;
    auto engine = runtime->load(impl->bundle, configuration);
    if (!engine) return fail(engine.error());
    impl->engine = std::move(*engine);
    auto& d = impl->bundle.description;
    if (d.inputs.empty() && d.outputs.empty()) {
        if (auto described = impl->engine->graphDescription()) d = std::move(*described);
        else if (d.states.empty())
            return fail(mlError(MLErrorCode::io,
                                fmt::format("The manifest of {} has no model description", path.string())));
    }
    Model m;
    m.impl_ = std::move(impl);
    return m;
}

const ModelDescription& Model::modelDescription() const { return impl_->bundle.description; }
const ModelConfiguration& Model::configuration() const { return impl_->configuration; }
const fs::path& Model::bundlePath() const { return impl_->bundle.path; }

Result<DictionaryFeatureProvider> Model::prediction(const FeatureProvider& input, const PredictionOptions& options) const {
    return impl_->run(input, nullptr, options);
}

Result<DictionaryFeatureProvider> Model::prediction(const FeatureProvider& input, const State& state,
                                                    const PredictionOptions& options) const {
    return impl_->run(input, &state, options);
}

namespace {
// The provider's features as values the task owns (handles: no array is copied).
DictionaryFeatureProvider ownedCopy(const FeatureProvider& input) {
    FeatureMap features;
    for (const auto& name : input.featureNames())
        if (auto v = input.featureValue(name)) features.emplace(name, std::move(*v));
    return DictionaryFeatureProvider(std::move(features));
}
}  // namespace

Task<Result<DictionaryFeatureProvider>> Model::predictionAsync(const FeatureProvider& input,
                                                               PredictionOptions options) const {
    return runAsync(impl_, ownedCopy(input), std::nullopt, std::move(options));
}

Task<Result<DictionaryFeatureProvider>> Model::predictionAsync(const FeatureProvider& input, const State& state,
                                                               PredictionOptions options) const {
    return runAsync(impl_, ownedCopy(input), state, std::move(options));
}

Result<std::vector<DictionaryFeatureProvider>> Model::predictions(const BatchProvider& batch,
                                                                  const PredictionOptions& options) const {
    std::vector<DictionaryFeatureProvider> out;
    out.reserve(batch.count());
    for (std::size_t i = 0; i < batch.count(); ++i) {
        auto r = impl_->run(batch.features(i), nullptr, options);
        if (!r) return fail(r.error());
        out.push_back(std::move(*r));
    }
    return out;
}

Result<State> Model::makeState() const {
    const auto& states = impl_->bundle.description.states;
    if (states.empty()) return fail(mlError(MLErrorCode::generic, "This model is not stateful"));
    std::map<std::string, MultiArray, std::less<>> arrays;
    for (const auto& d : states) {
        if (!d.multiArrayConstraint)
            return fail(mlError(MLErrorCode::generic, fmt::format("State \"{}\" has no array description", d.name)));
        const auto& c = *d.multiArrayConstraint;
        Shape shape = c.shape;
        if (c.shapeConstraint.kind == ShapeConstraint::Kind::enumerated && !c.shapeConstraint.enumeratedShapes.empty())
            shape = c.shapeConstraint.enumeratedShapes.front();
        auto a = MultiArray::make(shape, c.dataType);
        if (!a) return fail(a.error());
        arrays.emplace(d.name, std::move(*a));
    }
    return State(std::move(arrays));
}

Status writeModelBundle(const fs::path& directory, const ModelDescription& description, std::string_view runtime,
                        std::string_view runtimeOptionsJson, bool package) {
    Json j;
    j["formatVersion"] = 1;
    j["kind"] = package ? "package" : "compiled";
    j["runtime"] = std::string(runtime);
    try {
        j["runtimeOptions"] = Json::parse(runtimeOptionsJson.empty() ? std::string_view("{}") : runtimeOptionsJson);
    } catch (const std::exception& e) {
        return fail(mlError(MLErrorCode::io, fmt::format("Runtime options are not valid JSON: {}", e.what())));
    }
    j["description"] = Json::parse(descriptionToJson(description));
    const fs::path file = directory / kManifestFileName;
    if (auto written = writeFileAtomically(file, j.dump(2) + '\n'); !written)
        return fail(
            mlError(MLErrorCode::io, fmt::format("Cannot write {}", file.string())).withUnderlying(written.error()));
    return ok();
}

Result<fs::path> compileModel(const fs::path& package) {
    std::error_code ec;
    const fs::path root = fs::temp_directory_path(ec);
    if (ec) return fail(mlError(MLErrorCode::io, "No temporary folder to compile into: " + ec.message()));
    return compileModel(package, root);
}

Result<fs::path> compileModel(const fs::path& package, const fs::path& temporaryRoot) {
    auto manifest = readManifest(package);
    if (!manifest) return fail(manifest.error());
    if (manifest->kind != "package")
        return fail(mlError(MLErrorCode::io, fmt::format("{} is not a model package", package.string())));
    std::string pattern = (temporaryRoot / "parlowen-ml-compile-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        return fail(mlError(MLErrorCode::io, fmt::format("Cannot make a folder under {}", temporaryRoot.string())));
    const fs::path out = fs::path(pattern) / (package.stem().string() + ".mlmodelc");
    std::error_code ec;
    fs::copy(package, out, fs::copy_options::recursive, ec);
    if (ec) {
        fs::remove_all(pattern, ec);
        return fail(mlError(MLErrorCode::io, fmt::format("Cannot copy {}: {}", package.string(), ec.message())));
    }
    if (auto s = writeModelBundle(out, manifest->description, manifest->runtime, manifest->runtimeOptionsJson); !s) {
        fs::remove_all(pattern, ec);
        return fail(s.error());
    }
    return out;
}

}  // namespace platform::ml
