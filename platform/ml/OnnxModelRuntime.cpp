#include "platform/ml/OnnxModelRuntime.h"

#include <dlfcn.h>

#include <nlohmann/json.hpp>

#include <fmt/format.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <system_error>

#include "platform/log/Log.h"
#include "platform/ml/OnnxRuntimeLibrary.h"

#ifndef PARLOWEN_ORT_PREFIX_PATH
#define PARLOWEN_ORT_PREFIX_PATH "/opt/parlowen/onnxruntime-1.29.0"
#endif

namespace platform::ml {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

fs::path onnxRuntimePrefix() { return PARLOWEN_ORT_PREFIX_PATH; }
fs::path defaultOnnxRuntimeLibrary() { return onnxRuntimePrefix() / "lib" / "libonnxruntime.so.1"; }

namespace {

std::string_view ortCodeName(OrtErrorCode code) {
    switch (code) {
        case ORT_OK: return "ok";
        case ORT_FAIL: return "fail";
        case ORT_INVALID_ARGUMENT: return "invalidArgument";
        case ORT_NO_SUCHFILE: return "noSuchFile";
        case ORT_NO_MODEL: return "noModel";
        case ORT_ENGINE_ERROR: return "engineError";
        case ORT_RUNTIME_EXCEPTION: return "runtimeException";
        case ORT_INVALID_PROTOBUF: return "invalidProtobuf";
        case ORT_MODEL_LOADED: return "modelLoaded";
        case ORT_NOT_IMPLEMENTED: return "notImplemented";
        case ORT_INVALID_GRAPH: return "invalidGraph";
        case ORT_EP_FAIL: return "epFail";
        default: return "other";
    }
}

// ORT's log goes to the speech package's log, under its default subsystem.
void logFromOrt(void*, OrtLoggingLevel severity, const char* category, const char*, const char* location,
                const char* message) {
    static const Logger log("com.corvexa", "OnnxRuntime");
    LogLevel level = LogLevel::debug;
    switch (severity) {
        case ORT_LOGGING_LEVEL_VERBOSE: level = LogLevel::debug; break;
        case ORT_LOGGING_LEVEL_INFO: level = LogLevel::info; break;
        case ORT_LOGGING_LEVEL_WARNING: level = LogLevel::notice; break;
        case ORT_LOGGING_LEVEL_ERROR: level = LogLevel::error; break;
        case ORT_LOGGING_LEVEL_FATAL: level = LogLevel::fault; break;
    }
    if (!log.isEnabled(level)) return;
    log.write(level, fmt::format("[{}] {} ({})", category ? category : "", message ? message : "",
                                 location ? location : ""));
}

Error unavailable(std::string description) { return mlError(MLErrorCode::runtimeUnavailable, std::move(description)); }

// Opens one library file, once per process: ORT allows one environment per
// process, and a library that made one must stay loaded.
Result<std::shared_ptr<const OnnxRuntimeLibrary>> openLibrary(const std::string& path) {
    static std::mutex mutex;
    static std::map<void*, std::shared_ptr<const OnnxRuntimeLibrary>> opened;
    std::lock_guard lock(mutex);
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* why = dlerror();
        return fail(unavailable(fmt::format("Cannot open ONNX Runtime at {}: {}", path, why ? why : "unknown error")));
    }
    if (auto it = opened.find(handle); it != opened.end()) {
        dlclose(handle);  // drops the extra reference taken just now
        return it->second;
    }
    using GetApiBase = const OrtApiBase* (*)();
    auto getApiBase = reinterpret_cast<GetApiBase>(dlsym(handle, "OrtGetApiBase"));
    if (!getApiBase) {
        dlclose(handle);
        return fail(unavailable(fmt::format("{} is not ONNX Runtime: it has no OrtGetApiBase", path)));
    }
    const OrtApiBase* base = getApiBase();
    const char* version = base ? base->GetVersionString() : "unknown";
    const OrtApi* api = base ? base->GetApi(ORT_API_VERSION) : nullptr;
    if (!api) {
        dlclose(handle);
        return fail(unavailable(fmt::format("ONNX Runtime {} at {} does not offer API version {}", version, path,
                                            ORT_API_VERSION)));
    }
    auto library = std::make_shared<OnnxRuntimeLibrary>();
    library->path = path;
    library->version = version;
    library->handle = handle;
    library->api = api;
    if (auto s = library->check(
            api->CreateEnvWithCustomLogger(logFromOrt, nullptr, ORT_LOGGING_LEVEL_WARNING, "parlowen", &library->env));
        !s) {
        // Kept open all the same: ORT may have started something that needs its code.
        return fail(unavailable(fmt::format("ONNX Runtime at {} cannot start", path)).withUnderlying(s.error()));
    }
    (void)library->check(api->DisableTelemetryEvents(library->env));
    opened.emplace(handle, library);
    return std::shared_ptr<const OnnxRuntimeLibrary>(library);
}

// ---- Graph information

struct GraphTensor {
    std::string name;
    std::optional<DataType> type;  // none: an element type the layer has no array type for
    std::string typeText;          // ORT's element type number, for messages about unsupported ones
    Shape dims;                    // -1 for a dimension the graph leaves open
};

std::optional<DataType> dataTypeOf(ONNXTensorElementDataType type) {
    switch (type) {
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT16: return DataType::float16;
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT: return DataType::float32;
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_DOUBLE: return DataType::float64;
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_INT8: return DataType::int8;
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_INT32: return DataType::int32;
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_INT64: return DataType::int64;
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_UINT8: return DataType::uint8;
        case ONNX_TENSOR_ELEMENT_DATA_TYPE_BOOL: return DataType::boolean;
        default: return std::nullopt;
    }
}

ONNXTensorElementDataType onnxTypeOf(DataType type) {
    switch (type) {
        case DataType::float16: return ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT16;
        case DataType::float32: return ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT;
        case DataType::float64: return ONNX_TENSOR_ELEMENT_DATA_TYPE_DOUBLE;
        case DataType::int8: return ONNX_TENSOR_ELEMENT_DATA_TYPE_INT8;
        case DataType::int32: return ONNX_TENSOR_ELEMENT_DATA_TYPE_INT32;
        case DataType::int64: return ONNX_TENSOR_ELEMENT_DATA_TYPE_INT64;
        case DataType::uint8: return ONNX_TENSOR_ELEMENT_DATA_TYPE_UINT8;
        case DataType::boolean: return ONNX_TENSOR_ELEMENT_DATA_TYPE_BOOL;
    }
    return ONNX_TENSOR_ELEMENT_DATA_TYPE_UNDEFINED;
}

// Releases ORT objects at scope exit.
template <class T>
struct OrtHandle {
    const OrtApi* api = nullptr;
    void (*release)(T*) = nullptr;
    T* value = nullptr;
    OrtHandle(const OrtApi* a, void (*r)(T*)) : api(a), release(r) {}
    ~OrtHandle() {
        if (value) release(value);
    }
    OrtHandle(const OrtHandle&) = delete;
    OrtHandle& operator=(const OrtHandle&) = delete;
};

Result<GraphTensor> describeGraphTensor(const OnnxRuntimeLibrary& lib, std::string name, OrtTypeInfo* info) {
    const OrtApi* api = lib.api;
    OrtHandle<OrtTypeInfo> owned(api, api->ReleaseTypeInfo);
    owned.value = info;
    ONNXType kind = ONNX_TYPE_UNKNOWN;
    if (auto s = lib.check(api->GetOnnxTypeFromTypeInfo(info, &kind)); !s) return fail(s.error());
    GraphTensor t;
    t.name = std::move(name);
    if (kind != ONNX_TYPE_TENSOR) {
        t.typeText = fmt::format("a non-tensor value (ONNX type {})", static_cast<int>(kind));
        return t;
    }
    const OrtTensorTypeAndShapeInfo* tensor = nullptr;
    if (auto s = lib.check(api->CastTypeInfoToTensorInfo(info, &tensor)); !s) return fail(s.error());
    ONNXTensorElementDataType element = ONNX_TENSOR_ELEMENT_DATA_TYPE_UNDEFINED;
    std::size_t rank = 0;
    if (auto s = lib.check(api->GetTensorElementType(tensor, &element)); !s) return fail(s.error());
    if (auto s = lib.check(api->GetDimensionsCount(tensor, &rank)); !s) return fail(s.error());
    t.dims.resize(rank);
    if (auto s = lib.check(api->GetDimensions(tensor, t.dims.data(), rank)); !s) return fail(s.error());
    for (auto& d : t.dims)
        if (d < 0) d = -1;
    t.type = dataTypeOf(element);
    t.typeText = t.type ? std::string(dataTypeName(*t.type)) : fmt::format("ONNX element type {}", static_cast<int>(element));
    return t;
}

std::string dimsText(const Shape& dims) {
    std::vector<std::string> parts;
    for (auto d : dims) parts.push_back(d < 0 ? "?" : std::to_string(d));
    return fmt::format("[{}]", fmt::join(parts, ", "));
}

// ---- Manifest options

struct StateBinding {
    std::string input;
    std::string output;
};

struct OnnxOptions {
    std::string model;
    std::map<std::string, std::string, std::less<>> inputs;   // feature → graph
    std::map<std::string, std::string, std::less<>> outputs;  // feature → graph
    std::map<std::string, StateBinding, std::less<>> states;  // state array → graph
    int intraOpThreads = 0;
    GraphOptimizationLevel optimization = ORT_ENABLE_ALL;
};

Error optionsError(const ModelBundle& bundle, std::string why) {
    return mlError(MLErrorCode::io,
                   fmt::format("The ONNX runtime options of {} are invalid: {}", bundle.path.string(), std::move(why)));
}

Result<OnnxOptions> readOptions(const ModelBundle& bundle) {
    OnnxOptions o;
    Json j;
    try {
        j = Json::parse(bundle.runtimeOptionsJson);
    } catch (const std::exception& e) {
        return fail(optionsError(bundle, e.what()));
    }
    if (!j.is_object()) return fail(optionsError(bundle, "they are not a JSON object"));
    try {
        if (j.contains("model")) o.model = j["model"].get<std::string>();
        for (auto [key, target] : {std::pair{"inputs", &o.inputs}, std::pair{"outputs", &o.outputs}}) {
            if (!j.contains(key)) continue;
            if (!j[key].is_object()) return fail(optionsError(bundle, fmt::format("\"{}\" is not an object", key)));
            for (const auto& [feature, graph] : j[key].items()) target->emplace(feature, graph.get<std::string>());
        }
        if (j.contains("states")) {
            if (!j["states"].is_object()) return fail(optionsError(bundle, "\"states\" is not an object"));
            for (const auto& [state, binding] : j["states"].items()) {
                if (!binding.is_object() || !binding.contains("input") || !binding.contains("output"))
                    return fail(optionsError(
                        bundle, fmt::format("state \"{}\" needs {{\"input\": ..., \"output\": ...}}", state)));
                o.states.emplace(state, StateBinding{binding["input"].get<std::string>(),
                                                     binding["output"].get<std::string>()});
            }
        }
        if (j.contains("intraOpThreads")) {
            o.intraOpThreads = j["intraOpThreads"].get<int>();
            if (o.intraOpThreads < 1) return fail(optionsError(bundle, "\"intraOpThreads\" must be at least 1"));
        }
        if (j.contains("optimizationLevel")) {
            const auto level = j["optimizationLevel"].get<std::string>();
            if (level == "disabled") o.optimization = ORT_DISABLE_ALL;
            else if (level == "basic") o.optimization = ORT_ENABLE_BASIC;
            else if (level == "extended") o.optimization = ORT_ENABLE_EXTENDED;
            else if (level == "all") o.optimization = ORT_ENABLE_ALL;
            else
                return fail(optionsError(bundle, fmt::format("unknown \"optimizationLevel\" \"{}\" (disabled, basic, "
                                                             "extended, all)",
                                                             level)));
        }
    } catch (const std::exception& e) {
        return fail(optionsError(bundle, e.what()));
    }
    return o;
}

// The model file inside the bundle; never a path that leaves it.
Result<fs::path> modelFile(const ModelBundle& bundle, const OnnxOptions& options) {
    std::error_code ec;
    if (options.model.empty()) {
        std::vector<fs::path> found;
        for (const auto& entry : fs::directory_iterator(bundle.path, ec))
            if (entry.path().extension() == ".onnx") found.push_back(entry.path());
        if (found.size() != 1)
            return fail(mlError(MLErrorCode::io,
                                fmt::format("The bundle {} has {} .onnx files; its manifest must name one as \"model\"",
                                            bundle.path.string(), found.size())));
        return found.front();
    }
    const fs::path relative(options.model);
    if (relative.is_absolute() || relative.empty() ||
        std::any_of(relative.begin(), relative.end(), [](const fs::path& p) { return p == ".."; }))
        return fail(optionsError(bundle, fmt::format("\"model\" \"{}\" must name a file inside the bundle", options.model)));
    const fs::path file = bundle.path / relative;
    if (!fs::is_regular_file(file, ec))
        return fail(mlError(MLErrorCode::io, fmt::format("The ONNX model file {} is missing", file.string())));
    if (fs::file_size(file, ec) == 0)
        return fail(mlError(MLErrorCode::io, fmt::format("The ONNX model file {} is empty", file.string())));
    return file;
}

std::string mapped(const std::map<std::string, std::string, std::less<>>& map, const std::string& feature) {
    auto it = map.find(feature);
    return it == map.end() ? feature : it->second;
}

// ---- Checking a description against the graph

// The shapes a description names for a feature (the default one and any enumerated ones).
std::vector<Shape> namedShapes(const MultiArrayConstraint& c) {
    std::vector<Shape> shapes;
    if (!c.shape.empty()) shapes.push_back(c.shape);
    if (c.shapeConstraint.kind == ShapeConstraint::Kind::enumerated)
        for (const auto& s : c.shapeConstraint.enumeratedShapes) shapes.push_back(s);
    return shapes;
}

Status checkAgainstGraph(std::string_view role, const std::string& feature, const FeatureDescription& d,
                         const GraphTensor& g) {
    auto mismatch = [&](std::string why) {
        return fail(mlError(MLErrorCode::featureType,
                            fmt::format("{} \"{}\" does not match the graph's \"{}\": {}", role, feature, g.name, why)));
    };
    if (!g.type) return mismatch(fmt::format("the graph's is {}, which the ml layer cannot hold", g.typeText));
    if (d.type == FeatureType::int64 || d.type == FeatureType::float64) {
        const bool numberFits = d.type == FeatureType::int64 ? *g.type == DataType::int64
                                                             : (*g.type == DataType::float64 || *g.type == DataType::float32);
        if (!numberFits) return mismatch(fmt::format("a {} feature cannot feed {}", featureTypeName(d.type), g.typeText));
        if (elementCount(g.dims) != 1 || g.dims.size() > 1)
            return mismatch(fmt::format("a single number cannot fill shape {}", dimsText(g.dims)));
        return ok();
    }
    if (d.type != FeatureType::multiArray && d.type != FeatureType::state)
        return mismatch(fmt::format("{} features cannot feed a tensor", featureTypeName(d.type)));
    if (!d.multiArrayConstraint) return ok();
    const auto& c = *d.multiArrayConstraint;
    if (c.dataType != *g.type)
        return mismatch(fmt::format("the description says {}, the graph {}", dataTypeName(c.dataType), g.typeText));
    auto checkShape = [&](const Shape& s) -> Status {
        if (s.size() != g.dims.size())
            return mismatch(fmt::format("the description's shape {} has rank {}, the graph's {} rank {}", shapeText(s),
                                        s.size(), dimsText(g.dims), g.dims.size()));
        for (std::size_t i = 0; i < s.size(); ++i)
            if (g.dims[i] >= 0 && s[i] != g.dims[i])
                return mismatch(fmt::format("the description's shape {} does not fit the graph's {}", shapeText(s),
                                            dimsText(g.dims)));
        return ok();
    };
    for (const auto& s : namedShapes(c))
        if (auto st = checkShape(s); !st) return st;
    if (c.shapeConstraint.kind == ShapeConstraint::Kind::range) {
        const auto& ranges = c.shapeConstraint.sizeRangeForDimension;
        if (ranges.size() != g.dims.size())
            return mismatch(fmt::format("the description's size ranges have rank {}, the graph's shape {} rank {}",
                                        ranges.size(), dimsText(g.dims), g.dims.size()));
        for (std::size_t i = 0; i < ranges.size(); ++i)
            if (g.dims[i] >= 0 && (ranges[i].lowerBound > g.dims[i] || (ranges[i].upperBound && *ranges[i].upperBound < g.dims[i])))
                return mismatch(fmt::format("dimension {} of the graph is fixed at {}, outside the description's range",
                                            i, g.dims[i]));
    }
    return ok();
}

// A description feature read from the graph: fixed sizes as they are, open
// ones as ranges from 1 (their default size 1).
FeatureDescription featureFromGraph(std::string name, const GraphTensor& g) {
    FeatureDescription f;
    f.name = std::move(name);
    f.type = FeatureType::multiArray;
    MultiArrayConstraint c;
    c.dataType = *g.type;
    const bool open = std::any_of(g.dims.begin(), g.dims.end(), [](auto d) { return d < 0; });
    for (auto d : g.dims) c.shape.push_back(d < 0 ? 1 : d);
    if (open) {
        c.shapeConstraint.kind = ShapeConstraint::Kind::range;
        for (auto d : g.dims)
            c.shapeConstraint.sizeRangeForDimension.push_back(
                d < 0 ? SizeRange{1, std::nullopt} : SizeRange{d, std::optional<std::int64_t>(d)});
    }
    f.multiArrayConstraint = std::move(c);
    return f;
}

// ---- The engine

struct InputSlot {
    std::string feature;  // description input or state name
    std::string graph;
    bool isState = false;
    DataType type = DataType::float32;
    std::size_t rank = 0;
};

struct OutputSlot {
    std::string feature;  // description output or state name
    std::string graph;
    bool isState = false;
    FeatureType featureType = FeatureType::multiArray;
    DataType type = DataType::float32;
    std::optional<Shape> fixedShape;  // when the graph fixes every dimension
};

class OnnxEngine final : public ModelEngine {
public:
    OnnxEngine(std::shared_ptr<const OnnxRuntimeLibrary> lib, fs::path file) : lib_(std::move(lib)), file_(std::move(file)) {}

