#include "Parlowen/notepad/views/NotepadContent.h"

#include <QApplication>
#include <QEnterEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QScrollArea>
#include <QStackedLayout>
#include <QTextBlock>
#include <QTextCursor>
#include <QToolButton>
#include <QVBoxLayout>

#include "Parlowen/brand/BrandColors.h"
#include "Parlowen/brand/BrandFonts.h"
#include "Parlowen/brand/MascotArtwork.h"
#include "Parlowen/dictation/MicSelector.h"
#include "Parlowen/dictation/views/MicSelectorButton.h"
#include "Parlowen/notepad/CloudConsent.h"
#include "Parlowen/notepad/NotesExporter.h"
#include "Parlowen/notepad/Tones.h"
#include "Parlowen/shell/settings/PreferencesStore.h"
#include "Parlowen/shell/views/ThemePalette.h"
#include "Parlowen/shell/views/WaveformBarView.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/ui/Announcer.h"
#include "platform/ui/Buttons.h"
#include "platform/ui/Contrast.h"
#include "platform/ui/Fonts.h"
#include "platform/ui/IconRegistry.h"
#include "platform/ui/ReduceMotion.h"
#include "platform/ui/ThemeScope.h"

namespace parlowen {
namespace {

using platform::ui::Color;
using platform::ui::toQColor;

// The platform's orange, for the cloud-model pill.
constexpr Color kOrange = Color::rgb8(0xFF, 0x9F, 0x0A);

QLabel* namedLabel(const char* name, QWidget* parent = nullptr) {
    auto* label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setTextFormat(Qt::PlainText);
    return label;
}

void setTextColor(QWidget* w, const Color& c) {
    QPalette p = w->palette();
    p.setColor(QPalette::WindowText, toQColor(c));
    p.setColor(QPalette::ButtonText, toQColor(c));
    p.setColor(QPalette::Text, toQColor(c));
    w->setPalette(p);
}

QPixmap symbol(const std::string& name, int side, const Color& tint, qreal dpr) {
    return platform::ui::IconRegistry::shared().templatePixmap(name, {side, side}, toQColor(tint), dpr);
}

// The window's dark scheme with the theme's accent.
platform::ui::Palette darkScheme(const Color& accent) {
    return {brandNight(), Color::white(), Color::white().opacity(0.62), accent, Color::white(),
            Color::rgb8(0x2A, 0x24, 0x1C), accent.opacity(0.4), true};
}

// The paper: light scheme, ink on linen.
platform::ui::Palette paperScheme(const Color& accent) {
    return {brandLinen(), brandInk(), brandInk().opacity(0.65), accent, Color::white(), brandCream(),
            accent.opacity(0.4), false};
}

QWidget* divider(std::vector<QWidget*>& all) {
    auto* line = new QWidget;
    line->setFixedHeight(1);
    line->setAutoFillBackground(true);
    all.push_back(line);
    return line;
}

// Chips carry their name in ink on linen, inside the dark window.
void inkText(QWidget* chip) {
    QPalette p = chip->palette();
    for (auto role : {QPalette::WindowText, QPalette::ButtonText, QPalette::Text})
        p.setColor(role, toQColor(brandInk()));
    p.setColor(QPalette::Button, toQColor(brandLinen()));
    p.setColor(QPalette::Window, toQColor(brandLinen()));
    chip->setPalette(p);
}

Color over(const Color& top, const Color& bottom) { return platform::ui::composite(top, bottom); }

}  // namespace

std::string_view rawValue(NotepadContent::RewriteKind kind) {
    return kind == NotepadContent::RewriteKind::tone ? "tone" : "agent";
}

std::optional<NotepadContent::RewriteKind> rewriteKindFromRawValue(std::string_view raw) {
    if (raw == "tone") return NotepadContent::RewriteKind::tone;
    if (raw == "agent") return NotepadContent::RewriteKind::agent;
    return std::nullopt;
}

// ---- RewriteChip ------------------------------------------------------------------------

RewriteChip::RewriteChip(const Tone& tone, bool isSuggested, Color accent, QWidget* parent)
    : QAbstractButton(parent),
      isTone_(true),
      suggested_(isSuggested),
      symbol_(tone.symbolName.value_or("tag")),
      accent_(accent) {
    setObjectName(QString::fromStdString("tone:" + tone.id));
    setText(QString::fromStdString(tone.displayName));
    setAccessibleName(QString::fromStdString("Apply tone: " + tone.displayName));
    setAccessibleDescription(isSuggested ? QStringLiteral("Suggested for this app")
                                         : QStringLiteral("Rewrites the whole text in this tone."));
    setFont(brandCaption());
    setCursor(Qt::PointingHandCursor);
    setAttribute(Qt::WA_Hover);
    inkText(this);
}

RewriteChip::RewriteChip(const AgentCommand& agent, Color accent, QWidget* parent)
    : QAbstractButton(parent), isTone_(false), symbol_(agent.symbolName.value_or("wand.and.stars")), accent_(accent) {
    setObjectName(QString::fromStdString("agent:" + agent.id));
    setText(QString::fromStdString(agent.displayName));
    setToolTip(QString::fromStdString(agent.oneLiner));
    setAccessibleName(QString::fromStdString("Run agent: " + agent.displayName));
    setAccessibleDescription(QString::fromStdString(agent.oneLiner));
    setFont(brandCaption());
    setCursor(Qt::PointingHandCursor);
    setAttribute(Qt::WA_Hover);
    inkText(this);
}

RewriteChip::Look RewriteChip::look() const {
    if (isTone_) {
        if (hovered_) return {accent_.opacity(0.28), accent_.opacity(0.65), suggested_ ? 1.5 : 1.0};
        if (suggested_) return {accent_.opacity(0.14), accent_.opacity(0.55), 1.5};
        return {brandLinen(), accent_.opacity(0.22), 1.0};
    }
    if (hovered_) return {accent_.opacity(0.18), accent_.opacity(0.55), 1.0};
    return {brandLinen(), accent_.opacity(0.22), 1.0};
}

QSize RewriteChip::sizeHint() const {
    const QFontMetrics fm(font());
    const int icon = fm.height();
    return {14 + icon + 6 + fm.horizontalAdvance(text()) + 14, 7 + fm.height() + 7};
}

void RewriteChip::enterEvent(QEnterEvent* event) {
    hovered_ = true;
    update();
    QAbstractButton::enterEvent(event);
}

void RewriteChip::leaveEvent(QEvent* event) {
    hovered_ = false;
    update();
    QAbstractButton::leaveEvent(event);
}

void RewriteChip::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled()) p.setOpacity(0.45);
    const Look l = look();
    const QRectF r = QRectF(rect()).adjusted(l.borderWidth / 2, l.borderWidth / 2, -l.borderWidth / 2,
                                             -l.borderWidth / 2);
    QPainterPath capsule;
    capsule.addRoundedRect(r, r.height() / 2, r.height() / 2);
    // The accent washes are laid on linen, so the ink name reads on every state.
    p.fillPath(capsule, toQColor(over(l.fill, brandLinen())));
    p.setPen(QPen(toQColor(l.border), l.borderWidth));
    p.drawPath(capsule);
    const QFontMetrics fm(font());
    const int side = fm.height();
    const int x = 14;
    const int y = (height() - side) / 2;
    p.drawPixmap(x, y, symbol(symbol_, side, platform::ui::readableOn(accent_, {brandLinen()}, 3.0), devicePixelRatioF()));
    p.setFont(font());
    p.setPen(toQColor(brandInk()));
    p.drawText(QRect(x + side + 6, 0, width() - x - side - 6, height()), Qt::AlignVCenter | Qt::AlignLeft, text());
}

