#include "platform/ml/MultiArray.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <stdexcept>

#include <fmt/format.h>

namespace platform::ml {

std::optional<DataType> dataTypeFromRawValue(int raw) {
    switch (raw) {
        case 65552: return DataType::float16;
        case 65568: return DataType::float32;
        case 65600: return DataType::float64;
        case 131080: return DataType::int8;
        case 131104: return DataType::int32;
        case 131136: return DataType::int64;
        case 196616: return DataType::uint8;
        case 262152: return DataType::boolean;
        default: return std::nullopt;
    }
}

std::size_t bytesPerElement(DataType type) {
    switch (type) {
        case DataType::float16: return 2;
        case DataType::float32: return 4;
        case DataType::float64: return 8;
        case DataType::int8: return 1;
        case DataType::int32: return 4;
        case DataType::int64: return 8;
        case DataType::uint8: return 1;
        case DataType::boolean: return 1;
    }
    return 4;
}

std::string_view dataTypeName(DataType type) {
    switch (type) {
        case DataType::float16: return "float16";
        case DataType::float32: return "float32";
        case DataType::float64: return "float64";
        case DataType::int8: return "int8";
        case DataType::int32: return "int32";
        case DataType::int64: return "int64";
        case DataType::uint8: return "uint8";
        case DataType::boolean: return "bool";
    }
    return "unknown";
}

std::optional<DataType> dataTypeFromName(std::string_view name) {
    for (DataType t : kAllDataTypes)
        if (dataTypeName(t) == name) return t;
    return std::nullopt;
}

std::int64_t elementCount(std::span<const std::int64_t> shape) {
    std::int64_t n = 1;
    for (auto d : shape) n *= d;
    return n;
}

Strides denseStrides(std::span<const std::int64_t> shape) {
    Strides s(shape.size());
    std::int64_t stride = 1;
    for (std::size_t i = shape.size(); i-- > 0;) {
        s[i] = stride;
        stride *= std::max<std::int64_t>(shape[i], 1);
    }
    return s;
}

std::string shapeText(std::span<const std::int64_t> shape) { return fmt::format("[{}]", fmt::join(shape, ", ")); }

Error mlError(MLErrorCode code, std::string description) {
    const char* name = "generic";
    switch (code) {
        case MLErrorCode::generic: name = "generic"; break;
        case MLErrorCode::featureType: name = "featureType"; break;
        case MLErrorCode::io: name = "io"; break;
        case MLErrorCode::invalidArray: name = "invalidArray"; break;
        case MLErrorCode::runtimeUnavailable: name = "runtimeUnavailable"; break;
    }
    return Error::make(kMLErrorDomain, static_cast<int>(code), name, std::move(description));
}

struct MultiArray::Storage {
    void* base = nullptr;
    std::size_t bytes = 0;
    Deallocator release;
    ~Storage() {
        if (release) release(base);
    }
};

struct MultiArray::Impl {
    std::shared_ptr<Storage> storage;
    std::size_t byteOffset = 0;
    Shape shape;
    Strides strides;
    DataType type = DataType::float32;
    std::int64_t count = 0;

