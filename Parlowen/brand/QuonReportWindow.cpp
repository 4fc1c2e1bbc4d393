#include "Parlowen/brand/QuonReportWindow.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QRadialGradient>
#include <QScreen>
#include <QScrollArea>
#include <QVBoxLayout>

#include <vector>

#include "Parlowen/brand/BrandColors.h"
#include "Parlowen/brand/BrandFonts.h"
#include "Parlowen/brand/BrandViews.h"
#include "Parlowen/brand/QuonHero.h"
#include "Parlowen/brand/QuonReportCopy.h"
#include "Parlowen/shell/settings/PreferencesStore.h"
#include "Parlowen/shell/views/ThemePalette.h"
#include "platform/ui/Fonts.h"
#include "platform/ui/IconRegistry.h"
#include "platform/ui/ThemeScope.h"

namespace parlowen {

namespace {

using platform::ui::toQColor;

constexpr const char* kTitle = "Your week with Quon";

QLabel* label(const std::string& text, const QFont& font, const Color& color, const char* name,
              Qt::Alignment align = Qt::AlignLeft, bool wrap = false) {
    auto* l = new QLabel(QString::fromStdString(text));
    l->setObjectName(name);
    l->setFont(font);
    QPalette p = l->palette();
    p.setColor(QPalette::WindowText, toQColor(color));
    l->setPalette(p);
    l->setAlignment(align | Qt::AlignVCenter);
    l->setWordWrap(wrap);
    return l;
}

QFont withWeight(QFont font, QFont::Weight weight) {
    font.setWeight(weight);
    return font;
}

QLabel* symbol(const std::string& name, const char* objectName) {
    auto* l = new QLabel;
    l->setObjectName(objectName);
    l->setProperty("symbolName", QString::fromStdString(name));
    l->setPixmap(platform::ui::IconRegistry::shared().templatePixmap(name, QSize(14, 14), toQColor(brandMoss())));
    return l;
}

QWidget* row(const std::vector<QWidget*>& items, int spacing, const char* name) {
    auto* w = new QWidget;
    w->setObjectName(name);
    auto* layout = new QHBoxLayout(w);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    layout->addStretch();
    for (auto* item : items) layout->addWidget(item);
    layout->addStretch();
    return w;
}

// A time tile or the milestone card: leading-aligned texts on a tinted rounded rectangle.
platform::ui::Card* tile(const std::vector<QWidget*>& texts, const Color& fill, const char* name) {
    auto* content = new QWidget;
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    for (auto* t : texts) layout->addWidget(t);
    auto* card = new platform::ui::Card;
    card->setObjectName(name);
    card->setCornerRadius(8);
    card->setFill(fill);
    card->setContent(content, QMargins(14, 12, 14, 12));
    card->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    return card;
}

// The themed backdrop: the palette's dim surface fading into its surface, with
// an accent glow just above the middle of the top edge.
class ReportBackdrop : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override {
        const auto palette = themePalette(this);
        QPainter p(this);
        QLinearGradient linear(0, 0, 0, height());
        linear.setColorAt(0, toQColor(palette.dimSurface));
        linear.setColorAt(1, toQColor(palette.surfaceBackground));
        p.fillRect(rect(), linear);
        const QPointF centre(width() * 0.5, height() * -0.05);
        QRadialGradient glow(centre, 320);
        glow.setColorAt(0, toQColor(palette.accent.opacity(0.18)));
        glow.setColorAt(20.0 / 320.0, toQColor(palette.accent.opacity(0.18)));
        glow.setColorAt(1, toQColor(palette.accent.opacity(0)));
        p.fillRect(rect(), glow);
    }
};

}  // namespace

QuonReportView::QuonReportView(UsageLog& usageLog, PreferencesStore& preferences, QuonReportDependencies deps,
                               QWidget* parent)
    : QWidget(parent), usageLog_(usageLog), preferences_(preferences), deps_(std::move(deps)) {
    setObjectName("quonReportView");
    setMinimumSize(480, 580);
    backdrop_ = new ReportBackdrop(this);
    backdrop_->setObjectName("quonReportBackdrop");
    scroll_ = new QScrollArea(this);
    scroll_->setObjectName("quonReportScroll");
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setWidgetResizable(true);
    scroll_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->setStyleSheet("QScrollArea, QScrollArea > QWidget > QWidget { background: transparent; }");
    scroll_->viewport()->setAutoFillBackground(false);

    // Changes are announced before the log holds them: redraw in a later turn.
    subscriptions_ += usageLog_.daysChanges().subscribe([this](const auto&) { scheduleRebuild(); });
    subscriptions_ += usageLog_.hourlyActivityChanges().subscribe([this](const auto&) { scheduleRebuild(); });
    subscriptions_ += followTheme(this, preferences_.selectedTheme.stream());
    rebuild();
}

