#include "Parlowen/dictation/views/LivePartialHUDContent.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include "Parlowen/brand/BrandColors.h"
#include "Parlowen/brand/BrandFonts.h"
#include "Parlowen/brand/BrandViews.h"
#include "Parlowen/brand/MascotArtwork.h"
#include "Parlowen/dictation/views/DictationSymbols.h"
#include "Parlowen/dictation/views/MicSelectorButton.h"
#include "Parlowen/shell/settings/PreferencesStore.h"
#include "Parlowen/shell/views/ThemePalette.h"
#include "platform/ui/Contrast.h"
#include "Parlowen/shell/views/WaveformBarView.h"
#include "platform/ui/Fonts.h"
#include "platform/ui/ReduceMotion.h"
#include "platform/ui/ThemeScope.h"

namespace parlowen {
namespace {

using platform::ui::Color;
using platform::ui::toQColor;

constexpr int kOuterInset = 4;
constexpr int kPadding = 14;
constexpr int kMascot = 110;
constexpr int kCloseSize = 18;

// The dark colour scheme the content always uses, with the theme's accent.
platform::ui::Palette darkScheme(const Color& accent) {
    return {brandNight(),           Color::white(),           Color::white().opacity(0.55), accent,
            Color::white(),         Color::rgb8(0x2A, 0x24, 0x1C), accent.opacity(0.4),    true};
}

QLabel* namedLabel(const char* name) {
    auto* label = new QLabel;
    label->setObjectName(QLatin1String(name));
    label->setTextFormat(Qt::PlainText);
    return label;
}

}  // namespace

// ---- CountdownChip ---------------------------------------------------------------

CountdownChip::CountdownChip(QWidget* parent) : QWidget(parent), symbol_(namedLabel("symbol")), text_(namedLabel("text")) {
    setObjectName(QStringLiteral("countdown"));
    setAttribute(Qt::WA_TranslucentBackground);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(6, 2, 6, 2);
    row->setSpacing(4);
    row->addWidget(symbol_, 0, Qt::AlignVCenter);
    row->addWidget(text_, 0, Qt::AlignVCenter);
    // Digits of the system font are of equal width, so "9s" and "10s" do not jitter.
    text_->setFont(brandCaption());
}

void CountdownChip::setState(int seconds, const Color& accent) {
    seconds_ = seconds;
    accent_ = accent;
    colors_ = LivePartialHUDModel::countdownChipColors(seconds, accent);
    text_->setText(QString::fromStdString(LivePartialHUDModel::countdownText(seconds)));
    setAccessibleName(QString::fromStdString(LivePartialHUDModel::countdownAccessibilityLabel(seconds)));
    restyle();
}

void CountdownChip::restyle() {
    const QColor foreground =
        colors_.secondaryForeground ? palette().color(QPalette::PlaceholderText) : toQColor(colors_.foreground);
    QPalette pal = text_->palette();
    pal.setColor(QPalette::WindowText, foreground);
    text_->setPalette(pal);
    const int side = QFontMetrics(brandCaption()).height() - 2;
    symbol_->setPixmap(dictationSymbol("timer", side, foreground, devicePixelRatioF()));
    symbol_->setFixedSize(side, side);
    update();
}

void CountdownChip::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange && colors_.secondaryForeground) restyle();
}

void CountdownChip::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()), 8, 8);
    p.fillPath(path, toQColor(colors_.background));
}

// ---- LivePartialHUDContent ----------------------------------------------------------

