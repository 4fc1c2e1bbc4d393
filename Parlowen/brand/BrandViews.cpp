#include "Parlowen/brand/BrandViews.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include "Parlowen/brand/BrandColors.h"
#include "Parlowen/brand/BrandFonts.h"
#include "platform/ui/Contrast.h"
#include "platform/ui/IconRegistry.h"
#include "platform/ui/ThemeScope.h"

namespace parlowen {

void paintNightCard(QPainter& painter, const QRectF& card, const platform::ui::Color& edge) {
    constexpr double kRadius = 22;
    constexpr double kBorder = 2;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(card, kRadius, kRadius);
    painter.fillPath(path, platform::ui::toQColor(brandNight()));
    const QRectF inside = card.adjusted(kBorder / 2, kBorder / 2, -kBorder / 2, -kBorder / 2);
    painter.setPen(QPen(platform::ui::toQColor(edge.opacity(0.75)), kBorder));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(inside, kRadius - kBorder / 2, kRadius - kBorder / 2);
    painter.restore();
}

using platform::ui::Card;
using platform::ui::IconRegistry;
using platform::ui::toQColor;

void applyBrandCard(Card* card, double cornerRadius, double borderOpacity) {
    card->setCornerRadius(cornerRadius);
    card->setFill(brandLinen());
    card->setBorder(brandAmber().opacity(borderOpacity), 1);
}

Card* brandCard(QWidget* content, double cornerRadius, double borderOpacity, QMargins padding) {
    auto* card = new Card;
    card->setObjectName(QStringLiteral("brandCard"));
    applyBrandCard(card, cornerRadius, borderOpacity);
    card->setContent(content, padding);
    return card;
}

Color BrandTryItCard::fillFor(bool darkTheme) {
    // Pale sage over the window; on a dark theme that would turn dark and
    // hide the fixed ink, so there the card keeps a light fill: the same
    // sage over linen, like the brand card's.
    const Color sage = brandSage().opacity(0.16);
    return platform::ui::composite(sage, darkTheme ? brandLinen() : brandCream());
}

QColor BrandTryItCard::defaultFill() const {
    const bool dark = platform::ui::ThemeScope::resolve(this).isDark;
    return toQColor(dark ? fillFor(true) : brandSage().opacity(0.16));
}

BrandTryItCard::BrandTryItCard(const std::string& hint, QWidget* parent)
    : Card(parent), hint_(hint), symbol_(new QLabel), hintLabel_(new QLabel(QString::fromStdString(hint))) {
    setObjectName(QStringLiteral("tryItCard"));
    setCornerRadius(8);
    setBorder(std::nullopt);  // the fill follows the theme: defaultFill

    // Medium symbol scale next to caption text.
    constexpr int kSymbol = 14;
    symbol_->setObjectName(QStringLiteral("symbol"));
    symbol_->setPixmap(IconRegistry::shared().templatePixmap("hand.point.up.left.fill", {kSymbol, kSymbol},
                                                             toQColor(brandMoss()), devicePixelRatioF()));
    symbol_->setFixedSize(kSymbol, kSymbol);
    symbol_->setAccessibleName(QStringLiteral("hand.point.up.left.fill"));

    hintLabel_->setObjectName(QStringLiteral("hint"));
    hintLabel_->setFont(brandCaption());
    hintLabel_->setWordWrap(true);
    hintLabel_->setTextFormat(Qt::PlainText);
    hintLabel_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    QSizePolicy wrapping(QSizePolicy::Expanding, QSizePolicy::Minimum);
    wrapping.setHeightForWidth(true);  // a wrapped label's height follows its width
    hintLabel_->setSizePolicy(wrapping);
    QPalette pal = hintLabel_->palette();
    pal.setColor(QPalette::WindowText,
                 toQColor(platform::ui::readableOn(brandInk().opacity(0.78), {fillFor(false), fillFor(true)})));
    hintLabel_->setPalette(pal);

    auto* body = new QWidget;
    body->setObjectName(QStringLiteral("row"));
    auto* row = new QHBoxLayout(body);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(10);
    auto* symbolColumn = new QVBoxLayout;
    symbolColumn->setContentsMargins(0, 1, 0, 0);
    symbolColumn->addWidget(symbol_);
    symbolColumn->addStretch(1);
    row->addLayout(symbolColumn);
    row->addWidget(hintLabel_, 1, Qt::AlignTop);
    row->addStretch(0);
    setContent(body, QMargins(14, 12, 14, 12));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Minimum);
}

}  // namespace parlowen