    ~OnnxEngine() override {
        if (memory_) lib_->api->ReleaseMemoryInfo(memory_);
        if (session_) lib_->api->ReleaseSession(session_);
    }

    Status open(const ModelBundle& bundle, const ModelConfiguration& configuration, const OnnxOptions& options) {
        const OrtApi* api = lib_->api;
        OrtHandle<OrtSessionOptions> so(api, api->ReleaseSessionOptions);
        const int threads = configuration.threadCount > 0 ? configuration.threadCount
                                                          : (options.intraOpThreads > 0 ? options.intraOpThreads : 1);
        auto loadError = [&](const Error& ortError) {
            const bool damaged = ortError.code == ORT_INVALID_PROTOBUF || ortError.code == ORT_NO_SUCHFILE;
            return mlError(damaged ? MLErrorCode::io : MLErrorCode::generic,
                           fmt::format("Cannot load the ONNX model {}: {}", file_.string(), ortError.description))
                .withUnderlying(ortError);
        };
        // Each step runs only when the previous one succeeded.
        Status step = lib_->check(api->CreateSessionOptions(&so.value));
        auto then = [&](auto call) {
            if (step) step = lib_->check(call());
        };
        then([&] { return api->SetIntraOpNumThreads(so.value, threads); });
        then([&] { return api->SetInterOpNumThreads(so.value, 1); });
        then([&] { return api->SetSessionExecutionMode(so.value, ORT_SEQUENTIAL); });
        then([&] { return api->SetSessionGraphOptimizationLevel(so.value, options.optimization); });
        // Idle pool threads sleep instead of spinning: the machine is shared with audio.
        then([&] { return api->AddSessionConfigEntry(so.value, "session.intra_op.allow_spinning", "0"); });
        then([&] { return api->CreateSession(lib_->env, file_.c_str(), so.value, &session_); });
        then([&] { return api->CreateCpuMemoryInfo(OrtDeviceAllocator, OrtMemTypeDefault, &memory_); });
        if (!step) return fail(loadError(step.error()));
        auto graph = readGraph();
        if (!graph) return fail(graph.error());
        const auto& [graphInputs, graphOutputs] = *graph;
        return bind(bundle, options, graphInputs, graphOutputs);
    }

