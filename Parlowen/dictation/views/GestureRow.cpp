#include "Parlowen/dictation/views/GestureRow.h"

#include <algorithm>

#include <QButtonGroup>
#include <QCheckBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QToolButton>
#include <QVBoxLayout>

#include "Parlowen/brand/BrandColors.h"
#include "platform/keyevents/QtLocalKeyMonitor.h"
#include "platform/ui/Buttons.h"
#include "platform/ui/Contrast.h"
#include "platform/ui/DefaultActions.h"
#include "platform/ui/Fonts.h"
#include "platform/ui/IconRegistry.h"
#include "platform/ui/MenuPicker.h"
#include "platform/ui/Surfaces.h"
#include "platform/ui/ThemeScope.h"

namespace parlowen {

using namespace platform::ui;

namespace {

constexpr double kPillRadius = 6;
constexpr int kPillMinWidth = 170;
const QMargins kPillPadding{10, 5, 10, 5};
const Color kGray = Color::rgb8(142, 142, 147);

QLabel* namedLabel(const char* name, const QString& text = {}) {
    auto* label = new QLabel(text);
    label->setObjectName(QString::fromLatin1(name));
    return label;
}

// A text colour with its hue, made readable on the window's surfaces (seen
// through `overlay`, when the text sits on a translucent fill).
QColor readableText(const QWidget* widget, const Color& color, std::optional<Color> overlay = std::nullopt) {
    std::vector<Color> backgrounds;
    for (const auto& s : surfaces(ThemeScope::resolve(widget)))
        backgrounds.push_back(overlay ? composite(*overlay, s) : s);
    return toQColor(readableOn(color, backgrounds));
}

void setTextColor(QLabel* label, const QColor& color) {
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, color);
    label->setPalette(p);
}

// The idle pill: one plain button drawn as a rounded rectangle around its content.
class PillButton : public QAbstractButton {
public:
    explicit PillButton(QWidget* parent = nullptr) : QAbstractButton(parent) {
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::StrongFocus);
    }
    QSize sizeHint() const override { return layout() ? layout()->sizeHint() : QSize(kPillMinWidth, 24); }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        p.setPen(QPen(toQColor(kGray.opacity(0.25)), 1));
        p.setBrush(toQColor(kGray.opacity(isDown() ? 0.16 : 0.08)));
        p.drawRoundedRect(r, kPillRadius, kPillRadius);
        if (hasFocus()) {
            p.setPen(QPen(toQColor(systemColors(ThemeScope::resolve(this)).focusRing), 2));
            p.setBrush(Qt::NoBrush);
            p.drawRoundedRect(r.adjusted(1, 1, -1, -1), kPillRadius - 1, kPillRadius - 1);
        }
    }
};

// A symbol-only plain button (the recording pill's cancel button).
class SymbolButton : public QAbstractButton {
public:
    explicit SymbolButton(QWidget* parent = nullptr) : QAbstractButton(parent) {
        setCursor(Qt::PointingHandCursor);
        setFixedSize(16, 16);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        icon().paint(&p, rect());
    }
};

}  // namespace

// ---- GestureField ----------------------------------------------------------------

