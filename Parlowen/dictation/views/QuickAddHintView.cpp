#include "Parlowen/dictation/views/QuickAddHintView.h"

#include <algorithm>

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "Parlowen/dictation/QuickAddHint.h"
#include "platform/ui/Bindings.h"
#include "platform/ui/Buttons.h"
#include "platform/ui/DefaultActions.h"
#include "platform/ui/Fonts.h"
#include "platform/ui/IconRegistry.h"
#include "platform/ui/ThemeScope.h"

namespace parlowen {
namespace {

using platform::ui::ButtonStyle;
using platform::ui::ControlSize;
using platform::ui::PushButton;
using platform::ui::TextStyle;

QLabel* secondaryLabel(const QString& text, QFont font, const char* name) {
    auto* label = new QLabel(text);
    label->setObjectName(QLatin1String(name));
    label->setFont(font);
    label->setForegroundRole(QPalette::PlaceholderText);  // the theme's secondary text
    return label;
}

constexpr const char* kCheckmarkSymbol = "checkmark.circle.fill";

QHBoxLayout* row(int spacing) {
    auto* layout = new QHBoxLayout;
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    return layout;
}

}  // namespace

QuickAddHintView::QuickAddHintView(QuickAddHintModel& model, QWidget* parent) : QWidget(parent), model_(model) {
    setObjectName(QStringLiteral("quickAddHintView"));
    setMinimumSize(440, 260);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(14);

    // Header.
    auto* header = new QVBoxLayout;
    header->setSpacing(2);
    auto* title = new QLabel(QStringLiteral("Teach Quon a Word"));
    title->setObjectName(QStringLiteral("title"));
    title->setFont(platform::ui::systemFont(TextStyle::title3, QFont::Bold));
    auto* caption = secondaryLabel(
        QStringLiteral("Type a name or term Quon should recognize next time. Useful for proper nouns the "
                       "recognizer mishears (e.g. \u201CSiobhan\u201D coming out as \u201CShivawn\u201D)."),
        platform::ui::systemFont(TextStyle::caption), "caption");
    caption->setWordWrap(true);
    header->addWidget(title);
    header->addWidget(caption);
    column->addLayout(header);

    // Entry row.
    auto* entryRow = row(8);
    field_ = new QLineEdit;
    field_->setObjectName(QStringLiteral("entryField"));
    field_->setPlaceholderText(QStringLiteral("e.g. Kubernetes, Siobhan, Parlowen"));
    addButton_ = new PushButton(QStringLiteral("Add"), ButtonStyle::borderedProminent);
    addButton_->setObjectName(QStringLiteral("addButton"));
    // Return in the field goes to this button (the field leaves it alone), so
    // one Return adds once.
    platform::ui::setDefaultAction(addButton_);
    connect(addButton_, &QPushButton::clicked, this, [this] { submit(); });
    entryRow->addWidget(field_, 1);
    entryRow->addWidget(addButton_);
    column->addLayout(entryRow);

    // Quick-pick words.
    recentSection_ = new QWidget;
    recentSection_->setObjectName(QStringLiteral("recentWords"));
    auto* recentColumn = new QVBoxLayout(recentSection_);
    recentColumn->setContentsMargins(0, 0, 0, 0);
    recentColumn->setSpacing(6);
    auto* recentLabel = secondaryLabel(QStringLiteral("Recent dictations"),
                                       platform::ui::systemFont(TextStyle::caption, QFont::Medium), "recentWordsLabel");
    recentColumn->addWidget(recentLabel);
    recentRows_ = new QVBoxLayout;
    recentRows_->setSpacing(6);
    recentColumn->addLayout(recentRows_);
    column->addWidget(recentSection_);

    // Confirmation.
    confirmation_ = new QWidget;
    confirmation_->setObjectName(QStringLiteral("confirmation"));
    auto* confirmationRow = row(6);
    confirmation_->setLayout(confirmationRow);
    confirmationSymbol_ = new QLabel;
    confirmationSymbol_->setObjectName(QStringLiteral("confirmationSymbol"));
    tintSymbols();
    confirmationText_ =
        secondaryLabel({}, platform::ui::systemFont(TextStyle::caption), "confirmationText");
    confirmationRow->addWidget(confirmationSymbol_);
    confirmationRow->addWidget(confirmationText_, 1);
    column->addWidget(confirmation_);

    column->addStretch(1);

    // Bottom row.
    auto* bottom = row(8);
    bottom->addStretch(1);
    auto* cancel = new PushButton(QStringLiteral("Cancel"), ButtonStyle::bordered);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    platform::ui::setCancelAction(cancel);
    connect(cancel, &QPushButton::clicked, this, [this] {
        if (model_.onDismiss) model_.onDismiss();
    });
    bottom->addWidget(cancel);
    column->addLayout(bottom);

    platform::ui::bindText(field_, model_.entry);
    // Observers see a value before the model holds it: use the value handed over.
    platform::ui::tieToLifetime(this, model_.entry.subscribe([this](const std::string& entry) {
        addButton_->setEnabled(QuickAddHintModel::canAdd(entry));
    }));
    platform::ui::tieToLifetime(
        this, model_.recentWords.subscribe([this](const std::vector<std::string>& words) { showRecentWords(words); }));
    platform::ui::tieToLifetime(this, model_.lastAddedConfirmation.subscribe(
                                          [this](const std::optional<std::string>& text) { showConfirmation(text); }));
    platform::ui::tieToLifetime(this,
                                model_.focusToken.stream().dropFirst().subscribe([this](std::int64_t) { focusField(); }));
}

void QuickAddHintView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    focusField();
}

void QuickAddHintView::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    // A new theme: the symbol takes the new palette's green.
    if (event->type() == QEvent::PaletteChange) tintSymbols();
}

void QuickAddHintView::tintSymbols() {
    const auto green = platform::ui::systemColors(platform::ui::ThemeScope::resolve(this)).green;
    confirmationSymbol_->setPixmap(platform::ui::IconRegistry::shared().templatePixmap(
        kCheckmarkSymbol, {14, 14}, platform::ui::toQColor(green), devicePixelRatioF()));
}

void QuickAddHintView::submit() { model_.add(model_.entry()); }

void QuickAddHintView::focusField() { field_->setFocus(Qt::OtherFocusReason); }

void QuickAddHintView::showRecentWords(const std::vector<std::string>& words) {
    while (auto* item = recentRows_->takeAt(0)) {
        if (auto* widget = item->widget()) {
            // Out of the view at once; deleted later, as its button may be the sender.
            widget->hide();
            widget->setParent(nullptr);
            widget->deleteLater();
        }
        delete item;
    }
    for (const auto& slice : chunked(words, 4)) {
        auto* rowWidget = new QWidget;
        rowWidget->setObjectName(QStringLiteral("recentWordRow"));
        auto* layout = row(6);
        rowWidget->setLayout(layout);
        for (const auto& word : slice) {
            auto* button = new PushButton(QString::fromStdString(word), ButtonStyle::bordered, ControlSize::small);
            button->setObjectName(QStringLiteral("recentWord"));
            connect(button, &QPushButton::clicked, this, [this, word] { model_.pickRecentWord(word); });
            layout->addWidget(button);
        }
        layout->addStretch(1);
        recentRows_->addWidget(rowWidget);
    }
    recentSection_->setVisible(!words.empty());
}

void QuickAddHintView::showConfirmation(const std::optional<std::string>& text) {
    confirmationText_->setText(text ? QString::fromStdString(*text) : QString());
    confirmation_->setVisible(text.has_value());
}

}  // namespace parlowen