LivePartialHUDContent::LivePartialHUDContent(LivePartialHUDModel& model, PreferencesStore& preferences,
                                             SelectionCallback onSelectInputDevice,
                                             platform::ui::ReduceMotion& reduceMotion, std::function<void()> onClose,
                                             QWidget* parent)
    : QWidget(parent),
      model_(model),
      onSelectInputDevice_(std::move(onSelectInputDevice)),
      onClose_(std::move(onClose)),
      accent_(parlowen::palette(preferences.selectedTheme.get()).accent),
      mascot_(namedLabel("mascot")),
      close_(new QToolButton(this)),
      title_(namedLabel("title")),
      picker_(nullptr),
      countdown_(new CountdownChip),
      count_(namedLabel("characterCount")),
      meter_(new WaveformBarView(model.amplitudes.toVector(), accent_.opacity(0.85), 2, 2)),
      notice_(new QWidget),
      noticeSymbol_(namedLabel("noticeSymbol")),
      noticeText_(namedLabel("noticeText")),
      scroll_(new QScrollArea),
      transcript_(namedLabel("transcriptText")) {
    setObjectName(QStringLiteral("livePartialHUDContent"));
    setAttribute(Qt::WA_TranslucentBackground);

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(kOuterInset + kPadding, kOuterInset + kPadding, kOuterInset + kPadding,
                            kOuterInset + kPadding);
    row->setSpacing(14);

    // The mascot, 2 points lower than the column beside it.
    mascot_->setFixedSize(kMascot, kMascot + 2);
    mascot_->setContentsMargins(0, 2, 0, 0);
    mascot_->setAlignment(Qt::AlignHCenter | Qt::AlignBottom);
    mascot_->setPixmap(mascotPixmap(QuonKind::listening, {kMascot, kMascot}, devicePixelRatioF()));
    mascot_->setAccessibleName(QStringLiteral("Quon is listening"));
    row->addWidget(mascot_, 0, Qt::AlignTop);

    auto* column = new QVBoxLayout;
    column->setSpacing(8);
    row->addLayout(column, 1);

    // a. Header.
    auto* header = new QHBoxLayout;
    header->setSpacing(8);
    title_->setText(QStringLiteral("listening\u2026"));
    title_->setFont(brandCallout());
    header->addWidget(title_, 0, Qt::AlignVCenter);
    picker_ = new MicSelectorButton(MicSelectorButton::Fields{});
    header->addWidget(picker_, 0, Qt::AlignVCenter);
    header->addStretch(1);
    header->addWidget(countdown_, 0, Qt::AlignVCenter);
    count_->setFont(brandCaption());
    count_->setForegroundRole(QPalette::PlaceholderText);
    header->addWidget(count_, 0, Qt::AlignVCenter);
    column->addLayout(header);

    // b. Level meter.
    meter_->setObjectName(QStringLiteral("meter"));
    meter_->setFixedHeight(22);
    meter_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    column->addWidget(meter_);

    // c. Throttle notice.
    notice_->setObjectName(QStringLiteral("notice"));
    auto* noticeRow = new QHBoxLayout(notice_);
    noticeRow->setContentsMargins(0, 0, 0, 0);
    noticeRow->setSpacing(6);
    noticeRow->addWidget(noticeSymbol_, 0, Qt::AlignTop);
    noticeText_->setFont(platform::ui::systemFont(11));
    noticeText_->setForegroundRole(QPalette::PlaceholderText);
    noticeText_->setWordWrap(true);
    noticeText_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Minimum);
    noticeRow->addWidget(noticeText_, 1);
    column->addWidget(notice_);

    // d. Transcript, newest text in view.
    scroll_->setObjectName(QStringLiteral("transcript"));
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->setWidgetResizable(true);
    scroll_->setFocusPolicy(Qt::NoFocus);
    transcript_->setFont(platform::ui::systemFont(15, QFont::Normal));
    transcript_->setWordWrap(true);
    transcript_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    scroll_->setWidget(transcript_);
    // On the card, not on a field of its own.
    scroll_->viewport()->setAutoFillBackground(false);
    transcript_->setAutoFillBackground(false);
    column->addWidget(scroll_, 1);
    connect(scroll_->verticalScrollBar(), &QScrollBar::rangeChanged, this, [this] { scrollToNewest(); });

    // The close button, in the card's top-left corner above everything else.
    close_->setObjectName(QStringLiteral("closeButton"));
    close_->setText(QStringLiteral("\u00D7"));
    close_->setAccessibleName(QStringLiteral("Close"));
    close_->setFocusPolicy(Qt::NoFocus);
    close_->setAutoRaise(true);
    close_->setCursor(Qt::ArrowCursor);
    close_->setGeometry(kOuterInset + 7, kOuterInset + 7, kCloseSize, kCloseSize);
    close_->setStyleSheet(QStringLiteral(
        "QToolButton { color: rgba(255,255,255,150); background: rgba(255,255,255,28); border: none;"
        " border-radius: 9px; font-size: 14px; padding: 0; }"
        "QToolButton:hover { color: white; background: rgba(255,255,255,60); }"));
    connect(close_, &QToolButton::clicked, this, [this] {
        if (onClose_) onClose_();
    });
    close_->raise();

    // Follow the model. Each sink gets the new value before the model holds it.
    subscriptions_ += model_.text.subscribe([this](const std::string& v) {
        shown_.text = v;
        showText();
    });
    subscriptions_ += model_.throttleNotice.subscribe([this](const std::optional<std::string>& v) {
        shown_.notice = v;
        showNotice();
    });
    subscriptions_ += model_.sessionRemainingSeconds.subscribe([this](const std::optional<int>& v) {
        shown_.remaining = v;
        showCountdown();
    });
    subscriptions_ += model_.currentInputDeviceUID.subscribe([this](const std::optional<std::string>& v) {
        shown_.deviceUID = v;
        showPicker();
    });
    subscriptions_ += model_.currentInputDeviceName.subscribe([this](const std::string& v) {
        shown_.deviceName = v;
        showPicker();
    });
    subscriptions_ += model_.currentInputIsBluetooth.subscribe([this](const bool& v) {
        shown_.bluetooth = v;
        showPicker();
    });
    subscriptions_ += model_.availableInputDevices.subscribe([this](const std::vector<AudioDeviceCatalog::Device>& v) {
        shown_.devices = v;
        showPicker();
    });
    subscriptions_ += model_.amplitudes.subscribe(
        [this](const AmplitudeRing::Levels& levels) { meter_->setSamples({levels.begin(), levels.end()}); });
    subscriptions_ += reduceMotion.stream().subscribe([this](const bool& on) { meter_->setVisible(!on); });
    subscriptions_ += preferences.selectedTheme.subscribe(
        [this](const Theme& theme) { applyAccent(parlowen::palette(theme).accent); });
}

