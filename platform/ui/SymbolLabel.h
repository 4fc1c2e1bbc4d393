#pragma once

// A named symbol (IconRegistry.h) drawn in one colour of the enclosing
// theme: the colour is chosen from the palette each time the symbol is
// shown or the theme changes, so it follows the window's theme.

#include <functional>
#include <string>

#include <QLabel>

#include "platform/ui/Palette.h"

namespace platform::ui {

class SymbolLabel : public QLabel {
public:
    using Tint = std::function<Color(const Palette&)>;

    SymbolLabel(std::string symbol, int size, Tint tint, QWidget* parent = nullptr);

    void setSymbol(std::string symbol, Tint tint);
    const std::string& symbol() const { return symbol_; }
    // The colour the symbol is drawn in now.
    QColor tintColor() const;

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void redraw();

    std::string symbol_;
    int size_;
    Tint tint_;
};

// `symbol` (reparented) at the top of a column `width` wide, the way list
// rows put a status or bullet symbol beside their texts.
QWidget* symbolColumn(QWidget* symbol, int width, int topInset = 0);

// A text in one colour of the enclosing theme (a system colour such as red,
// or a mix of roles), chosen again whenever the theme changes.
class ThemedLabel : public QLabel {
public:
    using Ink = std::function<Color(const Palette&)>;
    ThemedLabel(const QString& text, Ink ink, QWidget* parent = nullptr);
    QColor inkColor() const;
    void setInk(Ink ink);

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void restyle();
    Ink ink_;
    bool restyling_ = false;
};

}  // namespace platform::ui