// ---- TCCExplainerSheet ---------------------------------------------------------------------

TCCExplainerSheet::TCCExplainerSheet(std::function<void()> onAllow, std::function<void()> onCancel, QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("tccExplainer"));
    setWindowTitle(QStringLiteral("Save into Apple Notes?"));
    setFixedSize(460, 380);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(24, 24, 24, 24);
    column->setSpacing(16);

    auto* head = new QHBoxLayout;
    head->setSpacing(12);
    auto* shield = namedLabel("shield");
    shield->setProperty("symbolName", QStringLiteral("lock.shield.fill"));
    symbols_.push_back({shield, 34});
    head->addWidget(shield);
    auto* titles = new QVBoxLayout;
    titles->setSpacing(2);
    auto* title = namedLabel("title");
    title->setText(QStringLiteral("Save into Apple Notes?"));
    title->setFont(platform::ui::systemFont(platform::ui::TextStyle::title3, QFont::Bold));
    auto* subtitle = namedLabel("subtitle");
    subtitle->setText(QStringLiteral("One-time permission"));
    subtitle->setFont(platform::ui::systemFont(platform::ui::TextStyle::caption));
    subtitle->setForegroundRole(QPalette::PlaceholderText);
    titles->addWidget(title);
    titles->addWidget(subtitle);
    head->addLayout(titles);
    head->addStretch(1);
    column->addLayout(head);

    struct Row {
        const char* symbol;
        const char* heading;
        const char* body;
    };
    static constexpr Row rows[] = {
        {"folder.fill", "Where it goes",
         "Parlowen creates a folder inside Apple Notes the first time you save. Every note is tagged so you can find "
         "them all at once."},
        {"lock.fill", "Your text stays on your Mac",
         "The save happens through Apple's built-in scripting bridge. Parlowen hands the text directly to Notes — "
         "nothing leaves your device."},
        {"bell.slash.fill", "Silent after the first time",
         "macOS will ask once for permission. After you allow it, future saves happen in the background — Notes never "
         "steals focus from Parlowen."},
    };
    auto* explanations = new QVBoxLayout;
    explanations->setSpacing(10);
    for (const Row& row : rows) {
        auto* line = new QHBoxLayout;
        line->setSpacing(10);
        auto* icon = new QLabel;
        icon->setFixedWidth(22);
        icon->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        icon->setProperty("symbolName", QLatin1String(row.symbol));
        symbols_.push_back({icon, 18});
        line->addWidget(icon, 0, Qt::AlignTop);
        auto* text = new QVBoxLayout;
        text->setSpacing(2);
        auto* heading = new QLabel(QString::fromUtf8(row.heading));
        heading->setFont(platform::ui::systemFont(platform::ui::TextStyle::callout, QFont::DemiBold));
        auto* body = new QLabel(QString::fromUtf8(row.body));
        body->setFont(platform::ui::systemFont(platform::ui::TextStyle::caption));
        body->setForegroundRole(QPalette::PlaceholderText);
        body->setWordWrap(true);
        text->addWidget(heading);
        text->addWidget(body);
        line->addLayout(text, 1);
        explanations->addLayout(line);
    }
    column->addLayout(explanations);
    column->addStretch(1);

    auto* buttons = new QHBoxLayout;
    auto* notNow = new platform::ui::PushButton(QStringLiteral("Not now"));
    notNow->setObjectName(QStringLiteral("notNowButton"));
    notNow->setAutoDefault(false);
    auto* allow = new platform::ui::PushButton(QStringLiteral("Allow & save"), platform::ui::ButtonStyle::borderedProminent);
    allow->setObjectName(QStringLiteral("allowButton"));
    allow->setDefault(true);  // Return
    buttons->addWidget(notNow);
    buttons->addStretch(1);
    buttons->addWidget(allow);
    column->addLayout(buttons);

    connect(notNow, &QPushButton::clicked, this, &QDialog::reject);  // Escape rejects too
    connect(allow, &QPushButton::clicked, this, &QDialog::accept);
    connect(this, &QDialog::accepted, this, [onAllow] { onAllow(); });
    connect(this, &QDialog::rejected, this, [onCancel] { onCancel(); });
}

