#pragma once

// Feature values (what a model takes and gives by name), feature providers
// and batches of them.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/ml/MultiArray.h"

namespace platform::ml {

enum class FeatureType { invalid = 0, int64 = 1, float64 = 2, string = 3, multiArray = 5, state = 8 };
std::string_view featureTypeName(FeatureType type);  // "int64", "double", "string", "multiArray", "state"
std::optional<FeatureType> featureTypeFromName(std::string_view name);

class FeatureValue {
public:
    FeatureValue(MultiArray array) : value_(std::move(array)) {}
    static FeatureValue fromInt64(std::int64_t v) { return FeatureValue(Value(v)); }
    static FeatureValue fromDouble(double v) { return FeatureValue(Value(v)); }
    static FeatureValue fromString(std::string v) { return FeatureValue(Value(std::move(v))); }

    FeatureType type() const;
    // The array (a handle to the same array, not a copy), or nothing for other types.
    std::optional<MultiArray> multiArrayValue() const;
    std::optional<std::int64_t> int64Value() const;
    std::optional<double> doubleValue() const;
    std::optional<std::string> stringValue() const;

private:
    using Value = std::variant<MultiArray, std::int64_t, double, std::string>;
    explicit FeatureValue(Value v) : value_(std::move(v)) {}
    Value value_;
};

using FeatureMap = std::map<std::string, FeatureValue, std::less<>>;

// Something that hands a model its features by name. Implementations must be
// safe to read from several threads once built.
class FeatureProvider {
public:
    virtual ~FeatureProvider() = default;
    // The names in a stable order (a dictionary provider: sorted).
    virtual std::vector<std::string> featureNames() const = 0;
    virtual std::optional<FeatureValue> featureValue(std::string_view name) const = 0;
};

// The array under `name`, or nothing when it is absent or not an array.
std::optional<MultiArray> multiArrayFeature(const FeatureProvider& provider, std::string_view name);

class DictionaryFeatureProvider : public FeatureProvider {
public:
    DictionaryFeatureProvider() = default;
    explicit DictionaryFeatureProvider(FeatureMap features) : features_(std::move(features)) {}
    DictionaryFeatureProvider(std::initializer_list<std::pair<const std::string, FeatureValue>> features)
        : features_(features) {}

    std::vector<std::string> featureNames() const override;
    std::optional<FeatureValue> featureValue(std::string_view name) const override;
    const FeatureMap& features() const { return features_; }

private:
    FeatureMap features_;
};

class BatchProvider {
public:
    virtual ~BatchProvider() = default;
    virtual std::size_t count() const = 0;
    virtual const FeatureProvider& features(std::size_t index) const = 0;
};

class ArrayBatchProvider final : public BatchProvider {
public:
    explicit ArrayBatchProvider(std::vector<std::shared_ptr<const FeatureProvider>> providers)
        : providers_(std::move(providers)) {}
    std::size_t count() const override { return providers_.size(); }
    const FeatureProvider& features(std::size_t index) const override { return *providers_.at(index); }

private:
    std::vector<std::shared_ptr<const FeatureProvider>> providers_;
};

}  // namespace platform::ml
