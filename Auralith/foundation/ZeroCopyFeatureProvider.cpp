#include "Auralith/foundation/ZeroCopyFeatureProvider.h"

namespace auralith {

using platform::ml::FeatureMap;

std::optional<ZeroCopyFeatureProvider> ZeroCopyFeatureProvider::chain(const platform::ml::FeatureProvider& source,
                                                                      std::string_view outputName,
                                                                      std::string_view inputName) {
    auto value = source.featureValue(outputName);
    if (!value) return std::nullopt;
    FeatureMap features;
    features.emplace(std::string(inputName), *value);
    return ZeroCopyFeatureProvider(std::move(features));
}

std::optional<ZeroCopyDiarizerFeatureProvider> ZeroCopyDiarizerFeatureProvider::chain(
    const platform::ml::FeatureProvider& source, std::string_view outputName, std::string_view inputName,
    FeatureMap additionalFeatures) {
    auto value = source.featureValue(outputName);
    if (!value) return std::nullopt;
    additionalFeatures.insert_or_assign(std::string(inputName), *value);
    return ZeroCopyDiarizerFeatureProvider(std::move(additionalFeatures));
}

}  // namespace auralith
