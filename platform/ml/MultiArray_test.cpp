#include "platform/ml/MultiArray.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>

namespace platform::ml {
namespace {

TEST(MultiArrayTest, DataTypeCodesAndSizes) {
    struct Case {
        DataType type;
        int raw;
        std::size_t bytes;
        const char* name;
    };
    const Case cases[] = {{DataType::float16, 65552, 2, "float16"},
                          {DataType::float32, 65568, 4, "float32"},
                          {DataType::float64, 65600, 8, "float64"},
                          {DataType::int8, 131080, 1, "int8"},
                          {DataType::int32, 131104, 4, "int32"},
                          {DataType::int64, 131136, 8, "int64"},
                          {DataType::uint8, 196616, 1, "uint8"},
                          {DataType::boolean, 262152, 1, "bool"}};
    for (const auto& c : cases) {
        EXPECT_EQ(rawValue(c.type), c.raw);
        EXPECT_EQ(dataTypeFromRawValue(c.raw), c.type);
        EXPECT_EQ(bytesPerElement(c.type), c.bytes);
        EXPECT_EQ(dataTypeName(c.type), c.name);
        EXPECT_EQ(dataTypeFromName(c.name), c.type);
    }
    EXPECT_FALSE(dataTypeFromRawValue(65569));
}

TEST(MultiArrayTest, NewArraysAreDenseZeroFilledAndShareOnCopy) {
    auto a = MultiArray::make({2, 3, 4}, DataType::float32);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->strides(), (Strides{12, 4, 1}));
    EXPECT_EQ(a->count(), 24);
    EXPECT_TRUE(a->isDense());
    for (int i = 0; i < 24; ++i) ASSERT_EQ(a->get(i), 0.0);

    MultiArray same = *a;  // a handle: the same array
    same.setAt({1, 2, 3}, 5.0);
    EXPECT_EQ(a->getAt({1, 2, 3}), 5.0);
    EXPECT_TRUE(same.isSameArray(*a));

    auto copy = a->clone();
    ASSERT_TRUE(copy);
    copy->setAt({1, 2, 3}, 7.0);
    EXPECT_EQ(a->getAt({1, 2, 3}), 5.0);
    EXPECT_FALSE(copy->isSameArray(*a));

