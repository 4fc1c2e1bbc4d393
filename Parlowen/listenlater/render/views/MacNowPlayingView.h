#pragma once

#include <functional>

#include <QIcon>
#include <QWidget>

#include "Parlowen/listenlater/render/player/MacQueuePlayer.h"
#include "Parlowen/listenlater/render/player/PodcastRenderSource.h"
#include "Parlowen/model/QueueItem.h"
#include "Parlowen/shell/views/ThemePalette.h"
#include "platform/runtime/Executor.h"
#include "platform/runtime/Observable.h"

class QLabel;
class QToolButton;

namespace platform::ui {
class FloatSlider;
}

namespace parlowen {

class NowPlayingArtwork;

// The now-playing panel for one queue item (460 × 520): artwork, title,
// source and voice, a quote of the text, progress with times, transport and
// speed, all wired to the queue player. The progress and skip controls act
// on whatever audio the player holds; the play button plays this item.
// Closing leaves the audio playing. The host decides how to present it.
class MacNowPlayingView : public QWidget {
public:
    static constexpr int kWidth = 460;
    static constexpr int kHeight = 520;
    static constexpr const char* kCloseTooltip = "Close the player (audio keeps playing in the background)";

    struct Dependencies {
        platform::Executor& main;
        MacQueuePlayer& player;
        PodcastRenderSource& podcasts;
    };

    MacNowPlayingView(Dependencies deps, QueueItem item, const ThemePalette& palette,
                      std::function<void()> dismiss, QWidget* parent = nullptr);
    ~MacNowPlayingView() override;

    // The host passes the item again when the queue changes it.
    void setItem(QueueItem item);
    const QueueItem& item() const { return item_; }
    MacQueuePlayer::Variant variant() const { return variant_; }
    // False while the mascot stands in (no hero image, still loading, or unreadable).
    bool showsHeroImage() const;

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void build();
    void setVariant(MacQueuePlayer::Variant variant);
    void scheduleRefresh();
    void refresh();
    void loadHeroImage();

    platform::Executor& main_;
    MacQueuePlayer& player_;
    PodcastRenderSource& podcasts_;
    QueueItem item_;
    ThemePalette palette_;
    std::function<void()> dismiss_;
    MacQueuePlayer::Variant variant_ = MacQueuePlayer::Variant::article;
    bool appeared_ = false;
    bool refreshPending_ = false;

    NowPlayingArtwork* artwork_ = nullptr;
    QLabel* title_ = nullptr;
    QLabel* source_ = nullptr;
    QLabel* sourceDot_ = nullptr;
    QLabel* voice_ = nullptr;
    QLabel* rateText_ = nullptr;
    QLabel* quote_ = nullptr;
    platform::ui::FloatSlider* progress_ = nullptr;
    QLabel* elapsed_ = nullptr;
    QLabel* total_ = nullptr;
    QToolButton* back_ = nullptr;
    QToolButton* playPause_ = nullptr;
    QIcon playIcon_;
    QIcon pauseIcon_;
    QToolButton* forward_ = nullptr;
    QWidget* speedRow_ = nullptr;
    platform::ui::FloatSlider* speed_ = nullptr;
    QToolButton* close_ = nullptr;

    platform::SubscriptionSet subscriptions_;
    platform::Lifetime lifetime_;
};

}  // namespace parlowen
