#pragma once

// Feature providers that hand existing arrays to a model by name, so one
// model's output becomes the next model's input without a copy.

#include <optional>
#include <string_view>

#include "platform/ml/Feature.h"

namespace auralith {

class ZeroCopyFeatureProvider final : public platform::ml::DictionaryFeatureProvider {
public:
    explicit ZeroCopyFeatureProvider(platform::ml::FeatureMap features)
        : DictionaryFeatureProvider(std::move(features)) {}
    // A provider whose only feature is `source`'s output `outputName`, under
    // `inputName`; nothing when the source has no such output.
    static std::optional<ZeroCopyFeatureProvider> chain(const platform::ml::FeatureProvider& source,
                                                        std::string_view outputName, std::string_view inputName);
};

class ZeroCopyDiarizerFeatureProvider final : public platform::ml::DictionaryFeatureProvider {
public:
    explicit ZeroCopyDiarizerFeatureProvider(platform::ml::FeatureMap features)
        : DictionaryFeatureProvider(std::move(features)) {}
    // `additionalFeatures` plus the chained value under `inputName` (the
    // chained value wins over a feature of the same name).
    static std::optional<ZeroCopyDiarizerFeatureProvider> chain(const platform::ml::FeatureProvider& source,
                                                                std::string_view outputName,
                                                                std::string_view inputName,
                                                                platform::ml::FeatureMap additionalFeatures = {});
};

}  // namespace auralith