QuonReportView::~QuonReportView() = default;

void QuonReportView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    backdrop_->setGeometry(rect());
    scroll_->setGeometry(rect());
}

void QuonReportView::scheduleRebuild() {
    if (rebuildPosted_) return;
    rebuildPosted_ = true;
    deps_.main.post(lifetime_.guard([this] {
        rebuildPosted_ = false;
        rebuild();
    }));
}

void QuonReportView::rebuild() {
    const auto copy = QuonReportCopy::make(usageLog_, deps_.clock.now(), deps_.locale);
    auto* column = new QWidget;
    column->setObjectName("quonReportColumn");
    auto* layout = new QVBoxLayout(column);
    layout->setContentsMargins(32, 18, 32, 22);
    layout->setSpacing(18);
    layout->addWidget(makeHeader(copy));
    layout->addWidget(copy.hasActivity() ? makeCards(copy) : makeEmptyState());
    layout->addStretch();
    scroll_->setWidget(column);  // the previous column is deleted
    column_ = column;
}

QWidget* QuonReportView::makeHeader(const QuonReportCopy& copy) {
    auto* header = new QWidget;
    header->setObjectName("quonReportHeader");
    auto* layout = new QVBoxLayout(header);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);
    auto* hero = new QuonHero(QuonKind::notetakingTall, 110);
    hero->setObjectName("quonReportHero");
    layout->addWidget(hero, 0, Qt::AlignHCenter);
    layout->addWidget(label(kTitle, brandTitle(), brandInk(), "quonReportTitle", Qt::AlignHCenter));
    layout->addWidget(label(copy.dateRangeText(), brandCaption(), brandInk().opacity(0.55), "quonReportDateRange",
                            Qt::AlignHCenter));
    return header;
}

QWidget* QuonReportView::makeCards(const QuonReportCopy& copy) {
    using platform::ui::FontDesign;
    using platform::ui::TextStyle;
    auto* cards = new QWidget;
    cards->setObjectName("quonReportCards");
    auto* layout = new QVBoxLayout(cards);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(14);
    const auto now = deps_.clock.now();

    // Headline.
    {
        auto* content = new QWidget;
        auto* v = new QVBoxLayout(content);
        v->setContentsMargins(0, 0, 0, 0);
        v->setSpacing(6);
        v->addWidget(label(copy.totalWordsText(), platform::ui::systemFont(44, QFont::Bold, FontDesign::rounded),
                           brandInk(), "quonReportHeadlineValue", Qt::AlignHCenter));
        v->addWidget(label("words moved through Quon this week", brandBody(), brandInk().opacity(0.7),
                           "quonReportHeadlineCaption", Qt::AlignHCenter, true));
        auto* card = brandCard(content, 14, 0.35, QMargins(0, 22, 0, 22));
        card->setObjectName("quonReportHeadline");
        layout->addWidget(card);
    }

    // Streak row, from three days on.
    if (const int streak = usageLog_.currentStreak(now); streak >= kMinimumShownStreak) {
        auto* fire = new QLabel(QString::fromUtf8("\U0001F525"));
        fire->setObjectName("quonReportStreakFire");
        auto* current = label(streakText(streak), withWeight(brandBody(), QFont::DemiBold), brandInk(),
                              "quonReportStreakCurrent");
        std::vector<QWidget*> items{fire, current};
        if (auto longest = longestStreakText(streak, usageLog_.longestStreak()))
            items.push_back(label(*longest, brandCaption(), brandInk().opacity(0.55), "quonReportStreakLongest"));
        auto* r = row(items, 8, "quonReportStreak");
        r->layout()->setContentsMargins(0, 4, 0, 4);
        layout->addWidget(r);
    }

    // Time tiles.
    {
        const auto valueFont = platform::ui::systemFont(TextStyle::title3, QFont::DemiBold, FontDesign::rounded);
        auto makeTile = [&](const char* title, const std::string& value, const char* note, const char* name) {
            return tile({label(QString(title).toUpper().toStdString(), brandCaption(), brandMoss(), "tileTitle"),
                         label(value, valueFont, brandInk(), "tileValue"),
                         label(note, brandCaption(), brandInk().opacity(0.55), "tileNote")},
                        brandSage().opacity(0.16), name);
        };
        auto* tiles = new QWidget;
        tiles->setObjectName("quonReportTiles");
        auto* h = new QHBoxLayout(tiles);
        h->setContentsMargins(0, 0, 0, 0);
        h->setSpacing(12);
        h->addWidget(makeTile("Time reclaimed", copy.timeReclaimedText(), "vs. typing it out", "quonReportTimeReclaimed"), 1);
        h->addWidget(makeTile("Audio listened", copy.audioListenedText(), "hands-free reading time",
                              "quonReportAudioListened"), 1);
        layout->addWidget(tiles);
    }

    // Lifetime milestone.
    const auto lifetime = usageLog_.lifetimeTotals();
    const auto lifetimeWords = lifetime.dictation.wordCount + lifetime.readAloud.wordCount;
    if (const auto reached = reachedMilestone(lifetimeWords)) {
        std::vector<QWidget*> texts{
            label("MILESTONE", brandCaption(), brandMoss(), "quonReportMilestoneTitle"),
            label(std::string(milestoneLine(*reached)), withWeight(brandBody(), QFont::Medium), brandInk(),
                  "quonReportMilestoneLine", Qt::AlignLeft, true)};
        if (auto remaining = milestoneRemainingText(lifetimeWords, deps_.locale))
            texts.push_back(label(*remaining, brandCaption(), brandInk().opacity(0.55), "quonReportMilestoneNext"));
        layout->addWidget(tile(texts, brandAmber().opacity(0.1), "quonReportMilestone"));
    }

    // Sessions line.
    layout->addWidget(row({symbol("waveform", "quonReportSessionsSymbol"),
                           label(copy.sessionsText(), brandCaption(), brandInk().opacity(0.7), "quonReportSessions")},
                          6, "quonReportSessionsRow"));

    // Time of day.
    if (const auto dominant = usageLog_.dominantTimeOfDay(30, 2.0)) {
        layout->addWidget(row({symbol(std::string(timeOfDaySymbol(dominant->first)), "quonReportTimeOfDaySymbol"),
                               label(timeOfDaySentence(dominant->first), brandCaption(), brandInk().opacity(0.7),
                                     "quonReportTimeOfDay")},
                              6, "quonReportTimeOfDayRow"));
    }

    // Closing line.
    auto* tail = label(copy.tailText(), brandBody(), brandInk().opacity(0.78), "quonReportTail", Qt::AlignHCenter, true);
    tail->setContentsMargins(0, 4, 0, 0);
    layout->addWidget(tail);
    return cards;
}