void TCCExplainerSheet::setTint(const Color& tint) {
    for (auto [label, side] : symbols_)
        label->setPixmap(symbol(label->property("symbolName").toString().toStdString(), side, tint, devicePixelRatioF()));
}

// ---- NotepadContent ------------------------------------------------------------------------

QuonKind NotepadContent::headerPose(bool isPolishing, bool isRecording) {
    if (isPolishing) return QuonKind::thinking;
    return isRecording ? QuonKind::notetakingTall : QuonKind::dozing;
}

namespace {
// The device in use: the preferred one, else the system default input; none when it is not connected.
const AudioDeviceCatalog::Device* currentDevice(const std::optional<std::string>& preferredUID,
                                                const std::optional<std::string>& systemDefaultUID,
                                                const std::vector<AudioDeviceCatalog::Device>& devices) {
    const std::optional<std::string>& uid = preferredUID ? preferredUID : systemDefaultUID;
    if (!uid) return nullptr;
    for (const auto& d : devices)
        if (d.uid == *uid) return &d;
    return nullptr;
}
}  // namespace

NotepadContent::NotepadContent(NotepadCoordinator& coordinator, PreferencesStore& preferences, Services services,
                               std::function<void()> onDone, QWidget* parent)
    : QWidget(parent),
      coordinator_(coordinator),
      preferences_(preferences),
      services_(std::move(services)),
      onDone_(std::move(onDone)) {
    setObjectName(QStringLiteral("notepadContent"));
    ensureMascotArtwork();
    shown_.palette = parlowen::palette(preferences_.selectedTheme.get());

    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(0);
    stack->addWidget(buildHeader());
    stack->addWidget(divider(dividers_));
    meterRow_ = new QWidget;
    auto* meterLayout = new QHBoxLayout(meterRow_);
    meterLayout->setContentsMargins(16, 10, 16, 0);
    meter_ = new WaveformBarView(std::vector<float>(NotepadCoordinator::kLevelWindow, 0.0f), accent().opacity(0.85), 2, 2);
    meter_->setObjectName(QStringLiteral("meter"));
    meter_->setFixedHeight(22);
    meterLayout->addWidget(meter_);
    stack->addWidget(meterRow_);
    stack->addWidget(buildWritingArea(), 1);
    stack->addWidget(divider(dividers_));
    stack->addWidget(buildRewriteBar());
    stack->addWidget(divider(dividers_));
    stack->addWidget(buildFooter());

    explainer_ = new TCCExplainerSheet(
        [this] {
            explainer_->hide();
            startSave();
        },
        [this] { explainer_->hide(); }, this);
    explainer_->setWindowModality(Qt::WindowModal);

    // Each sink receives the new value before its owner holds it: keep it here.
    subscriptions_ += coordinator_.isRecording().subscribe([this](const bool& v) {
        shown_.recording = v;
        showRecording();
    });
    subscriptions_ += coordinator_.isPolishing().subscribe([this](const bool& v) {
        shown_.polishing = v;
        showPolishing();
    });
    subscriptions_ += coordinator_.displayedText().subscribe([this](const std::string& v) { showText(v); });
    subscriptions_ += coordinator_.amplitudes().subscribe([this](const std::vector<float>& v) { meter_->setSamples(v); });
    subscriptions_ += coordinator_.saveState().subscribe([this](const SaveState& v) {
        shown_.save = v;
        showSaveState();
    });
    // Announced on changes only, not for the state found at first.
    subscriptions_ += coordinator_.saveState().stream().dropFirst().subscribe([this](const SaveState& v) {
        if (v.kind == SaveState::Case::saved)
            services_.announcer.announce("Saved to Apple Notes", platform::ui::AnnouncementPriority::high);
        else if (v.kind == SaveState::Case::failed)
            services_.announcer.announce("Save to Notes failed: " + v.message, platform::ui::AnnouncementPriority::high);
    });
    subscriptions_ += coordinator_.suggestedToneID().subscribe([this](const std::optional<std::string>& v) {
        shown_.suggestedTone = v;
        showChips();
    });
    subscriptions_ += preferences_.preferredInputDeviceUID.subscribe([this](const std::optional<std::string>& v) {
        shown_.preferredUID = v;
        showMicSelector();
    });
    subscriptions_ += services_.audioCatalog.systemDefaultInputUID.subscribe(
        [this](const std::optional<std::string>& v) {
            shown_.systemDefaultUID = v;
            showMicSelector();
        });
    subscriptions_ += services_.audioCatalog.inputDevices.subscribe(
        [this](const std::vector<AudioDeviceCatalog::Device>& v) {
            shown_.devices = v;
            showMicSelector();
        });
    subscriptions_ += preferences_.customTones.subscribe([this](const std::vector<Tone>& v) {
        shown_.customTones = v;
        showChips();
    });
    subscriptions_ += preferences_.cleanUpModel.subscribe([this](const CleanUpModel& v) {
        shown_.model = v;
        showModelMenu();
    });
    subscriptions_ += services_.reduceMotion.stream().subscribe([this](const bool& on) {
        shown_.reduceMotion = on;
        showMeter();
    });
    subscriptions_ += preferences_.selectedTheme.subscribe([this](const Theme& theme) {
        shown_.palette = parlowen::palette(theme);
        applyTheme();
    });
}