    std::optional<ModelDescription> graphDescription() const override { return description_; }

    Result<FeatureMap> predict(const PredictionRequest& request) override {
        const OrtApi* api = lib_->api;
        std::vector<OrtValue*> inputValues;
        std::vector<OrtValue*> outputValues(outputs_.size(), nullptr);
        std::vector<const char*> inputNames;
        std::vector<MultiArray> inputArrays;  // keeps copies and scalar arrays alive through Run
        struct Release {
            const OrtApi* api;
            std::vector<OrtValue*>& a;
            std::vector<OrtValue*>& b;
            ~Release() {
                for (auto* v : a)
                    if (v) api->ReleaseValue(v);
                for (auto* v : b)
                    if (v) api->ReleaseValue(v);
            }
        } release{api, inputValues, outputValues};
        inputValues.reserve(inputs_.size());
        inputNames.reserve(inputs_.size());

        for (const auto& slot : inputs_) {
            auto array = inputArray(request, slot);
            if (!array) return fail(array.error());
            if (!*array) continue;  // an optional input left out
            OrtValue* value = nullptr;
            if (auto s = tensorOver(*array, &value); !s) return fail(runError(s.error()));
            inputValues.push_back(value);
            inputNames.push_back(slot.graph.c_str());
            inputArrays.push_back(std::move(*array));
        }

        // Fixed-shape outputs with a backing of the same type are written by
        // ORT straight into it, unless the backing shares memory with an
        // input (every input must be read before any output is written).
        std::vector<MultiArray> written(outputs_.size());
        for (std::size_t i = 0; i < outputs_.size(); ++i) {
            const auto& slot = outputs_[i];
            if (slot.isState || !slot.fixedShape) continue;
            auto it = request.options.outputBackings.find(slot.feature);
            if (it == request.options.outputBackings.end()) continue;
            const MultiArray& backing = it->second;
            if (backing.dataType() != slot.type || backing.shape() != *slot.fixedShape || !backing.isDense()) continue;
            if (std::any_of(inputArrays.begin(), inputArrays.end(),
                            [&](const MultiArray& a) { return a.sharesStorageWith(backing); }))
                continue;
            if (auto s = tensorOver(backing, &outputValues[i]); !s) return fail(runError(s.error()));
            written[i] = backing;
        }

        if (auto s = lib_->check(api->Run(session_, nullptr, inputNames.data(), inputValues.data(), inputValues.size(),
                                          outputNames_.data(), outputNames_.size(), outputValues.data()));
            !s)
            return fail(runError(s.error()));

        FeatureMap out;
        std::vector<std::pair<MultiArray, MultiArray>> stateCopies;
        for (std::size_t i = 0; i < outputs_.size(); ++i) {
            const auto& slot = outputs_[i];
            MultiArray array = written[i];
            if (!array) {
                auto owned = takeOutput(slot, outputValues[i]);
                if (!owned) return fail(owned.error());
                array = std::move(*owned);
            }
            if (slot.isState) {
                stateCopies.emplace_back(*request.state->array(slot.feature), std::move(array));
            } else if (slot.featureType == FeatureType::int64 || slot.featureType == FeatureType::float64) {
                if (array.count() != 1)
                    return fail(mlError(MLErrorCode::generic,
                                        fmt::format("Output \"{}\" holds {} values, not one number", slot.feature,
                                                    array.count())));
                const double v = array.getLogical(0);
                out.emplace(slot.feature, slot.featureType == FeatureType::int64
                                              ? FeatureValue::fromInt64(*array.dataAs<std::int64_t>())
                                              : FeatureValue::fromDouble(v));
            } else {
                out.emplace(slot.feature, FeatureValue(std::move(array)));
            }
        }
        // Run has read every input, so the state arrays (inputs themselves) may change now.
        for (const auto& [state, produced] : stateCopies)
            if (auto s = state.copyFrom(produced); !s)
                return fail(mlError(MLErrorCode::generic,
                                    fmt::format("The model's new state does not fit its state array: {}",
                                                s.error().description)));
        return out;
    }

private:
    using GraphLists = std::pair<std::vector<GraphTensor>, std::vector<GraphTensor>>;

