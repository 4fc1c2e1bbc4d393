#pragma once

#include <string>

#include <QMargins>
#include <QWidget>

#include "platform/ui/Surfaces.h"

class QLabel;
class QPainter;

namespace parlowen {

// The dark card of the floating panels (the toast, the live-transcript
// panel): `card` filled with brand night, corner radius 22, and a 2-point
// border in `edge` at opacity 0.75 drawn inside the card's edge.
void paintNightCard(QPainter& painter, const QRectF& card, const platform::ui::Color& edge);

// Puts `content` on the brand's card: a rounded rectangle filled with brand
// linen and a one-point brand-amber border at `borderOpacity`, drawn inside
// the edge. The same in every theme. Call sites use radius 14 with opacity
// 0.35 (report and onboarding cards) and radius 10 with 0.35 (tip cards).
platform::ui::Card* brandCard(QWidget* content, double cornerRadius, double borderOpacity, QMargins padding = {});
// Gives an existing card the brand's look.
void applyBrandCard(platform::ui::Card* card, double cornerRadius, double borderOpacity);

// A hint card: a pointing-hand symbol in moss, then the hint in the caption
// font, wrapping onto as many lines as it needs, on a pale sage rounded
// rectangle (kept light on a dark theme, so the brand ink stays readable).
// Children: "symbol", "hint".
class BrandTryItCard : public platform::ui::Card {
public:
    explicit BrandTryItCard(const std::string& hint, QWidget* parent = nullptr);
    const std::string& hint() const { return hint_; }
    QLabel* hintLabel() const { return hintLabel_; }
    QLabel* symbolLabel() const { return symbol_; }

protected:
    QColor defaultFill() const override;

private:
    // The card's fill as drawn over a light window or, on a dark theme, on its own.
    static platform::ui::Color fillFor(bool darkTheme);
    std::string hint_;
    QLabel* symbol_;
    QLabel* hintLabel_;
};

}  // namespace parlowen