    std::byte* first() const { return static_cast<std::byte*>(storage->base) + byteOffset; }
};

namespace {

constexpr std::int64_t kMaxElements = std::int64_t{1} << 40;

// Checks shape and strides and returns the number of elements they reach
// (largest offset + 1, or 0 when the array has no element).
Result<std::int64_t> reachOf(const Shape& shape, const Strides& strides) {
    if (strides.size() != shape.size())
        return fail(mlError(MLErrorCode::invalidArray,
                            fmt::format("Strides {} do not match shape {}", shapeText(strides), shapeText(shape))));
    std::int64_t count = 1;
    std::int64_t last = 0;
    for (std::size_t i = 0; i < shape.size(); ++i) {
        if (shape[i] < 0)
            return fail(mlError(MLErrorCode::invalidArray, fmt::format("Invalid shape {}", shapeText(shape))));
        if (strides[i] < 0)
            return fail(mlError(MLErrorCode::invalidArray, fmt::format("Negative strides {}", shapeText(strides))));
        if (shape[i] == 0) return 0;
        if (count > kMaxElements / shape[i] || (strides[i] > 0 && shape[i] - 1 > (kMaxElements - last) / strides[i]))
            return fail(mlError(MLErrorCode::invalidArray, fmt::format("Array too large: {}", shapeText(shape))));
        count *= shape[i];
        last += (shape[i] - 1) * strides[i];
    }
    return last + 1;
}

// Zeroed 64-byte aligned memory of `size` bytes, a multiple of 64.
void* alignedZeroed(std::size_t size) {
    void* p = std::aligned_alloc(64, size);
    if (p) std::memset(p, 0, size);
    return p;
}

template <class T>
T saturate(double v) {
    if (std::isnan(v)) return 0;
    if (v <= static_cast<double>(std::numeric_limits<T>::min())) return std::numeric_limits<T>::min();
    if (v >= static_cast<double>(std::numeric_limits<T>::max())) return std::numeric_limits<T>::max();
    return static_cast<T>(v);
}

double loadElement(const std::byte* p, DataType type) {
    switch (type) {
        case DataType::float16: {
            accel::Half h;
            std::memcpy(&h, p, 2);
            return accel::halfToFloat(h);
        }
        case DataType::float32: {
            float f;
            std::memcpy(&f, p, 4);
            return f;
        }
        case DataType::float64: {
            double d;
            std::memcpy(&d, p, 8);
            return d;
        }
        case DataType::int8: return static_cast<double>(static_cast<std::int8_t>(*p));
        case DataType::int32: {
            std::int32_t v;
            std::memcpy(&v, p, 4);
            return v;
        }
        case DataType::int64: {
            std::int64_t v;
            std::memcpy(&v, p, 8);
            return static_cast<double>(v);
        }
        case DataType::uint8: return static_cast<double>(static_cast<std::uint8_t>(*p));
        case DataType::boolean: return *p != std::byte{0} ? 1.0 : 0.0;
    }
    return 0;
}

void storeElement(std::byte* p, DataType type, double value) {
    switch (type) {
        case DataType::float16: {
            const accel::Half h = accel::floatToHalf(static_cast<float>(value));
            std::memcpy(p, &h, 2);
            return;
        }
        case DataType::float32: {
            const float f = static_cast<float>(value);
            std::memcpy(p, &f, 4);
            return;
        }
        case DataType::float64: std::memcpy(p, &value, 8); return;
        case DataType::int8: {
            const auto v = saturate<std::int8_t>(value);
            std::memcpy(p, &v, 1);
            return;
        }
        case DataType::int32: {
            const auto v = saturate<std::int32_t>(value);
            std::memcpy(p, &v, 4);
            return;
        }
        case DataType::int64: {
            const auto v = saturate<std::int64_t>(value);
            std::memcpy(p, &v, 8);
            return;
        }
        case DataType::uint8: {
            const auto v = saturate<std::uint8_t>(value);
            std::memcpy(p, &v, 1);
            return;
        }
        case DataType::boolean: {
            // NaN is not zero, so it reads as true, as in C++.
            const std::uint8_t v = value != 0.0 ? 1 : 0;
            std::memcpy(p, &v, 1);
            return;
        }
    }
}

}  // namespace

Result<MultiArray> MultiArray::make(const Shape& shape, DataType type) { return make(shape, type, denseStrides(shape)); }

Result<MultiArray> MultiArray::make(const Shape& shape, DataType type, const Strides& strides) {
    auto reach = reachOf(shape, strides);
    if (!reach) return fail(reach.error());
    const std::size_t bytes = static_cast<std::size_t>(*reach) * bytesPerElement(type);
    const std::size_t size = std::max<std::size_t>(64, (bytes + 63) / 64 * 64);
    void* memory = alignedZeroed(size);
    if (!memory)
        return fail(mlError(MLErrorCode::invalidArray, fmt::format("Cannot allocate {} bytes for an array", bytes)));
    return wrap(memory, size, shape, type, strides, [](void* p) { std::free(p); });
}

Result<MultiArray> MultiArray::wrap(void* data, std::size_t byteCount, const Shape& shape, DataType type,
                                    const Strides& strides, Deallocator release) {
    auto storage = std::make_shared<Storage>();
    storage->base = data;
    storage->bytes = byteCount;
    storage->release = std::move(release);  // from here on the memory is released even on failure
    auto reach = reachOf(shape, strides);
    if (!reach) return fail(reach.error());
    if (!data && *reach > 0)
        return fail(mlError(MLErrorCode::invalidArray, "Cannot make an array over no memory"));
    const std::size_t need = static_cast<std::size_t>(*reach) * bytesPerElement(type);
    if (need > byteCount)
        return fail(mlError(MLErrorCode::invalidArray,
                            fmt::format("Shape {} with strides {} needs {} bytes; the memory holds {}",
                                        shapeText(shape), shapeText(strides), need, byteCount)));
    MultiArray a;
    a.impl_ = std::make_shared<Impl>(Impl{std::move(storage), 0, shape, strides, type, elementCount(shape)});
    return a;
}

Result<MultiArray> MultiArray::view(const MultiArray& source, const Shape& shape, const Strides& strides,
                                    std::int64_t elementOffset) {
    if (!source) return fail(mlError(MLErrorCode::invalidArray, "Cannot make a view of no array"));
    auto reach = reachOf(shape, strides);
    if (!reach) return fail(reach.error());
    const auto& s = *source.impl_;
    const std::int64_t available = source.storageElements();
    if (elementOffset < 0 || (*reach > 0 && elementOffset + *reach > available))
        return fail(mlError(MLErrorCode::invalidArray,
                            fmt::format("A view of shape {} at element {} leaves its array of {} elements",
                                        shapeText(shape), elementOffset, available)));
    MultiArray a;
    a.impl_ = std::make_shared<Impl>(Impl{s.storage,
                                          s.byteOffset + static_cast<std::size_t>(elementOffset) * bytesPerElement(s.type),
                                          shape, strides, s.type, elementCount(shape)});
    return a;
}

bool MultiArray::sharesStorageWith(const MultiArray& other) const {
    return impl_ && other.impl_ && impl_->storage == other.impl_->storage;
}

DataType MultiArray::dataType() const { return impl_->type; }
const Shape& MultiArray::shape() const { return impl_->shape; }
const Strides& MultiArray::strides() const { return impl_->strides; }
std::int64_t MultiArray::count() const { return impl_->count; }
bool MultiArray::isDense() const {
    const auto dense = denseStrides(impl_->shape);
    for (std::size_t i = 0; i < dense.size(); ++i)
        if (impl_->shape[i] > 1 && impl_->strides[i] != dense[i]) return false;
    return true;
}

void* MultiArray::data() const { return impl_->first(); }

void* MultiArray::checkedData(std::size_t elementSize) const {
    if (bytesPerElement(impl_->type) != elementSize)
        throw std::invalid_argument(fmt::format("A {} array read as {}-byte elements", dataTypeName(impl_->type),
                                                elementSize));
    return impl_->first();
}

std::int64_t MultiArray::storageElements() const {
    return static_cast<std::int64_t>((impl_->storage->bytes - impl_->byteOffset) / bytesPerElement(impl_->type));
}

std::int64_t MultiArray::extentElements() const { return *reachOf(impl_->shape, impl_->strides); }

namespace {
[[noreturn]] void outOfRange(std::string message) { throw std::out_of_range(std::move(message)); }
}  // namespace

void MultiArray::checkPosition(std::int64_t i) const {
    if (i < 0 || i >= storageElements())
        outOfRange(fmt::format("Element {} is outside an array of {} stored elements", i, storageElements()));
}

double MultiArray::get(std::int64_t i) const {
    checkPosition(i);
    return loadElement(impl_->first() + i * static_cast<std::int64_t>(bytesPerElement(impl_->type)), impl_->type);
}

void MultiArray::set(std::int64_t i, double value) const {
    checkPosition(i);
    storeElement(impl_->first() + i * static_cast<std::int64_t>(bytesPerElement(impl_->type)), impl_->type, value);
}

std::int64_t MultiArray::offsetOf(std::span<const std::int64_t> index) const {
    if (index.size() != impl_->shape.size())
        outOfRange(fmt::format("{} indices for an array of shape {}", index.size(), shapeText(impl_->shape)));
    std::int64_t offset = 0;
    for (std::size_t d = 0; d < index.size(); ++d) {
        if (index[d] < 0 || index[d] >= impl_->shape[d])
            outOfRange(fmt::format("Index {} is outside an array of shape {}", shapeText(index),
                                   shapeText(impl_->shape)));
        offset += index[d] * impl_->strides[d];
    }
    return offset;
}

double MultiArray::getAt(std::initializer_list<std::int64_t> index) const {
    return get(offsetOf(std::span(index.begin(), index.size())));
}

void MultiArray::setAt(std::initializer_list<std::int64_t> index, double value) const {
    set(offsetOf(std::span(index.begin(), index.size())), value);
}

std::int64_t MultiArray::offsetOfLogical(std::int64_t i) const {
    if (i < 0 || i >= impl_->count)
        outOfRange(fmt::format("Element {} is outside an array of {} elements", i, impl_->count));
    std::int64_t offset = 0;
    for (std::size_t d = impl_->shape.size(); d-- > 0;) {
        const std::int64_t dim = impl_->shape[d];
        offset += (i % dim) * impl_->strides[d];
        i /= dim;
    }
    return offset;
}

namespace {

// Calls f(offset) for every element in row-major order.
template <class F>
void forEachOffset(const Shape& shape, const Strides& strides, F&& f) {
    if (elementCount(shape) == 0) return;
    if (shape.empty()) {
        f(std::int64_t{0});
        return;
    }
    const std::size_t rank = shape.size();
    std::vector<std::int64_t> index(rank, 0);
    std::int64_t offset = 0;
    const std::int64_t inner = shape[rank - 1], innerStride = strides[rank - 1];
    for (;;) {
        for (std::int64_t j = 0; j < inner; ++j) f(offset + j * innerStride);
        std::size_t d = rank - 1;
        for (;;) {
            if (d == 0) return;
            --d;
            offset += strides[d];
            if (++index[d] < shape[d]) break;
            offset -= index[d] * strides[d];
            index[d] = 0;
        }
    }
}

Shape withoutUnitDims(const Shape& s) {
    Shape out;
    for (auto d : s)
        if (d != 1) out.push_back(d);
    return out;
}

}  // namespace

std::vector<float> MultiArray::toFloats() const {
    std::vector<float> out;
    out.reserve(static_cast<std::size_t>(impl_->count));
    if (impl_->type == DataType::float32 && isDense()) {
        const float* p = dataAs<float>();
        out.assign(p, p + impl_->count);
        return out;
    }
    if (impl_->type == DataType::float16 && isDense()) {
        out.resize(static_cast<std::size_t>(impl_->count));
        accel::convertHalfToFloat(std::span(dataAs<accel::Half>(), out.size()), out);
        return out;
    }
    forEachOffset(impl_->shape, impl_->strides, [&](std::int64_t o) { out.push_back(static_cast<float>(get(o))); });
    return out;
}

Status MultiArray::copyFrom(const MultiArray& source) const {
    const auto& src = *source.impl_;
    const auto& dst = *impl_;
    if (src.count != dst.count || withoutUnitDims(src.shape) != withoutUnitDims(dst.shape))
        return fail(mlError(MLErrorCode::invalidArray, fmt::format("Cannot copy an array of shape {} into one of shape {}",
                                                                   shapeText(src.shape), shapeText(dst.shape))));
    if (src.count == 0 || (impl_ == source.impl_)) return ok();
    const bool bothDense = isDense() && source.isDense();
    if (bothDense && src.type == dst.type) {
        std::memmove(dst.first(), src.first(), static_cast<std::size_t>(src.count) * bytesPerElement(src.type));
        return ok();
    }
    const auto n = static_cast<std::size_t>(src.count);
    if (bothDense && src.type == DataType::float32 && dst.type == DataType::float16 && !sharesStorageWith(source)) {
        accel::convertFloatToHalf(std::span(source.dataAs<float>(), n), std::span(dataAs<accel::Half>(), n));
        return ok();
    }
    if (bothDense && src.type == DataType::float16 && dst.type == DataType::float32 && !sharesStorageWith(source)) {
        accel::convertHalfToFloat(std::span(source.dataAs<accel::Half>(), n), std::span(dataAs<float>(), n));
        return ok();
    }
    // General path: read everything first, so overlapping memory is safe.
    std::vector<double> values;
    values.reserve(n);
    forEachOffset(src.shape, src.strides, [&](std::int64_t o) { values.push_back(source.get(o)); });
    std::size_t k = 0;
    forEachOffset(dst.shape, dst.strides, [&](std::int64_t o) { set(o, values[k++]); });
    return ok();
}

Result<MultiArray> MultiArray::clone() const {
    auto copy = make(impl_->shape, impl_->type);
    if (!copy) return copy;
    if (auto s = copy->copyFrom(*this); !s) return fail(s.error());
    return copy;
}

void MultiArray::zero() const {
    if (isDense()) {
        std::memset(impl_->first(), 0, static_cast<std::size_t>(impl_->count) * bytesPerElement(impl_->type));
        return;
    }
    forEachOffset(impl_->shape, impl_->strides, [&](std::int64_t o) { set(o, 0.0); });
}

}  // namespace platform::ml