    Result<GraphLists> readGraph() const {
        const OrtApi* api = lib_->api;
        OrtAllocator* allocator = nullptr;
        if (auto s = lib_->check(api->GetAllocatorWithDefaultOptions(&allocator)); !s) return fail(s.error());
        GraphLists lists;
        for (bool input : {true, false}) {
            std::size_t count = 0;
            if (auto s = lib_->check(input ? api->SessionGetInputCount(session_, &count)
                                           : api->SessionGetOutputCount(session_, &count));
                !s)
                return fail(s.error());
            for (std::size_t i = 0; i < count; ++i) {
                char* raw = nullptr;
                if (auto s = lib_->check(input ? api->SessionGetInputName(session_, i, allocator, &raw)
                                               : api->SessionGetOutputName(session_, i, allocator, &raw));
                    !s)
                    return fail(s.error());
                std::string name(raw);
                (void)lib_->check(api->AllocatorFree(allocator, raw));
                OrtTypeInfo* info = nullptr;
                if (auto s = lib_->check(input ? api->SessionGetInputTypeInfo(session_, i, &info)
                                               : api->SessionGetOutputTypeInfo(session_, i, &info));
                    !s)
                    return fail(s.error());
                auto t = describeGraphTensor(*lib_, std::move(name), info);
                if (!t) return fail(t.error());
                (input ? lists.first : lists.second).push_back(std::move(*t));
            }
        }
        return lists;
    }

