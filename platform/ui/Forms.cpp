#include "platform/ui/Forms.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include "platform/ui/Fonts.h"
#include "platform/ui/MarkdownLabel.h"
#include "platform/ui/Surfaces.h"
#include "platform/ui/ThemeScope.h"

namespace platform::ui {
namespace {

QLabel* secondaryLabel(const QString& text, TextStyle style) {
    auto* label = new QLabel(text);
    label->setFont(systemFont(style));
    label->setWordWrap(true);
    label->setForegroundRole(QPalette::PlaceholderText);
    return label;
}

}  // namespace

// ---- Switch ------------------------------------------------------------------

Switch::Switch(QWidget* parent) : QAbstractButton(parent) {
    setObjectName(QStringLiteral("toggle"));
    setCheckable(true);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize Switch::sizeHint() const { return {38, 22}; }

void Switch::paintEvent(QPaintEvent*) {
    const Palette theme = ThemeScope::resolve(this);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled()) painter.setOpacity(0.45);
    const QRectF track = QRectF(rect()).adjusted(1, 1, -1, -1);
    const double r = track.height() / 2;
    QPainterPath path;
    path.addRoundedRect(track, r, r);
    painter.fillPath(path, isChecked() ? toQColor(theme.accent) : toQColor(theme.primaryText.opacity(0.22)));
    if (hasFocus()) {
        painter.setPen(QPen(toQColor(theme.accent.opacity(0.5)), 2));
        painter.drawPath(path);
    }
    const double knob = track.height() - 4;
    const double x = isChecked() ? track.right() - 2 - knob : track.left() + 2;
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 0, 40));
    painter.drawEllipse(QRectF(x, track.top() + 2.5, knob, knob));
    painter.setBrush(Qt::white);
    painter.drawEllipse(QRectF(x, track.top() + 2, knob, knob));
}

// ---- ToggleRow ---------------------------------------------------------------

ToggleRow::ToggleRow(const QString& title, const QString& subtitle, QWidget* parent)
    : QWidget(parent),
      title_(new QLabel(title)),
      subtitle_(secondaryLabel(subtitle, TextStyle::caption)),
      toggle_(new Switch) {
    setObjectName(QStringLiteral("toggleRow"));
    title_->setObjectName(QStringLiteral("title"));
    title_->setFont(systemFont(TextStyle::body));
    title_->setWordWrap(true);
    subtitle_->setObjectName(QStringLiteral("subtitle"));
    subtitle_->setVisible(!subtitle.isEmpty());

    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    texts->addWidget(title_);
    texts->addWidget(subtitle_);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(12);
    row->addLayout(texts, 1);
    row->addWidget(toggle_, 0, Qt::AlignVCenter);
}

void ToggleRow::setSubtitle(const QString& subtitle) {
    subtitle_->setText(subtitle);
    subtitle_->setVisible(!subtitle.isEmpty());
}

// ---- LabeledRow --------------------------------------------------------------

LabeledRow::LabeledRow(const QString& title, QWidget* control, QWidget* parent)
    : QWidget(parent), title_(new QLabel(title)), control_(control) {
    setObjectName(QStringLiteral("labeledRow"));
    title_->setObjectName(QStringLiteral("title"));
    title_->setFont(systemFont(TextStyle::body));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(12);
    row->addWidget(title_, 0, Qt::AlignVCenter);
    row->addStretch(1);
    if (control_) row->addWidget(control_, 0, Qt::AlignVCenter);
}

// ---- Section -----------------------------------------------------------------

Section::Section(const QString& header, QWidget* parent)
    : QWidget(parent), header_(new QLabel(header)), card_(new Card), footer_(new MarkdownLabel) {
    setObjectName(QStringLiteral("section"));
    header_->setObjectName(QStringLiteral("header"));
    header_->setFont(systemFont(TextStyle::body, QFont::DemiBold));
    header_->setVisible(!header.isEmpty());
    card_->setObjectName(QStringLiteral("rows"));
    card_->setCornerRadius(8);
    auto* rowsHost = new QWidget;
    rowsHost->setObjectName(QStringLiteral("rowsHost"));
    rowsLayout_ = new QVBoxLayout(rowsHost);
    rowsLayout_->setContentsMargins(0, 0, 0, 0);
    rowsLayout_->setSpacing(8);
    card_->setContent(rowsHost, QMargins(12, 10, 12, 10));
    card_->setVisible(false);
    footer_->setObjectName(QStringLiteral("footer"));
    footer_->setFont(systemFont(TextStyle::callout));
    footer_->setForegroundRole(QPalette::PlaceholderText);
    footer_->setVisible(false);

    auto* box = new QVBoxLayout(this);
    box->setContentsMargins(0, 0, 0, 0);
    box->setSpacing(6);
    box->addWidget(header_);
    box->addWidget(card_);
    box->addWidget(footer_);
}

void Section::setHeader(const QString& header) {
    header_->setText(header);
    header_->setVisible(!header.isEmpty());
}

void Section::setFooter(std::string_view markdown) {
    footer_->setMarkdown(markdown);
    footer_->setVisible(!markdown.empty());
}

void Section::addRow(QWidget* row) {
    if (rows_ > 0) rowsLayout_->addWidget(new Divider);
    rowsLayout_->addWidget(row);
    ++rows_;
    card_->setVisible(true);
}

void Section::clearRows() {
    while (auto* item = rowsLayout_->takeAt(0)) {
        if (auto* w = item->widget()) {
            w->hide();
            w->deleteLater();
        }
        delete item;
    }
    rows_ = 0;
    card_->setVisible(false);
}

}  // namespace platform::ui
