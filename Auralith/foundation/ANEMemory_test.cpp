#include "Auralith/foundation/ANEMemory.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "Auralith/diarization/DiarizerError.h"
#include "platform/ml/Model.h"

namespace auralith {
namespace {

using platform::ml::DataType;
using platform::ml::MultiArray;
using platform::ml::Shape;
using platform::ml::Strides;

TEST(ANEMemoryTest, PaddedStridesAndAllocationSizes) {
    struct Case {
        Shape shape;
        Strides strides;
        DataType type;
        std::size_t bytes;
    };
    const Case cases[] = {
        {{2, 3, 20}, {96, 32, 1}, DataType::float32, 768},
        {{3, 16}, {16, 1}, DataType::float32, 192},
        {{7}, {1}, DataType::float32, 64},
        {{1}, {1}, DataType::float32, 64},
        {{}, {}, DataType::float32, 64},
        {{2, 1}, {16, 1}, DataType::float16, 64},
        {{4, 17}, {32, 1}, DataType::float64, 1024},
        {{4, 17}, {32, 1}, DataType::int64, 1024},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ANEMemoryUtils::calculateOptimalStrides(c.shape), c.strides);
        EXPECT_EQ(ANEMemoryUtils::alignedByteCount(c.shape, c.type), c.bytes);
        auto a = ANEMemoryUtils::createAlignedArray(c.shape, c.type, true);
        ASSERT_TRUE(a);
        EXPECT_EQ(a->strides(), c.strides);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(a->data()) % 64, 0u);
        EXPECT_EQ(static_cast<std::size_t>(a->storageElements()) * platform::ml::bytesPerElement(c.type), c.bytes);
    }
}

TEST(ANEMemoryTest, ViewsAreBoundsChecked) {
    auto source = ANEMemoryUtils::createAlignedArray({768}, DataType::float32, true);
    ASSERT_TRUE(source);
    auto view = ANEMemoryUtils::createView(*source, {256}, 512);
    ASSERT_TRUE(view);
    view->set(0, 9);
    EXPECT_EQ(source->get(512), 9);
    auto outside = ANEMemoryUtils::createView(*source, {256}, 513);
    ASSERT_FALSE(outside);
    EXPECT_EQ(outside.error().domain, kANEMemoryErrorDomain);
    EXPECT_EQ(outside.error().code, static_cast<int>(ANEMemoryError::invalidShape));

    ANEMemoryOptimizer optimizer;
    EXPECT_TRUE(optimizer.createView(*source, {256}, 512));
    auto bad = optimizer.createView(*source, {256}, 513);
    ASSERT_FALSE(bad);
    EXPECT_TRUE(isDiarizerError(bad.error(), DiarizerError::Case::invalidArrayBounds));
    EXPECT_EQ(bad.error().description, "Array bounds exceeded for zero-copy view.");
    // 20 × 30 = 600 elements fit the count, but rows padded to 32 reach 19·32 + 30 = 638 past offset 200.
    EXPECT_FALSE(optimizer.createView(*source, {20, 30}, 200));
    EXPECT_TRUE(optimizer.createView(*source, {20, 30}, 100));
}