NotepadContent::~NotepadContent() = default;

Color NotepadContent::accent() const { return shown_.palette.accent; }

QWidget* NotepadContent::buildHeader() {
    auto* header = new QWidget;
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(16, 14, 16, 10);
    row->setSpacing(12);
    mascot_ = namedLabel("mascot");
    mascot_->setFixedSize(32, 32);
    row->addWidget(mascot_);

    status_ = new QWidget;
    status_->setObjectName(QStringLiteral("status"));
    auto* statusRow = new QHBoxLayout(status_);
    statusRow->setContentsMargins(0, 0, 0, 0);
    statusRow->setSpacing(6);
    statusDot_ = namedLabel("statusDot");
    statusDot_->setFixedSize(8, 8);
    statusWord_ = namedLabel("statusWord");
    statusWord_->setFont(brandCallout());
    statusTitle_ = namedLabel("statusTitle");
    statusTitle_->setText(QStringLiteral("· Quon Notepad"));
    statusTitle_->setFont(brandCaption());
    statusTitle_->setForegroundRole(QPalette::PlaceholderText);
    statusRow->addWidget(statusDot_);
    statusRow->addWidget(statusWord_);
    statusRow->addWidget(statusTitle_);
    row->addWidget(status_);
    row->addStretch(1);

    polishing_ = new QWidget;
    polishing_->setObjectName(QStringLiteral("polishing"));
    polishing_->setAccessibleName(QStringLiteral("Polishing transcript"));
    auto* polishRow = new QHBoxLayout(polishing_);
    polishRow->setContentsMargins(0, 0, 0, 0);
    polishRow->setSpacing(6);
    auto* spinner = new QProgressBar;
    spinner->setObjectName(QStringLiteral("polishingSpinner"));
    spinner->setRange(0, 0);
    spinner->setTextVisible(false);
    spinner->setFixedSize(28, 6);
    polishingText_ = namedLabel("polishingText");
    polishingText_->setText(QStringLiteral("polishing…"));
    polishingText_->setFont(brandCaption());
    polishRow->addWidget(spinner);
    polishRow->addWidget(polishingText_);
    row->addWidget(polishing_);

    mic_ = new MicSelectorButton(MicSelectorButton::Fields{});
    mic_->setObjectName(QStringLiteral("micSelector"));
    row->addWidget(mic_);

    record_ = new QToolButton;
    record_->setObjectName(QStringLiteral("recordButton"));
    record_->setAutoRaise(true);
    record_->setIconSize({24, 24});
    connect(record_, &QToolButton::clicked, this, [this] {
        if (shown_.recording)
            coordinator_.stopRecording();
        else
            coordinator_.startRecording();
    });
    row->addWidget(record_);
    return header;
}

QWidget* NotepadContent::buildWritingArea() {
    writingArea_ = new QWidget;
    writingArea_->setObjectName(QStringLiteral("writingArea"));
    writingArea_->setMinimumHeight(220);
    auto* outer = new QVBoxLayout(writingArea_);
    outer->setContentsMargins(16, 12, 16, 0);
    auto* layers = new QWidget;
    auto* stacked = new QStackedLayout(layers);
    stacked->setStackingMode(QStackedLayout::StackAll);

    editor_ = new QPlainTextEdit;
    editor_->setObjectName(QStringLiteral("editor"));
    editor_->setFont(platform::ui::systemFont(16));
    editor_->setFrameShape(QFrame::NoFrame);
    editor_->viewport()->setAutoFillBackground(false);
    editor_->setAccessibleName(QStringLiteral("Transcript"));
    connect(editor_, &QPlainTextEdit::textChanged, this, [this] {
        if (applyingText_) return;
        coordinator_.setDisplayedText(editor_->toPlainText().toStdString());
    });

    placeholder_ = new QWidget;
    placeholder_->setObjectName(QStringLiteral("placeholder"));
    placeholder_->setAttribute(Qt::WA_TransparentForMouseEvents);
    auto* placeRow = new QHBoxLayout(placeholder_);
    placeRow->setContentsMargins(18, 18, 18, 18);
    placeRow->setSpacing(14);
    placeholderMascot_ = namedLabel("placeholderMascot");
    placeholderMascot_->setFixedSize(72, 72);
    auto* placeText = namedLabel("placeholderText");
    placeText->setText(
        QStringLiteral("start speaking — your words will appear here, and polish themselves whenever you pause."));
    placeText->setFont(platform::ui::systemFont(15));
    placeText->setWordWrap(true);
    placeText->setContentsMargins(0, 6, 0, 0);
    placeRow->addWidget(placeholderMascot_, 0, Qt::AlignTop);
    placeRow->addWidget(placeText, 1, Qt::AlignTop);

    stacked->addWidget(placeholder_);
    stacked->addWidget(editor_);
    stacked->setCurrentWidget(placeholder_);
    placeholder_->raise();
    outer->addWidget(layers, 1);
    return writingArea_;
}