QWidget* QuonReportView::makeEmptyState() {
    using platform::ui::FontDesign;
    using platform::ui::TextStyle;
    auto* empty = new QWidget;
    empty->setObjectName("quonReportEmptyState");
    auto* layout = new QVBoxLayout(empty);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);
    layout->addSpacing(12);
    layout->addWidget(label("Quon is still getting to know you.",
                            platform::ui::systemFont(TextStyle::title3, QFont::DemiBold, FontDesign::rounded),
                            brandInk(), "quonReportEmptyTitle", Qt::AlignHCenter, true));
    auto* body = label("Talk to him or have him read something aloud \u2014 your stats will start filling in here.",
                       brandBody(), brandInk().opacity(0.7), "quonReportEmptyBody", Qt::AlignHCenter, true);
    body->setContentsMargins(12, 0, 12, 0);
    layout->addWidget(body);
    layout->addSpacing(12);
    return empty;
}

QuonReportWindowController::QuonReportWindowController(UsageLog& usageLog, PreferencesStore& preferences,
                                                       QuonReportDependencies deps)
    : window_(std::make_unique<QWidget>(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                                                     Qt::WindowMaximizeButtonHint | Qt::WindowStaysOnTopHint)),
      preferences_(preferences) {
    window_->setObjectName("quonReportWindow");
    window_->setWindowTitle(kTitle);
    auto* layout = new QVBoxLayout(window_.get());
    layout->setContentsMargins(0, 0, 0, 0);
    view_ = new QuonReportView(usageLog, preferences, std::move(deps));
    layout->addWidget(view_);
    window_->setMinimumSize(480, 480);
    window_->resize(520, 720);
    if (auto* screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(), window_->size());
        frame.moveCenter(screen->availableGeometry().center());
        window_->move(frame.topLeft());
    }
}

QuonReportWindowController::~QuonReportWindowController() = default;

QuonReportOpener::QuonReportOpener(UsageLog& usageLog, PreferencesStore& preferences, QuonReportDependencies deps)
    : usageLog_(usageLog), preferences_(preferences), deps_(std::move(deps)) {}

QuonReportOpener::~QuonReportOpener() = default;

QuonReportWindowController& QuonReportOpener::quonReportWindowController() {
    if (!controller_) controller_ = std::make_unique<QuonReportWindowController>(usageLog_, preferences_, deps_);
    return *controller_;
}

void QuonReportOpener::openQuonReport() {
    auto& controller = quonReportWindowController();
    controller.preferences().lastQuonReportOpenedAt.set(deps_.clock.now());
    auto* window = controller.window();
    window->show();
    window->raise();
    window->activateWindow();
}

}  // namespace parlowen