GestureField::GestureField(Property<Gesture> gesture, std::vector<Gesture> otherGestures, HotkeyManager* hotkey,
                           platform::LocalKeyMonitorFactory monitors, QWidget* parent)
    : QWidget(parent),
      model_(std::move(gesture), std::move(otherGestures), hotkey,
             monitors ? std::move(monitors) : platform::qtLocalKeyMonitorFactory(this)) {
    setObjectName(QStringLiteral("gestureField"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(4);

    idle_ = new PillButton;
    idle_->setObjectName(QStringLiteral("idlePill"));
    idle_->setToolTip(QStringLiteral("Click to record a new shortcut."));
    auto* idleRow = new QHBoxLayout(idle_);
    idleRow->setContentsMargins(kPillPadding);
    idleRow->setSpacing(6);
    name_ = namedLabel("gestureName");
    name_->setFont(systemFont(TextStyle::callout, std::nullopt, FontDesign::monospaced));
    name_->setAttribute(Qt::WA_TransparentForMouseEvents);
    pencil_ = namedLabel("pencil");
    pencil_->setFixedSize(12, 12);
    pencil_->setAttribute(Qt::WA_TransparentForMouseEvents);
    idleRow->addStretch(1);
    idleRow->addWidget(name_);
    idleRow->addWidget(pencil_);
    idle_->setMinimumWidth(kPillMinWidth);
    connect(idle_, &QAbstractButton::clicked, this, [this] { model_.beginRecording(); });
    column->addWidget(idle_, 0, Qt::AlignRight);

    recording_ = new Card;
    recording_->setObjectName(QStringLiteral("recordingPill"));
    recording_->setCornerRadius(kPillRadius);
    recording_->setFill(brandAmber().opacity(0.18));
    recording_->setBorder(brandAmber(), 1.5);
    recording_->setMinimumWidth(kPillMinWidth);
    auto* recordingContent = new QWidget;
    auto* recordingRow = new QHBoxLayout(recordingContent);
    recordingRow->setContentsMargins(0, 0, 0, 0);
    recordingRow->setSpacing(6);
    prompt_ = namedLabel("prompt");
    prompt_->setFont(systemFont(TextStyle::callout, std::nullopt, FontDesign::monospaced));
    cancel_ = new SymbolButton;
    cancel_->setObjectName(QStringLiteral("cancelRecording"));
    cancel_->setToolTip(QStringLiteral("Cancel (esc)"));
    cancel_->setAccessibleName(QStringLiteral("Cancel recording shortcut"));
    connect(cancel_, &QAbstractButton::clicked, this, [this] { model_.stopRecording(); });
    recordingRow->addStretch(1);
    recordingRow->addWidget(prompt_);
    recordingRow->addWidget(cancel_);
    recording_->setContent(recordingContent, kPillPadding);
    recording_->hide();
    column->addWidget(recording_, 0, Qt::AlignRight);

    error_ = namedLabel("error");
    error_->setFont(systemFont(TextStyle::caption2));
    error_->setWordWrap(true);
    error_->setMaximumWidth(240);
    error_->setAlignment(Qt::AlignRight | Qt::AlignTop);
    error_->hide();
    column->addWidget(error_, 0, Qt::AlignRight);

    model_.onChange = [this] { refresh(); };
    // The store delivers a new value before it holds it: show the delivered one.
    gestureSubscription_ = model_.gesture.changes().subscribe([this](const Gesture& g) {
        shown_ = g;
        refresh();
    });
    recolor();
}

GestureField::~GestureField() {
    // Leaving the screen for good: never leave the hotkey manager paused.
    model_.onChange = nullptr;
    if (model_.isRecording()) model_.stopRecording();
}

void GestureField::refresh() {
    const QString display = QString::fromStdString(shown_.displayName());
    name_->setText(display);
    idle_->setAccessibleName(QStringLiteral("Current shortcut: ") + display +
                             QStringLiteral(". Click to record a new one, or use the manual entry option below."));
    prompt_->setText(QString::fromStdString(model_.promptText()));
    const auto& error = model_.error();
    error_->setText(error ? QString::fromStdString(*error) : QString());
    // As wide as the text up to 240 points, so a long message wraps there
    // instead of at whatever width the pill leaves.
    if (error) error_->setFixedWidth(std::min(240, error_->fontMetrics().horizontalAdvance(error_->text()) + 2));
    error_->setVisible(error.has_value());

    const bool recording = model_.isRecording();
    idle_->setVisible(!recording);
    recording_->setVisible(recording);
    if (!recording) {
        recordingShown_ = false;
    } else if (!recordingShown_ && isVisible()) {
        // The recording pill comes on screen.
        recordingShown_ = true;
        model_.installMonitor();
    }
}

void GestureField::recolor() {
    const Palette theme = ThemeScope::resolve(this);
    const QColor secondary = toQColor(systemColors(theme).secondary);
    setTextColor(name_, toQColor(theme.primaryText));
    setTextColor(prompt_, readableText(this, brandAmberDeep(), brandAmber().opacity(0.18)));
    setTextColor(error_, readableText(this, brandCoral()));
    const qreal dpr = devicePixelRatioF();
    pencil_->setPixmap(IconRegistry::shared().templatePixmap("pencil.circle", {12, 12}, secondary, dpr));
    cancel_->setIcon(QIcon(IconRegistry::shared().templatePixmap("xmark.circle.fill", {16, 16}, secondary, dpr)));
    refresh();
}

void GestureField::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    recolor();
}

void GestureField::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    // The recording pill leaves the screen (another tab, a closed window).
    if (model_.isRecording()) model_.stopRecording();
}

