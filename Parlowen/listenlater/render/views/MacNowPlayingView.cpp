#include "Parlowen/listenlater/render/views/MacNowPlayingView.h"

#include <cmath>
#include <filesystem>

#include <QHBoxLayout>
#include <QImageReader>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QScrollArea>
#include <QThreadPool>
#include <QToolButton>
#include <QVBoxLayout>

#include "Parlowen/brand/BrandColors.h"
#include "Parlowen/brand/BrandFonts.h"
#include "Parlowen/brand/MascotArtwork.h"
#include "Parlowen/listenlater/render/player/NowPlayingModel.h"
#include "Parlowen/listenlater/render/views/NowPlayingSymbols.h"
#include "platform/ui/Contrast.h"
#include "platform/ui/FloatSlider.h"
#include "platform/ui/IconRegistry.h"
#include "platform/ui/ThemeScope.h"

namespace parlowen {

using platform::ui::Color;
using platform::ui::IconRegistry;
using platform::ui::toQColor;
using Variant = MacQueuePlayer::Variant;

namespace {

constexpr int kArtwork = 140;
constexpr int kArtworkImage = 124;
constexpr const char* kMascot = "quon-reading";

// Brand ink at `opacity` on the cream background, kept readable.
QColor ink(double opacity) { return toQColor(platform::ui::readableOn(brandInk().opacity(opacity), {brandCream()})); }

QLabel* label(const QFont& font, const QColor& color, const char* name) {
    auto* l = new QLabel;
    l->setObjectName(name);
    l->setFont(font);
    QPalette p = l->palette();
    p.setColor(QPalette::WindowText, color);
    l->setPalette(p);
    return l;
}

// A slider drawn for the cream background whatever the theme: light groove,
// `tint` for the filled part.
void tintSlider(QWidget* slider, const QColor& tint) {
    QPalette p = slider->palette();
    p.setColor(QPalette::Highlight, tint);
    for (auto role : {QPalette::Window, QPalette::Base, QPalette::Button})
        p.setColor(role, toQColor(brandLinen()));
    p.setColor(QPalette::Mid, ink(0.3));
    p.setColor(QPalette::Dark, ink(0.3));
    slider->setPalette(p);
}

QToolButton* symbolButton(const char* symbol, int size, const QColor& tint, const char* name) {
    auto* b = new QToolButton;
    b->setObjectName(name);
    b->setAutoRaise(true);
    b->setStyleSheet("QToolButton { border: none; background: transparent; }");
    b->setIconSize({size, size});
    b->setIcon(QIcon(IconRegistry::shared().templatePixmap(symbol, {size, size}, tint)));
    b->setCursor(Qt::PointingHandCursor);
    return b;
}

QLabel* symbolLabel(const char* symbol, int size, const QColor& tint, const char* name) {
    auto* l = new QLabel;
    l->setObjectName(name);
    l->setPixmap(IconRegistry::shared().templatePixmap(symbol, {size, size}, tint));
    return l;
}

}  // namespace

// The round artwork: a faint accent disc, the hero image (or the mascot)
// clipped to a circle, and a ring in the palette's dot stroke.
class NowPlayingArtwork : public QWidget {
public:
    NowPlayingArtwork(const ThemePalette& palette, QWidget* parent = nullptr)
        : QWidget(parent), palette_(palette) {
        setObjectName("nowPlayingArtwork");
        setFixedSize(kArtwork, kArtwork);
        showMascot();
    }
    void showMascot() {
        image_ = IconRegistry::shared().image(kMascot, {kArtworkImage, kArtworkImage}, devicePixelRatioF());
        isHero_ = false;
        update();
    }
    void showHero(QImage image) {
        image_ = std::move(image);
        isHero_ = true;
        update();
    }
    bool showsHeroImage() const { return isHero_; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        const QRectF outer(0, 0, kArtwork, kArtwork);
        p.setPen(Qt::NoPen);
        p.setBrush(toQColor(palette_.accent.opacity(0.14)));
        p.drawEllipse(outer);

        const qreal inset = (kArtwork - kArtworkImage) / 2.0;
        const QRectF inner = outer.adjusted(inset, inset, -inset, -inset);
        QPainterPath clip;
        clip.addEllipse(inner);
        p.save();
        p.setClipPath(clip);
        if (!image_.isNull()) {
            QSizeF size = image_.size();
            // The hero image fills the circle; the mascot fits inside it.
            size.scale(inner.size(), isHero_ ? Qt::KeepAspectRatioByExpanding : Qt::KeepAspectRatio);
            QRectF target(QPointF(), size);
            target.moveCenter(inner.center());
            p.drawImage(target, image_);
        }
        p.restore();

        // Stroked inside its bounds.
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(toQColor(palette_.dotStroke), 2));
        p.drawEllipse(outer.adjusted(1, 1, -1, -1));
    }

private:
    ThemePalette palette_;
    QImage image_;
    bool isHero_ = false;
};

