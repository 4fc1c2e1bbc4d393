#include "Parlowen/listenlater/queue/RenderProgressStore.h"

#include <cmath>

namespace parlowen {

namespace {
constexpr double kMinimumStep = 0.01;
}

void RenderProgressStore::update(const platform::Uuid& id, double fraction) {
    PARLOWEN_ASSERT_ON(main_);
    double v = std::isnan(fraction) ? 1.0 : std::min(fraction, 1.0);
    if (v < 0) v = 0;
    Progress current = progress_.get();
    auto it = current.find(id);
    if (it != current.end() && std::abs(it->second - v) < kMinimumStep) return;
    current[id] = v;
    progress_.set(std::move(current));
}

void RenderProgressStore::clear(const platform::Uuid& id) {
    PARLOWEN_ASSERT_ON(main_);
    Progress current = progress_.get();
    if (current.erase(id) == 0) return;
    progress_.set(std::move(current));
}

}  // namespace parlowen
