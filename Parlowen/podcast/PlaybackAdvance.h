#pragma once

#include <optional>
#include <vector>

#include "Parlowen/model/QueueItem.h"
#include "platform/values/Uuid.h"

namespace parlowen::PlaybackAdvance {

// Ready, with an audio file, not completed (the file itself is not checked).
bool isPlayable(const QueueItem& item);

// The first playable item after the first entry with `after`, in queue order;
// never wraps around to the start.
std::optional<QueueItem> next(const platform::Uuid& after, const std::vector<QueueItem>& in);

}  // namespace parlowen::PlaybackAdvance
