#pragma once

#include <optional>
#include <string>

#include "Parlowen/listenlater/render/player/MacQueuePlayer.h"
#include "Parlowen/listenlater/render/player/PodcastRenderSource.h"
#include "Parlowen/model/QueueItem.h"

namespace parlowen {

// What the now-playing panel shows and does, without widgets: its texts, the
// enabling of its controls and where its progress slider seeks.
namespace now_playing {

inline constexpr std::size_t kQuoteLength = 160;

// "%d:%02d" of the whole seconds (0 when negative); minutes are not folded into hours.
std::string formatTime(double seconds);
// "“" + the first 160 characters of the text + "…”", whatever its length.
std::string quote(const std::string& text);
// The item's voice, or the podcast's two host voices ("Puck + Charon").
std::string voiceLabel(const QueueItem& item, MacQueuePlayer::Variant variant,
                       const std::optional<PodcastPlaybackInfo>& podcast);
// "%.1f×" of the rate.
std::string rateText(float rate);
// A ready article with a file, or a ready podcast record with a file.
bool canPlay(const QueueItem& item, MacQueuePlayer::Variant variant, const std::optional<PodcastPlaybackInfo>& podcast);
// This item and variant are the ones playing.
bool isPlayingThis(const MacQueuePlayer& player, const QueueItem& item, MacQueuePlayer::Variant variant);
// The loaded audio's length, else the item's own.
double totalTime(const MacQueuePlayer& player, const QueueItem& item);
// currentTime / duration of the loaded audio, 0 without one.
double progressFraction(const MacQueuePlayer& player);
// Where moving the progress slider to `fraction` seeks; none without audio.
std::optional<double> seekTarget(const MacQueuePlayer& player, double fraction);

}  // namespace now_playing
}  // namespace parlowen
