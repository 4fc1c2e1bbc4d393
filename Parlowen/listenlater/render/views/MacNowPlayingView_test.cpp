#include "Parlowen/listenlater/render/views/MacNowPlayingView.h"

#include <QImage>
#include <QLabel>
#include <QSlider>
#include <QThreadPool>
#include <QToolButton>

#include <gtest/gtest.h>

#include "Parlowen/listenlater/render/player/PlayerFixture.h"
#include "platform/ui/Animations.h"
#include "platform/ui/FloatSlider.h"
#include "platform/ui/ScreenshotTesting.h"

namespace parlowen {
namespace {

using namespace parlowen::testing;
namespace ui = platform::ui;

const std::filesystem::path kShots = PARLOWEN_SCREENSHOT_DIR;

class NowPlayingViewTest : public PlayerFixture {
protected:
    std::unique_ptr<MacNowPlayingView> panel(const QueueItem& item, Theme theme = Theme::hearth) {
        auto view = std::make_unique<MacNowPlayingView>(MacNowPlayingView::Dependencies{main, *player, podcasts},
                                                        item, parlowen::palette(theme), [this] { ++dismissals; });
        setThemePalette(view.get(), parlowen::palette(theme));
        return view;
    }
    void show(MacNowPlayingView& view) {
        view.show();
        main.runUntilIdle();
    }
    template <class W = QWidget>
    W* child(QWidget& root, const char* name) {
        auto* w = root.findChild<W*>(name);
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    QString text(QWidget& root, const char* name) { return child<QLabel>(root, name)->text(); }
    void click(QWidget& root, const char* name) { child<QToolButton>(root, name)->click(); }

    ui::AnimationsOff noAnimations;
    int dismissals = 0;
};

TEST_F(NowPlayingViewTest, ShowsTheItemWithItsTimesQuoteAndVoice) {
    QueueItem item = article(3725);
    item.title = "A long read";
    item.sourceApp = "Firefox";
    item.text = "Short text.";
    auto view = panel(item);
    show(*view);
    EXPECT_EQ(view->size(), QSize(460, 520));
    EXPECT_EQ(text(*view, "nowPlayingTitle"), "A long read");
    EXPECT_EQ(text(*view, "nowPlayingSource"), "Firefox");
    EXPECT_EQ(text(*view, "nowPlayingVoice"), "af_heart");
    EXPECT_EQ(text(*view, "nowPlayingRate"), QString::fromUtf8("1.0\u00D7"));
    EXPECT_EQ(text(*view, "nowPlayingQuote"), QString::fromUtf8("\u201CShort text.\u2026\u201D"));
    EXPECT_EQ(text(*view, "nowPlayingElapsed"), "0:00");
    EXPECT_EQ(text(*view, "nowPlayingTotal"), "62:05");
    EXPECT_FALSE(view->showsHeroImage());
    EXPECT_EQ(child<QToolButton>(*view, "nowPlayingClose")->toolTip(),
              "Close the player (audio keeps playing in the background)");

    item.sourceApp.reset();
    view->setItem(item);
    EXPECT_FALSE(child(*view, "nowPlayingSource")->isVisible());  // the caption starts with the voice
    EXPECT_TRUE(child(*view, "nowPlayingVoice")->isVisible());
}

TEST_F(NowPlayingViewTest, AppearingForAnItemHeldInThePodcastVariantResumesThePodcast) {
    const QueueItem item = article(300);
    addPodcast(item, 600);
    player->play(item, Variant::podcast);
    platform::FakeAudioFilePlayer* podcast = audio.last();
    main.advance(10s);
    player->pause();
    auto view = panel(item);
    show(*view);
    EXPECT_EQ(view->variant(), Variant::podcast);
    EXPECT_TRUE(player->isPlaying().get());
    EXPECT_EQ(audio.last(), podcast);  // resumed, not reopened
    EXPECT_EQ(text(*view, "nowPlayingVoice"), "Podcast");
}

TEST_F(NowPlayingViewTest, AppearingForTheArticleVariantPlaysNothing) {
    const QueueItem item = article(300);
    player->play(item, Variant::article);
    player->pause();
    auto view = panel(item);
    show(*view);
    EXPECT_EQ(view->variant(), Variant::article);
    EXPECT_FALSE(player->isPlaying().get());
    EXPECT_EQ(audio.last()->playCount(), 1);
}

TEST_F(NowPlayingViewTest, APanelForAnotherItemShowsTheLoadedAudioAndPlaysItsOwnItem) {
    const QueueItem loaded = article(200);
    const QueueItem shown = article(300, 42);
    player->play(loaded, Variant::article);
    main.advance(65s);
    auto view = panel(shown);
    show(*view);
    EXPECT_EQ(text(*view, "nowPlayingElapsed"), "1:05");
    EXPECT_EQ(text(*view, "nowPlayingTotal"), "3:20");
    click(*view, "nowPlayingBack");  // acts on the loaded audio
    EXPECT_EQ(player->currentTime().get(), 50);

    click(*view, "nowPlayingPlayPause");
    main.runUntilIdle();
    EXPECT_EQ(player->currentItemID().get(), shown.id);
    EXPECT_EQ(player->currentTime().get(), 42);
    EXPECT_EQ(text(*view, "nowPlayingTotal"), "5:00");
    EXPECT_EQ(child<QToolButton>(*view, "nowPlayingPlayPause")->accessibleName(), "Pause");
    click(*view, "nowPlayingForward");
    EXPECT_EQ(player->currentTime().get(), 72);
}

TEST_F(NowPlayingViewTest, SlidersSeekAndSetTheRate) {
    const QueueItem item = article(300);
    auto view = panel(item);
    show(*view);
    click(*view, "nowPlayingPlayPause");
    main.runUntilIdle();
    child<ui::FloatSlider>(*view, "nowPlayingProgress")->moveTo(500);
    EXPECT_DOUBLE_EQ(player->currentTime().get(), 150);

    auto* speed = child<ui::FloatSlider>(*view, "nowPlayingSpeed");
    speed->moveTo(1000);
    main.runUntilIdle();
    EXPECT_EQ(player->rate().get(), 2.0f);
    EXPECT_EQ(text(*view, "nowPlayingRate"), QString::fromUtf8("2.0\u00D7"));
    speed->moveTo(0);
    main.runUntilIdle();
    EXPECT_EQ(player->rate().get(), 0.5f);
    EXPECT_EQ(text(*view, "nowPlayingRate"), QString::fromUtf8("0.5\u00D7"));
    speed->moveTo(433);  // 1.1495 → a step of 0.1
    EXPECT_FLOAT_EQ(player->rate().get(), 1.1f);
}

TEST_F(NowPlayingViewTest, ControlsNeedAudioAndClosingLeavesItPlaying) {
    QueueItem notReady = article(300);
    notReady.state = QueueItem::State::rendering;
    auto view = panel(notReady);
    show(*view);
    for (const char* name : {"nowPlayingProgress", "nowPlayingBack", "nowPlayingPlayPause", "nowPlayingForward",
                             "nowPlayingSpeedRow"})
        EXPECT_FALSE(child(*view, name)->isEnabled()) << name;
    EXPECT_TRUE(child(*view, "nowPlayingClose")->isEnabled());

    const QueueItem ready = article(300);
    auto readyView = panel(ready);
    show(*readyView);
    EXPECT_TRUE(child(*readyView, "nowPlayingPlayPause")->isEnabled());
    click(*readyView, "nowPlayingPlayPause");
    click(*readyView, "nowPlayingClose");
    EXPECT_EQ(dismissals, 1);
    main.advance(2s);
    EXPECT_TRUE(player->isPlaying().get());
    EXPECT_DOUBLE_EQ(player->currentTime().get(), 2);
}

TEST_F(NowPlayingViewTest, AHeroImageReplacesTheMascotOnceLoaded) {
    QueueItem item = article(300);
    const fs::path hero = home / "hero.png";
    QImage image(64, 48, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    ASSERT_TRUE(image.save(QString::fromStdString(hero.string())));
    item.heroImageURL = Url::fromFilePath(hero);
    auto view = panel(item);
    EXPECT_FALSE(view->showsHeroImage());
    QThreadPool::globalInstance()->waitForDone();
    main.runUntilIdle();
    EXPECT_TRUE(view->showsHeroImage());

    item.heroImageURL = Url::fromFilePath(home / "missing.png");
    view->setItem(item);
    QThreadPool::globalInstance()->waitForDone();
    main.runUntilIdle();
    EXPECT_FALSE(view->showsHeroImage());
}

TEST_F(NowPlayingViewTest, ReadableInEveryTheme) {
    QueueItem item = article(300);
    item.title = "How rivers carve their valleys over ten thousand years";
    item.sourceApp = "Firefox";
    item.text = std::string(40, 'x') + " The slow work of water shapes the land in ways we rarely notice, grain by "
                "grain, season by season, until a valley opens where there once was rock and a river runs through it.";
    for (const auto& [theme, raw] : EnumCases<Theme>::cases) {
        SCOPED_TRACE(std::string(raw));
        auto view = panel(item, theme);
        show(*view);
        click(*view, "nowPlayingPlayPause");
        main.advance(30s);
        ui::testing::expectScreenshot(view.get(), kShots / ("now-playing-" + std::string(raw) + ".png"),
                                      {"nowPlayingArtwork", "nowPlayingTitle", "nowPlayingQuote", "nowPlayingProgress",
                                       "nowPlayingPlayPause", "nowPlayingSpeed", "nowPlayingClose"});
        player->stop();
    }
}

}  // namespace
}  // namespace parlowen