QWidget* NotepadContent::buildRewriteBar() {
    auto* bar = new QWidget;
    bar->setObjectName(QStringLiteral("rewriteBar"));
    auto* column = new QVBoxLayout(bar);
    column->setContentsMargins(16, 10, 16, 10);
    column->setSpacing(8);

    auto* row = new QHBoxLayout;
    row->setSpacing(10);
    auto* segments = new QWidget;
    segments->setAccessibleName(QStringLiteral("Rewrite"));
    segments->setMaximumWidth(200);
    auto* segRow = new QHBoxLayout(segments);
    segRow->setContentsMargins(0, 0, 0, 0);
    segRow->setSpacing(0);
    tones_ = new platform::ui::PushButton(QStringLiteral("Tones"));
    tones_->setObjectName(QStringLiteral("tonesSegment"));
    agents_ = new platform::ui::PushButton(QStringLiteral("Agents"));
    agents_->setObjectName(QStringLiteral("agentsSegment"));
    for (auto* b : {tones_, agents_}) {
        b->setCheckable(true);
        b->setAutoDefault(false);
        segRow->addWidget(b);
    }
    connect(tones_, &QPushButton::clicked, this, [this] { setRewriteKind(RewriteKind::tone); });
    connect(agents_, &QPushButton::clicked, this, [this] { setRewriteKind(RewriteKind::agent); });
    row->addWidget(segments);
    row->addStretch(1);
    auto* right = new QVBoxLayout;
    right->setSpacing(2);
    hint_ = namedLabel("rewriteHint");
    hint_->setFont(brandCaption());
    hint_->setForegroundRole(QPalette::PlaceholderText);
    hint_->setAlignment(Qt::AlignRight);
    right->addWidget(hint_, 0, Qt::AlignRight);
    modelButton_ = new QToolButton;
    modelButton_->setObjectName(QStringLiteral("modelMenu"));
    modelButton_->setPopupMode(QToolButton::InstantPopup);
    modelButton_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    modelButton_->setStyleSheet(QStringLiteral("QToolButton::menu-indicator { image: none; width: 0; }"));
    modelMenu_ = new QMenu(modelButton_);
    modelButton_->setMenu(modelMenu_);
    right->addWidget(modelButton_, 0, Qt::AlignRight);
    row->addLayout(right);
    column->addLayout(row);

    auto* scroll = new QScrollArea;
    scroll->setObjectName(QStringLiteral("chips"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setWidgetResizable(true);
    chipRow_ = new QWidget;
    chipRow_->setAutoFillBackground(false);
    scroll->viewport()->setAutoFillBackground(false);
    chipLayout_ = new QHBoxLayout(chipRow_);
    chipLayout_->setContentsMargins(0, 2, 0, 2);
    chipLayout_->setSpacing(8);
    scroll->setWidget(chipRow_);
    scroll->setFixedHeight(QFontMetrics(brandCaption()).height() + 14 + 4);
    column->addWidget(scroll);
    return bar;
}

QWidget* NotepadContent::buildFooter() {
    using platform::ui::ButtonStyle;
    using platform::ui::ControlSize;
    auto* footer = new QWidget;
    auto* row = new QHBoxLayout(footer);
    row->setContentsMargins(16, 14, 16, 14);
    row->setSpacing(10);

    copy_ = new platform::ui::PushButton(QStringLiteral("Copy"), ButtonStyle::bordered, ControlSize::large);
    copy_->setObjectName(QStringLiteral("copyButton"));
    copy_->setAutoDefault(false);
    connect(copy_, &QPushButton::clicked, this, [this] { coordinator_.copyToClipboard(); });
    row->addWidget(copy_);

    save_ = new platform::ui::PushButton(QStringLiteral("Save to Notes"), ButtonStyle::borderedProminent,
                                         ControlSize::large);
    save_->setObjectName(QStringLiteral("saveButton"));
    save_->setAutoDefault(false);
    connect(save_, &QPushButton::clicked, this, [this] { saveToNotes(); });
    row->addWidget(save_);

    auto chip = [](const char* name) {
        auto* w = new QWidget;
        w->setObjectName(QLatin1String(name));
        auto* l = new QHBoxLayout(w);
        l->setContentsMargins(14, 6, 14, 6);
        l->setSpacing(6);
        return w;
    };
    saving_ = chip("saving");
    auto* spinner = new QProgressBar;
    spinner->setRange(0, 0);
    spinner->setTextVisible(false);
    spinner->setFixedSize(28, 6);
    auto* savingText = namedLabel("savingText");
    savingText->setText(QStringLiteral("saving…"));
    savingText->setFont(brandCaption());
    savingText->setForegroundRole(QPalette::PlaceholderText);
    saving_->layout()->addWidget(spinner);
    saving_->layout()->addWidget(savingText);
    row->addWidget(saving_);

    saved_ = chip("saved");
    saved_->setToolTip(QStringLiteral("Saved in Apple Notes → Parlowen folder"));
    saved_->setAutoFillBackground(true);
    auto* portrait = namedLabel("savedPortrait");
    portrait->setFixedSize(22, 22);
    portrait->setPixmap(mascotPixmap(QuonKind::portraitDirect, {22, 22}, devicePixelRatioF()));
    auto* savedText = namedLabel("savedText");
    savedText->setText(QStringLiteral("saved to Notes"));
    savedText->setFont(platform::ui::systemFont(platform::ui::TextStyle::callout, QFont::DemiBold));
    saved_->layout()->addWidget(portrait);
    saved_->layout()->addWidget(savedText);
    row->addWidget(saved_);

    failed_ = chip("saveFailed");
    failed_->setAutoFillBackground(true);
    auto* failedIcon = namedLabel("saveFailedSymbol");
    failedText_ = namedLabel("saveFailedText");
    failedText_->setText(QStringLiteral("save failed"));
    failedText_->setFont(platform::ui::systemFont(platform::ui::TextStyle::callout));
    failed_->layout()->addWidget(failedIcon);
    failed_->layout()->addWidget(failedText_);
    row->addWidget(failed_);

    row->addStretch(1);
    done_ = new platform::ui::PushButton(QStringLiteral("Done"), ButtonStyle::bordered, ControlSize::large);
    done_->setObjectName(QStringLiteral("doneButton"));
    done_->setAutoDefault(false);
    connect(done_, &QPushButton::clicked, this, [this] {
        if (onDone_) onDone_();
    });
    row->addWidget(done_);
    return footer;
}

void NotepadContent::applyTheme() {
    const Color a = accent();
    platform::ui::ThemeScope::apply(this, darkScheme(a));
    platform::ui::ThemeScope::apply(writingArea_, paperScheme(a));
    // The sheet is a window of its own: it takes the scheme itself.
    platform::ui::ThemeScope::apply(explainer_, darkScheme(a));
    explainer_->setTint(platform::ui::readableOn(a, {brandNight()}, 3.0));
    copy_->setIcon(QIcon(symbol("doc.on.doc", 16, platform::ui::fromQColor(copy_->textColor()), devicePixelRatioF())));
    save_->setIcon(QIcon(symbol("note.text", 16, platform::ui::fromQColor(save_->textColor()), devicePixelRatioF())));
    for (QWidget* d : dividers_) {
        QPalette p = d->palette();
        p.setColor(QPalette::Window, toQColor(over(brandCream().opacity(0.15), brandNight())));
        d->setPalette(p);
    }
    setTextColor(polishingText_, platform::ui::readableOn(a, {brandNight()}));
    setTextColor(editor_, brandInk());
    editor_->setStyleSheet(QStringLiteral("QPlainTextEdit { background: %1; border: 1px solid %2; border-radius: 14px;"
                                          " padding: 8px; color: %3; }")
                               .arg(toQColor(brandLinen()).name(), toQColor(over(a.opacity(0.18), brandLinen())).name(),
                                    toQColor(brandInk()).name()));
    for (auto* label : placeholder_->findChildren<QLabel*>(QStringLiteral("placeholderText")))
        setTextColor(label, platform::ui::readableOn(brandInk().opacity(0.65), {brandLinen()}));
    setTextColor(saved_->findChild<QLabel*>(QStringLiteral("savedText")), brandMoss());
    {
        QPalette p = saved_->palette();
        p.setColor(QPalette::Window, toQColor(over(brandSage().opacity(0.18), brandNight())));
        saved_->setPalette(p);
        // Moss on the dark sage wash is too dim to read: lighten it, keeping its hue.
        setTextColor(saved_->findChild<QLabel*>(QStringLiteral("savedText")),
                     platform::ui::readableOn(brandMoss(), {over(brandSage().opacity(0.18), brandNight())}));
        QPalette f = failed_->palette();
        const Color failedFill = over(brandCoral().opacity(0.12), brandNight());
        f.setColor(QPalette::Window, toQColor(failedFill));
        failed_->setPalette(f);
        const Color coral = platform::ui::readableOn(brandCoral(), {failedFill});
        setTextColor(failedText_, coral);
        failed_->findChild<QLabel*>(QStringLiteral("saveFailedSymbol"))
            ->setPixmap(symbol("xmark.circle.fill", 16, coral, devicePixelRatioF()));
    }
    meter_->setAccent(a.opacity(0.85));
    showRecording();  // and the polishing indicator
    showMicSelector();
    showModelMenu();
    setRewriteKind(rewriteKind_);  // and the chips
    update();
}

void NotepadContent::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), toQColor(brandNight()));
}

