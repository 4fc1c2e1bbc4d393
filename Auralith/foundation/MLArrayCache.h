#pragma once

// A reuse cache of aligned arrays keyed by shape and data type, used as a
// stack per key (last returned, first reused). Its operations run one at a
// time on its own strand, so a returned array is never handed out twice.

#include <cstdint>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/ml/MultiArray.h"
#include "platform/runtime/Strand.h"
#include "platform/runtime/Task.h"

namespace auralith {

class MLArrayCache {
public:
    static constexpr std::int64_t maxCacheSize = 100;

    struct CacheKey {
        platform::ml::Shape shape;
        platform::ml::DataType dataType = platform::ml::DataType::float32;
        friend bool operator==(const CacheKey&, const CacheKey&) = default;
    };
    struct CacheKeyHash {
        std::size_t operator()(const CacheKey& key) const;
    };

    explicit MLArrayCache(platform::Executor& executor);

    // A spare array of that shape and type (already zeroed), or a new zero-filled aligned one.
    platform::Task<platform::Result<platform::ml::MultiArray>> getArray(platform::ml::Shape shape,
                                                                        platform::ml::DataType dataType);
    // Zeroes the array and keeps it, unless its key already holds its share
    // (100 divided by the number of keys); then it is dropped as it is.
    platform::Task<void> returnArray(platform::ml::MultiArray array);
    // Makes up to 5 arrays per pair (fewer when many pairs share the 100) and
    // sets each key's list to exactly them. Never fails.
    platform::Task<void> prewarm(std::vector<std::pair<platform::ml::Shape, platform::ml::DataType>> pairs);

    // How many spare arrays a key holds (for tests and diagnostics); run on the cache's strand.
    platform::Task<std::size_t> spareCount(platform::ml::Shape shape, platform::ml::DataType dataType);

private:
    platform::Strand strand_;
    std::unordered_map<CacheKey, std::vector<platform::ml::MultiArray>, CacheKeyHash> cache_;
};

}  // namespace auralith