TEST(ANEMemoryTest, CopyWithStridesBetweenLayouts) {
    auto padded = ANEMemoryUtils::createAlignedArray({2, 20}, DataType::float32, true);
    auto packed = MultiArray::make({2, 20}, DataType::float32);
    ASSERT_TRUE(padded && packed);
    for (int i = 0; i < 40; ++i) packed->set(i, i + 1);
    ASSERT_TRUE(ANEMemoryUtils::copyWithStrides(*packed, *padded));
    EXPECT_EQ(padded->get(19), 20);
    EXPECT_EQ(padded->get(20), 0);  // padding stays clear
    EXPECT_EQ(padded->get(32), 21);
    EXPECT_EQ(padded->toFloats(), packed->toFloats());

    auto samePadded = ANEMemoryUtils::createAlignedArray({2, 20}, DataType::float32, false);
    ASSERT_TRUE(ANEMemoryUtils::copyWithStrides(*padded, *samePadded));  // one block
    EXPECT_EQ(samePadded->toFloats(), packed->toFloats());

    auto three = ANEMemoryUtils::createAlignedArray({2, 3, 5}, DataType::int32, true);
    auto threePacked = MultiArray::make({2, 3, 5}, DataType::int32);
    for (int i = 0; i < 30; ++i) threePacked->set(i, i);
    ASSERT_TRUE(ANEMemoryUtils::copyWithStrides(*threePacked, *three));
    EXPECT_EQ(three->getAt({1, 2, 4}), 29);

    auto other = MultiArray::make({2, 20}, DataType::float16);
    EXPECT_FALSE(ANEMemoryUtils::copyWithStrides(*packed, *other));
    auto wrongShape = MultiArray::make({4, 10}, DataType::float32);
    EXPECT_FALSE(ANEMemoryUtils::copyWithStrides(*packed, *wrongShape));
    EXPECT_EQ(wrongShape->get(0), 0);
}

TEST(ANEMemoryTest, ConvertToFloat16KeepsEachElementInItsPlace) {
    auto packed = MultiArray::make({2, 20}, DataType::float32);
    for (int i = 0; i < 40; ++i) packed->set(i, i + 0.1);
    auto half = ANEMemoryUtils::convertToFloat16(*packed);
    ASSERT_TRUE(half);
    EXPECT_EQ(half->dataType(), DataType::float16);
    EXPECT_EQ(half->strides(), (Strides{32, 1}));
    EXPECT_NEAR(half->getAt({1, 0}), 20.1, 0.02);
    EXPECT_EQ(half->getAt({0, 0}), 0.0999755859375);
    auto ints = MultiArray::make({2}, DataType::int32);
    auto refused = ANEMemoryUtils::convertToFloat16(*ints);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().code, static_cast<int>(ANEMemoryError::unsupportedDataType));
}

TEST(ANEMemoryTest, PooledBuffersAreSharedPerKeyAndReplacedOnChange) {
    ANEMemoryOptimizer optimizer;
    auto a = optimizer.getPooledBuffer("vad_hidden_state", {1, 128}, DataType::float32);
    auto b = optimizer.getPooledBuffer("vad_hidden_state", {1, 128}, DataType::float32);
    ASSERT_TRUE(a && b);
    EXPECT_TRUE(a->isSameArray(*b));
    a->set(0, 5);
    auto c = optimizer.getPooledBuffer("vad_hidden_state", {1, 64}, DataType::float32);
    ASSERT_TRUE(c);
    EXPECT_FALSE(c->isSameArray(*a));
    EXPECT_EQ(c->get(0), 0);
    auto d = optimizer.getPooledBuffer("vad_hidden_state", {1, 64}, DataType::float16);
    EXPECT_FALSE(d->isSameArray(*c));
    EXPECT_TRUE(optimizer.getPooledBuffer("vad_hidden_state", {1, 64}, DataType::float16)->isSameArray(*d));

    ASSERT_TRUE(optimizer.preallocateBuffer("vad_cell_state", {2}, DataType::float32));
    auto e = optimizer.getPooledBuffer("vad_cell_state", {2}, DataType::float32);
    EXPECT_TRUE(optimizer.getPooledBuffer("vad_cell_state", {2}, DataType::float32)->isSameArray(*e));
    optimizer.clearBufferPool();
    EXPECT_FALSE(optimizer.getPooledBuffer("vad_cell_state", {2}, DataType::float32)->isSameArray(*e));
    EXPECT_FALSE(optimizer.getPooledBuffer("bad", {-1}, DataType::float32));
}

