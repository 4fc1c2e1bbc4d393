#include "Parlowen/podcast/PlaybackAdvance.h"

#include <algorithm>

namespace parlowen::PlaybackAdvance {

bool isPlayable(const QueueItem& item) {
    return item.state == QueueItem::State::ready && item.audioFileURL.has_value() && !item.completedAt.has_value();
}

std::optional<QueueItem> next(const platform::Uuid& after, const std::vector<QueueItem>& in) {
    auto current = std::find_if(in.begin(), in.end(), [&](const QueueItem& item) { return item.id == after; });
    if (current == in.end()) return std::nullopt;
    auto found = std::find_if(std::next(current), in.end(), isPlayable);
    if (found == in.end()) return std::nullopt;
    return *found;
}

}  // namespace parlowen::PlaybackAdvance
