#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "Parlowen/listenlater/queue/RenderProgressStore.h"
#include "platform/runtime/ManualExecutor.h"

using namespace parlowen;
using platform::Uuid;

namespace {

const Uuid kItem = *Uuid::fromString("11111111-1111-4111-8111-111111111111");

TEST(RenderProgressStore, ClampsIntoZeroToOneWithNaNAsOne) {
    platform::ManualExecutor main;
    const std::pair<double, double> cases[] = {
        {1.7, 1.0},
        {-0.3, 0.0},
        {0.25, 0.25},
        {std::numeric_limits<double>::quiet_NaN(), 1.0},
        {std::numeric_limits<double>::infinity(), 1.0},
        {-std::numeric_limits<double>::infinity(), 0.0},
    };
    for (const auto& [in, stored] : cases) {
        RenderProgressStore store(main);
        store.update(kItem, in);
        EXPECT_EQ(store.progress().at(kItem), stored) << in;
    }
}

TEST(RenderProgressStore, StoresOnlyMovesOfAtLeastOneHundredthEitherWay) {
    platform::ManualExecutor main;
    RenderProgressStore store(main);
    std::vector<double> published;
    auto sub = store.progressStream().subscribe([&](const RenderProgressStore::Progress& p) {
        if (p.count(kItem)) published.push_back(p.at(kItem));
    });

    store.update(kItem, 0.001);  // first value: always stored
    store.update(kItem, 0.5);
    store.update(kItem, 0.505);
    store.update(kItem, 0.509);
    store.update(kItem, 0.495);
    EXPECT_EQ(store.progress().at(kItem), 0.5);
    store.update(kItem, 0.51);
    EXPECT_EQ(store.progress().at(kItem), 0.51);
    store.update(kItem, 0.49);
    store.update(kItem, 0.02);  // a new render may start over
    EXPECT_EQ(published, (std::vector<double>{0.001, 0.5, 0.51, 0.49, 0.02}));
}

TEST(RenderProgressStore, ClearRemovesOnlyThatEntryAndIsSilentWithoutOne) {
    platform::ManualExecutor main;
    RenderProgressStore store(main);
    const Uuid other = Uuid::random();
    store.update(kItem, 0.3);
    store.update(other, 0.6);
    int changes = 0;
    auto sub = store.progressStream().subscribe([&](const RenderProgressStore::Progress&) { ++changes; });
    store.clear(kItem);
    store.clear(kItem);
    store.clear(Uuid::random());
    EXPECT_EQ(changes, 1 + 1);
    EXPECT_EQ(store.progress(), (RenderProgressStore::Progress{{other, 0.6}}));
}

}  // namespace