void GestureField::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) recolor();
}

// ---- ManualGestureEntry -------------------------------------------------------------

namespace {

// A note under a section: caption 2, secondary, wrapping.
QLabel* note(const char* name, const QString& text) {
    auto* label = namedLabel(name, text);
    label->setFont(systemFont(TextStyle::caption2));
    label->setForegroundRole(QPalette::PlaceholderText);
    label->setWordWrap(true);
    return label;
}

}  // namespace

MenuPicker* ManualGestureEntry::addPicker(QVBoxLayout* section, const char* name, const QString& title,
                                          const QString& accessibleName, const std::vector<QString>& labels,
                                          std::function<void(std::size_t)> choose) {
    auto* row = new QHBoxLayout;
    row->setSpacing(8);
    row->addWidget(namedLabel((std::string(name) + "Label").c_str(), title));
    auto* picker = new MenuPicker;
    picker->setObjectName(QString::fromLatin1(name));
    picker->setAccessibleName(accessibleName);
    std::vector<MenuPicker::Item> items;
    for (const auto& l : labels) items.push_back({l});
    picker->setItems(items);
    const std::size_t count = labels.size();
    connect(picker, &MenuPicker::entryChosen, this, [this, count, choose = std::move(choose)](int index) {
        if (index < 0 || static_cast<std::size_t>(index) >= count) return;
        choose(static_cast<std::size_t>(index));
        refresh();
    });
    row->addWidget(picker);
    row->addStretch(1);
    section->addLayout(row);
    return picker;
}

