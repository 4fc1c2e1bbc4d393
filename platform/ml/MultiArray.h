#pragma once

// Multi-dimensional arrays handed to and returned by models.
//
// A MultiArray is a handle: copies refer to the same array (the same memory,
// shape and strides), the way model code shares one buffer between a pool, a
// feature provider and the next prediction. `clone()` makes an independent
// copy. Strides are in elements and never negative; every element that the
// shape and strides reach lies inside the array's storage, which is checked
// whenever an array or view is made, and every accessor that takes an index
// checks it (in every build) and throws std::out_of_range when it is outside,
// so no accessor can leave the buffer.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/accel/Half.h"
#include "platform/runtime/Error.h"

namespace platform::ml {

// Element types, numbered as Core ML numbers them (the numbers appear in
// messages). int64, uint8 and bool, which ONNX exports use (token ids,
// lengths, masks), continue the scheme: kind in the high bits, width below.
enum class DataType : int {
    float16 = 65552,
    float32 = 65568,
    float64 = 65600,
    int8 = 131080,
    int32 = 131104,
    int64 = 131136,
    uint8 = 196616,
    boolean = 262152,  // one byte per element, 0 or 1
};
inline constexpr DataType kAllDataTypes[] = {DataType::float16, DataType::float32, DataType::float64, DataType::int8,
                                             DataType::int32,   DataType::int64,   DataType::uint8,   DataType::boolean};

constexpr int rawValue(DataType type) { return static_cast<int>(type); }
std::optional<DataType> dataTypeFromRawValue(int raw);
// The element size in bytes: 2, 4, 8, 1, 4, 8, 1, 1.
std::size_t bytesPerElement(DataType type);
// "float16", "float32", "float64", "int8", "int32", "int64", "uint8", "bool"
// (also the manifest spelling).
std::string_view dataTypeName(DataType type);
std::optional<DataType> dataTypeFromName(std::string_view name);

using Shape = std::vector<std::int64_t>;
using Strides = std::vector<std::int64_t>;

// Product of the dimensions; 1 for an empty shape.
std::int64_t elementCount(std::span<const std::int64_t> shape);
// Row-major strides without padding.
Strides denseStrides(std::span<const std::int64_t> shape);
// "[1, 3, 20]"
std::string shapeText(std::span<const std::int64_t> shape);

// Errors of the ml layer: domain "ml", codes after Core ML's model errors.
inline constexpr const char* kMLErrorDomain = "ml";
enum class MLErrorCode {
    generic = 0,
    featureType = 1,  // a feature of the wrong name, type, data type or shape
    io = 3,           // a bundle or package that cannot be read or written
    invalidArray = 10,
    runtimeUnavailable = 11,
};
Error mlError(MLErrorCode code, std::string description);

class MultiArray {
public:
    using Deallocator = std::function<void(void*)>;

    // The null handle; only `operator bool` and assignment may be used on it.
    MultiArray() = default;

    // A new zero-filled array with row-major strides (64-byte aligned memory).
    static Result<MultiArray> make(const Shape& shape, DataType type);
    // A new zero-filled array with the given strides; its memory covers what they reach.
    static Result<MultiArray> make(const Shape& shape, DataType type, const Strides& strides);
    // An array over memory that someone else allocated: `byteCount` bytes at
    // `data`. `release` runs once the last handle sharing the memory goes; with
    // no release action the memory is borrowed and must outlive every handle.
    static Result<MultiArray> wrap(void* data, std::size_t byteCount, const Shape& shape, DataType type,
                                   const Strides& strides, Deallocator release);
    // An array over `source`'s memory starting `elementOffset` elements after
    // the source's first element. The view keeps the memory alive.
    static Result<MultiArray> view(const MultiArray& source, const Shape& shape, const Strides& strides,
                                   std::int64_t elementOffset);

    explicit operator bool() const { return static_cast<bool>(impl_); }
    // True when both handles refer to the same array object.
    bool isSameArray(const MultiArray& other) const { return impl_ == other.impl_; }
    bool sharesStorageWith(const MultiArray& other) const;

    DataType dataType() const;
    const Shape& shape() const;
    const Strides& strides() const;
    std::size_t rank() const { return shape().size(); }
    std::int64_t count() const;
    bool isDense() const;

    // The first element. Writable through any handle: the handle is not the data.
    void* data() const;
    // The first element as T, whose size must be the element size (else std::invalid_argument).
    template <class T>
    T* dataAs() const {
        static_assert(sizeof(T) == 1 || sizeof(T) == 2 || sizeof(T) == 4 || sizeof(T) == 8);
        return static_cast<T*>(checkedData(sizeof(T)));
    }
    // Elements of storage from data() on (what dense linear access may touch).
    std::int64_t storageElements() const;
    // 1 + the largest element offset the shape and strides reach (0 when empty).
    std::int64_t extentElements() const;

    // Dense linear access: the element at memory position i from data(),
    // ignoring strides. Requires 0 ≤ i < storageElements(). Integers beyond
    // 2^53 lose precision through double; read int64 arrays with dataAs.
    double get(std::int64_t i) const;
    void set(std::int64_t i, double value) const;
    float getFloat(std::int64_t i) const { return static_cast<float>(get(i)); }

    // Stride-aware access by index per dimension (one index per dimension, each within it).
    std::int64_t offsetOf(std::span<const std::int64_t> index) const;
    double getAt(std::initializer_list<std::int64_t> index) const;
    void setAt(std::initializer_list<std::int64_t> index, double value) const;
    double getAt(std::span<const std::int64_t> index) const { return get(offsetOf(index)); }
    void setAt(std::span<const std::int64_t> index, double value) const { set(offsetOf(index), value); }
    // Stride-aware access by row-major position i (0 ≤ i < count()).
    std::int64_t offsetOfLogical(std::int64_t i) const;
    double getLogical(std::int64_t i) const { return get(offsetOfLogical(i)); }
    void setLogical(std::int64_t i, double value) const { set(offsetOfLogical(i), value); }

    // Every element in row-major order, honouring strides, as single-precision floats.
    std::vector<float> toFloats() const;
    // Copies `source` into this array element by element, honouring both
    // arrays' strides and converting the element type. The shapes must have
    // the same element count in the same row-major order (equal shapes, or
    // shapes that differ only by dimensions of 1).
    Status copyFrom(const MultiArray& source) const;
    // A dense, independent copy.
    Result<MultiArray> clone() const;
    // Sets every element the shape reaches to zero.
    void zero() const;

private:
    struct Storage;
    struct Impl;
    void* checkedData(std::size_t elementSize) const;
    void checkPosition(std::int64_t i) const;
    std::shared_ptr<Impl> impl_;
};

}  // namespace platform::ml
