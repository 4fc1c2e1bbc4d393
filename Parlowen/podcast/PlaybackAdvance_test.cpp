#include "Parlowen/podcast/PlaybackAdvance.h"
#include "Parlowen/podcast/PodcastCloudKitBridge.h"  // compiled here: nothing else uses the shell

#include <gtest/gtest.h>

namespace parlowen {
namespace {

using platform::Uuid;

QueueItem entry(const char* id, QueueItem::State state = QueueItem::State::ready, bool audio = true,
                bool completed = false) {
    QueueItem item;
    item.id = *Uuid::fromString(id);
    item.state = state;
    if (audio) item.audioFileURL = platform::Url::fromFilePath(std::string("/c/") + id + ".caf");
    if (completed) item.completedAt = platform::Date::fromTimeIntervalSinceReferenceDate(1);
    item.playedThru = 99;  // ignored
    return item;
}

constexpr const char* A = "AAAAAAAA-0000-4000-8000-000000000001";
constexpr const char* B = "AAAAAAAA-0000-4000-8000-000000000002";
constexpr const char* C = "AAAAAAAA-0000-4000-8000-000000000003";
constexpr const char* D = "AAAAAAAA-0000-4000-8000-000000000004";
constexpr const char* E = "AAAAAAAA-0000-4000-8000-000000000005";

TEST(PlaybackAdvance, IsPlayableNeedsReadyAudioAndNotCompleted) {
    EXPECT_TRUE(PlaybackAdvance::isPlayable(entry(A)));
    EXPECT_FALSE(PlaybackAdvance::isPlayable(entry(A, QueueItem::State::rendering)));
    EXPECT_FALSE(PlaybackAdvance::isPlayable(entry(A, QueueItem::State::ready, false)));
    EXPECT_FALSE(PlaybackAdvance::isPlayable(entry(A, QueueItem::State::ready, true, true)));
}

TEST(PlaybackAdvance, NextTable) {
    using S = QueueItem::State;
    struct Case {
        const char* name;
        std::vector<QueueItem> list;
        const char* after;
        const char* expected;  // nullptr for none
    };
    const std::vector<Case> cases = {
        {"empty list", {}, A, nullptr},
        {"unknown id", {entry(A), entry(B)}, E, nullptr},
        {"last entry", {entry(A), entry(B)}, B, nullptr},
        {"never wraps", {entry(A), entry(B, S::error)}, B, nullptr},
        {"skips no audio, completed, not ready",
         {entry(A), entry(B, S::ready, false), entry(C, S::ready, true, true), entry(D, S::pendingRender), entry(E)},
         A, E},
        {"duplicate ids start after the first", {entry(A), entry(B), entry(A), entry(C)}, A, B},
    };
    for (const auto& c : cases) {
        auto next = PlaybackAdvance::next(*Uuid::fromString(c.after), c.list);
        if (!c.expected)
            EXPECT_FALSE(next) << c.name;
        else {
            ASSERT_TRUE(next) << c.name;
            EXPECT_EQ(next->id, *Uuid::fromString(c.expected)) << c.name;
        }
    }
}

}  // namespace
}  // namespace parlowen