ManualGestureEntry::ManualGestureEntry(Property<Gesture> gesture, std::vector<Gesture> otherGestures,
                                       QWidget* parent)
    : QWidget(parent), model_(std::move(gesture), std::move(otherGestures)) {
    setObjectName(QStringLiteral("manualEntry"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(8);

    auto* style = new QWidget;
    style->setObjectName(QStringLiteral("shortcutStyle"));
    style->setAccessibleName(QStringLiteral("Shortcut style"));
    style->setAccessibleDescription(QStringLiteral("Choose whether to build a combo with modifier keys plus a primary "
                                                   "key, or a single modifier-key hold."));
    auto* styleRow = new QHBoxLayout(style);
    styleRow->setContentsMargins(0, 0, 0, 0);
    styleRow->setSpacing(0);
    auto* group = new QButtonGroup(style);
    comboMode_ = new PushButton(QString::fromUtf8(title(Mode::combo).data(), title(Mode::combo).size()),
                                ButtonStyle::bordered, ControlSize::small);
    comboMode_->setObjectName(QStringLiteral("comboMode"));
    holdMode_ = new PushButton(QString::fromUtf8(title(Mode::hold).data(), title(Mode::hold).size()),
                               ButtonStyle::bordered, ControlSize::small);
    holdMode_->setObjectName(QStringLiteral("holdMode"));
    for (auto* b : {comboMode_, holdMode_}) {
        b->setCheckable(true);
        b->setAutoDefault(false);
        group->addButton(b);
        styleRow->addWidget(b);
    }
    styleRow->addStretch(1);
    connect(comboMode_, &QAbstractButton::clicked, this, [this] {
        model_.mode = Mode::combo;
        refresh();
    });
    connect(holdMode_, &QAbstractButton::clicked, this, [this] {
        model_.mode = Mode::hold;
        refresh();
    });
    column->addWidget(style);

    // Combination.
    comboSection_ = new QWidget;
    comboSection_->setObjectName(QStringLiteral("comboSection"));
    auto* combo = new QVBoxLayout(comboSection_);
    combo->setContentsMargins(0, 0, 0, 0);
    combo->setSpacing(6);
    auto* heading = namedLabel("modifiersHeading", QStringLiteral("Modifiers"));
    heading->setFont(systemFont(TextStyle::caption, QFont::DemiBold));
    heading->setForegroundRole(QPalette::PlaceholderText);
    combo->addWidget(heading);
    auto* boxes = new QHBoxLayout;
    boxes->setSpacing(12);
    auto makeBox = [&](const char* name, const char* text, bool ManualGestureEntryModel::*field) {
        auto* box = new QCheckBox(QString::fromUtf8(text));
        box->setObjectName(QString::fromLatin1(name));
        connect(box, &QCheckBox::toggled, this, [this, field](bool on) {
            if (refreshing_) return;
            model_.*field = on;
            refresh();
        });
        boxes->addWidget(box);
        return box;
    };
    command_ = makeBox("command", "Command (⌘)", &ManualGestureEntryModel::commandOn);
    option_ = makeBox("option", "Option (⌥)", &ManualGestureEntryModel::optionOn);
    control_ = makeBox("control", "Control (⌃)", &ManualGestureEntryModel::controlOn);
    shift_ = makeBox("shift", "Shift (⇧)", &ManualGestureEntryModel::shiftOn);
    boxes->addStretch(1);
    combo->addLayout(boxes);
    std::vector<QString> keys;
    for (auto k : allCases<ManualKeyChoice>()) keys.push_back(QString::fromUtf8(label(k).data(), label(k).size()));
    primaryKey_ = addPicker(combo, "primaryKey", QStringLiteral("Primary key"),
                            QStringLiteral("Primary key for the combo"), keys, [this](std::size_t index) {
                                model_.selectedKey = allCases<ManualKeyChoice>()[index];
                            });
    combo->addWidget(note("comboNote", QStringLiteral("Include at least one of ⌘, ⌥, or ⌃ — Shift alone fires on "
                                                      "every keystroke and isn't allowed.")));
    column->addWidget(comboSection_);

    // Hold.
    holdSection_ = new QWidget;
    holdSection_->setObjectName(QStringLiteral("holdSection"));
    auto* hold = new QVBoxLayout(holdSection_);
    hold->setContentsMargins(0, 0, 0, 0);
    hold->setSpacing(6);
    std::vector<QString> holds;
    for (Hotkey h : ManualGestureEntryModel::holdKeyChoices())
        holds.push_back(QString::fromUtf8(displayName(h).data(), displayName(h).size()));
    holdKey_ = addPicker(hold, "holdKey", QStringLiteral("Hold key"), QStringLiteral("Modifier key to hold"), holds,
                         [this](std::size_t index) {
                             model_.selectedHoldKey = ManualGestureEntryModel::holdKeyChoices()[index];
                         });
    hold->addWidget(note("holdNote", QStringLiteral("Only right-side modifier keys are offered — left-side keys "
                                                    "collide with normal typing.")));
    column->addWidget(holdSection_);

    error_ = namedLabel("error");
    error_->setFont(systemFont(TextStyle::caption2));
    error_->setWordWrap(true);
    column->addWidget(error_);

    auto* saveRow = new QHBoxLayout;
    saveRow->addStretch(1);
    save_ = new PushButton(QStringLiteral("Use this shortcut"), ButtonStyle::borderedProminent, ControlSize::small);
    save_->setObjectName(QStringLiteral("save"));
    setDefaultAction(save_);
    connect(save_, &QAbstractButton::clicked, this, [this] {
        model_.save();
        refresh();
    });
    saveRow->addWidget(save_);
    column->addLayout(saveRow);
    refresh();
}

void ManualGestureEntry::refresh() {
    refreshing_ = true;
    const bool combo = model_.mode == Mode::combo;
    comboMode_->setChecked(combo);
    holdMode_->setChecked(!combo);
    // The chosen segment is filled.
    comboMode_->setButtonStyle(combo ? ButtonStyle::borderedProminent : ButtonStyle::bordered);
    holdMode_->setButtonStyle(combo ? ButtonStyle::bordered : ButtonStyle::borderedProminent);
    comboSection_->setVisible(combo);
    holdSection_->setVisible(!combo);
    command_->setChecked(model_.commandOn);
    option_->setChecked(model_.optionOn);
    control_->setChecked(model_.controlOn);
    shift_->setChecked(model_.shiftOn);
    primaryKey_->setCurrentEntry(static_cast<int>(model_.selectedKey));
    const auto& holds = ManualGestureEntryModel::holdKeyChoices();
    for (std::size_t i = 0; i < holds.size(); ++i)
        if (holds[i] == model_.selectedHoldKey) holdKey_->setCurrentEntry(static_cast<int>(i));
    error_->setText(model_.error ? QString::fromStdString(*model_.error) : QString());
    error_->setVisible(model_.error.has_value());
    save_->setEnabled(model_.canSave());
    save_->setAccessibleDescription(QString::fromStdString(model_.saveHint()));
    refreshing_ = false;
}

void ManualGestureEntry::recolor() { setTextColor(error_, readableText(this, brandCoral())); }

void ManualGestureEntry::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    model_.loadFromGesture();
    recolor();
    refresh();
}

void ManualGestureEntry::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) recolor();
}