MacNowPlayingView::MacNowPlayingView(Dependencies deps, QueueItem item, const ThemePalette& palette,
                                     std::function<void()> dismiss, QWidget* parent)
    : QWidget(parent),
      main_(deps.main),
      player_(deps.player),
      podcasts_(deps.podcasts),
      item_(std::move(item)),
      palette_(palette),
      dismiss_(std::move(dismiss)) {
    setObjectName("nowPlayingPanel");
    setFixedSize(kWidth, kHeight);
    ensureMascotArtwork();
    ensureNowPlayingSymbols();
    build();

    auto changed = [this](const auto&) { scheduleRefresh(); };
    subscriptions_ += player_.currentItemID().subscribe(changed);
    subscriptions_ += player_.currentVariant().subscribe(changed);
    subscriptions_ += player_.isPlaying().subscribe(changed);
    subscriptions_ += player_.currentTime().subscribe(changed);
    subscriptions_ += player_.duration().subscribe(changed);
    subscriptions_ += player_.rate().subscribe(changed);
    subscriptions_ += podcasts_.onChange([this] { scheduleRefresh(); });
    refresh();
    loadHeroImage();
}

MacNowPlayingView::~MacNowPlayingView() { lifetime_.end(); }

void MacNowPlayingView::build() {
    // The cream is the brand's, whatever the theme: painted, not taken from the palette.
    setAutoFillBackground(false);

    auto* scroll = new QScrollArea(this);
    scroll->setObjectName("nowPlayingScroll");
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->viewport()->setAutoFillBackground(false);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(scroll);

    auto* content = new QWidget;
    content->setObjectName("nowPlayingContent");
    content->setAutoFillBackground(false);
    auto* column = new QVBoxLayout(content);
    column->setSpacing(14);
    column->setContentsMargins(28, 20, 28, 20);

    // Artwork.
    column->addSpacing(4);
    artwork_ = new NowPlayingArtwork(palette_);
    column->addWidget(artwork_, 0, Qt::AlignHCenter);

    // Title and caption line.
    auto* titleGroup = new QVBoxLayout;
    titleGroup->setSpacing(6);
    title_ = label(brandTitle(), ink(1), "nowPlayingTitle");
    title_->setAlignment(Qt::AlignHCenter);
    title_->setWordWrap(true);
    titleGroup->addWidget(title_);
    auto* caption = new QHBoxLayout;
    caption->setSpacing(6);
    caption->addStretch();
    source_ = label(brandCaption(), ink(0.55), "nowPlayingSource");
    sourceDot_ = label(brandCaption(), ink(0.3), "nowPlayingSourceDot");
    sourceDot_->setText(QString::fromUtf8("\u00B7"));
    voice_ = label(brandCaption(), ink(0.55), "nowPlayingVoice");
    auto* voiceDot = label(brandCaption(), ink(0.3), "nowPlayingVoiceDot");
    voiceDot->setText(QString::fromUtf8("\u00B7"));
    // Qt 6.4 cannot ask for tabular figures; the desktop's sans fonts draw
    // digits of one width by default, so times and the rate do not jitter.
    rateText_ = label(brandCaption(), ink(0.55), "nowPlayingRate");
    for (QWidget* w : {static_cast<QWidget*>(source_), static_cast<QWidget*>(sourceDot_), static_cast<QWidget*>(voice_),
                       static_cast<QWidget*>(voiceDot), static_cast<QWidget*>(rateText_)})
        caption->addWidget(w);
    caption->addStretch();
    titleGroup->addLayout(caption);
    column->addLayout(titleGroup);

    // Quote: at most three lines, at least 60 high.
    quote_ = label(brandBody(), ink(0.85), "nowPlayingQuote");
    quote_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    quote_->setWordWrap(true);
    quote_->setContentsMargins(4, 0, 4, 0);
    const int lineHeight = QFontMetrics(brandBody()).lineSpacing();
    quote_->setMinimumHeight(60);
    quote_->setMaximumHeight(std::max(60, 3 * lineHeight));
    column->addWidget(quote_);

    // Progress.
    auto* progressGroup = new QVBoxLayout;
    progressGroup->setSpacing(6);
    progress_ = new platform::ui::FloatSlider(0, 1);
    progress_->setObjectName("nowPlayingProgress");
    tintSlider(progress_, toQColor(palette_.accent));
    connect(progress_, &platform::ui::FloatSlider::valueEdited, this, [this](double f) {
        if (auto target = now_playing::seekTarget(player_, f)) player_.seek(*target);
    });
    progressGroup->addWidget(progress_);
    auto* times = new QHBoxLayout;
    elapsed_ = label(brandCaption(), ink(0.55), "nowPlayingElapsed");
    total_ = label(brandCaption(), ink(0.55), "nowPlayingTotal");
    times->addWidget(elapsed_);
    times->addStretch();
    times->addWidget(total_);
    progressGroup->addLayout(times);
    column->addLayout(progressGroup);

    // Transport.
    auto* transport = new QHBoxLayout;
    transport->setSpacing(24);
    transport->addStretch();
    const int titleSize = QFontMetrics(brandTitle()).height();
    back_ = symbolButton("gobackward.15", titleSize, ink(0.75), "nowPlayingBack");
    playPause_ = symbolButton("play.circle.fill", 56, toQColor(palette_.accent), "nowPlayingPlayPause");
    // Drawn once: the button swaps them as playback starts and stops.
    playIcon_ = playPause_->icon();
    pauseIcon_ = QIcon(IconRegistry::shared().templatePixmap("pause.circle.fill", {56, 56}, toQColor(palette_.accent)));
    forward_ = symbolButton("goforward.30", titleSize, ink(0.75), "nowPlayingForward");
    back_->setAccessibleName("Back 15 seconds");
    forward_->setAccessibleName("Forward 30 seconds");
    connect(back_, &QToolButton::clicked, this, [this] { player_.skip(-15); });
    connect(playPause_, &QToolButton::clicked, this, [this] { player_.toggle(item_, variant_); });
    connect(forward_, &QToolButton::clicked, this, [this] { player_.skip(30); });
    for (QWidget* w : {back_, playPause_, forward_}) transport->addWidget(w, 0, Qt::AlignVCenter);
    transport->addStretch();
    column->addLayout(transport);

    // Speed.
    speedRow_ = new QWidget;
    speedRow_->setObjectName("nowPlayingSpeedRow");
    auto* speed = new QHBoxLayout(speedRow_);
    speed->setContentsMargins(0, 0, 0, 0);
    speed->setSpacing(12);
    const int captionSize = QFontMetrics(brandCaption()).height();
    speed->addWidget(symbolLabel("tortoise.fill", captionSize, ink(0.55), "nowPlayingSlower"));
    speed_ = new platform::ui::FloatSlider(MacQueuePlayer::kMinRate, MacQueuePlayer::kMaxRate);
    speed_->setObjectName("nowPlayingSpeed");
    tintSlider(speed_, ink(0.55));
    connect(speed_, &platform::ui::FloatSlider::valueEdited, this, [this](double v) {
        player_.setRate(static_cast<float>(std::round(v * 10) / 10));  // steps of 0.1
    });
    speed->addWidget(speed_, 1);
    speed->addWidget(symbolLabel("hare.fill", captionSize, ink(0.55), "nowPlayingFaster"));
    column->addWidget(speedRow_);

    column->addStretch(1);
    column->addSpacing(12);
    scroll->setWidget(content);
    content->setAutoFillBackground(false);  // setWidget turns it on

    // Close, over the content at the top-trailing corner.
    close_ = new QToolButton(this);
    close_->setObjectName("nowPlayingClose");
    close_->setAutoRaise(true);
    close_->setStyleSheet("QToolButton { border: none; background: transparent; }");
    close_->setToolTip(kCloseTooltip);
    close_->setIconSize({22, 22});
    {
        QPixmap icon(22 * devicePixelRatioF(), 22 * devicePixelRatioF());
        icon.setDevicePixelRatio(devicePixelRatioF());
        icon.fill(Qt::transparent);
        QPainter p(&icon);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(toQColor(brandCream()));
        p.drawEllipse(QRectF(0, 0, 22, 22));
        p.drawPixmap(0, 0, IconRegistry::shared().templatePixmap("xmark.circle.fill", {22, 22},
                                                                  toQColor(palette_.accent.opacity(0.6)),
                                                                  devicePixelRatioF()));
        p.end();
        close_->setIcon(QIcon(icon));
    }
    close_->setFixedSize(22, 22);
    close_->setCursor(Qt::PointingHandCursor);
    connect(close_, &QToolButton::clicked, this, [this] {
        if (dismiss_) dismiss_();
    });
    close_->raise();
}

