#pragma once

// Test support: the queue player on virtual time with the audio-file player
// double, a real queue store on a temporary file and a stand-in podcast store.

#include <gtest/gtest.h>

#include <fstream>
#include <map>

#include "Parlowen/listenlater/render/player/MacQueuePlayer.h"
#include "platform/log/CaptureSink.h"
#include "platform/runtime/ManualExecutor.h"
#include "platform/testsupport/TempHome.h"

namespace parlowen::testing {

using namespace std::chrono_literals;
using platform::Url;
using platform::Uuid;
using Variant = MacQueuePlayer::Variant;
namespace fs = std::filesystem;


// Stands in for the podcast render store: records by item and every position write.
class FakePodcastRenders : public PodcastRenderSource {
public:
    std::map<Uuid, PodcastPlaybackInfo> records;
    std::vector<std::pair<Uuid, double>> writes;

    std::optional<PodcastPlaybackInfo> render(const Uuid& id) const override {
        auto it = records.find(id);
        return it == records.end() ? std::nullopt : std::optional(it->second);
    }
    void updatePlayedThru(const Uuid& id, double position) override {
        writes.emplace_back(id, position);
        if (auto it = records.find(id); it != records.end()) it->second.playedThru = position;
        changed_.send(true);
    }
    // Ends with the subscription, as the store's does: a closed panel hears nothing.
    platform::Subscription onChange(std::function<void()> changed) override {
        return changed_.subscribe([changed = std::move(changed)](bool) { changed(); });
    }

private:
    platform::Signal<bool> changed_;
};

class PlayerFixture : public ::testing::Test {
protected:
    platform::ManualExecutor main;
    platform::FixedClock clock{platform::Date::fromTimeIntervalSinceReferenceDate(700000000)};
    RenderProgressStore progress{main};
    testsupport::TempDir home;
    ListenLaterCache cache{home / "caches"};
    QueueService queue{{main, clock, progress, cache, {}}, home / "queue.json"};
    FakePodcastRenders podcasts;
    platform::FakeAudioFilePlayerFactory audio{main};
    platform::ScopedLogCapture logs;
    std::unique_ptr<MacQueuePlayer> player =
        std::make_unique<MacQueuePlayer>(MacQueuePlayer::Dependencies{main, queue, podcasts, audio});

    fs::path audioFile(const std::string& name, double duration) {
        const fs::path path = home / name;
        std::ofstream(path) << "x";
        audio.setDuration(path, duration);
        return path;
    }
    // A ready article of `duration` seconds with a file on disk, in the queue.
    QueueItem article(double duration = 300, double playedThru = 0) {
        const Uuid id = Uuid::random();
        QueueItem item = QueueItem::create({.id = id, .text = "Some text", .voiceID = "af_heart",
                                            .audioFileURL = Url::fromFilePath(audioFile(id.uuidString() + ".caf", duration)),
                                            .durationSec = duration, .state = QueueItem::State::ready,
                                            .playedThru = playedThru});
        queue.ingest(item);
        return item;
    }
    void addPodcast(const QueueItem& item, double duration, double playedThru = 0) {
        podcasts.records[item.id] = {.ready = true,
                                     .audioURL = Url::fromFilePath(audioFile(item.id.uuidString() + "-podcast.wav", duration)),
                                     .playedThru = playedThru};
    }
    QueueItem stored(const Uuid& id) const {
        for (const auto& i : queue.items())
            if (i.id == id) return i;
        return {};
    }
    platform::FakeAudioFilePlayer& audioNow() { return *audio.last(); }
};

}  // namespace parlowen::testing
