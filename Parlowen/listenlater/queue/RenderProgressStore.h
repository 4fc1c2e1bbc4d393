#pragma once

#include <map>

#include "platform/runtime/Executor.h"
#include "platform/runtime/Observable.h"
#include "platform/values/Uuid.h"

namespace parlowen {

// How far each item's render has got, from 0 to 1. Renderers write it, the
// queue store clears an item's entry when its render ends, the queue list
// observes it. Main thread only; never saved.
class RenderProgressStore {
public:
    using Progress = std::map<platform::Uuid, double>;

    explicit RenderProgressStore(platform::Executor& main) : main_(main) {}

    // Clamps to 0 … 1 (a fraction that is not a number counts as 1). The first
    // value of an item is always stored; later ones only when they move by at
    // least 0.01, in either direction.
    void update(const platform::Uuid& id, double fraction);
    // Removes the item's entry, if it has one.
    void clear(const platform::Uuid& id);

    Progress progress() const { return progress_.get(); }
    // The current map, then each change (delivered before the store holds it).
    platform::Stream<Progress> progressStream() const { return progress_.stream(); }

private:
    platform::Executor& main_;
    platform::Observable<Progress> progress_;
};

}  // namespace parlowen
