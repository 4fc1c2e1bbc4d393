#pragma once

// The ONNX Runtime backend of the ml layer: the runtime named "onnxruntime".
//
// The library is opened at run time (never linked), so the programs start
// without it; the shared registry adds this runtime only when it opens. A
// bundle for it is a folder with "manifest.json" and the .onnx file (and any
// external-data file beside it). The manifest's "runtimeOptions":
//
//   "model"             the .onnx file's name inside the bundle (default: the
//                       bundle's only .onnx file)
//   "inputs"/"outputs"  description feature name → graph input/output name
//                       (a name left out maps to itself)
//   "states"            state array name → {"input": graph input,
//                       "output": graph output}: the output is copied into the
//                       state array after each prediction
//   "intraOpThreads"    threads of one prediction (default 1; the
//                       configuration's threadCount wins when set)
//   "optimizationLevel" "disabled", "basic", "extended" or "all" (default)
//
// Loading checks the graph against the description (every mapped name
// exists, element types and ranks agree, fixed sizes agree); a manifest
// without a description gets one read from the graph. ONNX Runtime's own
// failures become ml errors whose underlying error is in the domain
// "onnxruntime" with ORT's code; no exception crosses the layer. One ORT
// environment serves the whole process; one session per loaded model is
// shared by every thread.

#include <filesystem>
#include <memory>
#include <string>

#include "platform/ml/Model.h"
#include "platform/runtime/Environment.h"

namespace platform::ml {

inline constexpr const char* kOnnxRuntimeName = "onnxruntime";
// Names the library to open; when set, no other library is tried.
inline constexpr const char* kOnnxRuntimeLibraryVariable = "PARLOWEN_ONNXRUNTIME_LIBRARY";
// Domain of the underlying errors that carry ORT's own code and message.
inline constexpr const char* kOnnxRuntimeErrorDomain = "onnxruntime";

// The library scripts/setup installs (compiled in from the configured prefix).
std::filesystem::path defaultOnnxRuntimeLibrary();
// The prefix itself (headers, library, the Silero voice-activity models, licences).
std::filesystem::path onnxRuntimePrefix();

struct OnnxRuntimeLibrary;

class OnnxModelRuntime : public ModelRuntime {
public:
    // Opens ONNX Runtime: the library kOnnxRuntimeLibraryVariable names when it
    // is set, otherwise defaultOnnxRuntimeLibrary(), otherwise
    // "libonnxruntime.so.1" from the loader path. A library is opened once per
    // process and stays open. Fails with runtimeUnavailable.
    static Result<std::shared_ptr<OnnxModelRuntime>> open(const Environment& environment = Environment::fromProcess());

    std::string name() const override { return kOnnxRuntimeName; }
    Result<std::unique_ptr<ModelEngine>> load(const ModelBundle& bundle,
                                              const ModelConfiguration& configuration) override;

    // The file that was opened and ORT's version text ("1.29.0").
    const std::string& libraryPath() const;
    const std::string& version() const;
    const OnnxRuntimeLibrary& library() const { return *library_; }

    explicit OnnxModelRuntime(std::shared_ptr<const OnnxRuntimeLibrary> library) : library_(std::move(library)) {}

private:
    std::shared_ptr<const OnnxRuntimeLibrary> library_;
};

// Adds ONNX Runtime to `registry` when its library opens; otherwise leaves the
// registry as it is and returns why (bundles naming it then fail to load with
// the usual "not available" error).
Status registerOnnxRuntime(RuntimeRegistry& registry, const Environment& environment = Environment::fromProcess());

}  // namespace platform::ml