    Status bind(const ModelBundle& bundle, const OnnxOptions& options, const std::vector<GraphTensor>& graphInputs,
                const std::vector<GraphTensor>& graphOutputs) {
        auto findIn = [](const std::vector<GraphTensor>& list, std::string_view name) -> const GraphTensor* {
            for (const auto& t : list)
                if (t.name == name) return &t;
            return nullptr;
        };
        auto names = [](const std::vector<GraphTensor>& list) {
            std::vector<std::string> n;
            for (const auto& t : list) n.push_back(t.name);
            return fmt::format("{}", fmt::join(n, ", "));
        };
        auto missing = [&](std::string_view role, const std::string& feature, const std::string& graph,
                           const std::vector<GraphTensor>& list) {
            return fail(mlError(MLErrorCode::featureType,
                                fmt::format("{} \"{}\" maps to \"{}\", which the graph of {} does not have (its {}s: {})",
                                            role, feature, graph, file_.filename().string(),
                                            role == "Input" || role == "State input" ? "input" : "output", names(list))));
        };

        // States first: their graph input and output are the model's business, not the caller's.
        ModelDescription description = bundle.description;
        const bool describe = description.inputs.empty() && description.outputs.empty();
        for (const auto& [state, b] : options.states) {
            const auto* in = findIn(graphInputs, b.input);
            if (!in) return missing("State input", state, b.input, graphInputs);
            const auto* out = findIn(graphOutputs, b.output);
            if (!out) return missing("State output", state, b.output, graphOutputs);
            const auto* d = description.state(state);
            if (!d) {
                if (!describe)
                    return fail(mlError(MLErrorCode::featureType,
                                        fmt::format("The runtime options bind state \"{}\", which the description does "
                                                    "not list",
                                                    state)));
                if (!in->type) return checkAgainstGraph("State", state, FeatureDescription{state}, *in);
                if (std::any_of(in->dims.begin(), in->dims.end(), [](auto v) { return v < 0; }))
                    return fail(mlError(MLErrorCode::featureType,
                                        fmt::format("State \"{}\" has the open shape {} in the graph; the description "
                                                    "must give its shape",
                                                    state, dimsText(in->dims))));
                auto f = featureFromGraph(state, *in);
                f.type = FeatureType::state;
                description.states.push_back(std::move(f));
                d = &description.states.back();
            }
            if (auto s = checkAgainstGraph("State", state, *d, *in); !s) return s;
            if (auto s = checkAgainstGraph("State", state, *d, *out); !s) return s;
            inputs_.push_back({state, b.input, true, *in->type, in->dims.size()});
            outputs_.push_back({state, b.output, true, FeatureType::multiArray, *out->type, std::nullopt});
        }
        for (const auto& d : description.states)
            if (!options.states.count(d.name))
                return fail(mlError(MLErrorCode::featureType,
                                    fmt::format("State \"{}\" has no graph input and output in the runtime options "
                                                "(\"states\")",
                                                d.name)));

        auto isStateName = [&](const std::string& graph, bool input) {
            for (const auto& [_, b] : options.states)
                if ((input ? b.input : b.output) == graph) return true;
            return false;
        };
        if (describe) {
            // A feature takes the name the mapping gives its graph tensor, else the graph's own.
            auto featureNameOf = [](const std::map<std::string, std::string, std::less<>>& map, const std::string& graph) {
                for (const auto& [feature, g] : map)
                    if (g == graph) return feature;
                return graph;
            };
            for (const auto& g : graphInputs) {
                if (isStateName(g.name, true)) continue;
                if (!g.type) return checkAgainstGraph("Input", g.name, FeatureDescription{g.name}, g);
                description.inputs.push_back(featureFromGraph(featureNameOf(options.inputs, g.name), g));
            }
            for (const auto& g : graphOutputs) {
                if (isStateName(g.name, false) || !g.type) continue;
                description.outputs.push_back(featureFromGraph(featureNameOf(options.outputs, g.name), g));
            }
            description_ = description;
        }

        // A mapping entry that names no feature is a mistake in the manifest, not something to ignore.
        for (auto [map, role] : {std::pair{&options.inputs, "input"}, std::pair{&options.outputs, "output"}}) {
            for (const auto& [feature, graph] : *map) {
                const bool known = role == std::string_view("input") ? description.input(feature) != nullptr
                                                                    : description.output(feature) != nullptr;
                if (!known)
                    return fail(mlError(MLErrorCode::featureType,
                                        fmt::format("The runtime options map {} \"{}\" to \"{}\", but the model has "
                                                    "no such {}",
                                                    role, feature, graph, role)));
            }
        }
        for (const auto& d : description.inputs) {
            const std::string graph = mapped(options.inputs, d.name);
            const auto* g = findIn(graphInputs, graph);
            if (!g) return missing("Input", d.name, graph, graphInputs);
            if (auto s = checkAgainstGraph("Input", d.name, d, *g); !s) return s;
            inputs_.push_back({d.name, graph, false, *g->type, g->dims.size()});
        }
        for (const auto& g : graphInputs) {
            const bool fed = std::any_of(inputs_.begin(), inputs_.end(), [&](const InputSlot& s) { return s.graph == g.name; });
            if (!fed)
                return fail(mlError(MLErrorCode::featureType,
                                    fmt::format("The graph input \"{}\" is fed by no input or state of the description",
                                                g.name)));
        }
        for (const auto& d : description.outputs) {
            const std::string graph = mapped(options.outputs, d.name);
            const auto* g = findIn(graphOutputs, graph);
            if (!g) return missing("Output", d.name, graph, graphOutputs);
            if (auto s = checkAgainstGraph("Output", d.name, d, *g); !s) return s;
            std::optional<Shape> fixed;
            if (std::none_of(g->dims.begin(), g->dims.end(), [](auto v) { return v < 0; })) fixed = g->dims;
            outputs_.push_back({d.name, graph, false, d.type, *g->type, fixed});
        }
        for (const auto& slot : outputs_) outputNames_.push_back(slot.graph.c_str());
        return ok();
    }

