#include "MacShareExtension/MacShareConfirmation.h"

#include <QEvent>
#include <QLabel>
#include <QVBoxLayout>

#include "MacShareExtension/ShareViewController.h"
#include "platform/ui/Fonts.h"
#include "platform/ui/IconRegistry.h"
#include "platform/ui/Palette.h"
#include "platform/ui/ThemeScope.h"

namespace parlowen {
namespace {

constexpr int kSymbolSize = 36;

void setTextColour(QLabel* label, const QColor& colour) {
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, colour);
    label->setPalette(p);
}

}  // namespace

MacShareConfirmation::Look MacShareConfirmation::lookOf(MacShareViewModel::State::Kind kind) {
    using Kind = MacShareViewModel::State::Kind;
    switch (kind) {
        case Kind::working: return {"arrow.up.circle", "Adding to Quon…"};
        case Kind::success: return {"checkmark.circle.fill", "Added to Quon"};
        case Kind::failure: return {"exclamationmark.triangle.fill", "Couldn't add to Quon"};
    }
    return {"arrow.up.circle", "Adding to Quon…"};
}

MacShareConfirmation::MacShareConfirmation(std::shared_ptr<MacShareViewModel> model, QWidget* parent)
    : QWidget(parent), model_(std::move(model)) {
    setObjectName("shareConfirmation");
    setFixedSize(ShareViewController::kPanelWidth, ShareViewController::kPanelHeight);
    setAutoFillBackground(true);

    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(28, 28, 28, 28);
    stack->setSpacing(14);
    stack->addStretch(1);

    symbol_ = new QLabel(this);
    symbol_->setObjectName("shareConfirmationSymbol");
    symbol_->setFixedSize(kSymbolSize, kSymbolSize);
    symbol_->setAccessibleName({});  // decorative: the title says it all
    stack->addWidget(symbol_, 0, Qt::AlignHCenter);

    title_ = new QLabel(this);
    title_->setObjectName("shareConfirmationTitle");
    title_->setFont(platform::ui::systemFont(platform::ui::TextStyle::headline));
    title_->setAlignment(Qt::AlignCenter);
    title_->setWordWrap(true);
    stack->addWidget(title_);

    message_ = new QLabel(this);
    message_->setObjectName("shareConfirmationMessage");
    message_->setFont(platform::ui::systemFont(platform::ui::TextStyle::caption));
    message_->setAlignment(Qt::AlignCenter);
    message_->setWordWrap(true);
    message_->setContentsMargins(16, 0, 16, 0);
    stack->addWidget(message_);
    stack->addStretch(1);

    // The model tells observers before it stores the new state: draw what is delivered.
    subscription_ = model_->state.subscribe([this](const MacShareViewModel::State& s) { render(s); });
}

void MacShareConfirmation::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange && !rendering_) render(shown_);
}

void MacShareConfirmation::render(const MacShareViewModel::State& state) {
    shown_ = state;
    rendering_ = true;
    const platform::ui::Palette palette = platform::ui::ThemeScope::resolve(this);
    const platform::ui::SystemColors system = platform::ui::systemColors(palette);
    using Kind = MacShareViewModel::State::Kind;
    const Look look = lookOf(state.kind);
    const platform::ui::Color tint =
        state.kind == Kind::working ? palette.accent : state.kind == Kind::success ? system.green : system.orange;

    const qreal ratio = devicePixelRatioF();
    symbol_->setPixmap(platform::ui::IconRegistry::shared().templatePixmap(
        look.symbol, {kSymbolSize, kSymbolSize}, platform::ui::toQColor(tint), ratio));
    symbol_->setProperty("symbolName", QString::fromUtf8(look.symbol));
    symbol_->setProperty("symbolTint", platform::ui::toQColor(tint));

    title_->setText(QString::fromUtf8(look.title));
    setTextColour(title_, platform::ui::toQColor(palette.primaryText));

    message_->setVisible(state.kind == Kind::failure);
    message_->setText(QString::fromStdString(state.message));
    setTextColour(message_, platform::ui::toQColor(system.secondary));

    QPalette background = this->palette();
    background.setColor(QPalette::Window, platform::ui::toQColor(palette.surfaceBackground));
    setPalette(background);
    rendering_ = false;
}

}  // namespace parlowen
