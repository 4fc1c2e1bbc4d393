#pragma once

// The opened ONNX Runtime library: its C API table and the process's one ORT
// environment. For the ml layer's own code and for benchmarks that time ORT
// itself; everything else goes through Model.

#include <string>

#include <onnxruntime_c_api.h>

#include "platform/runtime/Error.h"

namespace platform::ml {

struct OnnxRuntimeLibrary {
    std::string path;
    std::string version;
    void* handle = nullptr;
    const OrtApi* api = nullptr;
    OrtEnv* env = nullptr;

    // ok() for a null status; otherwise an error in kOnnxRuntimeErrorDomain
    // with ORT's code and message (the status is released).
    Status check(OrtStatus* status) const;
};

}  // namespace platform::ml