    // The array an input slot binds: the caller's own when it is dense, else a dense copy.
    Result<MultiArray> inputArray(const PredictionRequest& request, const InputSlot& slot) const {
        if (slot.isState) {
            auto a = request.state ? request.state->array(slot.feature) : std::nullopt;
            if (!a) return fail(mlError(MLErrorCode::featureType, fmt::format("State \"{}\" is missing", slot.feature)));
            return a->isDense() ? *a : a->clone();
        }
        auto v = request.inputs.featureValue(slot.feature);
        if (!v) return MultiArray();
        if (auto a = v->multiArrayValue()) return a->isDense() ? *a : a->clone();
        // A single number fills a tensor of rank 0 or shape [1].
        const Shape shape = slot.rank == 0 ? Shape{} : Shape{1};
        auto a = MultiArray::make(shape, slot.type);
        if (!a) return a;
        if (auto i = v->int64Value(); i && slot.type == DataType::int64) *a->dataAs<std::int64_t>() = *i;
        else if (auto d = v->doubleValue()) a->set(0, *d);
        else return fail(mlError(MLErrorCode::featureType,
                                 fmt::format("Input \"{}\" cannot feed the graph's \"{}\"", slot.feature, slot.graph)));
        return a;
    }

    Status tensorOver(const MultiArray& array, OrtValue** value) const {
        const std::size_t bytes = static_cast<std::size_t>(array.count()) * bytesPerElement(array.dataType());
        return lib_->check(lib_->api->CreateTensorWithDataAsOrtValue(memory_, array.data(), bytes,
                                                                     array.shape().data(), array.shape().size(),
                                                                     onnxTypeOf(array.dataType()), value));
    }

