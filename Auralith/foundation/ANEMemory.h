#pragma once

// Arrays laid out the way the Neural Engine reads them fastest: 64-byte
// aligned memory with the innermost axis padded to a multiple of 16 elements.
// Readers honour strides. Views and providers never copy array data.

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "Auralith/foundation/ZeroCopyFeatureProvider.h"
#include "platform/ml/MultiArray.h"
#include "platform/runtime/Error.h"

namespace auralith {

enum class ANEMemoryError { allocationFailed, invalidShape, unsupportedDataType };
inline constexpr const char* kANEMemoryErrorDomain = "ANEMemoryUtils.ANEMemoryError";
platform::Error toError(ANEMemoryError error);

struct ANEMemoryUtils {
    static constexpr std::int64_t aneAlignment = 64;
    static constexpr std::int64_t aneTileSize = 16;

    // Element size as the allocator counts it: float16 2, float64 8, others 4.
    static std::size_t bytesPerElement(platform::ml::DataType type);
    // Innermost stride 1; the next one the innermost size rounded up to a
    // multiple of 16; each further one the product of the inner stride and size.
    static platform::ml::Strides calculateOptimalStrides(const platform::ml::Shape& shape);
    // The bytes an aligned array of this shape takes: the outermost stride times
    // the outermost size, in bytes, rounded up to a multiple of 64, at least 64.
    static std::size_t alignedByteCount(const platform::ml::Shape& shape, platform::ml::DataType type);
    // A new array over aligned memory with padded strides, released with the array.
    static platform::Result<platform::ml::MultiArray> createAlignedArray(const platform::ml::Shape& shape,
                                                                         platform::ml::DataType type, bool zeroFill);
    // An array over `source`'s memory from `offset` elements on, with the given
    // strides or padded ones; fails with invalidShape when it would leave the source.
    static platform::Result<platform::ml::MultiArray> createView(
        const platform::ml::MultiArray& source, const platform::ml::Shape& shape, std::int64_t offset,
        std::optional<platform::ml::Strides> strides = std::nullopt);
    // Copies `source` into `destination` row by row (one block when the
    // layouts agree). Both must have equal shapes and data types and an
    // innermost stride of 1; otherwise nothing is copied and invalidShape or
    // unsupportedDataType is returned.
    static platform::Status copyWithStrides(const platform::ml::MultiArray& source,
                                            const platform::ml::MultiArray& destination);
    // A new aligned float16 array of a float32 source's shape and values.
    static platform::Result<platform::ml::MultiArray> convertToFloat16(const platform::ml::MultiArray& source);
};

// A pool of aligned arrays keyed by role ("vad_hidden_state", ...), guarded
// by one lock. The pool hands the same array to every caller of one key; the
// owner must not use one role's buffer from two tasks at once.
class ANEMemoryOptimizer {
public:
    // Zero-filled aligned arrays; any failure is DiarizerError.memoryAllocationFailed.
    platform::Result<platform::ml::MultiArray> createAlignedArray(const platform::ml::Shape& shape,
                                                                  platform::ml::DataType type);
    platform::Result<platform::ml::MultiArray> getPooledBuffer(const std::string& key,
                                                               const platform::ml::Shape& shape,
                                                               platform::ml::DataType type);
    platform::Status preallocateBuffer(const std::string& key, const platform::ml::Shape& shape,
                                       platform::ml::DataType type);
    void clearBufferPool();

    // Copies into a float32 destination from element `offset` on, as many
    // values as fit; other destinations are left alone. A dense destination
    // takes them in memory order; a padded one by logical element, so its
    // padding is never written and rows stay where its strides put them.
    // With `zeroFillRest`, the elements after the copied ones are cleared.
    void copyFloats(std::span<const float> values, const platform::ml::MultiArray& destination,
                    std::int64_t offset, bool zeroFillRest) const;
    // A view of `shape` over `source` from `offset` with padded strides; fails
    // with DiarizerError.invalidArrayBounds when it would leave the source.
    platform::Result<platform::ml::MultiArray> createView(const platform::ml::MultiArray& source,
                                                          const platform::ml::Shape& shape,
                                                          std::int64_t offset) const;
    // One provider with "waveform" and "mask" per pair, up to the shorter list.
    std::vector<std::shared_ptr<ZeroCopyDiarizerFeatureProvider>> createBatchProviders(
        const std::vector<platform::ml::MultiArray>& waveforms,
        const std::vector<platform::ml::MultiArray>& masks) const;

private:
    std::mutex bufferLock_;
    std::map<std::string, platform::ml::MultiArray> bufferPool_;
};

// Reads the first and last element so the memory is touched before a prediction.
void prefetch(const platform::ml::MultiArray& array);
// Writes `value` into every element of a float32 or int32 array (by logical
// element, so a padded array's padding is left alone); other types are left
// alone.
void fill(double value, const platform::ml::MultiArray& array);

}  // namespace auralith
