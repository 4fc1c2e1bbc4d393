#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string_view>

#include "Parlowen/listenlater/render/player/PodcastRenderSource.h"
#include "Parlowen/listenlater/queue/QueueService.h"
#include "Parlowen/model/QueueItem.h"
#include "platform/audio/AudioFilePlayer.h"
#include "platform/log/Log.h"
#include "platform/runtime/Executor.h"
#include "platform/runtime/Observable.h"

namespace parlowen {

// Plays the rendered audio of Listen Later items, one loaded audio at a time:
// an item's own reading ("article") or its podcast. Resumes each audio where
// it was left, writes the position back to the store that owns it, and never
// moves on to another item by itself. Main executor only; one instance, owned
// by the composition root.
class MacQueuePlayer {
public:
    enum class Variant { article, podcast };
    static std::string_view rawValue(Variant variant);
    // "article" or "podcast"; any other text gives none.
    static std::optional<Variant> variantFromRaw(std::string_view raw);

    static constexpr float kMinRate = 0.5f;
    static constexpr float kMaxRate = 2.0f;
    static constexpr platform::Duration kTickInterval = std::chrono::milliseconds(500);

    struct Dependencies {
        platform::Executor& main;
        QueueService& queue;
        PodcastRenderSource& podcasts;
        platform::AudioFilePlayerFactory& audio;
    };

    explicit MacQueuePlayer(Dependencies deps);
    ~MacQueuePlayer();
    MacQueuePlayer(const MacQueuePlayer&) = delete;
    MacQueuePlayer& operator=(const MacQueuePlayer&) = delete;

    // Published state.
    const platform::Observable<std::optional<platform::Uuid>>& currentItemID() const { return currentItemID_; }
    const platform::Observable<std::optional<Variant>>& currentVariant() const { return currentVariant_; }
    const platform::Observable<bool>& isPlaying() const { return isPlaying_; }
    const platform::Observable<double>& currentTime() const { return currentTime_; }
    const platform::Observable<double>& duration() const { return duration_; }
    const platform::Observable<float>& rate() const { return rate_; }

    // Resumes the loaded audio when it is this item and variant; otherwise
    // opens the variant's file and starts it at its stored position.
    void play(const QueueItem& item, Variant variant);
    // Pauses when this item and variant are playing, else plays them.
    void toggle(const QueueItem& item, Variant variant);
    // Pauses and saves the position.
    void pause();
    // Stops and unloads (keeping the audio for seeks); saves nothing.
    void stop();
    void seek(double seconds);
    void skip(double delta);
    // Limited to 0.5–2.0; carried to every file opened later.
    void setRate(float rate);

    // Whether an audio file is held (also after stop()), and its own length.
    bool hasAudio() const { return player_ != nullptr; }
    double audioDuration() const { return player_ ? player_->duration() : 0; }

private:
    struct StoredAudio {
        std::optional<platform::Url> url;
        double playedThru = 0;
    };
    // The variant's file and stored position: the item's own, or its podcast record's.
    StoredAudio storedAudio(const QueueItem& item, Variant variant) const;
    void startProgressTimer();
    void stopProgressTimer();
    void tick();
    void persistPosition();
    void storePosition(double position);
    void handlePlaybackEnded();
    void handleFinish(bool successfully, std::uint64_t generation);
    std::string currentIDText() const;

    platform::Executor& main_;
    QueueService& queue_;
    PodcastRenderSource& podcasts_;
    platform::AudioFilePlayerFactory& audio_;

    platform::Observable<std::optional<platform::Uuid>> currentItemID_;
    platform::Observable<std::optional<Variant>> currentVariant_;
    platform::Observable<bool> isPlaying_{false};
    platform::Observable<double> currentTime_{0};
    platform::Observable<double> duration_{0};
    platform::Observable<float> rate_{1.0f};

    std::unique_ptr<platform::AudioFilePlayer> player_;
    // Counts loaded files, so that an end report of a replaced file that was
    // already on its way is ignored.
    std::uint64_t generation_ = 0;
    platform::ScopedTimer progressTimer_;
    platform::Logger log_{"com.kelvatrum.Parlowen", "queue-player"};
    platform::Lifetime lifetime_;
};

}  // namespace parlowen