LivePartialHUDContent::~LivePartialHUDContent() = default;

void LivePartialHUDContent::applyAccent(const Color& accent) {
    accent_ = accent;
    platform::ui::ThemeScope::apply(this, darkScheme(accent));
    QPalette titlePalette = title_->palette();
    // The title keeps the accent's hue, lightened until it reads on the night card.
    titlePalette.setColor(QPalette::WindowText, toQColor(platform::ui::readableOn(accent, {brandNight()})));
    title_->setPalette(titlePalette);
    meter_->setAccent(accent.opacity(0.85));
    const int side = QFontMetrics(platform::ui::systemFont(11)).height() - 2;
    noticeSymbol_->setPixmap(dictationSymbol("info.circle.fill", side, toQColor(accent), devicePixelRatioF()));
    noticeSymbol_->setFixedSize(side, side);
    showCountdown();
    showPicker();
    update();
}

void LivePartialHUDContent::showText() {
    const QString shown = QString::fromStdString(LivePartialHUDModel::transcriptText(shown_.text));
    transcript_->setText(shown);
    const QString label = QString::fromStdString(LivePartialHUDModel::transcriptAccessibilityLabel(shown_.text));
    // Qt has no "updates frequently" trait: the name follows the text.
    transcript_->setAccessibleName(label);
    scroll_->setAccessibleName(label);
    count_->setVisible(!shown_.text.empty());
    if (!shown_.text.empty())
        count_->setText(QString::fromStdString(LivePartialHUDModel::characterCountText(shown_.text)));
}

void LivePartialHUDContent::showNotice() {
    notice_->setVisible(shown_.notice.has_value());
    noticeText_->setText(shown_.notice ? QString::fromStdString(*shown_.notice) : QString());
}

void LivePartialHUDContent::showCountdown() {
    countdown_->setVisible(shown_.remaining.has_value());
    if (shown_.remaining) countdown_->setState(*shown_.remaining, accent_);
}

void LivePartialHUDContent::showPicker() {
    picker_->setFields({
        .currentDeviceUID = shown_.deviceUID,
        .currentDeviceName = shown_.deviceName,
        .currentIsBluetooth = shown_.bluetooth,
        .availableDevices = shown_.devices,
        .accent = accent_,
        .onSelect =
            [this](const std::optional<std::string>& uid) { model_.selectInputDevice(uid, onSelectInputDevice_); },
        .style = MicSelectorStyle::chip,
    });
}

void LivePartialHUDContent::scrollToNewest() {
    auto* bar = scroll_->verticalScrollBar();
    bar->setValue(bar->maximum());
}

void LivePartialHUDContent::paintEvent(QPaintEvent*) {
    QPainter p(this);
    paintNightCard(p, QRectF(rect()).adjusted(kOuterInset, kOuterInset, -kOuterInset, -kOuterInset), accent_);
}

void LivePartialHUDContent::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        dragOffset_ = event->globalPosition().toPoint() - window()->frameGeometry().topLeft();
}

void LivePartialHUDContent::mouseMoveEvent(QMouseEvent* event) {
    if (dragOffset_ && (event->buttons() & Qt::LeftButton))
        window()->move(event->globalPosition().toPoint() - *dragOffset_);
}

void LivePartialHUDContent::mouseReleaseEvent(QMouseEvent*) { dragOffset_.reset(); }

}  // namespace parlowen
