#pragma once

// Shared by the tests that run real models on ONNX Runtime.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/ml/OnnxModelRuntime.h"

namespace platform::ml {

// True when PARLOWEN_REQUIRE_ONNXRUNTIME asks for a missing runtime to fail
// the tests instead of skipping them (any value but empty, "0", "false", "no").
inline bool onnxRuntimeRequired() {
    const char* v = std::getenv("PARLOWEN_REQUIRE_ONNXRUNTIME");
    const std::string value = v ? v : "";
    return !value.empty() && value != "0" && value != "false" && value != "no";
}

}  // namespace platform::ml

// In SetUp() or a test body: continues when `status` is fine, else skips the
// test with the reason, or fails it when PARLOWEN_REQUIRE_ONNXRUNTIME is set.
#define PARLOWEN_REQUIRE_ONNXRUNTIME_OR_SKIP(status)                                                     \
    do {                                                                                               \
        const auto parlowenOrtStatus_ = (status);                                                      \
        if (!parlowenOrtStatus_) {                                                                     \
            if (::platform::ml::onnxRuntimeRequired())                                                 \
                FAIL() << "ONNX Runtime required (PARLOWEN_REQUIRE_ONNXRUNTIME) but unavailable: "     \
                       << parlowenOrtStatus_.error().description;                                      \
            else                                                                                       \
                GTEST_SKIP() << "ONNX Runtime unavailable: " << parlowenOrtStatus_.error().description; \
        }                                                                                              \
    } while (false)