    // An output ORT allocated, as an array that owns the ORT value (no copy).
    Result<MultiArray> takeOutput(const OutputSlot& slot, OrtValue*& value) const {
        const OrtApi* api = lib_->api;
        int isTensor = 0;
        if (auto s = lib_->check(api->IsTensor(value, &isTensor)); !s) return fail(runError(s.error()));
        if (!isTensor)
            return fail(mlError(MLErrorCode::generic, fmt::format("Output \"{}\" is not a tensor", slot.graph)));
        OrtHandle<OrtTensorTypeAndShapeInfo> info(api, api->ReleaseTensorTypeAndShapeInfo);
        if (auto s = lib_->check(api->GetTensorTypeAndShape(value, &info.value)); !s) return fail(runError(s.error()));
        ONNXTensorElementDataType element = ONNX_TENSOR_ELEMENT_DATA_TYPE_UNDEFINED;
        std::size_t rank = 0;
        if (auto s = lib_->check(api->GetTensorElementType(info.value, &element)); !s) return fail(runError(s.error()));
        if (auto s = lib_->check(api->GetDimensionsCount(info.value, &rank)); !s) return fail(runError(s.error()));
        Shape shape(rank);
        if (auto s = lib_->check(api->GetDimensions(info.value, shape.data(), rank)); !s) return fail(runError(s.error()));
        const auto type = dataTypeOf(element);
        if (!type || *type != slot.type)
            return fail(mlError(MLErrorCode::generic, fmt::format("Output \"{}\" came back with ONNX element type {}",
                                                                  slot.graph, static_cast<int>(element))));
        void* data = nullptr;
        if (auto s = lib_->check(api->GetTensorMutableData(value, &data)); !s) return fail(runError(s.error()));
        const std::size_t bytes = static_cast<std::size_t>(elementCount(shape)) * bytesPerElement(*type);
        OrtValue* owned = std::exchange(value, nullptr);
        return MultiArray::wrap(data, bytes, shape, *type, denseStrides(shape),
                                [api, owned](void*) { api->ReleaseValue(owned); });
    }