    auto scalar = MultiArray::make({}, DataType::int32);
    ASSERT_TRUE(scalar);
    EXPECT_EQ(scalar->count(), 1);
}

TEST(MultiArrayTest, InvalidShapesAndStridesAreRefused) {
    EXPECT_FALSE(MultiArray::make({-1, 3}, DataType::float32));
    EXPECT_FALSE(MultiArray::make({2, 3}, DataType::float32, {3}));
    EXPECT_FALSE(MultiArray::make({2, 3}, DataType::float32, {-3, 1}));
    EXPECT_FALSE(MultiArray::make({1 << 30, 1 << 30}, DataType::float32));
    auto e = MultiArray::make({2, 3}, DataType::float32, {3});
    EXPECT_EQ(e.error().domain, kMLErrorDomain);
}

TEST(MultiArrayTest, WrappedMemoryIsCheckedAndReleasedOnceByTheLastHandle) {
    int releases = 0;
    auto release = [&](void* p) {
        ++releases;
        std::free(p);
    };
    // Too small for the shape: refused, and the memory is still released.
    auto tooSmall = MultiArray::wrap(std::malloc(16), 16, {2, 3}, DataType::float32, {3, 1}, release);
    EXPECT_FALSE(tooSmall);
    EXPECT_EQ(releases, 1);

    {
        auto a = MultiArray::wrap(std::malloc(24), 24, {2, 3}, DataType::float32, {3, 1}, release);
        ASSERT_TRUE(a);
        auto v = MultiArray::view(*a, {3}, {1}, 3);
        ASSERT_TRUE(v);
        a = fail(Error{});  // drop the first handle: the view keeps the memory
        EXPECT_EQ(releases, 1);
        v->set(0, 1.0);
    }
    EXPECT_EQ(releases, 2);
}

TEST(MultiArrayTest, ViewsStayInsideTheirSourceMemory) {
    auto a = MultiArray::make({768}, DataType::float32);
    ASSERT_TRUE(a);
    ASSERT_EQ(a->storageElements(), 768);
    auto inside = MultiArray::view(*a, {256}, {1}, 512);
    ASSERT_TRUE(inside);
    inside->set(0, 3.0);
    EXPECT_EQ(a->get(512), 3.0);
    EXPECT_FALSE(MultiArray::view(*a, {256}, {1}, 513));
    EXPECT_FALSE(MultiArray::view(*a, {1}, {1}, -1));
    // Padded strides that reach past the end are refused even when the element count fits.
    EXPECT_FALSE(MultiArray::view(*a, {2, 20}, {760, 1}, 0));
    EXPECT_TRUE(MultiArray::view(*a, {2, 20}, {748, 1}, 0));
}

TEST(MultiArrayTest, ElementAccessConvertsPerDataType) {
    struct Case {
        DataType type;
        double in;
        double out;
    };
    const Case cases[] = {
        {DataType::float32, 1.5, 1.5},        {DataType::float64, 0.1, 0.1},
        {DataType::float16, 1.1, 1.099609375}, {DataType::int32, -7.9, -7},
        {DataType::int32, 1e12, 2147483647},  {DataType::int8, 300, 127},
        {DataType::int8, -300, -128},         {DataType::int32, std::nan(""), 0},
        {DataType::int64, -5e15, -5e15},      {DataType::int64, 1e300, 9223372036854775807.0},
        {DataType::uint8, -3, 0},             {DataType::uint8, 300, 255},
        {DataType::uint8, 7.9, 7},            {DataType::boolean, 0.25, 1},
        {DataType::boolean, -2, 1},           {DataType::boolean, 0, 0},
    };
    for (const auto& c : cases) {
        auto a = MultiArray::make({1}, c.type);
        ASSERT_TRUE(a);
        a->set(0, c.in);
        EXPECT_EQ(a->get(0), c.out) << dataTypeName(c.type) << " " << c.in;
    }
}

TEST(MultiArrayTest, IndicesOutsideTheArrayThrowInEveryBuild) {
    auto a = MultiArray::make({2, 3}, DataType::float32);
    ASSERT_TRUE(a);
    const std::int64_t inside[] = {1, 2};
    EXPECT_NO_THROW(a->getAt(inside));
    EXPECT_NO_THROW(a->get(a->storageElements() - 1));
    EXPECT_THROW(a->get(a->storageElements()), std::out_of_range);
    EXPECT_THROW(a->set(-1, 0), std::out_of_range);
    EXPECT_THROW(a->getAt({2, 0}), std::out_of_range);
    EXPECT_THROW(a->setAt({0, 3}, 1), std::out_of_range);
    EXPECT_THROW(a->getAt({0}), std::out_of_range);  // too few indices
    EXPECT_THROW(a->getLogical(6), std::out_of_range);
    EXPECT_THROW(a->setLogical(-1, 0), std::out_of_range);
    EXPECT_THROW(a->dataAs<double>(), std::invalid_argument);
    // Int64 arrays copy exactly between themselves, beyond double's 2^53.
    auto big = MultiArray::make({2}, DataType::int64);
    big->dataAs<std::int64_t>()[1] = (std::int64_t{1} << 60) + 1;
    auto copy = big->clone();
    EXPECT_EQ(copy->dataAs<std::int64_t>()[1], (std::int64_t{1} << 60) + 1);
}

TEST(MultiArrayTest, StrideAwareAccessSkipsPadding) {
    auto padded = MultiArray::make({2, 3, 20}, DataType::float32, {96, 32, 1});
    ASSERT_TRUE(padded);
    EXPECT_FALSE(padded->isDense());
    EXPECT_EQ(padded->extentElements(), 1 * 96 + 2 * 32 + 19 + 1);
    for (std::int64_t i = 0; i < padded->count(); ++i) padded->setLogical(i, static_cast<double>(i));
    EXPECT_EQ(padded->get(32), 20.0);  // second row starts after the padding
    EXPECT_EQ(padded->get(96), 60.0);
    EXPECT_EQ(padded->getAt({1, 2, 19}), 119.0);
    const auto floats = padded->toFloats();
    ASSERT_EQ(floats.size(), 120u);
    for (std::size_t i = 0; i < floats.size(); ++i) ASSERT_EQ(floats[i], static_cast<float>(i));
}

TEST(MultiArrayTest, CopyFromHonoursBothLayoutsAndConvertsTypes) {
    auto dense = MultiArray::make({2, 20}, DataType::float32);
    auto padded = MultiArray::make({2, 20}, DataType::float16, {32, 1});
    ASSERT_TRUE(dense && padded);
    for (int i = 0; i < 40; ++i) dense->set(i, i + 0.25);
    ASSERT_TRUE(padded->copyFrom(*dense));
    EXPECT_EQ(padded->get(32), 20.25);
    EXPECT_EQ(padded->get(20), 0.0);  // padding untouched

    auto back = MultiArray::make({1, 2, 20}, DataType::float32);  // a unit dimension more
    ASSERT_TRUE(back->copyFrom(*padded));
    EXPECT_EQ(back->toFloats(), dense->toFloats());

    auto other = MultiArray::make({4, 10}, DataType::float32);
    EXPECT_FALSE(other->copyFrom(*dense));

    // Overlapping source and destination in one buffer.
    auto buffer = MultiArray::make({10}, DataType::float32);
    for (int i = 0; i < 10; ++i) buffer->set(i, i);
    auto head = MultiArray::view(*buffer, {5}, {1}, 0);
    auto shifted = MultiArray::view(*buffer, {5}, {2}, 1);  // elements 1, 3, 5, 7, 9
    ASSERT_TRUE(head->copyFrom(*shifted));
    EXPECT_EQ(buffer->toFloats(), (std::vector<float>{1, 3, 5, 7, 9, 5, 6, 7, 8, 9}));
}

TEST(MultiArrayTest, ZeroClearsOnlyTheElements) {
    auto padded = MultiArray::make({2, 3}, DataType::int32, {16, 1});
    for (int i = 0; i < padded->storageElements(); ++i) padded->set(i, 9);
    padded->zero();
    EXPECT_EQ(padded->get(0), 0);
    EXPECT_EQ(padded->get(18), 0);
    EXPECT_EQ(padded->get(3), 9);  // padding
}

}  // namespace
}  // namespace platform::ml
