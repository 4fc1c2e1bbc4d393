#include "Parlowen/brand/StepFrame.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QScrollArea>
#include <QVBoxLayout>

#include "platform/ui/Buttons.h"
#include "platform/ui/DefaultActions.h"
#include "platform/ui/Fonts.h"
#include "platform/ui/Surfaces.h"

namespace parlowen {

using platform::ui::ButtonStyle;
using platform::ui::ControlSize;
using platform::ui::PushButton;

namespace {

// Plain text as rich text with two points added between lines.
QString withLineSpacing(const std::string& text, int extra) {
    return QStringLiteral("<div style=\"-qt-line-height-type: line-distance; line-height: %1px;\">%2</div>")
        .arg(extra)
        .arg(QString::fromStdString(text).toHtmlEscaped().replace(QLatin1Char('\n'), QLatin1String("<br/>")));
}

QLabel* wrappingLabel(const QString& text) {
    auto* label = new QLabel(text);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Minimum);
    policy.setHeightForWidth(true);  // the height follows the width it is given
    label->setSizePolicy(policy);
    return label;
}

}  // namespace

StepFrame::StepFrame(StepFrameFields fields, QWidget* parent)
    : QWidget(parent),
      fields_(std::move(fields)),
      title_(wrappingLabel(QString::fromStdString(fields_.title))),
      subtitle_(wrappingLabel(withLineSpacing(fields_.subtitle, 2))),
      scroll_(new QScrollArea),
      primary_(new PushButton(QString::fromStdString(fields_.primaryLabel), ButtonStyle::borderedProminent,
                              ControlSize::large)) {
    setObjectName(QStringLiteral("stepFrame"));

    // Header.
    title_->setObjectName(QStringLiteral("title"));
    title_->setTextFormat(Qt::PlainText);
    title_->setFont(platform::ui::systemFont(26, QFont::DemiBold));
    subtitle_->setObjectName(QStringLiteral("subtitle"));
    subtitle_->setTextFormat(Qt::RichText);
    subtitle_->setFont(platform::ui::systemFont(14));
    subtitle_->setForegroundRole(QPalette::PlaceholderText);  // the theme's secondary text
    auto* header = new QVBoxLayout;
    header->setSpacing(8);
    header->addWidget(title_);
    header->addWidget(subtitle_);

    // Scroll area: only the middle scrolls; no indicators.
    scroll_->setObjectName(QStringLiteral("scrollArea"));
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setWidgetResizable(true);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    scroll_->viewport()->setAutoFillBackground(false);
    auto* holder = new QWidget;
    holder->setObjectName(QStringLiteral("contentHolder"));
    holder->setAutoFillBackground(false);
    auto* holderBox = new QVBoxLayout(holder);
    holderBox->setContentsMargins(0, 0, 0, 4);
    holderBox->setSpacing(0);
    if (!fields_.content) fields_.content = new QWidget;
    if (fields_.content->objectName().isEmpty()) fields_.content->setObjectName(QStringLiteral("content"));
    holderBox->addWidget(fields_.content);
    holderBox->addStretch(1);  // short content sits at the top
    scroll_->setWidget(holder);
    holder->setAutoFillBackground(false);  // setWidget turned it on; the window's background shows through

    // Footer.
    auto* divider = new platform::ui::Divider;
    divider->setObjectName(QStringLiteral("divider"));
    divider->setOpacity(0.5);
    auto* buttons = new QHBoxLayout;
    if (fields_.secondaryLabel && fields_.secondaryAction) {
        secondary_ = new PushButton(QString::fromStdString(*fields_.secondaryLabel), ButtonStyle::bordered,
                                    ControlSize::large);
        secondary_->setObjectName(QStringLiteral("secondaryButton"));
        connect(secondary_, &QPushButton::clicked, this, [this] { fields_.secondaryAction(); });
        buttons->addWidget(secondary_);
    }
    buttons->addStretch(1);
    primary_->setObjectName(QStringLiteral("primaryButton"));
    primary_->setEnabled(!fields_.primaryDisabled);
    platform::ui::setDefaultAction(primary_);
    connect(primary_, &QPushButton::clicked, this, [this] {
        if (!fields_.primaryDisabled && fields_.primaryAction) fields_.primaryAction();
    });
    buttons->addWidget(primary_);
    auto* footer = new QVBoxLayout;
    footer->setSpacing(14);
    footer->addWidget(divider);
    footer->addLayout(buttons);

    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(18);
    stack->addLayout(header);
    stack->addWidget(scroll_, 1);
    stack->addLayout(footer);
}

void StepFrame::setPrimaryDisabled(bool disabled) {
    fields_.primaryDisabled = disabled;
    primary_->setEnabled(!disabled);
}

void StepFrame::setPrimaryLabel(const std::string& label) {
    fields_.primaryLabel = label;
    primary_->setText(QString::fromStdString(label));
    primary_->updateGeometry();
}

}  // namespace parlowen