    Error runError(const Error& ortError) const {
        if (ortError.domain != kOnnxRuntimeErrorDomain) return ortError;
        return mlError(MLErrorCode::generic, fmt::format("ONNX Runtime could not run {}: {}", file_.filename().string(),
                                                         ortError.description))
            .withUnderlying(ortError);
    }

    std::shared_ptr<const OnnxRuntimeLibrary> lib_;
    fs::path file_;
    OrtSession* session_ = nullptr;
    OrtMemoryInfo* memory_ = nullptr;
    std::vector<InputSlot> inputs_;
    std::vector<OutputSlot> outputs_;
    std::vector<const char*> outputNames_;
    std::optional<ModelDescription> description_;
};

}  // namespace

Status OnnxRuntimeLibrary::check(OrtStatus* status) const {
    if (!status) return ok();
    const OrtErrorCode code = api->GetErrorCode(status);
    std::string message = api->GetErrorMessage(status);
    api->ReleaseStatus(status);
    return fail(Error::make(kOnnxRuntimeErrorDomain, static_cast<int>(code), std::string(ortCodeName(code)),
                            std::move(message)));
}

Result<std::shared_ptr<OnnxModelRuntime>> OnnxModelRuntime::open(const Environment& environment) {
    std::vector<std::string> candidates;
    if (auto named = environment.get(kOnnxRuntimeLibraryVariable); named && !named->empty()) {
        candidates.push_back(*named);
    } else {
        candidates.push_back(defaultOnnxRuntimeLibrary().string());
        candidates.push_back("libonnxruntime.so.1");
    }
    std::vector<std::string> reasons;
    for (const auto& path : candidates) {
        auto lib = openLibrary(path);
        if (lib) return std::make_shared<OnnxModelRuntime>(std::move(*lib));
        reasons.push_back(lib.error().description);
    }
    return fail(unavailable(fmt::format("ONNX Runtime is not available: {}", fmt::join(reasons, "; "))));
}

const std::string& OnnxModelRuntime::libraryPath() const { return library_->path; }
const std::string& OnnxModelRuntime::version() const { return library_->version; }

Result<std::unique_ptr<ModelEngine>> OnnxModelRuntime::load(const ModelBundle& bundle,
                                                             const ModelConfiguration& configuration) {
    auto options = readOptions(bundle);
    if (!options) return fail(options.error());
    auto file = modelFile(bundle, *options);
    if (!file) return fail(file.error());
    auto engine = std::make_unique<OnnxEngine>(library_, *file);
    if (auto s = engine->open(bundle, configuration, *options); !s) return fail(s.error());
    return std::unique_ptr<ModelEngine>(std::move(engine));
}

Status registerOnnxRuntime(RuntimeRegistry& registry, const Environment& environment) {
    auto runtime = OnnxModelRuntime::open(environment);
    if (!runtime) return fail(runtime.error());
    registry.add(std::move(*runtime));
    return ok();
}

}  // namespace platform::ml
