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

// The serialised model.
std::string onnxModelBytes(const OnnxGraph& graph);
Status writeOnnxModel(const std::filesystem::path& file, const OnnxGraph& graph);

}  // namespace platform::ml
