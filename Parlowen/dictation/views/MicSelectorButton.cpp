#include "Parlowen/dictation/views/MicSelectorButton.h"

#include <algorithm>

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>

#include "Parlowen/dictation/views/DictationSymbols.h"
#include "platform/ui/Contrast.h"
#include "platform/ui/Fonts.h"
#include "platform/ui/MenuPicker.h"
#include "platform/ui/ThemeScope.h"

namespace parlowen {
namespace {

using platform::ui::TextStyle;
using platform::ui::toQColor;

// One line of text, cut in the middle when it does not fit.
class MiddleElidedLabel : public QLabel {
public:
    explicit MiddleElidedLabel(QWidget* parent = nullptr) : QLabel(parent) {
        setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    }
    void setFullText(const QString& text) {
        full_ = text;
        setText(text);
        setAccessibleName(text);
        update();
    }
    QString shown() const { return fontMetrics().elidedText(full_, Qt::ElideMiddle, contentsRect().width()); }
    QSize minimumSizeHint() const override { return {fontMetrics().horizontalAdvance(QStringLiteral("W\u2026W")), QLabel::minimumSizeHint().height()}; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setPen(palette().color(foregroundRole()));
        p.setFont(font());
        p.drawText(contentsRect(), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, shown());
    }

private:
    QString full_;
};

}  // namespace

MicSelectorButton::MicSelectorButton(Fields fields, QWidget* parent)
    : QWidget(parent),
      row_(new QHBoxLayout(this)),
      symbol_(new QLabel),
      name_(new MiddleElidedLabel),
      menu_(new platform::ui::MenuPicker) {
    setObjectName(QStringLiteral("micSelector"));
    setAttribute(Qt::WA_TranslucentBackground);
    symbol_->setObjectName(QStringLiteral("symbol"));
    name_->setObjectName(QStringLiteral("deviceName"));
    menu_->setObjectName(QStringLiteral("menu"));
    menu_->setFocusPolicy(Qt::NoFocus);  // the panel never takes the keyboard
    // As wide as the selected row (see rebuild), not as the longest one.
    menu_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    // It gives way when its owner has no room (the panel keeps its size).
    menu_->setMinimumWidth(56);
    row_->addWidget(symbol_, 0, Qt::AlignVCenter);
    row_->addWidget(name_, 1, Qt::AlignVCenter);
    row_->addWidget(menu_, 0, Qt::AlignVCenter);
    connect(menu_, &platform::ui::MenuPicker::entryChosen, this, [this](int index) {
        if (index < 0 || static_cast<std::size_t>(index) >= rows_.size()) return;
        const auto choice = MicSelector::choice(rows_[static_cast<std::size_t>(index)].value);
        // A copy: the owner answers by passing new fields, which replaces this one.
        const auto onSelect = fields_.onSelect;
        if (onSelect) onSelect(choice);
    });
    setFields(std::move(fields));
}

void MicSelectorButton::setFields(Fields fields) {
    fields_ = std::move(fields);
    rebuild();
}

void MicSelectorButton::rebuild() {
    // Nothing at all without devices: no symbol, no menu. (A widget without
    // a parent is shown by the layout that takes it.)
    if (fields_.availableDevices.empty())
        hide();
    else if (isHidden() && parentWidget())
        show();

    const bool button = fields_.style == Style::button;
    drawSymbol();

    name_->setVisible(button);
    name_->setFont(platform::ui::systemFont(TextStyle::caption));
    static_cast<MiddleElidedLabel*>(name_)->setFullText(QString::fromStdString(fields_.currentDeviceName));

    row_->setSpacing(button ? 6 : 4);
    row_->setContentsMargins(button ? 10 : 0, button ? 5 : 0, button ? 10 : 0, button ? 5 : 0);

    rows_ = MicSelector::rows(fields_.currentDeviceUID, fields_.availableDevices);
    std::vector<platform::ui::MenuPicker::Item> items;
    for (const auto& r : rows_) items.push_back({QString::fromStdString(r.label)});
    menu_->setItems(items);
    const auto selected = MicSelector::selectedRow(rows_, MicSelector::selection(fields_.currentDeviceUID));
    menu_->setCurrentEntry(selected ? std::optional<int>(static_cast<int>(*selected)) : std::nullopt);
    const int shownLength = selected ? static_cast<int>(QString::fromStdString(rows_[*selected].label).size()) : 0;
    menu_->setMinimumContentsLength(std::clamp(shownLength, 8, 30));
    menu_->setFont(platform::ui::systemFont(TextStyle::footnote));
    applyTint();
    menu_->setToolTip(QString::fromStdString(MicSelector::helpText(fields_.currentIsBluetooth)));
    menu_->setAccessibleName(QString::fromStdString(MicSelector::accessibilityLabel(fields_.currentDeviceName)));
    menu_->setAccessibleDescription(QString::fromStdString(MicSelector::kTitle));
    update();
}

// The accent keeps its hue, with the lightness it needs to read on what it
// sits on: the window, and in the button style its capsule, whose fill and
// edge are the accent over the window.
platform::ui::Color MicSelectorButton::readableAccent() const {
    using platform::ui::composite;
    const platform::ui::Color window = platform::ui::fromQColor(palette().color(QPalette::Window));
    if (fields_.style != Style::button) return platform::ui::readableOn(fields_.accent, {window});
    return platform::ui::readableOn(fields_.accent, {composite(fields_.accent.opacity(0.12), window),
                                                     composite(fields_.accent.opacity(0.28), window)});
}

void MicSelectorButton::applyTint() {
    // A borderless menu in the accent's tint: the selected row and an arrow.
    const QColor tint = toQColor(readableAccent());
    menu_->setStyleSheet(QStringLiteral("QComboBox { border: none; background: transparent; color: %1;"
                                        " padding: 0px 2px 0px 2px; }")
                             .arg(tint.name(QColor::HexArgb)));
}

void MicSelectorButton::drawSymbol() {
    const bool button = fields_.style == Style::button;
    const QFont font = platform::ui::systemFont(button ? TextStyle::caption : TextStyle::caption2);
    // The chip's symbol is in the secondary colour, the button's in the accent.
    const QColor colour = button ? toQColor(readableAccent()) : palette().color(QPalette::PlaceholderText);
    const int side = QFontMetrics(font).height();
    symbol_->setPixmap(
        dictationSymbol(MicSelector::symbolName(fields_.currentIsBluetooth), side, colour, devicePixelRatioF()));
    symbol_->setFixedSize(side, side);
}

void MicSelectorButton::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) {
        drawSymbol();
        applyTint();
    }
}

QString MicSelectorButton::shownDeviceName() const { return static_cast<MiddleElidedLabel*>(name_)->shown(); }

void MicSelectorButton::paintEvent(QPaintEvent*) {
    if (fields_.style != Style::button) return;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(rect());
    const double radius = r.height() / 2;
    QPainterPath capsule;
    capsule.addRoundedRect(r, radius, radius);
    p.fillPath(capsule, toQColor(fields_.accent.opacity(0.12)));
    // The border lies inside the edge.
    const QRectF edge = r.adjusted(0.5, 0.5, -0.5, -0.5);
    p.setPen(QPen(toQColor(fields_.accent.opacity(0.28)), 1));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(edge, radius - 0.5, radius - 0.5);
}

}  // namespace parlowen