void NotepadContent::showRecording() {
    const bool rec = shown_.recording;
    const Color a = accent();
    const Color secondary = Color::white().opacity(0.62);
    QPixmap dot(8 * devicePixelRatioF(), 8 * devicePixelRatioF());
    dot.setDevicePixelRatio(devicePixelRatioF());
    dot.fill(Qt::transparent);
    {
        QPainter p(&dot);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(toQColor(rec ? brandCoral() : Color::white().opacity(0.62 * 0.4)));
        p.drawEllipse(QRectF(0, 0, 8, 8));
    }
    statusDot_->setPixmap(dot);
    statusWord_->setText(rec ? QStringLiteral("listening") : QStringLiteral("paused"));
    setTextColor(statusWord_, rec ? platform::ui::readableOn(a, {brandNight()}) : secondary);
    status_->setAccessibleName(rec ? QStringLiteral("Quon Notepad recording") : QStringLiteral("Quon Notepad paused"));
    const QString tip = rec ? QStringLiteral("Pause recording") : QStringLiteral("Resume recording");
    record_->setToolTip(tip);
    record_->setAccessibleName(tip);
    record_->setIcon(QIcon(symbol(rec ? "pause.circle.fill" : "play.circle.fill", 24,
                                  platform::ui::readableOn(a, {brandNight()}, 3.0), devicePixelRatioF())));
    record_->setProperty("symbolName", QString::fromLatin1(rec ? "pause.circle.fill" : "play.circle.fill"));
    showMeter();
    showPolishing();
}

