#include "platform/ml/OnnxModelWriter.h"

#include <cstring>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "platform/ml/Model.h"

#include "platform/values/Files.h"

namespace platform::ml {

namespace {

// Protobuf wire format: varints (type 0) and length-delimited fields (type 2)
// are all an ONNX model needs.
class Message {
public:
    Message& varint(int field, std::uint64_t value) {
        key(field, 0);
        raw(value);
        return *this;
    }
    Message& bytes(int field, std::string_view value) {
        key(field, 2);
        raw(value.size());
        out_.append(value);
        return *this;
    }
    Message& message(int field, const Message& m) { return bytes(field, m.out_); }
    const std::string& data() const { return out_; }

private:
    void key(int field, int wireType) { raw((static_cast<std::uint64_t>(field) << 3) | static_cast<std::uint64_t>(wireType)); }
    void raw(std::uint64_t v) {
        while (v >= 0x80) {
            out_.push_back(static_cast<char>((v & 0x7f) | 0x80));
            v >>= 7;
        }
        out_.push_back(static_cast<char>(v));
    }
    std::string out_;
};

// TensorProto.DataType numbers.
int onnxElementType(DataType type) {
    switch (type) {
        case DataType::float32: return 1;
        case DataType::uint8: return 2;
        case DataType::int8: return 3;
        case DataType::int32: return 6;
        case DataType::int64: return 7;
        case DataType::boolean: return 9;
        case DataType::float16: return 10;
        case DataType::float64: return 11;
    }
    return 0;
}

Message valueInfo(const OnnxTensorInfo& t) {
    Message shape;
    int open = 0;
    for (const auto& d : t.dims) {
        Message dim;
        if (d) dim.varint(1, static_cast<std::uint64_t>(*d));
        else dim.bytes(2, fmt::format("{}_d{}", t.name, open++));
        shape.message(1, dim);
    }
    Message tensor;
    tensor.varint(1, static_cast<std::uint64_t>(onnxElementType(t.type))).message(2, shape);
    Message type;
    type.message(1, tensor);
    Message info;
    info.bytes(1, t.name).message(2, type);
    return info;
}

Message node(const OnnxNode& n, std::size_t index) {
    Message m;
    for (const auto& i : n.inputs) m.bytes(1, i);
    for (const auto& o : n.outputs) m.bytes(2, o);
    m.bytes(3, fmt::format("{}_{}", n.op, index)).bytes(4, n.op);
    for (const auto& a : n.attributes) {
        Message attr;
        attr.bytes(1, a.name);
        if (a.integer) {
            attr.varint(3, static_cast<std::uint64_t>(*a.integer)).varint(20, 2);  // INT
        } else {
            for (auto v : a.integers) attr.varint(8, static_cast<std::uint64_t>(v));
            attr.varint(20, 7);  // INTS
        }
        m.message(5, attr);
    }
    return m;
}

Message initializer(const OnnxInitializer& t) {
    Message m;
    for (auto d : t.dims) m.varint(1, static_cast<std::uint64_t>(d));
    m.varint(2, static_cast<std::uint64_t>(onnxElementType(t.type)));
    m.bytes(8, t.name);
    m.bytes(9, std::string_view(reinterpret_cast<const char*>(t.bytes.data()), t.bytes.size()));
    return m;
}

template <class T>
std::vector<std::uint8_t> rawBytes(const std::vector<T>& values) {
    std::vector<std::uint8_t> out(values.size() * sizeof(T));
    if (!values.empty()) std::memcpy(out.data(), values.data(), out.size());
    return out;
}

}  // namespace

OnnxInitializer floatInitializer(std::string name, std::vector<std::int64_t> dims, const std::vector<float>& values) {
    return {std::move(name), DataType::float32, std::move(dims), rawBytes(values)};
}

OnnxInitializer int64Initializer(std::string name, std::vector<std::int64_t> dims,
                                 const std::vector<std::int64_t>& values) {
    return {std::move(name), DataType::int64, std::move(dims), rawBytes(values)};
}

std::string onnxModelBytes(const OnnxGraph& g) {
    Message graph;
    for (std::size_t i = 0; i < g.nodes.size(); ++i) graph.message(1, node(g.nodes[i], i));
    graph.bytes(2, "generated");
    for (const auto& t : g.initializers) graph.message(5, initializer(t));
    for (const auto& t : g.inputs) graph.message(11, valueInfo(t));
    for (const auto& t : g.outputs) graph.message(12, valueInfo(t));
    Message opset;
    opset.bytes(1, "").varint(2, static_cast<std::uint64_t>(g.opsetVersion));
    Message model;
    model.varint(1, 8);  // IR version 8 (ONNX 1.10+)
    model.bytes(2, "parlowen-tests");
    model.message(7, graph);
    model.message(8, opset);
    return model.data();
}

OnnxGraph denseTanhGraph(std::int64_t width) {
    std::vector<float> w(static_cast<std::size_t>(width * width));
    for (std::size_t i = 0; i < w.size(); ++i) w[i] = static_cast<float>((i * 37) % 17) / 17.0f - 0.5f;
    OnnxGraph g;
    g.inputs = {{"x", DataType::float32, {1, width}}};
    g.outputs = {{"y", DataType::float32, {1, width}}};
    g.initializers = {floatInitializer("w", {width, width}, w)};
    g.nodes = {{"MatMul", {"x", "w"}, {"h"}}, {"Tanh", {"h"}, {"y"}}};
    return g;
}

Status writeSileroVadBundle(const std::filesystem::path& bundle, const std::filesystem::path& modelFile) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::create_directories(bundle, ec);
    fs::copy_file(modelFile, bundle / modelFile.filename(), fs::copy_options::overwrite_existing, ec);
    if (ec)
        return fail(mlError(MLErrorCode::io, fmt::format("Cannot copy {}: {}", modelFile.string(), ec.message())));
    ModelDescription d;
    d.inputs = {arrayFeature("audio", DataType::float32, {1, kSileroContext + kSileroChunk}),
                FeatureDescription{"sampleRate", FeatureType::int64}};
    d.outputs = {arrayFeature("probability", DataType::float32, {1, 1})};
    d.states = {arrayFeature("state", DataType::float32, {2, 1, 128})};
    d.states[0].type = FeatureType::state;
    const nlohmann::ordered_json options{{"model", modelFile.filename().string()},
                                         {"inputs", {{"audio", "input"}, {"sampleRate", "sr"}}},
                                         {"outputs", {{"probability", "output"}}},
                                         {"states", {{"state", {{"input", "state"}, {"output", "stateN"}}}}},
                                         {"intraOpThreads", 1}};
    return writeModelBundle(bundle, d, "onnxruntime", options.dump());
}

Status writeOnnxModel(const std::filesystem::path& file, const OnnxGraph& graph) {
    return writeFileAtomically(file, onnxModelBytes(graph));
}

}  // namespace platform::ml