void MacNowPlayingView::paintEvent(QPaintEvent*) {
    QPainter(this).fillRect(rect(), toQColor(brandCream()));
}

void MacNowPlayingView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    close_->move(width() - 12 - close_->width(), 12);
    close_->raise();
}

void MacNowPlayingView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (appeared_) return;
    appeared_ = true;
    if (player_.currentItemID().get() == item_.id)
        if (const auto loaded = player_.currentVariant().get()) setVariant(*loaded);
}

void MacNowPlayingView::setVariant(Variant variant) {
    if (variant == variant_) return;
    variant_ = variant;
    if (appeared_) player_.play(item_, variant_);
    refresh();
}

void MacNowPlayingView::setItem(QueueItem item) {
    const bool heroChanged = item.heroImageURL != item_.heroImageURL;
    item_ = std::move(item);
    refresh();
    if (heroChanged) loadHeroImage();
}

void MacNowPlayingView::scheduleRefresh() {
    // Observers hear a change before the player holds it: read it a turn later.
    if (refreshPending_) return;
    refreshPending_ = true;
    main_.post(lifetime_.guard([this] {
        refreshPending_ = false;
        refresh();
    }));
}

void MacNowPlayingView::refresh() {
    const auto podcast = podcasts_.render(item_.id);
    const bool canPlay = now_playing::canPlay(item_, variant_, podcast);

    title_->setText(QString::fromStdString(item_.title));
    const bool hasSource = item_.sourceApp.has_value();
    source_->setVisible(hasSource);
    sourceDot_->setVisible(hasSource);
    if (hasSource) source_->setText(QString::fromStdString(*item_.sourceApp));
    voice_->setText(QString::fromStdString(now_playing::voiceLabel(item_, variant_, podcast)));
    rateText_->setText(QString::fromStdString(now_playing::rateText(player_.rate().get())));
    quote_->setText(QString::fromStdString(now_playing::quote(item_.text)));

    progress_->setValue(now_playing::progressFraction(player_));
    elapsed_->setText(QString::fromStdString(now_playing::formatTime(player_.currentTime().get())));
    total_->setText(QString::fromStdString(now_playing::formatTime(now_playing::totalTime(player_, item_))));

    const bool playingThis = now_playing::isPlayingThis(player_, item_, variant_);
    playPause_->setIcon(playingThis ? pauseIcon_ : playIcon_);
    playPause_->setAccessibleName(playingThis ? "Pause" : "Play");
    speed_->setValue(player_.rate().get());

    for (QWidget* w : {static_cast<QWidget*>(progress_), static_cast<QWidget*>(back_),
                       static_cast<QWidget*>(playPause_), static_cast<QWidget*>(forward_), speedRow_})
        w->setEnabled(canPlay);
}

void MacNowPlayingView::loadHeroImage() {
    artwork_->showMascot();
    if (!item_.heroImageURL || !item_.heroImageURL->isFileURL()) return;
    const QString path = QString::fromStdString(item_.heroImageURL->filePath().string());
    // Decoded off the main thread; the mascot shows meanwhile and stays on failure.
    QThreadPool::globalInstance()->start([path, &main = main_, token = lifetime_.weak(), this] {
        QImage image = QImageReader(path).read();
        if (image.isNull()) return;
        main.post([token, this, image = std::move(image)]() mutable {
            if (!token.expired()) artwork_->showHero(std::move(image));
        });
    });
}

bool MacNowPlayingView::showsHeroImage() const { return artwork_->showsHeroImage(); }

}  // namespace parlowen