void NotepadContent::showMeter() {
    meterRow_->setVisible(shown_.recording && !shown_.reduceMotion);
}

void NotepadContent::showPolishing() {
    polishing_->setVisible(shown_.polishing);
    const QuonKind pose = headerPose(shown_.polishing, shown_.recording);
    mascot_->setPixmap(mascotPixmap(pose, {32, 32}, devicePixelRatioF()));
    mascot_->setProperty("pose", QString::fromLatin1(assetName(pose).data(), assetName(pose).size()));
    mascot_->setAccessibleName(shown_.polishing   ? QStringLiteral("Quon thinking")
                               : shown_.recording ? QStringLiteral("Quon taking notes")
                                                  : QStringLiteral("Quon resting"));
    enableChips();
}

void NotepadContent::showText(const std::string& text) {
    shown_.text = text;
    const QString wanted = QString::fromStdString(text);
    const QString current = editor_->toPlainText();
    if (current != wanted) {
        applyingText_ = true;
        if (wanted.startsWith(current)) {
            // Dictation grows the text at its end: add only the new part, keeping the caret.
            QTextCursor end(editor_->document());
            end.movePosition(QTextCursor::End);
            end.insertText(wanted.mid(current.size()));
        } else {
            // Replace only what follows the common beginning (a partial
            // rewrites the end), so a long text is not laid out anew.
            const int caret = editor_->textCursor().position();
            qsizetype same = 0;
            const qsizetype shorter = std::min(current.size(), wanted.size());
            while (same < shorter && current[same] == wanted[same]) ++same;
            if (same > 0 && current[same - 1].isHighSurrogate()) --same;
            QTextCursor tail(editor_->document());
            tail.setPosition(static_cast<int>(same));
            tail.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
            tail.insertText(wanted.mid(same));
            QTextCursor c = editor_->textCursor();
            c.setPosition(std::min<int>(caret, static_cast<int>(wanted.size())));
            editor_->setTextCursor(c);
        }
        applyingText_ = false;
    }
    const bool empty = text.empty();
    placeholder_->setVisible(empty);
    if (empty)
        placeholderMascot_->setPixmap(mascotPixmap(randomVariant(QuonKind::dozing), {72, 72}, devicePixelRatioF()));
    copy_->setEnabled(!empty);
    save_->setEnabled(!empty);
    enableChips();
}

void NotepadContent::enableChips() {
    const bool enabled = !shown_.text.empty() && !shown_.polishing;
    for (RewriteChip* chip : chips()) chip->setEnabled(enabled);
}

void NotepadContent::showSaveState() {
    const auto kind = shown_.save.kind;
    save_->setVisible(kind == SaveState::Case::idle);
    saving_->setVisible(kind == SaveState::Case::saving);
    saved_->setVisible(kind == SaveState::Case::saved);
    failed_->setVisible(kind == SaveState::Case::failed);
    failed_->setToolTip(QString::fromStdString(shown_.save.message));
}

void NotepadContent::showMicSelector() {
    const auto* device = currentDevice(shown_.preferredUID, shown_.systemDefaultUID, shown_.devices);
    mic_->setFields({
        .currentDeviceUID = shown_.preferredUID,
        .currentDeviceName = device ? device->name : MicSelector::kSystemDefault,
        .currentIsBluetooth = device && device->transport == AudioDeviceCatalog::TransportType::bluetooth,
        .availableDevices = shown_.devices,
        .accent = accent(),
        .onSelect =
            [this](const std::optional<std::string>& uid) {
                preferences_.preferredInputDeviceUID.set(uid);
                preferences_.hasAutoSelectedInputDevice.set(true);
            },
        .style = MicSelectorStyle::button,
    });
}

