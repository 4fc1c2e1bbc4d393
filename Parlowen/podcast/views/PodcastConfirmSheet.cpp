#include "Parlowen/podcast/views/PodcastConfirmSheet.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

#include "Parlowen/brand/BrandColors.h"
#include "platform/ui/Buttons.h"
#include "platform/ui/Contrast.h"
#include "platform/ui/Fonts.h"
#include "platform/ui/IconRegistry.h"
#include "platform/ui/Surfaces.h"
#include "platform/ui/TextElision.h"
#include "platform/ui/ThemeScope.h"

namespace parlowen {

namespace {

using platform::ui::FontDesign;
using platform::ui::TextStyle;
using platform::ui::toQColor;

constexpr int kPadding = 24;
constexpr const char* kExplanation =
    "Quon will generate a short two-host dialogue from the article (~30 seconds), then render audio with the two "
    "voices alternating. The whole process usually takes a few minutes \u2014 the podcast will appear in your queue "
    "when it's ready.";

QLabel* label(const QString& text, const QFont& font, const Color& color, const char* name) {
    auto* l = new QLabel(text);
    l->setObjectName(name);
    l->setFont(font);
    QPalette p = l->palette();
    p.setColor(QPalette::WindowText, toQColor(color));
    l->setPalette(p);
    return l;
}

QFont callout(QFont::Weight weight = QFont::Normal) {
    return platform::ui::systemFont(TextStyle::callout, weight);
}

}  // namespace

PodcastConfirmSheet::PodcastConfirmSheet(std::string itemTitle, std::string engineName, std::string scriptModelName,
                                         std::string hostAVoiceName, std::string hostBVoiceName, ThemePalette palette,
                                         std::function<void()> onConfirm, QWidget* parent)
    : QDialog(parent), onConfirm_(std::move(onConfirm)) {
    setObjectName("podcastConfirmSheet");
    setWindowTitle("Turn this into a podcast?");
    if (parent) setWindowModality(Qt::WindowModal);
    setThemePalette(this, palette);

    const Color ink = brandInk();
    const Color detailsFill = platform::ui::composite(palette.accent.opacity(0.08), brandCream());
    // The accent where it draws symbols: kept visible on the details box in light and dark themes alike.
    const Color symbolTint = platform::ui::readableOn(palette.accent, {detailsFill}, platform::ui::kLargeTextContrast);

    // The quieter ink of the row labels, darkened just enough to stay readable on the tinted box.
    const Color rowLabelColor = platform::ui::readableOn(ink.opacity(0.65), {detailsFill});

    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(kPadding, kPadding, kPadding, kPadding);
    stack->setSpacing(18);

    // Header.
    auto* header = new QVBoxLayout;
    header->setSpacing(6);
    header->addWidget(label("Turn this into a podcast?", platform::ui::systemFont(TextStyle::title3, QFont::DemiBold),
                            ink, "question"));
    const QFont titleFont = callout();
    auto* title = label(platform::ui::elidedLines(QString::fromStdString(itemTitle), titleFont, kWidth - 2 * kPadding, 2),
                        titleFont, ink.opacity(0.7), "itemTitle");
    title->setToolTip(QString::fromStdString(itemTitle));
    header->addWidget(title);
    stack->addLayout(header);

    // Details.
    auto* details = new platform::ui::Card;
    details->setObjectName("details");
    details->setCornerRadius(8);
    details->setFill(detailsFill);
    auto* rows = new QWidget;
    auto* rowStack = new QVBoxLayout(rows);
    rowStack->setContentsMargins(0, 0, 0, 0);
    rowStack->setSpacing(8);
    struct Row {
        const char* symbol;
        const char* label;
        std::string value;
        const char* name;
    };
    const Row table[] = {
        {"waveform", "Engine", std::move(engineName), "engine"},
        {"sparkles", "Script", std::move(scriptModelName), "script"},
        {"person.wave.2.fill", "Quon (curious)", std::move(hostAVoiceName), "hostA"},
        {"person.wave.2", "Nell (explainer)", std::move(hostBVoiceName), "hostB"},
    };
    for (const auto& row : table) {
        auto* line = new QWidget;
        line->setObjectName(row.name);
        auto* h = new QHBoxLayout(line);
        h->setContentsMargins(0, 0, 0, 0);
        h->setSpacing(10);
        auto* symbol = new QLabel;
        symbol->setObjectName("symbol");
        symbol->setFixedWidth(16);
        symbol->setAlignment(Qt::AlignCenter);
        symbol->setPixmap(platform::ui::IconRegistry::shared().templatePixmap(row.symbol, {14, 14}, toQColor(symbolTint),
                                                                              devicePixelRatioF()));
        h->addWidget(symbol, 0, Qt::AlignVCenter);
        auto* name = label(row.label, callout(), rowLabelColor, "label");
        name->setMinimumWidth(name->sizeHint().width());
        h->addWidget(name, 0, Qt::AlignVCenter);
        h->addSpacing(8 - h->spacing());  // the flexible space's minimum, less the spacing around it
        h->addStretch(1);
        auto* value = label(QString::fromStdString(row.value), callout(QFont::Medium), ink, "value");
        value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        value->setWordWrap(true);
        value->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
        h->addWidget(value, 0, Qt::AlignVCenter);
        rowStack->addWidget(line);
    }
    details->setContent(rows, QMargins(12, 12, 12, 12));
    stack->addWidget(details);

    // What to expect: never cut, the sheet grows instead.
    auto* expect = new QVBoxLayout;
    expect->setSpacing(6);
    expect->addWidget(label("What to expect", callout(QFont::DemiBold), ink, "expectTitle"));
    auto* explanation = label(kExplanation, callout(), ink.opacity(0.7), "explanation");
    explanation->setWordWrap(true);
    expect->addWidget(explanation);
    stack->addLayout(expect);

    // Buttons at the trailing edge.
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(10);
    buttons->addStretch(1);
    auto* cancel = new platform::ui::PushButton("Cancel", platform::ui::ButtonStyle::bordered);
    cancel->setObjectName("cancel");
    cancel->setAutoDefault(false);
    auto* generate = new platform::ui::PushButton("Generate podcast", platform::ui::ButtonStyle::borderedProminent);
    generate->setObjectName("generate");
    generate->setIcon(platform::ui::IconRegistry::shared().icon("waveform"));
    generate->setTint(palette.accent);
    generate->setDefault(true);
    buttons->addWidget(cancel, 0, Qt::AlignVCenter);
    buttons->addWidget(generate, 0, Qt::AlignVCenter);
    stack->addLayout(buttons);

    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(generate, &QPushButton::clicked, this, [this] { confirm(); });

    // Exactly 460 wide; the height is whatever the content needs at that width.
    setFixedWidth(kWidth);
    setFixedHeight(stack->totalHeightForWidth(kWidth));
}

void PodcastConfirmSheet::confirm() {
    // The action is under way before the sheet is gone.
    if (onConfirm_) onConfirm_();
    accept();
}

void PodcastConfirmSheet::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), toQColor(brandCream()));
}

}  // namespace parlowen
