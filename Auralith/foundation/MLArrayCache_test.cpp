#include "Auralith/foundation/MLArrayCache.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/runtime/ManualExecutor.h"
#include "platform/runtime/WorkerPool.h"

namespace auralith {
namespace {

using platform::ml::DataType;
using platform::ml::MultiArray;
using platform::ml::Shape;

class MLArrayCacheTest : public ::testing::Test {
protected:
    template <class T>
    T run(platform::Task<T> task) {
        auto h = platform::spawn(ex_, std::move(task));
        ex_.runUntilIdle();
        EXPECT_TRUE(h.done());
        if constexpr (!std::is_void_v<T>) return h.value();
    }
    MultiArray get(Shape shape, DataType type = DataType::float32) { return *run(cache_.getArray(shape, type)); }
    void put(MultiArray a) { run(cache_.returnArray(std::move(a))); }
    std::size_t spare(Shape shape, DataType type = DataType::float32) { return run(cache_.spareCount(shape, type)); }

    platform::ManualExecutor ex_;
    MLArrayCache cache_{ex_};
};

TEST_F(MLArrayCacheTest, LastReturnedIsFirstReusedAndComesBackZeroed) {
    auto a = get({1, 8});
    auto b = get({1, 8});
    EXPECT_EQ(a.strides(), (platform::ml::Strides{16, 1}));  // aligned with padded rows
    a.set(0, 3);
    b.set(1, 4);
    put(a);
    put(b);
    auto first = get({1, 8});
    auto second = get({1, 8});
    auto third = get({1, 8});
    EXPECT_TRUE(first.isSameArray(b));
    EXPECT_TRUE(second.isSameArray(a));
    EXPECT_FALSE(third.isSameArray(a) || third.isSameArray(b));
    EXPECT_EQ(first.get(1), 0);
    EXPECT_EQ(second.get(0), 0);
    // Another data type is another key.
    put(third);
    EXPECT_FALSE(get({1, 8}, DataType::float16).isSameArray(third));
}

TEST_F(MLArrayCacheTest, EachKeyKeepsItsShareOfTheCap) {
    put(*MultiArray::make({1}, DataType::float32));
    put(*MultiArray::make({2}, DataType::float32));
    for (int i = 0; i < 40; ++i) {
        auto a = *MultiArray::make({3}, DataType::float32);
        a.set(0, 9);
        put(a);
    }
    EXPECT_EQ(spare({3}), 33u);  // 100 / 3 keys
    auto extra = *MultiArray::make({3}, DataType::float32);
    extra.set(0, 9);
    put(extra);
    EXPECT_EQ(spare({3}), 33u);
    EXPECT_EQ(extra.get(0), 9);  // dropped as it was, not zeroed
}

TEST_F(MLArrayCacheTest, PrewarmCounts) {
    run(cache_.prewarm({{Shape{1, 5}, DataType::float32}}));
    EXPECT_EQ(spare({1, 5}), 5u);

    std::vector<std::pair<Shape, DataType>> thirty;
    for (int i = 0; i < 30; ++i) thirty.push_back({Shape{10 + i}, DataType::float32});
    run(cache_.prewarm(thirty));
    EXPECT_EQ(spare({10}), 3u);
    EXPECT_EQ(spare({39}), 3u);

    std::vector<std::pair<Shape, DataType>> many;
    for (int i = 0; i < 101; ++i) many.push_back({Shape{10 + i}, DataType::float32});
    run(cache_.prewarm(many));
    EXPECT_EQ(spare({10}), 0u);  // every listed key ends empty
    EXPECT_EQ(spare({1, 5}), 5u);  // unlisted keys keep theirs
}

TEST(MLArrayCacheThreadsTest, AnArrayIsNeverHandedOutTwiceAcrossThreads) {
    platform::WorkerPool pool(4);
    MLArrayCache cache(pool);
    std::vector<platform::JoinHandle<void>> returns;
    for (int i = 0; i < 20; ++i) returns.push_back(platform::spawn(pool, cache.returnArray(*MultiArray::make({4}, DataType::float32))));
    for (auto& h : returns)
        while (!h.done()) std::this_thread::yield();
    std::vector<platform::JoinHandle<platform::Result<MultiArray>>> handles;
    for (int i = 0; i < 40; ++i) handles.push_back(platform::spawn(pool, cache.getArray({4}, DataType::float32)));
    std::vector<MultiArray> got;
    for (auto& h : handles) {
        while (!h.done()) std::this_thread::yield();
        got.push_back(*h.value());
    }
    for (std::size_t i = 0; i < got.size(); ++i)
        for (std::size_t j = i + 1; j < got.size(); ++j) ASSERT_FALSE(got[i].isSameArray(got[j]));
}

}  // namespace
}  // namespace auralith
