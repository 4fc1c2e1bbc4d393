#include "platform/ui/SymbolLabel.h"

#include <QEvent>
#include <QVBoxLayout>

#include "platform/ui/IconRegistry.h"
#include "platform/ui/ThemeScope.h"

namespace platform::ui {

SymbolLabel::SymbolLabel(std::string symbol, int size, Tint tint, QWidget* parent)
    : QLabel(parent), symbol_(std::move(symbol)), size_(size), tint_(std::move(tint)) {
    setFixedSize(size, size);
    setAlignment(Qt::AlignCenter);
    redraw();
}

void SymbolLabel::setSymbol(std::string symbol, Tint tint) {
    symbol_ = std::move(symbol);
    tint_ = std::move(tint);
    setAccessibleName(QString::fromStdString(symbol_));
    redraw();
}

QColor SymbolLabel::tintColor() const { return toQColor(tint_(ThemeScope::resolve(this))); }

void SymbolLabel::redraw() {
    setPixmap(IconRegistry::shared().templatePixmap(symbol_, {size_, size_}, tintColor(), devicePixelRatioF()));
}

void SymbolLabel::showEvent(QShowEvent* event) {
    QLabel::showEvent(event);
    redraw();
}

void SymbolLabel::changeEvent(QEvent* event) {
    QLabel::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) redraw();
}

QWidget* symbolColumn(QWidget* symbol, int width, int topInset) {
    auto* column = new QWidget;
    column->setFixedWidth(width);
    auto* box = new QVBoxLayout(column);
    box->setContentsMargins(0, topInset, 0, 0);
    box->addWidget(symbol, 0, Qt::AlignHCenter | Qt::AlignTop);
    box->addStretch(1);
    return column;
}

ThemedLabel::ThemedLabel(const QString& text, Ink ink, QWidget* parent) : QLabel(text, parent), ink_(std::move(ink)) {
    restyle();
}

QColor ThemedLabel::inkColor() const { return toQColor(ink_(ThemeScope::resolve(this))); }

void ThemedLabel::setInk(Ink ink) {
    ink_ = std::move(ink);
    restyle();
}

void ThemedLabel::restyle() {
    restyling_ = true;
    QPalette pal = palette();
    pal.setColor(QPalette::WindowText, inkColor());
    setPalette(pal);
    restyling_ = false;
}

void ThemedLabel::showEvent(QShowEvent* event) {
    restyle();
    QLabel::showEvent(event);
}

void ThemedLabel::changeEvent(QEvent* event) {
    QLabel::changeEvent(event);
    if (event->type() == QEvent::PaletteChange && !restyling_) restyle();
}

}  // namespace platform::ui
