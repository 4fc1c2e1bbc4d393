#include <gtest/gtest.h>

#include "Parlowen/listenlater/render/player/PlayerFixture.h"

using namespace parlowen;
using namespace parlowen::testing;

namespace {

using MacQueuePlayerTest = PlayerFixture;

TEST_F(MacQueuePlayerTest, VariantRawValues) {
    EXPECT_EQ(MacQueuePlayer::variantFromRaw("article"), Variant::article);
    EXPECT_EQ(MacQueuePlayer::variantFromRaw("podcast"), Variant::podcast);
    EXPECT_EQ(MacQueuePlayer::variantFromRaw("Podcast"), std::nullopt);
    EXPECT_EQ(MacQueuePlayer::variantFromRaw(""), std::nullopt);
    EXPECT_EQ(MacQueuePlayer::rawValue(Variant::podcast), "podcast");
}

TEST_F(MacQueuePlayerTest, StartsIdle) {
    EXPECT_EQ(player->currentItemID().get(), std::nullopt);
    EXPECT_EQ(player->currentVariant().get(), std::nullopt);
    EXPECT_FALSE(player->isPlaying().get());
    EXPECT_EQ(player->currentTime().get(), 0);
    EXPECT_EQ(player->duration().get(), 0);
    EXPECT_EQ(player->rate().get(), 1.0f);
    EXPECT_FALSE(player->hasAudio());
}

TEST_F(MacQueuePlayerTest, ResumesAtTheStoredPositionOnlyWhenItLiesInsideTheAudio) {
    struct Case { double stored; double expected; };
    for (const Case c : {Case{42.5, 42.5}, Case{0, 0}, Case{300, 0}, Case{310, 0}}) {
        SCOPED_TRACE(c.stored);
        const QueueItem item = article(300, c.stored);
        player->play(item, Variant::article);
        EXPECT_EQ(player->currentTime().get(), c.expected);
        EXPECT_EQ(audioNow().currentTime(), c.expected);
        EXPECT_TRUE(player->isPlaying().get());
    }
    const QueueItem item = article(300);
    addPodcast(item, 600, 120);
    player->play(item, Variant::podcast);
    EXPECT_EQ(player->currentTime().get(), 120);
    EXPECT_EQ(player->duration().get(), 600);
}

TEST_F(MacQueuePlayerTest, PublishesInOrderAndLogsThePlayLine) {
    const QueueItem item = article(300, 10);
    std::vector<std::string> order;
    platform::SubscriptionSet subs;
    subs += player->currentItemID().stream().dropFirst().subscribe([&](auto) { order.push_back("item"); });
    subs += player->currentVariant().stream().dropFirst().subscribe([&](auto) { order.push_back("variant"); });
    subs += player->duration().stream().dropFirst().subscribe([&](auto) { order.push_back("duration"); });
    subs += player->currentTime().stream().dropFirst().subscribe([&](auto) { order.push_back("time"); });
    subs += player->isPlaying().stream().dropFirst().subscribe([&](auto) { order.push_back("playing"); });
    player->play(item, Variant::article);
    EXPECT_EQ(order, (std::vector<std::string>{"item", "variant", "duration", "time", "playing"}));
    EXPECT_TRUE(audioNow().prepared());
    EXPECT_TRUE(audioNow().rateEnabled());
    const auto line = logs->find("play ");
    ASSERT_TRUE(line);
    EXPECT_EQ(line->message, "play " + item.id.uuidString() + " variant=article duration=300.000000s");
    EXPECT_EQ(line->category, "queue-player");
}

TEST_F(MacQueuePlayerTest, NoAudioLeavesThePlayingAudioAlone) {
    const QueueItem playing = article(300);
    player->play(playing, Variant::article);
    main.advance(2s);

    QueueItem gone = article(300);
    fs::remove(gone.audioFileURL->filePath());
    const QueueItem noPodcast = article(300);
    for (const auto& [item, variant] : {std::pair{gone, Variant::article}, std::pair{noPodcast, Variant::podcast}}) {
        logs->clear();
        player->play(item, variant);
        EXPECT_EQ(logs->messages(), std::vector<std::string>{"can't play " + item.id.uuidString() + " variant=" +
                                                             std::string(MacQueuePlayer::rawValue(variant)) +
                                                             " — no audio file"});
        EXPECT_EQ(player->currentItemID().get(), playing.id);
        EXPECT_TRUE(player->isPlaying().get());
    }
    main.advance(500ms);
    EXPECT_DOUBLE_EQ(player->currentTime().get(), 2.5);  // the timer still runs
    EXPECT_EQ(audio.opened().size(), 1u);
}

TEST_F(MacQueuePlayerTest, AnOpenFailureKeepsThePreviousAudioWithItsTimerStopped) {
    const QueueItem first = article(300);
    player->play(first, Variant::article);
    main.advance(1s);
    const QueueItem broken = article(300);
    audio.failOpen(broken.audioFileURL->filePath(), "The file is not audio");
    player->play(broken, Variant::article);
    EXPECT_TRUE(logs->find("AVAudioPlayer failed: The file is not audio", platform::LogLevel::error));
    EXPECT_EQ(player->currentItemID().get(), first.id);
    EXPECT_TRUE(player->isPlaying().get());
    main.advance(3s);
    EXPECT_DOUBLE_EQ(player->currentTime().get(), 1.0);  // no ticks any more
    EXPECT_EQ(stored(first.id).playedThru, 0);           // nothing saved
}

TEST_F(MacQueuePlayerTest, ToggleSavesOnPauseAndResumesTheSameAudio) {
    const QueueItem item = article(300);
    player->toggle(item, Variant::article);
    platform::FakeAudioFilePlayer* opened = audio.last();
    main.advance(10s);
    player->toggle(item, Variant::article);
    EXPECT_FALSE(player->isPlaying().get());
    EXPECT_DOUBLE_EQ(stored(item.id).playedThru, 10);
    main.advance(5s);
    player->toggle(item, Variant::article);
    EXPECT_EQ(audio.opened().size(), 1u);
    EXPECT_EQ(audio.last(), opened);
    EXPECT_EQ(opened->playCount(), 2);
    EXPECT_TRUE(player->isPlaying().get());
    main.advance(1s);
    EXPECT_DOUBLE_EQ(player->currentTime().get(), 11);
}

TEST_F(MacQueuePlayerTest, TheOtherVariantOpensItsOwnFileAndTheOutgoingPositionIsSaved) {
    const QueueItem item = article(300, 5);
    addPodcast(item, 600, 100);
    player->play(item, Variant::article);
    main.advance(20s);
    player->toggle(item, Variant::podcast);
    EXPECT_EQ(player->currentVariant().get(), Variant::podcast);
    EXPECT_EQ(player->currentTime().get(), 100);
    EXPECT_EQ(audio.opened().size(), 2u);
    EXPECT_DOUBLE_EQ(stored(item.id).playedThru, 25);  // heard since the last pause is kept
    main.advance(30s);
    player->play(stored(item.id), Variant::article);  // the window passes the stored item
    ASSERT_EQ(podcasts.writes.size(), 1u);
    EXPECT_DOUBLE_EQ(podcasts.writes[0].second, 130);
    EXPECT_DOUBLE_EQ(player->currentTime().get(), 25);
}

TEST_F(MacQueuePlayerTest, ASuccessfulFinishStoresTheLengthAndCompletesTheArticle) {
    const QueueItem item = article(300, 290);
    player->play(item, Variant::article);
    audioNow().finish(true);
    main.runUntilIdle();
    EXPECT_FALSE(player->isPlaying().get());
    EXPECT_EQ(player->currentTime().get(), 300);
    EXPECT_EQ(player->currentItemID().get(), item.id);
    EXPECT_EQ(stored(item.id).playedThru, 300);
    EXPECT_TRUE(stored(item.id).completedAt);
    EXPECT_TRUE(logs->find("playback finished (success=true) for " + item.id.uuidString()));
    EXPECT_EQ(audio.opened().size(), 1u);  // nothing else starts

    player->play(item, Variant::article);  // again: from the beginning, same audio
    main.advance(500ms);
    EXPECT_DOUBLE_EQ(player->currentTime().get(), 0.5);
    EXPECT_EQ(audio.opened().size(), 1u);
}

TEST_F(MacQueuePlayerTest, ReplacingAFinishedAudioKeepsItRecordedAsFullyPlayed) {
    const QueueItem item = article(300, 290);
    player->play(item, Variant::article);
    audioNow().finish(true);
    main.runUntilIdle();
    player->play(article(200), Variant::article);
    EXPECT_EQ(stored(item.id).playedThru, 300);
}

TEST_F(MacQueuePlayerTest, AFailedFinishSavesTheCurrentPosition) {
    const QueueItem item = article(300);
    addPodcast(item, 600);
    player->play(item, Variant::podcast);
    main.advance(40s);
    audioNow().finish(false);
    main.runUntilIdle();
    EXPECT_FALSE(player->isPlaying().get());
    ASSERT_EQ(podcasts.writes.size(), 1u);
    EXPECT_DOUBLE_EQ(podcasts.writes[0].second, 40);
    EXPECT_TRUE(logs->find("playback finished (success=false) for " + item.id.uuidString()));
}

TEST_F(MacQueuePlayerTest, ATickThatFindsTheAudioStoppedSavesAndLogs) {
    const QueueItem item = article(300);
    player->play(item, Variant::article);
    main.advance(7s);
    audioNow().stopSilently();
    main.advance(500ms);
    EXPECT_FALSE(player->isPlaying().get());
    EXPECT_DOUBLE_EQ(stored(item.id).playedThru, 7);
    EXPECT_TRUE(logs->find("playback ended for " + item.id.uuidString()));
}

TEST_F(MacQueuePlayerTest, AReplacedAudiosLateEndReportAndADestroyedPlayerAreIgnored) {
    const QueueItem first = article(300);
    const QueueItem second = article(200);
    player->play(first, Variant::article);
    platform::FakeAudioFilePlayer* old = audio.last();
    old->finish(true);  // posted, not yet run
    player->play(second, Variant::article);
    main.runUntilIdle();
    EXPECT_TRUE(player->isPlaying().get());
    EXPECT_FALSE(logs->find("playback finished"));

    audioNow().finish(true);
    player.reset();
    main.advance(5s);  // neither the report nor the timer touches the destroyed player
    EXPECT_FALSE(logs->find("playback finished"));
}

TEST_F(MacQueuePlayerTest, PauseWithNothingLoadedCallsNoStore) {
    player->pause();
    EXPECT_TRUE(podcasts.writes.empty());
    EXPECT_FALSE(queue.persistPending());
}

TEST_F(MacQueuePlayerTest, SeekAndSkipStayInsideTheAudio) {
    struct Case { const char* what; double at; double seek; double skip; double expected; };
    const Case cases[] = {
        {"seek past the end", 0, 1000, 0, 300}, {"seek before 0", 0, -5, 0, 0},
        {"skip back", 10, -1, -15, 0},          {"skip forward", 290, -1, 30, 300},
    };
    const QueueItem item = article(300);
    player->seek(50);  // nothing loaded: nothing happens
    EXPECT_EQ(player->currentTime().get(), 0);
    player->play(item, Variant::article);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        player->seek(c.at);
        if (c.seek >= 0 || c.skip == 0) player->seek(c.seek);
        if (c.skip != 0) player->skip(c.skip);
        EXPECT_EQ(player->currentTime().get(), c.expected);
        EXPECT_EQ(audioNow().currentTime(), c.expected);
    }
    player->stop();  // the audio stays for seeks
    player->seek(20);
    EXPECT_EQ(player->currentTime().get(), 20);
}

