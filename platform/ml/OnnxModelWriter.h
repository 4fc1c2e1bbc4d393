#pragma once

// Writes small ONNX models for tests and benchmarks: a graph of standard
// operators with typed, shaped inputs, outputs and constant initializers,
// serialised straight to the ONNX protobuf format (no protobuf library).
//
//   OnnxGraph g;
//   g.inputs = {{"x", DataType::float32, {std::nullopt, 3}}};   // [?, 3]
//   g.outputs = {{"y", DataType::float32, {std::nullopt, 3}}};
//   g.nodes = {{"Add", {"x", "x"}, {"y"}}};
//   writeOnnxModel(dir / "double.onnx", g);

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/ml/MultiArray.h"
#include "platform/runtime/Error.h"

namespace platform::ml {

struct OnnxTensorInfo {
    std::string name;
    DataType type = DataType::float32;
    std::vector<std::optional<std::int64_t>> dims;  // none: an open dimension
};

struct OnnxAttribute {
    std::string name;
    std::optional<std::int64_t> integer;
    std::vector<std::int64_t> integers;  // used when `integer` is empty
};

struct OnnxNode {
    std::string op;
    std::vector<std::string> inputs;
    std::vector<std::string> outputs;
    std::vector<OnnxAttribute> attributes;
};

struct OnnxInitializer {
    std::string name;
    DataType type = DataType::float32;
    std::vector<std::int64_t> dims;
    std::vector<std::uint8_t> bytes;  // little-endian elements, row-major
};

// A float32 initializer.
OnnxInitializer floatInitializer(std::string name, std::vector<std::int64_t> dims, const std::vector<float>& values);
// An int64 initializer (shapes for Reshape and the like).
OnnxInitializer int64Initializer(std::string name, std::vector<std::int64_t> dims, const std::vector<std::int64_t>& values);

struct OnnxGraph {
    std::vector<OnnxTensorInfo> inputs;
    std::vector<OnnxTensorInfo> outputs;
    std::vector<OnnxNode> nodes;
    std::vector<OnnxInitializer> initializers;
    int opsetVersion = 17;
};

// y = tanh(x · W) on [1, width] with a fixed pseudo-random W: a model whose
// run time grows with width², for concurrency tests and benchmarks.
OnnxGraph denseTanhGraph(std::int64_t width);

// The Silero voice-activity model v5 (the file scripts/setup installs under
// the ONNX Runtime prefix) as a bundle at `bundle`: input "audio" [1, 576]
// (64 samples of the previous chunk, then a 512-sample chunk of 16 kHz
// audio), "sampleRate" (an int64 number), output "probability" [1, 1], and
// the state "state" [2, 1, 128] fed back from the graph's "stateN".
inline constexpr std::int64_t kSileroChunk = 512;
inline constexpr std::int64_t kSileroContext = 64;
Status writeSileroVadBundle(const std::filesystem::path& bundle, const std::filesystem::path& modelFile);

// The serialised model.
std::string onnxModelBytes(const OnnxGraph& graph);
Status writeOnnxModel(const std::filesystem::path& file, const OnnxGraph& graph);

}  // namespace platform::ml
