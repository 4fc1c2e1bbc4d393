#include "Parlowen/listenlater/render/player/NowPlayingModel.h"

#include <algorithm>
#include <cmath>

#include <fmt/format.h>

#include "platform/text/Unicode.h"

namespace parlowen::now_playing {

std::string formatTime(double seconds) {
    const long long s = seconds > 0 && std::isfinite(seconds) ? static_cast<long long>(seconds) : 0;
    return fmt::format("{}:{:02d}", s / 60, s % 60);
}

std::string quote(const std::string& text) {
    return "\u201C" + platform::text::graphemePrefix(text, kQuoteLength) + "\u2026\u201D";
}

std::string voiceLabel(const QueueItem& item, MacQueuePlayer::Variant variant,
                       const std::optional<PodcastPlaybackInfo>& podcast) {
    if (variant == MacQueuePlayer::Variant::article) return item.voiceID.empty() ? "Default voice" : item.voiceID;
    if (podcast && podcast->hostAVoiceID && podcast->hostBVoiceID)
        return *podcast->hostAVoiceID + " + " + *podcast->hostBVoiceID;
    return "Podcast";
}

std::string rateText(float rate) { return fmt::format("{:.1f}\u00D7", rate); }

bool canPlay(const QueueItem& item, MacQueuePlayer::Variant variant, const std::optional<PodcastPlaybackInfo>& podcast) {
    if (variant == MacQueuePlayer::Variant::article)
        return item.audioFileURL && item.state == QueueItem::State::ready;
    return podcast && podcast->audioURL && podcast->ready;
}

bool isPlayingThis(const MacQueuePlayer& player, const QueueItem& item, MacQueuePlayer::Variant variant) {
    return player.isPlaying().get() && player.currentItemID().get() == item.id &&
           player.currentVariant().get() == variant;
}

double totalTime(const MacQueuePlayer& player, const QueueItem& item) {
    const double d = player.duration().get();
    return d > 0 ? d : item.durationSec;
}

double progressFraction(const MacQueuePlayer& player) {
    const double d = player.duration().get();
    return d > 0 ? player.currentTime().get() / d : 0;
}

std::optional<double> seekTarget(const MacQueuePlayer& player, double fraction) {
    if (!player.hasAudio()) return std::nullopt;
    const double d = player.duration().get();
    const double target = fraction * (d > 1 ? d : 1.0);
    return std::max(std::min(target, player.audioDuration()), 0.0);
}

}  // namespace parlowen::now_playing
