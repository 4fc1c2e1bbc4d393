#pragma once

// What a model takes and gives: feature descriptions with array constraints,
// state descriptions, and metadata (including the creator's own entries).

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ml/Feature.h"
#include "platform/ml/MultiArray.h"
#include "platform/runtime/Error.h"

namespace platform::ml {

struct SizeRange {
    std::int64_t lowerBound = 0;
    std::optional<std::int64_t> upperBound;  // none: unbounded
    friend bool operator==(const SizeRange&, const SizeRange&) = default;
};

struct ShapeConstraint {
    enum class Kind { unspecified, enumerated, range };
    Kind kind = Kind::unspecified;
    std::vector<Shape> enumeratedShapes;          // kind enumerated
    std::vector<SizeRange> sizeRangeForDimension;  // kind range
    friend bool operator==(const ShapeConstraint&, const ShapeConstraint&) = default;
};

struct MultiArrayConstraint {
    Shape shape;  // the default shape; empty when the model leaves it open
    DataType dataType = DataType::float32;
    ShapeConstraint shapeConstraint;

    // Whether an array of this shape fits: one of the enumerated shapes, within
    // every range (same rank), or, without flexibility, exactly `shape` (any
    // shape when `shape` is empty).
    bool allows(const Shape& candidate) const;
    friend bool operator==(const MultiArrayConstraint&, const MultiArrayConstraint&) = default;
};

struct FeatureDescription {
    std::string name;
    FeatureType type = FeatureType::multiArray;
    bool isOptional = false;
    std::optional<MultiArrayConstraint> multiArrayConstraint;  // for arrays and states
    friend bool operator==(const FeatureDescription&, const FeatureDescription&) = default;
};

struct ModelMetadata {
    std::string author;
    std::string shortDescription;
    std::string versionString;
    std::string license;
    std::map<std::string, std::string> creatorDefined;
    friend bool operator==(const ModelMetadata&, const ModelMetadata&) = default;
};

struct ModelDescription {
    std::vector<FeatureDescription> inputs;
    std::vector<FeatureDescription> outputs;
    std::vector<FeatureDescription> states;  // a stateful model's state arrays
    ModelMetadata metadata;

    const FeatureDescription* input(std::string_view name) const;
    const FeatureDescription* output(std::string_view name) const;
    const FeatureDescription* state(std::string_view name) const;
    friend bool operator==(const ModelDescription&, const ModelDescription&) = default;
};

// An array feature description in one line, for tests and bundle writers.
FeatureDescription arrayFeature(std::string name, DataType type, Shape shape, bool isOptional = false);

// The manifest's JSON text of a description, and back.
std::string descriptionToJson(const ModelDescription& description);
Result<ModelDescription> descriptionFromJson(std::string_view json);

}  // namespace platform::ml
