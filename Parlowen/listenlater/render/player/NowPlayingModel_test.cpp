#include "Parlowen/listenlater/render/player/NowPlayingModel.h"

#include <gtest/gtest.h>

#include "Parlowen/listenlater/render/player/PlayerFixture.h"
#include "platform/text/Unicode.h"

using namespace parlowen;
using namespace parlowen::testing;
using namespace parlowen::now_playing;

namespace {

TEST(NowPlayingModel, FormatTime) {
    struct Case { double seconds; const char* text; };
    for (const Case c : {Case{0, "0:00"}, Case{59.99, "0:59"}, Case{61, "1:01"}, Case{3725, "62:05"},
                         Case{-3, "0:00"}, Case{std::nan(""), "0:00"}}) {
        EXPECT_EQ(formatTime(c.seconds), c.text) << c.seconds;
    }
}

TEST(NowPlayingModel, QuoteAlwaysEndsWithTheEllipsisAndCutsAt160Characters) {
    EXPECT_EQ(quote("Short text."), "\u201CShort text.\u2026\u201D");
    std::string long_;
    for (int i = 0; i < 170; ++i) long_ += "e\u0301";  // one character of two code points
    const std::string q = quote(long_);
    EXPECT_EQ(platform::text::graphemeCount(q), 160u + 3u);
    EXPECT_TRUE(q.ends_with("e\u0301\u2026\u201D"));
}

TEST(NowPlayingModel, VoiceLabelAndCanPlay) {
    QueueItem item;
    item.voiceID = "";
    EXPECT_EQ(voiceLabel(item, Variant::article, std::nullopt), "Default voice");
    item.voiceID = "af_heart";
    EXPECT_EQ(voiceLabel(item, Variant::article, std::nullopt), "af_heart");
    PodcastPlaybackInfo both{.hostAVoiceID = "Puck", .hostBVoiceID = "Charon"};
    PodcastPlaybackInfo one{.hostAVoiceID = "Puck"};
    EXPECT_EQ(voiceLabel(item, Variant::podcast, both), "Puck + Charon");
    EXPECT_EQ(voiceLabel(item, Variant::podcast, one), "Podcast");
    EXPECT_EQ(voiceLabel(item, Variant::podcast, std::nullopt), "Podcast");
    EXPECT_EQ(rateText(2.0f), "2.0\u00D7");
    EXPECT_EQ(rateText(0.5f), "0.5\u00D7");

    const Url file = Url::fromFilePath("/tmp/a.caf");
    item.state = QueueItem::State::ready;
    EXPECT_FALSE(canPlay(item, Variant::article, std::nullopt));  // no file
    item.audioFileURL = file;
    EXPECT_TRUE(canPlay(item, Variant::article, std::nullopt));
    item.state = QueueItem::State::rendering;
    EXPECT_FALSE(canPlay(item, Variant::article, std::nullopt));
    EXPECT_FALSE(canPlay(item, Variant::podcast, std::nullopt));
    EXPECT_FALSE(canPlay(item, Variant::podcast, PodcastPlaybackInfo{.ready = false, .audioURL = file}));
    EXPECT_FALSE(canPlay(item, Variant::podcast, PodcastPlaybackInfo{.ready = true}));
    EXPECT_TRUE(canPlay(item, Variant::podcast, PodcastPlaybackInfo{.ready = true, .audioURL = file}));
}

using NowPlayingModelPlayer = PlayerFixture;

TEST_F(NowPlayingModelPlayer, TimesFollowTheLoadedAudioElseTheItem) {
    QueueItem shown = article(3725);
    EXPECT_EQ(formatTime(totalTime(*player, shown)), "62:05");
    EXPECT_EQ(progressFraction(*player), 0);
    EXPECT_EQ(seekTarget(*player, 0.5), std::nullopt);  // no audio

    const QueueItem other = article(200);
    player->play(other, Variant::article);
    main.advance(50s);
    EXPECT_EQ(formatTime(totalTime(*player, shown)), "3:20");
    EXPECT_DOUBLE_EQ(progressFraction(*player), 0.25);
    EXPECT_TRUE(isPlayingThis(*player, other, Variant::article));
    EXPECT_FALSE(isPlayingThis(*player, other, Variant::podcast));
    EXPECT_FALSE(isPlayingThis(*player, shown, Variant::article));
    EXPECT_EQ(seekTarget(*player, 0.5), 100);
    EXPECT_EQ(seekTarget(*player, 1.5), 200);
    EXPECT_EQ(seekTarget(*player, -1), 0);
}

TEST_F(NowPlayingModelPlayer, AShortAudioSeeksOnAOneSecondScaleCappedAtItsLength) {
    player->play(article(0.4), Variant::article);
    EXPECT_DOUBLE_EQ(*seekTarget(*player, 0.25), 0.25);
    EXPECT_DOUBLE_EQ(*seekTarget(*player, 0.9), 0.4);
    player->stop();  // the audio stays loaded for seeks
    EXPECT_DOUBLE_EQ(*seekTarget(*player, 0.25), 0.25);
}

}  // namespace
