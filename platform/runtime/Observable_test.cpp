#include <gtest/gtest.h>

#include "platform/runtime/ManualExecutor.h"
#include "platform/runtime/Observable.h"

using namespace platform;
using namespace std::chrono_literals;

namespace {

TEST(Observable, SubscribersSeeTheNewValueBeforeTheOwnerHoldsIt) {
    Observable<int> value(1);
    std::vector<std::pair<int, int>> seen;  // (delivered, held by owner at that moment)
    auto sub = value.subscribe([&](const int& v) { seen.emplace_back(v, value.get()); });
    value.set(2);
    value.set(2);  // equal values are delivered again
    EXPECT_EQ(seen, (std::vector<std::pair<int, int>>{{1, 1}, {2, 1}, {2, 2}}));
    EXPECT_EQ(value.get(), 2);
}

TEST(Observable, ReleasingTheTokenEndsTheSubscription) {
    Observable<std::string> value("a");
    std::vector<std::string> seen;
    {
        auto sub = value.subscribe([&](const std::string& v) { seen.push_back(v); });
        value.set("b");
    }
    value.set("c");
    EXPECT_EQ(seen, (std::vector<std::string>{"a", "b"}));

    SubscriptionSet observations;
    observations += value.subscribe([&](const std::string& v) { seen.push_back(v); });
    observations.clear();
    value.set("d");
    EXPECT_EQ(seen, (std::vector<std::string>{"a", "b", "c"}));
}

TEST(Observable, ASubscriberMayCancelItselfOrWriteDuringDelivery) {
    Observable<int> value(0);
    Subscription self;
    int calls = 0;
    self = value.stream().dropFirst().subscribe([&](const int&) {
        ++calls;
        self.reset();
    });
    std::vector<int> seen;
    auto writer = value.stream().dropFirst().subscribe([&](const int& v) {
        seen.push_back(v);
        if (v == 1) value.set(10);
    });
    value.set(1);
    value.set(2);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(seen, (std::vector<int>{1, 10, 2}));
    // The outer write lands last: the owner holds what was written last by its own call.
    EXPECT_EQ(value.get(), 2);
}

TEST(Observable, OperatorsDropFirstRemoveDuplicatesAndMap) {
    Observable<int> value(5);
    std::vector<std::string> seen;
    auto sub = value.stream().dropFirst().removeDuplicates().map([](const int& v) { return std::to_string(v); })
                   .subscribe([&](const std::string& v) { seen.push_back(v); });
    for (int v : {5, 5, 6, 6, 5}) value.set(v);
    EXPECT_EQ(seen, (std::vector<std::string>{"5", "6", "5"}));
}

TEST(Observable, DebounceDeliversTheLastValueAfterAQuietPeriod) {
    ManualExecutor ex;
    Observable<int> value(0);
    std::vector<std::pair<int, Duration>> seen;
    auto sub = value.stream().dropFirst().debounce(ex, 300ms).subscribe([&](const int& v) {
        seen.emplace_back(v, ex.elapsed());
    });
    value.set(1);
    ex.advance(100ms);
    value.set(2);
    ex.advance(100ms);
    value.set(3);
    ex.advance(299ms);
    EXPECT_TRUE(seen.empty());
    ex.advance(1ms);
    EXPECT_EQ(seen, (std::vector<std::pair<int, Duration>>{{3, 500ms}}));

    value.set(4);
    sub.reset();  // a pending debounced value dies with the subscription
    ex.advance(1s);
    EXPECT_EQ(seen.size(), 1u);
}

TEST(Signal, DeliversOnlyWhatIsSentAfterSubscribing) {
    Signal<int> signal;
    signal.send(1);
    std::vector<int> seen;
    auto sub = signal.subscribe([&](const int& v) { seen.push_back(v); });
    signal.send(2);
    EXPECT_EQ(signal.subscriberCount(), 1u);
    sub.reset();
    signal.send(3);
    EXPECT_EQ(seen, std::vector<int>{2});
    EXPECT_EQ(signal.subscriberCount(), 0u);
}

TEST(Lifetime, GuardedCallbacksDoNothingOnceTheOwnerIsGone) {
    int calls = 0;
    std::function<void(int)> cb;
    {
        Lifetime life;
        cb = life.guard([&](int n) { calls += n; });
        cb(1);
    }
    cb(1);
    EXPECT_EQ(calls, 1);
}

}  // namespace
