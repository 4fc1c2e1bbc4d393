#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>

#include "Parlowen/podcast/PodcastRenderStore.h"
#include "platform/clouddb/CloudDatabase.h"
#include "platform/runtime/Observable.h"

namespace parlowen {

// The shell of a synchronisation object for podcast records: it holds its
// fields and does nothing else. Podcast records stay on this computer.
class PodcastCloudKitBridge {
public:
    const std::optional<std::reference_wrapper<platform::CloudDatabase>> database;
    PodcastRenderStore& store;
    std::map<std::string, int> pushedHashes;
    std::optional<platform::Subscription> observation;
};

}  // namespace parlowen
