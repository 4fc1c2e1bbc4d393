#include "platform/ml/ModelDescription.h"

#include <nlohmann/json.hpp>

#include <fmt/format.h>

namespace platform::ml {

using Json = nlohmann::ordered_json;

bool MultiArrayConstraint::allows(const Shape& candidate) const {
    switch (shapeConstraint.kind) {
        case ShapeConstraint::Kind::enumerated:
            for (const auto& s : shapeConstraint.enumeratedShapes)
                if (s == candidate) return true;
            return false;
        case ShapeConstraint::Kind::range: {
            const auto& ranges = shapeConstraint.sizeRangeForDimension;
            if (ranges.size() != candidate.size()) return false;
            for (std::size_t i = 0; i < ranges.size(); ++i) {
                if (candidate[i] < ranges[i].lowerBound) return false;
                if (ranges[i].upperBound && candidate[i] > *ranges[i].upperBound) return false;
            }
            return true;
        }
        case ShapeConstraint::Kind::unspecified: return shape.empty() || shape == candidate;
    }
    return false;
}

namespace {
const FeatureDescription* find(const std::vector<FeatureDescription>& list, std::string_view name) {
    for (const auto& f : list)
        if (f.name == name) return &f;
    return nullptr;
}
}  // namespace

const FeatureDescription* ModelDescription::input(std::string_view name) const { return find(inputs, name); }
const FeatureDescription* ModelDescription::output(std::string_view name) const { return find(outputs, name); }
const FeatureDescription* ModelDescription::state(std::string_view name) const { return find(states, name); }

FeatureDescription arrayFeature(std::string name, DataType type, Shape shape, bool isOptional) {
    FeatureDescription f;
    f.name = std::move(name);
    f.type = FeatureType::multiArray;
    f.isOptional = isOptional;
    f.multiArrayConstraint = MultiArrayConstraint{std::move(shape), type, {}};
    return f;
}

namespace {

Json featureToJson(const FeatureDescription& f) {
    Json j;
    j["name"] = f.name;
    j["type"] = std::string(featureTypeName(f.type));
    if (f.isOptional) j["optional"] = true;
    if (f.multiArrayConstraint) {
        const auto& c = *f.multiArrayConstraint;
        j["dataType"] = std::string(dataTypeName(c.dataType));
        j["shape"] = c.shape;
        if (c.shapeConstraint.kind == ShapeConstraint::Kind::enumerated) j["enumeratedShapes"] = c.shapeConstraint.enumeratedShapes;
        if (c.shapeConstraint.kind == ShapeConstraint::Kind::range) {
            Json ranges = Json::array();
            for (const auto& r : c.shapeConstraint.sizeRangeForDimension)
                ranges.push_back(Json::array({r.lowerBound, r.upperBound ? *r.upperBound : -1}));
            j["sizeRanges"] = ranges;
        }
    }
    return j;
}

Result<FeatureDescription> featureFromJson(const Json& j) {
    auto bad = [&](const std::string& why) {
        return fail(mlError(MLErrorCode::io, fmt::format("Invalid feature description {}: {}", j.dump(), why)));
    };
    if (!j.is_object() || !j.contains("name") || !j["name"].is_string()) return bad("no name");
    FeatureDescription f;
    f.name = j["name"].get<std::string>();
    auto type = featureTypeFromName(j.value("type", std::string("multiArray")));
    if (!type) return bad("unknown type");
    f.type = *type;
    f.isOptional = j.value("optional", false);
    if (j.contains("dataType")) {
        auto dt = dataTypeFromName(j["dataType"].get<std::string>());
        if (!dt) return bad("unknown data type");
        MultiArrayConstraint c;
        c.dataType = *dt;
        if (j.contains("shape")) c.shape = j["shape"].get<Shape>();
        if (j.contains("enumeratedShapes")) {
            c.shapeConstraint.kind = ShapeConstraint::Kind::enumerated;
            c.shapeConstraint.enumeratedShapes = j["enumeratedShapes"].get<std::vector<Shape>>();
        } else if (j.contains("sizeRanges")) {
            c.shapeConstraint.kind = ShapeConstraint::Kind::range;
            for (const auto& r : j["sizeRanges"]) {
                if (!r.is_array() || r.size() != 2) return bad("a size range is not [lower, upper]");
                const auto upper = r[1].get<std::int64_t>();
                c.shapeConstraint.sizeRangeForDimension.push_back(
                    {r[0].get<std::int64_t>(), upper < 0 ? std::nullopt : std::optional<std::int64_t>(upper)});
            }
        }
        f.multiArrayConstraint = std::move(c);
    } else if (f.type == FeatureType::multiArray || f.type == FeatureType::state) {
        return bad("an array feature without a data type");
    }
    return f;
}

}  // namespace

std::string descriptionToJson(const ModelDescription& d) {
    Json j;
    auto list = [](const std::vector<FeatureDescription>& fs) {
        Json a = Json::array();
        for (const auto& f : fs) a.push_back(featureToJson(f));
        return a;
    };
    j["inputs"] = list(d.inputs);
    j["outputs"] = list(d.outputs);
    if (!d.states.empty()) j["states"] = list(d.states);
    Json m;
    m["author"] = d.metadata.author;
    m["description"] = d.metadata.shortDescription;
    m["version"] = d.metadata.versionString;
    m["license"] = d.metadata.license;
    m["creatorDefined"] = d.metadata.creatorDefined;
    j["metadata"] = m;
    return j.dump(2);
}

Result<ModelDescription> descriptionFromJson(std::string_view text) {
    try {
        const Json j = Json::parse(text);
        if (!j.is_object()) return fail(mlError(MLErrorCode::io, "A model description must be a JSON object"));
        ModelDescription d;
        for (auto [key, target] : {std::pair{"inputs", &d.inputs}, std::pair{"outputs", &d.outputs},
                                   std::pair{"states", &d.states}}) {
            if (!j.contains(key)) continue;
            for (const auto& f : j[key]) {
                auto feature = featureFromJson(f);
                if (!feature) return fail(feature.error());
                target->push_back(std::move(*feature));
            }
        }
        if (j.contains("metadata")) {
            const auto& m = j["metadata"];
            d.metadata.author = m.value("author", "");
            d.metadata.shortDescription = m.value("description", "");
            d.metadata.versionString = m.value("version", "");
            d.metadata.license = m.value("license", "");
            if (m.contains("creatorDefined"))
                d.metadata.creatorDefined = m["creatorDefined"].get<std::map<std::string, std::string>>();
        }
        return d;
    } catch (const std::exception& e) {
        return fail(mlError(MLErrorCode::io, fmt::format("Invalid model description: {}", e.what())));
    }
}

}  // namespace platform::ml