TEST(ANEMemoryTest, CopyFloatsWritesFromTheOffsetAndClearsTheRest) {
    ANEMemoryOptimizer optimizer;
    auto a = MultiArray::make({16}, DataType::float32);
    for (int i = 0; i < 16; ++i) a->set(i, -1);
    const std::vector<float> ten{1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    optimizer.copyFloats(ten, *a, 4, false);
    EXPECT_EQ(a->toFloats(), (std::vector<float>{-1, -1, -1, -1, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, -1, -1}));
    optimizer.copyFloats(ten, *a, 4, true);
    EXPECT_EQ(a->get(14), 0);
    EXPECT_EQ(a->get(15), 0);
    optimizer.copyFloats(ten, *a, 12, false);  // only four fit
    EXPECT_EQ(a->get(15), 4);
    optimizer.copyFloats(ten, *a, 40, true);  // an offset past the end writes nothing
    EXPECT_EQ(a->get(15), 4);

    auto ints = MultiArray::make({16}, DataType::int32);
    optimizer.copyFloats(ten, *ints, 0, true);
    EXPECT_EQ(ints->get(0), 0);

    // Padded rows: values go to the elements, not into the padding.
    auto padded = optimizer.createAlignedArray({2, 5}, DataType::float32);
    optimizer.copyFloats(ten, *padded, 0, false);
    EXPECT_EQ(padded->getAt({1, 0}), 6);
}

TEST(ANEMemoryTest, ProvidersHandOverTheSameArrays) {
    ANEMemoryOptimizer optimizer;
    std::vector<MultiArray> waves, masks;
    for (int i = 0; i < 3; ++i) waves.push_back(*MultiArray::make({1, 4}, DataType::float32));
    for (int i = 0; i < 2; ++i) masks.push_back(*MultiArray::make({1, 2}, DataType::float32));
    auto providers = optimizer.createBatchProviders(waves, masks);
    ASSERT_EQ(providers.size(), 2u);
    EXPECT_TRUE(platform::ml::multiArrayFeature(*providers[1], "waveform")->isSameArray(waves[1]));
    EXPECT_TRUE(platform::ml::multiArrayFeature(*providers[1], "mask")->isSameArray(masks[1]));
    EXPECT_EQ(providers[0]->featureNames(), (std::vector<std::string>{"mask", "waveform"}));

    platform::ml::DictionaryFeatureProvider source{{"segments", waves[0]}};
    EXPECT_FALSE(ZeroCopyFeatureProvider::chain(source, "missing", "input"));
    auto chained = ZeroCopyFeatureProvider::chain(source, "segments", "audio");
    ASSERT_TRUE(chained);
    EXPECT_EQ(chained->featureNames(), (std::vector<std::string>{"audio"}));
    EXPECT_TRUE(platform::ml::multiArrayFeature(*chained, "audio")->isSameArray(waves[0]));

    EXPECT_FALSE(ZeroCopyDiarizerFeatureProvider::chain(source, "missing", "audio", {}));
    auto withExtra = ZeroCopyDiarizerFeatureProvider::chain(source, "segments", "audio",
                                                            {{"audio", masks[0]}, {"weights", masks[1]}});
    ASSERT_TRUE(withExtra);
    EXPECT_TRUE(platform::ml::multiArrayFeature(*withExtra, "audio")->isSameArray(waves[0]));  // the chained value wins
    EXPECT_TRUE(platform::ml::multiArrayFeature(*withExtra, "weights")->isSameArray(masks[1]));
}

TEST(ANEMemoryTest, FillAndPrefetch) {
    auto f = MultiArray::make({2, 3}, DataType::float32);
    fill(1.5, *f);
    EXPECT_EQ(f->toFloats(), std::vector<float>(6, 1.5f));
    auto i = ANEMemoryUtils::createAlignedArray({2, 3}, DataType::int32, true);
    fill(7, *i);
    EXPECT_EQ(i->getAt({1, 2}), 7);
    EXPECT_EQ(i->get(3), 0);  // padding
    auto h = MultiArray::make({4}, DataType::float16);
    fill(2, *h);
    EXPECT_EQ(h->toFloats(), std::vector<float>(4, 0.0f));  // float16 is left alone
    prefetch(*f);
    prefetch(*MultiArray::make({0}, DataType::float32));
}

}  // namespace
}  // namespace auralith
