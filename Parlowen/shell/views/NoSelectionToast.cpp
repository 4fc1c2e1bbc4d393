#include "Parlowen/shell/views/NoSelectionToast.h"

#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QVBoxLayout>

#include "Parlowen/brand/BrandColors.h"
#include "Parlowen/brand/BrandFonts.h"
#include "Parlowen/brand/BrandViews.h"
#include "Parlowen/brand/MascotArtwork.h"
#include "platform/ui/FloatingPanel.h"
#include "platform/ui/Placement.h"
#include "platform/ui/TextElision.h"
#include "platform/ui/ThemeScope.h"

namespace parlowen {

namespace {
constexpr int kOuterPadding = 4;
constexpr int kPaddingX = 14;
constexpr int kPaddingY = 12;
constexpr int kMascot = 38;
constexpr int kSpacing = 12;
}  // namespace

// ---- ToastContent --------------------------------------------------------------

ToastContent::ToastContent(QWidget* parent) : QWidget(parent), mascot_(new QLabel(this)), label_(new QLabel(this)) {
    setObjectName(QStringLiteral("toastContent"));
    setAttribute(Qt::WA_TranslucentBackground);
    setCursor(Qt::PointingHandCursor);
    mascot_->setObjectName(QStringLiteral("mascot"));
    mascot_->setAttribute(Qt::WA_TransparentForMouseEvents);
    label_->setObjectName(QStringLiteral("message"));
    label_->setAttribute(Qt::WA_TransparentForMouseEvents);
    label_->setFont(brandCallout());
    label_->setTextFormat(Qt::PlainText);
    label_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    QPalette pal = label_->palette();
    pal.setColor(QPalette::WindowText, Qt::white);  // primary text of the dark scheme
    label_->setPalette(pal);
}

void ToastContent::setContent(std::string message, std::function<void()> onTap) {
    message_ = std::move(message);
    onTap_ = std::move(onTap);
    label_->setAccessibleName(QString::fromStdString(message_));
    layoutChildren();
}

void ToastContent::layoutChildren() {
    const QRect card = rect().adjusted(kOuterPadding, kOuterPadding, -kOuterPadding, -kOuterPadding);
    const QRect inner = card.adjusted(kPaddingX, kPaddingY, -kPaddingX, -kPaddingY);
    const int mascotTop = card.center().y() - kMascot / 2 + 1;
    mascot_->setGeometry(inner.left(), mascotTop, kMascot, kMascot);
    mascot_->setPixmap(mascotPixmap(QuonKind::thinking, {kMascot, kMascot}, devicePixelRatioF()));
    const int textLeft = inner.left() + kMascot + kSpacing;
    const QRect textRect(textLeft, card.top(), std::max(0, inner.right() + 1 - textLeft), card.height());
    label_->setGeometry(textRect);
    label_->setText(platform::ui::elidedLines(QString::fromStdString(message_), label_->font(), textRect.width(), 2));
}

void ToastContent::paintEvent(QPaintEvent*) {
    QPainter p(this);
    paintNightCard(p, QRectF(rect()).adjusted(kOuterPadding, kOuterPadding, -kOuterPadding, -kOuterPadding),
                   brandAmber());
}

void ToastContent::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layoutChildren();
}

void ToastContent::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) && onTap_) onTap_();
}

// ---- NoSelectionToast -------------------------------------------------------------

NoSelectionToast::VisibleFrame NoSelectionToast::primaryScreenVisibleFrame() {
    return []() -> std::optional<platform::ui::Rect> {
        const QScreen* screen = QGuiApplication::primaryScreen();
        if (!screen) return std::nullopt;
        const QRect r = screen->availableGeometry();
        return platform::ui::Rect{double(r.x()), double(r.y()), double(r.width()), double(r.height())};
    };
}

NoSelectionToast::NoSelectionToast(platform::Executor& main, VisibleFrame visibleFrame)
    : main_(main),
      visibleFrame_(std::move(visibleFrame)),
      panel_(std::make_unique<platform::ui::FloatingPanel>()),
      content_(new ToastContent) {
    panel_->setObjectName(QStringLiteral("noSelectionToast"));
    panel_->setWindowTitle(QStringLiteral("Parlowen"));
    panel_->setContentSize({kWidth, kHeight});
    auto* box = new QVBoxLayout(panel_.get());
    box->setContentsMargins(0, 0, 0, 0);
    box->addWidget(content_);
    content_->setContent(std::string(kDefaultMessage), lifetime_.guard([this] { dismiss(); }));
    panel_->orderOut();
}

NoSelectionToast::~NoSelectionToast() { lifetime_.end(); }

void NoSelectionToast::show(const std::string& message) {
    content_->setContent(message, lifetime_.guard([this] { dismiss(); }));
    if (visibleFrame_) {
        if (auto frame = visibleFrame_()) {
            const auto origin = platform::ui::topCentredOrigin(*frame, panel_->width(), kTopInset);
            panel_->move(static_cast<int>(std::lround(origin.x)), static_cast<int>(std::lround(origin.y)));
        }
    }
    panel_->orderFrontRegardless();
    dismissWorkItem_ = main_.postAfter(platform::seconds(kVisibleSeconds), lifetime_.guard([this] {
        panel_->orderOut();
    }));
    logger_.info("toast shown: {}", message);
}

void NoSelectionToast::dismiss() {
    dismissWorkItem_.cancel();
    panel_->orderOut();
}

bool NoSelectionToast::isShown() const { return panel_->isOnScreen(); }

}  // namespace parlowen
