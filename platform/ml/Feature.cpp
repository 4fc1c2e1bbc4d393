#include "platform/ml/Feature.h"

namespace platform::ml {

std::string_view featureTypeName(FeatureType type) {
    switch (type) {
        case FeatureType::invalid: return "invalid";
        case FeatureType::int64: return "int64";
        case FeatureType::float64: return "double";
        case FeatureType::string: return "string";
        case FeatureType::multiArray: return "multiArray";
        case FeatureType::state: return "state";
    }
    return "invalid";
}

std::optional<FeatureType> featureTypeFromName(std::string_view name) {
    for (FeatureType t : {FeatureType::int64, FeatureType::float64, FeatureType::string, FeatureType::multiArray,
                          FeatureType::state})
        if (featureTypeName(t) == name) return t;
    return std::nullopt;
}

FeatureType FeatureValue::type() const {
    switch (value_.index()) {
        case 0: return FeatureType::multiArray;
        case 1: return FeatureType::int64;
        case 2: return FeatureType::float64;
        case 3: return FeatureType::string;
    }
    return FeatureType::invalid;
}

std::optional<MultiArray> FeatureValue::multiArrayValue() const {
    if (auto* a = std::get_if<MultiArray>(&value_)) return *a;
    return std::nullopt;
}
std::optional<std::int64_t> FeatureValue::int64Value() const {
    if (auto* v = std::get_if<std::int64_t>(&value_)) return *v;
    return std::nullopt;
}
std::optional<double> FeatureValue::doubleValue() const {
    if (auto* v = std::get_if<double>(&value_)) return *v;
    return std::nullopt;
}
std::optional<std::string> FeatureValue::stringValue() const {
    if (auto* v = std::get_if<std::string>(&value_)) return *v;
    return std::nullopt;
}

std::optional<MultiArray> multiArrayFeature(const FeatureProvider& provider, std::string_view name) {
    auto v = provider.featureValue(name);
    if (!v) return std::nullopt;
    return v->multiArrayValue();
}

std::vector<std::string> DictionaryFeatureProvider::featureNames() const {
    std::vector<std::string> names;
    names.reserve(features_.size());
    for (const auto& [name, _] : features_) names.push_back(name);
    return names;
}

std::optional<FeatureValue> DictionaryFeatureProvider::featureValue(std::string_view name) const {
    auto it = features_.find(name);
    if (it == features_.end()) return std::nullopt;
    return it->second;
}

}  // namespace platform::ml