std::vector<RewriteChip*> NotepadContent::chips() const {
    std::vector<RewriteChip*> out;
    for (int i = 0; i < chipLayout_->count(); ++i)
        if (auto* chip = dynamic_cast<RewriteChip*>(chipLayout_->itemAt(i)->widget())) out.push_back(chip);
    return out;
}

void NotepadContent::setRewriteKind(RewriteKind kind) {
    rewriteKind_ = kind;
    tones_->setChecked(kind == RewriteKind::tone);
    agents_->setChecked(kind == RewriteKind::agent);
    tones_->setButtonStyle(kind == RewriteKind::tone ? platform::ui::ButtonStyle::borderedProminent
                                                     : platform::ui::ButtonStyle::bordered);
    agents_->setButtonStyle(kind == RewriteKind::agent ? platform::ui::ButtonStyle::borderedProminent
                                                       : platform::ui::ButtonStyle::bordered);
    hint_->setText(kind == RewriteKind::tone ? QStringLiteral("Click a tone to rewrite the whole text")
                                             : QStringLiteral("Click an agent to transform the whole text"));
    showChips();
}

void NotepadContent::showChips() {
    if (!chipLayout_ || !tones_) return;
    while (QLayoutItem* item = chipLayout_->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    const Color a = accent();
    if (rewriteKind_ == RewriteKind::tone) {
        std::vector<Tone> tones = builtInTones();
        tones.insert(tones.end(), shown_.customTones.begin(), shown_.customTones.end());
        for (const Tone& tone : tones) {
            auto* chip = new RewriteChip(tone, shown_.suggestedTone == tone.id, a);
            connect(chip, &QAbstractButton::clicked, this, [this, tone] {
                coordinator_.rewrite(false, fullSystemPrompt(tone), "tone:" + tone.id);
            });
            chipLayout_->addWidget(chip);
        }
    } else {
        for (const AgentCommand& agent : builtInAgents()) {
            auto* chip = new RewriteChip(agent, a);
            connect(chip, &QAbstractButton::clicked, this,
                    [this, agent] { coordinator_.rewrite(true, agent.systemPrompt, "agent:" + agent.id); });
            chipLayout_->addWidget(chip);
        }
    }
    chipLayout_->addStretch(1);
    enableChips();
}

void NotepadContent::showModelMenu() {
    if (!modelButton_) return;
    const CleanUpModel model = shown_.model;
    const bool cloud = !isOnDevice(model);
    const std::string name(displayName(model));
    const Color orange = platform::ui::readableOn(kOrange, {over(kOrange.opacity(0.18), brandNight())});
    const Color color = cloud ? orange : Color::white().opacity(0.62);
    modelButton_->setText(QString::fromStdString("Powered by " + name + (cloud ? " · cloud" : " · on-device")));
    QFont font = brandCaption();
    if (cloud) font.setWeight(QFont::DemiBold);
    modelButton_->setFont(font);
    modelButton_->setIcon(QIcon(symbol(cloud ? "lock.open.fill" : "cpu", 12, color, devicePixelRatioF())));
    modelButton_->setProperty("symbolName", QString::fromLatin1(cloud ? "lock.open.fill" : "cpu"));
    const QColor fill = toQColor(cloud ? over(kOrange.opacity(0.18), brandNight()) : brandNight());
    modelButton_->setStyleSheet(
        QStringLiteral("QToolButton { color: %1; background: %2; border: %3; border-radius: 9px; padding: 2px 7px; }"
                       "QToolButton::menu-indicator { image: none; width: 0; }")
            .arg(toQColor(color).name(), fill.name(),
                 cloud ? QStringLiteral("0.5px solid %1").arg(toQColor(over(kOrange.opacity(0.45), brandNight())).name())
                       : QStringLiteral("none")));
    modelButton_->setToolTip(cloud ? QStringLiteral("Quon Notepad text is sent to Anthropic. Click for details.")
                                   : QStringLiteral("Generation runs entirely on your Mac."));
    modelButton_->setAccessibleName(QString::fromStdString("Select cleanup model. Current: " + name));

    modelMenu_->clear();
    for (CleanUpModel m : {CleanUpModel::appleIntelligence, CleanUpModel::sonnet46, CleanUpModel::opus47}) {
        QAction* action = modelMenu_->addAction(QString::fromStdString(std::string(displayName(m))));
        action->setObjectName(QString::fromStdString(std::string(rawValue(m))));
        action->setCheckable(true);
        action->setChecked(m == model);
        if (m == CleanUpModel::appleIntelligence)
            action->setEnabled(services_.isOnDeviceModelAvailable && services_.isOnDeviceModelAvailable());
        connect(action, &QAction::triggered, this, [this, m] { chooseModel(m); });
    }
}

void NotepadContent::chooseModel(CleanUpModel model) {
    if (!isOnDevice(model) && !confirmCloudModel(model, preferences_, services_.alerts)) {
        showModelMenu();  // the check mark goes back to the model that stays
        return;
    }
    preferences_.cleanUpModel.set(model);
}

void NotepadContent::saveToNotes() {
    if (services_.defaults.boolForKey(NotesExporter::kExplainerShownKey)) {
        startSave();
        return;
    }
    explainer_->open();
}

void NotepadContent::startSave() { platform::spawn(services_.main, coordinator_.saveToAppleNotes()); }

}  // namespace parlowen
