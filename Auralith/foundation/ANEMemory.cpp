#include "Auralith/foundation/ANEMemory.h"

#include <cstdlib>
#include <cstring>

#include "Auralith/diarization/DiarizerError.h"

namespace auralith {

using platform::ml::DataType;
using platform::ml::MultiArray;
using platform::ml::Shape;
using platform::ml::Strides;

platform::Error toError(ANEMemoryError error) {
    const char* name = "allocationFailed";
    if (error == ANEMemoryError::invalidShape) name = "invalidShape";
    if (error == ANEMemoryError::unsupportedDataType) name = "unsupportedDataType";
    return platform::Error::make(kANEMemoryErrorDomain, static_cast<int>(error), name,
                                 std::string("ANEMemoryError.") + name);
}

std::size_t ANEMemoryUtils::bytesPerElement(DataType type) {
    switch (type) {
        case DataType::float16: return 2;
        case DataType::float64: return 8;
        // Eight bytes: four would under-allocate an int64 array.
        case DataType::int64: return 8;
        // Four bytes for every other type, the one-byte ones included (generous, never short).
        case DataType::float32:
        case DataType::int32:
        case DataType::int8:
        case DataType::uint8:
        case DataType::boolean: return 4;
    }
    return 4;
}

Strides ANEMemoryUtils::calculateOptimalStrides(const Shape& shape) {
    if (shape.empty()) return {};
    Strides strides(shape.size());
    strides.back() = 1;
    if (shape.size() >= 2) {
        const std::int64_t inner = shape.back();
        const std::int64_t row = (inner + aneTileSize - 1) / aneTileSize * aneTileSize;
        strides[shape.size() - 2] = row;
        for (std::size_t i = shape.size() - 2; i-- > 0;) strides[i] = strides[i + 1] * shape[i + 1];
    }
    return strides;
}

namespace {
// Outermost stride times outermost size: the element extent the padded layout claims.
std::int64_t claimedExtent(const Shape& shape, const Strides& strides) {
    if (shape.empty()) return 0;
    return strides.front() * shape.front();
}
}  // namespace

std::size_t ANEMemoryUtils::alignedByteCount(const Shape& shape, DataType type) {
    const auto extent = static_cast<std::size_t>(std::max<std::int64_t>(0, claimedExtent(shape, calculateOptimalStrides(shape))));
    const std::size_t bytes = (extent * bytesPerElement(type) + aneAlignment - 1) / aneAlignment * aneAlignment;
    return std::max<std::size_t>(bytes, aneAlignment);
}

platform::Result<MultiArray> ANEMemoryUtils::createAlignedArray(const Shape& shape, DataType type, bool zeroFill) {
    for (auto d : shape)
        if (d < 0) return platform::fail(toError(ANEMemoryError::invalidShape));
    const Strides strides = calculateOptimalStrides(shape);
    const std::size_t bytes = alignedByteCount(shape, type);
    void* memory = std::aligned_alloc(aneAlignment, bytes);
    if (!memory) return platform::fail(toError(ANEMemoryError::allocationFailed));
    if (zeroFill) std::memset(memory, 0, bytes);
    return MultiArray::wrap(memory, bytes, shape, type, strides, [](void* p) { std::free(p); });
}

platform::Result<MultiArray> ANEMemoryUtils::createView(const MultiArray& source, const Shape& shape,
                                                        std::int64_t offset, std::optional<Strides> strides) {
    const Strides viewStrides = strides ? *strides : calculateOptimalStrides(shape);
    if (viewStrides.size() != shape.size() || offset < 0) return platform::fail(toError(ANEMemoryError::invalidShape));
    const std::int64_t viewExtent = claimedExtent(shape, viewStrides);
    const std::int64_t sourceExtent = claimedExtent(source.shape(), source.strides());
    if (offset + viewExtent > sourceExtent) return platform::fail(toError(ANEMemoryError::invalidShape));
    // The layout must also stay inside the memory itself.
    auto view = MultiArray::view(source, shape, viewStrides, offset);
    if (!view) return platform::fail(toError(ANEMemoryError::invalidShape));
    return view;
}

platform::Status ANEMemoryUtils::copyWithStrides(const MultiArray& source, const MultiArray& destination) {
    if (source.shape().empty()) return platform::ok();
    if (source.dataType() != destination.dataType())
        return platform::fail(toError(ANEMemoryError::unsupportedDataType));
    if (source.shape() != destination.shape() || source.strides().back() != 1 || destination.strides().back() != 1)
        return platform::fail(toError(ANEMemoryError::invalidShape));
    if (source.count() == 0) return platform::ok();
    const std::size_t element = platform::ml::bytesPerElement(source.dataType());
    auto* from = static_cast<const std::byte*>(source.data());
    auto* to = static_cast<std::byte*>(destination.data());
    if (source.strides() == destination.strides()) {
        // One block, never past either array's memory.
        const std::int64_t block = std::min({claimedExtent(source.shape(), source.strides()),
                                             source.storageElements(), destination.storageElements()});
        std::memmove(to, from, static_cast<std::size_t>(block) * element);
        return platform::ok();
    }
    const Shape& shape = source.shape();
    const std::size_t rank = shape.size();
    const std::size_t rowBytes = static_cast<std::size_t>(shape.back()) * element;
    const std::int64_t rows = platform::ml::elementCount(std::span(shape).first(rank - 1));
    std::vector<std::int64_t> index(rank - 1, 0);
    for (std::int64_t r = 0; r < rows; ++r) {
        std::int64_t s = 0, d = 0;
        for (std::size_t k = 0; k + 1 < rank; ++k) {
            s += index[k] * source.strides()[k];
            d += index[k] * destination.strides()[k];
        }
        std::memmove(to + d * element, from + s * element, rowBytes);
        for (std::size_t k = rank - 1; k-- > 0;) {  // the last outer index changes fastest
            if (++index[k] < shape[k]) break;
            index[k] = 0;
        }
    }
    return platform::ok();
}

platform::Result<MultiArray> ANEMemoryUtils::convertToFloat16(const MultiArray& source) {
    if (source.dataType() != DataType::float32) return platform::fail(toError(ANEMemoryError::unsupportedDataType));
    auto half = createAlignedArray(source.shape(), DataType::float16, false);
    if (!half) return half;
    // Element by element in logical order, so padded and packed layouts both come out right.
    if (auto s = half->copyFrom(source); !s) return platform::fail(toError(ANEMemoryError::invalidShape));
    return half;
}

platform::Result<MultiArray> ANEMemoryOptimizer::createAlignedArray(const Shape& shape, DataType type) {
    auto a = ANEMemoryUtils::createAlignedArray(shape, type, true);
    if (!a) return platform::fail(toError(DiarizerError::memoryAllocationFailed()));
    return a;
}

platform::Result<MultiArray> ANEMemoryOptimizer::getPooledBuffer(const std::string& key, const Shape& shape,
                                                                 DataType type) {
    std::lock_guard lock(bufferLock_);
    auto it = bufferPool_.find(key);
    if (it != bufferPool_.end() && it->second.shape() == shape && it->second.dataType() == type) return it->second;
    auto a = createAlignedArray(shape, type);
    if (!a) return a;
    bufferPool_.insert_or_assign(key, *a);
    return a;
}

platform::Status ANEMemoryOptimizer::preallocateBuffer(const std::string& key, const Shape& shape, DataType type) {
    std::lock_guard lock(bufferLock_);
    auto a = createAlignedArray(shape, type);
    if (!a) return platform::fail(a.error());
    bufferPool_.insert_or_assign(key, *a);
    return platform::ok();
}

void ANEMemoryOptimizer::clearBufferPool() {
    std::lock_guard lock(bufferLock_);
    bufferPool_.clear();
}

void ANEMemoryOptimizer::copyFloats(std::span<const float> values, const MultiArray& destination,
                                    std::int64_t offset, bool zeroFillRest) const {
    if (destination.dataType() != DataType::float32 || offset < 0) return;
    const std::int64_t count = destination.count();
    if (offset > count) return;
    const std::int64_t copied = std::min<std::int64_t>(static_cast<std::int64_t>(values.size()), count - offset);
    if (destination.isDense()) {
        float* p = destination.dataAs<float>();
        std::memcpy(p + offset, values.data(), static_cast<std::size_t>(copied) * sizeof(float));
        if (zeroFillRest) std::fill(p + offset + copied, p + count, 0.0f);
        return;
    }
    // Padded rows: element positions go by the array's own layout.
    for (std::int64_t i = 0; i < copied; ++i) destination.setLogical(offset + i, values[static_cast<std::size_t>(i)]);
    if (zeroFillRest)
        for (std::int64_t i = offset + copied; i < count; ++i) destination.setLogical(i, 0.0);
}

platform::Result<MultiArray> ANEMemoryOptimizer::createView(const MultiArray& source, const Shape& shape,
                                                            std::int64_t offset) const {
    const std::int64_t viewCount = platform::ml::elementCount(shape);
    if (offset < 0 || offset + viewCount > source.count())
        return platform::fail(toError(DiarizerError::invalidArrayBounds()));
    // A multi-dimensional view with padded rows can reach further than its
    // element count; it must still stay inside the source.
    auto view = MultiArray::view(source, shape, ANEMemoryUtils::calculateOptimalStrides(shape), offset);
    if (!view) return platform::fail(toError(DiarizerError::invalidArrayBounds()));
    return view;
}

std::vector<std::shared_ptr<ZeroCopyDiarizerFeatureProvider>> ANEMemoryOptimizer::createBatchProviders(
    const std::vector<MultiArray>& waveforms, const std::vector<MultiArray>& masks) const {
    std::vector<std::shared_ptr<ZeroCopyDiarizerFeatureProvider>> providers;
    const std::size_t n = std::min(waveforms.size(), masks.size());
    for (std::size_t i = 0; i < n; ++i) {
        platform::ml::FeatureMap features;
        features.emplace("waveform", waveforms[i]);
        features.emplace("mask", masks[i]);
        providers.push_back(std::make_shared<ZeroCopyDiarizerFeatureProvider>(std::move(features)));
    }
    return providers;
}

void prefetch(const MultiArray& array) {
    const std::int64_t last = std::min(array.count(), array.storageElements()) - 1;
    if (last < 0) return;
    volatile double sink = array.get(0);
    sink = array.get(last);
    (void)sink;
}

void fill(double value, const MultiArray& array) {
    if (array.dataType() != DataType::float32 && array.dataType() != DataType::int32) return;
    if (array.isDense()) {
        for (std::int64_t i = 0; i < array.count(); ++i) array.set(i, value);
        return;
    }
    for (std::int64_t i = 0; i < array.count(); ++i) array.setLogical(i, value);
}

}  // namespace auralith
