#include "Auralith/foundation/MLArrayCache.h"

#include <algorithm>
#include <functional>

#include "Auralith/foundation/ANEMemory.h"

namespace auralith {

using platform::ml::DataType;
using platform::ml::MultiArray;
using platform::ml::Shape;

std::size_t MLArrayCache::CacheKeyHash::operator()(const CacheKey& key) const {
    std::size_t h = std::hash<std::size_t>{}(key.shape.size());
    auto combine = [&h](std::size_t v) { h ^= v + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2); };
    for (auto d : key.shape) combine(std::hash<std::int64_t>{}(d));
    combine(std::hash<int>{}(platform::ml::rawValue(key.dataType)));
    return h;
}

MLArrayCache::MLArrayCache(platform::Executor& executor) : strand_(executor) {}

platform::Task<platform::Result<MultiArray>> MLArrayCache::getArray(Shape shape, DataType dataType) {
    co_await platform::resumeOn(strand_);
    auto it = cache_.find(CacheKey{shape, dataType});
    if (it != cache_.end() && !it->second.empty()) {
        MultiArray a = std::move(it->second.back());
        it->second.pop_back();
        co_return a;
    }
    co_return ANEMemoryUtils::createAlignedArray(shape, dataType, true);
}

platform::Task<void> MLArrayCache::returnArray(MultiArray array) {
    co_await platform::resumeOn(strand_);
    CacheKey key{array.shape(), array.dataType()};
    const auto keys = std::max<std::int64_t>(1, static_cast<std::int64_t>(cache_.size()));
    auto& list = cache_[key];
    // The share is computed before this key is counted, as the cache always has.
    if (static_cast<std::int64_t>(list.size()) >= maxCacheSize / keys) co_return;
    array.zero();
    list.push_back(std::move(array));
}

platform::Task<void> MLArrayCache::prewarm(std::vector<std::pair<Shape, DataType>> pairs) {
    co_await platform::resumeOn(strand_);
    const auto n = static_cast<std::int64_t>(pairs.size());
    const std::int64_t perPair = n == 1 ? 5 : (n > maxCacheSize ? 0 : std::min<std::int64_t>(5, maxCacheSize / std::max<std::int64_t>(n, 1)));
    for (const auto& [shape, type] : pairs) {
        std::vector<MultiArray> arrays;
        bool failed = false;
        for (std::int64_t i = 0; i < perPair; ++i) {
            auto a = ANEMemoryUtils::createAlignedArray(shape, type, true);
            if (!a) {
                failed = true;
                break;
            }
            arrays.push_back(std::move(*a));
        }
        if (failed) continue;  // that key keeps what it had
        cache_[CacheKey{shape, type}] = std::move(arrays);
    }
}

platform::Task<std::size_t> MLArrayCache::spareCount(Shape shape, DataType dataType) {
    co_await platform::resumeOn(strand_);
    auto it = cache_.find(CacheKey{shape, dataType});
    co_return it == cache_.end() ? 0 : it->second.size();
}

}  // namespace auralith
