#include "Parlowen/dictation/views/HotkeyBadgeView.h"

#include <QHBoxLayout>
#include <QPalette>

#include "platform/ui/Fonts.h"

namespace parlowen {

namespace ui = platform::ui;

KeycapPill::KeycapPill(const std::string& label, QWidget* parent) : QLabel(QString::fromStdString(label), parent) {
    setObjectName("keycap");
    setFont(ui::systemFont(ui::TextStyle::callout, QFont::Medium, ui::FontDesign::rounded));
    setAlignment(Qt::AlignCenter);
    setMinimumSize(22, 22);
    QColor border = palette().color(QPalette::PlaceholderText);
    border.setAlphaF(0.4f);
    setStyleSheet(QString("QLabel { padding: 2px 7px; border-radius: 5px; border: 0.75px solid %1; "
                          "background: palette(base); color: palette(text); }")
                      .arg(border.name(QColor::HexArgb)));
}

HotkeyBadgeView::HotkeyBadgeView(HotkeyBadgeTrigger trigger, std::optional<std::string> verb,
                                 std::optional<std::string> suffix, std::optional<QColor> textColor, QWidget* parent)
    : QWidget(parent) {
    setObjectName("hotkeyBadge");
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    auto text = [&](const std::string& s, const char* name) {
        auto* label = new QLabel(QString::fromStdString(s), this);
        label->setObjectName(name);
        label->setFont(ui::systemFont(ui::TextStyle::callout));
        QPalette p = label->palette();
        p.setColor(QPalette::WindowText, textColor.value_or(p.color(QPalette::PlaceholderText)));
        label->setPalette(p);
        row->addWidget(label, 0, Qt::AlignVCenter);
    };
    if (verb) text(*verb, "verb");
    auto* caps = new QHBoxLayout;
    caps->setSpacing(4);
    for (const auto& label : keycapLabels(trigger)) caps->addWidget(new KeycapPill(label, this), 0, Qt::AlignVCenter);
    row->addLayout(caps);
    if (suffix) text(*suffix, "suffix");
}

}  // namespace parlowen