TEST_F(MacQueuePlayerTest, RateIsClampedAndCarriedToTheNextFile) {
    struct Case { float set; float published; };
    for (const Case c : {Case{2.5f, 2.0f}, Case{0.3f, 0.5f}, Case{1.5f, 1.5f}}) {
        player->setRate(c.set);
        EXPECT_EQ(player->rate().get(), c.published);
    }
    const QueueItem item = article(300);
    player->play(item, Variant::article);
    EXPECT_EQ(audioNow().rate(), 1.5f);
    main.advance(2s);
    EXPECT_DOUBLE_EQ(player->currentTime().get(), 3);
    player->setRate(2.0f);
    EXPECT_EQ(audioNow().rate(), 2.0f);
}

TEST_F(MacQueuePlayerTest, StopResetsEverythingButTheRateAndSavesNothing) {
    const QueueItem item = article(300);
    player->setRate(1.2f);
    player->play(item, Variant::article);
    main.advance(30s);
    player->stop();
    EXPECT_EQ(player->currentItemID().get(), std::nullopt);
    EXPECT_EQ(player->currentVariant().get(), std::nullopt);
    EXPECT_FALSE(player->isPlaying().get());
    EXPECT_EQ(player->currentTime().get(), 0);
    EXPECT_EQ(player->duration().get(), 0);
    EXPECT_EQ(player->rate().get(), 1.2f);
    EXPECT_EQ(stored(item.id).playedThru, 0);
    main.advance(1s);
    EXPECT_EQ(player->currentTime().get(), 0);  // the timer is gone
}

}  // namespace