// ---- GestureRow ---------------------------------------------------------------------

GestureRow::GestureRow(std::string icon, const QString& title, const QString& subtitle, Property<Gesture> gesture,
                       std::vector<Gesture> otherGestures, HotkeyManager* hotkey,
                       platform::LocalKeyMonitorFactory monitors, QWidget* parent)
    : QWidget(parent), iconName_(std::move(icon)) {
    setObjectName(QStringLiteral("gestureRow"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 4, 0, 4);
    column->setSpacing(6);

    auto* top = new QHBoxLayout;
    top->setSpacing(8);
    auto* label = new QHBoxLayout;
    label->setSpacing(8);
    icon_ = namedLabel("icon");
    icon_->setFixedWidth(24);
    icon_->setAlignment(Qt::AlignCenter);
    label->addWidget(icon_, 0, Qt::AlignVCenter);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    auto* titleLabel = namedLabel("title", title);
    titleLabel->setFont(systemFont(TextStyle::body));
    auto* subtitleLabel = namedLabel("subtitle", subtitle);
    subtitleLabel->setFont(systemFont(TextStyle::caption));
    subtitleLabel->setForegroundRole(QPalette::PlaceholderText);
    texts->addWidget(titleLabel);
    texts->addWidget(subtitleLabel);
    label->addLayout(texts, 1);
    top->addLayout(label, 1);
    top->setAlignment(label, Qt::AlignTop);
    field_ = new GestureField(gesture, otherGestures, hotkey, std::move(monitors));
    top->addWidget(field_, 0, Qt::AlignTop);
    column->addLayout(top);

    disclosure_ = new QToolButton;
    disclosure_->setObjectName(QStringLiteral("manualEntryDisclosure"));
    disclosure_->setText(QString::fromUtf8(kDisclosureLabel));
    disclosure_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    disclosure_->setArrowType(Qt::RightArrow);
    disclosure_->setAutoRaise(true);
    disclosure_->setFont(systemFont(TextStyle::caption));
    disclosure_->setForegroundRole(QPalette::PlaceholderText);
    disclosure_->setAccessibleDescription(QString::fromUtf8(kDisclosureHint));
    connect(disclosure_, &QToolButton::clicked, this, [this] { setShowManualEntry(!showManualEntry_); });
    column->addWidget(disclosure_, 0, Qt::AlignLeft);

    manualContainer_ = new QWidget;
    manualContainer_->setObjectName(QStringLiteral("manualEntryContainer"));
    auto* inset = new QVBoxLayout(manualContainer_);
    inset->setContentsMargins(0, 6, 0, 0);
    manualEntry_ = new ManualGestureEntry(std::move(gesture), std::move(otherGestures));
    inset->addWidget(manualEntry_);
    manualContainer_->hide();
    column->addWidget(manualContainer_);
}

void GestureRow::setShowManualEntry(bool show) {
    showManualEntry_ = show;
    disclosure_->setArrowType(show ? Qt::DownArrow : Qt::RightArrow);
    manualContainer_->setVisible(show);
}

void GestureRow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    const int size = static_cast<int>(pointSize(TextStyle::title3));
    icon_->setPixmap(IconRegistry::shared().templatePixmap(iconName_, {size, size}, toQColor(brandAmber()),
                                                           devicePixelRatioF()));
}

}  // namespace parlowen
