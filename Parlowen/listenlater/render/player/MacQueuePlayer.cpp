#include "Parlowen/listenlater/render/player/MacQueuePlayer.h"

#include <algorithm>
#include <system_error>

namespace parlowen {

using platform::Uuid;

std::string_view MacQueuePlayer::rawValue(Variant variant) {
    return variant == Variant::article ? "article" : "podcast";
}

std::optional<MacQueuePlayer::Variant> MacQueuePlayer::variantFromRaw(std::string_view raw) {
    if (raw == "article") return Variant::article;
    if (raw == "podcast") return Variant::podcast;
    return std::nullopt;
}

MacQueuePlayer::MacQueuePlayer(Dependencies deps)
    : main_(deps.main), queue_(deps.queue), podcasts_(deps.podcasts), audio_(deps.audio) {}

MacQueuePlayer::~MacQueuePlayer() { lifetime_.end(); }

MacQueuePlayer::StoredAudio MacQueuePlayer::storedAudio(const QueueItem& item, Variant variant) const {
    if (variant == Variant::article) return {item.audioFileURL, item.playedThru};
    const auto record = podcasts_.render(item.id);
    if (!record) return {};
    return {record->audioURL, record->playedThru};
}

void MacQueuePlayer::play(const QueueItem& item, Variant variant) {
    PARLOWEN_ASSERT_ON(main_);
    if (player_ && currentItemID_.get() == item.id && currentVariant_.get() == variant) {
        player_->play();
        isPlaying_.set(true);
        startProgressTimer();
        return;
    }

    const StoredAudio stored = storedAudio(item, variant);
    std::error_code ec;
    if (!stored.url || !std::filesystem::exists(stored.url->filePath(), ec)) {
        log_.error("can't play {} variant={} — no audio file", item.id.uuidString(), rawValue(variant));
        return;
    }

    stopProgressTimer();
    auto opened = audio_.open(stored.url->filePath());
    if (!opened) {
        log_.error("AVAudioPlayer failed: {}", opened.error().description);
        return;
    }
    auto next = std::move(*opened);
    next->prepareToPlay();
    const std::uint64_t generation = ++generation_;
    next->setFinishHandler([this, &main = main_, token = lifetime_.weak(), generation](bool successfully) {
        // Any thread: only a posted job touches the player, and only while it lives.
        main.post([this, token, generation, successfully] {
            if (token.expired()) return;
            handleFinish(successfully, generation);
        });
    });
    next->setEnableRate(true);
    next->setRate(rate_.get());
    // Resumed only inside the audio; a position at or past its end starts it over.
    if (stored.playedThru > 0 && stored.playedThru < next->duration()) next->setCurrentTime(stored.playedThru);

    // Playing audio that is replaced is saved as a pause would, so switching
    // items or variants never loses what was heard since the last pause. Paused
    // or finished audio was saved when it stopped (a finished one as its full
    // length, which its rewound position must not overwrite).
    if (player_ && isPlaying_.get()) {
        player_->pause();
        persistPosition();
    }
    player_ = std::move(next);

    currentItemID_.set(item.id);
    currentVariant_.set(variant);
    duration_.set(player_->duration());
    currentTime_.set(player_->currentTime());

    player_->play();
    isPlaying_.set(true);
    startProgressTimer();
    log_.info("play {} variant={} duration={:.6f}s", item.id.uuidString(), rawValue(variant), player_->duration());
}

void MacQueuePlayer::toggle(const QueueItem& item, Variant variant) {
    if (currentItemID_.get() == item.id && currentVariant_.get() == variant && isPlaying_.get())
        pause();
    else
        play(item, variant);
}

void MacQueuePlayer::pause() {
    PARLOWEN_ASSERT_ON(main_);
    if (player_) player_->pause();
    isPlaying_.set(false);
    stopProgressTimer();
    persistPosition();
}

void MacQueuePlayer::stop() {
    PARLOWEN_ASSERT_ON(main_);
    if (player_) player_->stop();
    isPlaying_.set(false);
    currentItemID_.set(std::nullopt);
    currentVariant_.set(std::nullopt);
    currentTime_.set(0);
    duration_.set(0);
    stopProgressTimer();
}

void MacQueuePlayer::seek(double seconds) {
    if (!player_) return;
    const double target = std::max(std::min(seconds, player_->duration()), 0.0);
    player_->setCurrentTime(target);
    currentTime_.set(target);
}

void MacQueuePlayer::skip(double delta) {
    if (!player_) return;
    seek(player_->currentTime() + delta);
}

void MacQueuePlayer::setRate(float rate) {
    const float clamped = std::clamp(rate, kMinRate, kMaxRate);
    rate_.set(clamped);
    if (player_) player_->setRate(clamped);
}

void MacQueuePlayer::startProgressTimer() {
    progressTimer_ = main_.repeating(kTickInterval, lifetime_.guard([this] { tick(); }));
}

void MacQueuePlayer::stopProgressTimer() { progressTimer_.cancel(); }

void MacQueuePlayer::tick() {
    if (!player_) return;
    currentTime_.set(player_->currentTime());
    if (!player_->isPlaying() && isPlaying_.get()) handlePlaybackEnded();
}

void MacQueuePlayer::storePosition(double position) {
    const auto id = currentItemID_.get();
    const auto variant = currentVariant_.get();
    if (!id || !variant) return;
    if (*variant == Variant::podcast)
        podcasts_.updatePlayedThru(*id, position);
    else
        queue_.updatePlayedThru(*id, position);
}

void MacQueuePlayer::persistPosition() {
    if (!currentItemID_.get() || !player_) return;
    storePosition(player_->currentTime());
}

void MacQueuePlayer::handlePlaybackEnded() {
    isPlaying_.set(false);
    stopProgressTimer();
    persistPosition();
    log_.info("playback ended for {}", currentIDText());
}

void MacQueuePlayer::handleFinish(bool successfully, std::uint64_t generation) {
    PARLOWEN_ASSERT_ON(main_);
    if (generation != generation_) return;  // a replaced file's late report
    if (player_) player_->pause();
    isPlaying_.set(false);
    stopProgressTimer();
    if (!successfully || !currentItemID_.get()) {
        persistPosition();
    } else {
        // The loaded audio's length, published when it was opened.
        const double length = duration_.get();
        if (length > 0) {
            storePosition(length);
            currentTime_.set(length);
        }
    }
    log_.info("playback finished (success={}) for {}", successfully, currentIDText());
}

std::string MacQueuePlayer::currentIDText() const {
    const auto id = currentItemID_.get();
    return id ? id->uuidString() : "<nil>";
}

}  // namespace parlowen
