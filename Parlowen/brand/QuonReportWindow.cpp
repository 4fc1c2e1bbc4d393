#include "Parlowen/brand/QuonReportWindow.h"

#include "platform/ui/WindowHost.h"

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
#include "platform/ui/Contrast.h"
#include "platform/ui/Fonts.h"
#include "platform/ui/IconRegistry.h"
#include "platform/ui/ThemeScope.h"

namespace parlowen {

// The report's text colours. On light themes the brand's ink and moss, as the
// cards are drawn for them; on dark themes the palette's text colour takes the
// ink's place (the ink vanishes on a dark backdrop). Either way each colour,
// with its opacity, is moved in lightness until it reads on what it is drawn
// on: the backdrop, a tinted tile or the brand card.
class ReportInk {
public:
    explicit ReportInk(const ThemePalette& palette) : palette_(palette) {
        const Color glow = platform::ui::composite(palette.accent.opacity(0.18), palette.dimSurface);
        backdrop_ = {palette.dimSurface, palette.surfaceBackground, glow};
        for (const Color& b : backdrop_) {
            tile_.push_back(platform::ui::composite(brandSage().opacity(0.16), b));
            milestone_.push_back(platform::ui::composite(brandAmber().opacity(0.1), b));
        }
    }

    enum class On { backdrop, tile, milestone, brandCard };

    // The ink at `opacity`, readable on `on`.
    Color ink(double opacity, On on, double minimum = platform::ui::kTextContrast) const {
        // The brand card keeps its linen fill in every theme, so the ink stays.
        const Color base = on == On::brandCard || !palette_.isDark ? brandInk() : palette_.primaryText;
        return platform::ui::readableOn(base.opacity(opacity), backgrounds(on), minimum);
    }
    // Moss for titles and symbols, readable on `on`.
    Color moss(On on, double minimum = platform::ui::kTextContrast) const {
        return platform::ui::readableOn(brandMoss(), backgrounds(on), minimum);
    }

private:
    const std::vector<Color>& backgrounds(On on) const {
        switch (on) {
            case On::backdrop: return backdrop_;
            case On::tile: return tile_;
            case On::milestone: return milestone_;
            case On::brandCard: return card_;
        }
        return backdrop_;
    }

    ThemePalette palette_;
    std::vector<Color> backdrop_, tile_, milestone_;
    std::vector<Color> card_{brandLinen()};
};

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

QLabel* symbol(const std::string& name, const Color& color, const char* objectName) {
    auto* l = new QLabel;
    l->setObjectName(objectName);
    l->setProperty("symbolName", QString::fromStdString(name));
    l->setPixmap(platform::ui::IconRegistry::shared().templatePixmap(name, QSize(14, 14), toQColor(color)));
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
    // The texts' colours depend on the theme: redraw with the new palette.
    subscriptions_ += preferences_.selectedTheme.stream().dropFirst().subscribe([this](const auto&) { scheduleRebuild(); });
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
    const ReportInk ink(themePalette(this));
    auto* column = new QWidget;
    column->setObjectName("quonReportColumn");
    auto* layout = new QVBoxLayout(column);
    layout->setContentsMargins(32, 18, 32, 22);
    layout->setSpacing(18);
    layout->addWidget(makeHeader(copy, ink));
    layout->addWidget(copy.hasActivity() ? makeCards(copy, ink) : makeEmptyState(ink));
    layout->addStretch();
    scroll_->setWidget(column);  // the previous column is deleted
    column_ = column;
}

QWidget* QuonReportView::makeHeader(const QuonReportCopy& copy, const ReportInk& ink) {
    using On = ReportInk::On;
    auto* header = new QWidget;
    header->setObjectName("quonReportHeader");
    auto* layout = new QVBoxLayout(header);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);
    auto* hero = new QuonHero(QuonKind::notetakingTall, 110);
    hero->setObjectName("quonReportHero");
    layout->addWidget(hero, 0, Qt::AlignHCenter);
    layout->addWidget(label(kTitle, brandTitle(), ink.ink(1, On::backdrop), "quonReportTitle", Qt::AlignHCenter));
    layout->addWidget(label(copy.dateRangeText(), brandCaption(), ink.ink(0.55, On::backdrop), "quonReportDateRange",
                            Qt::AlignHCenter));
    return header;
}

QWidget* QuonReportView::makeCards(const QuonReportCopy& copy, const ReportInk& ink) {
    using On = ReportInk::On;
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
                           ink.ink(1, On::brandCard), "quonReportHeadlineValue", Qt::AlignHCenter));
        v->addWidget(label("words moved through Quon this week", brandBody(), ink.ink(0.7, On::brandCard),
                           "quonReportHeadlineCaption", Qt::AlignHCenter, true));
        auto* card = brandCard(content, 14, 0.35, QMargins(0, 22, 0, 22));
        card->setObjectName("quonReportHeadline");
        layout->addWidget(card);
    }

    // Streak row, from three days on.
    if (const int streak = usageLog_.currentStreak(now); streak >= kMinimumShownStreak) {
        auto* fire = new QLabel(QString::fromUtf8("\U0001F525"));
        fire->setObjectName("quonReportStreakFire");
        platform::ui::exemptFromContrastCheck(fire, QStringLiteral("a colour emoji, drawn in its own colours"));
        auto* current = label(streakText(streak), withWeight(brandBody(), QFont::DemiBold), ink.ink(1, On::backdrop),
                              "quonReportStreakCurrent");
        std::vector<QWidget*> items{fire, current};
        if (auto longest = longestStreakText(streak, usageLog_.longestStreak()))
            items.push_back(label(*longest, brandCaption(), ink.ink(0.55, On::backdrop), "quonReportStreakLongest"));
        auto* r = row(items, 8, "quonReportStreak");
        r->layout()->setContentsMargins(0, 4, 0, 4);
        layout->addWidget(r);
    }

    // Time tiles.
    {
        const auto valueFont = platform::ui::systemFont(TextStyle::title3, QFont::DemiBold, FontDesign::rounded);
        auto makeTile = [&](const char* title, const std::string& value, const char* note, const char* name) {
            return tile({label(QString(title).toUpper().toStdString(), brandCaption(), ink.moss(On::tile), "tileTitle"),
                         label(value, valueFont, ink.ink(1, On::tile), "tileValue"),
                         label(note, brandCaption(), ink.ink(0.55, On::tile), "tileNote")},
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
            label("MILESTONE", brandCaption(), ink.moss(On::milestone), "quonReportMilestoneTitle"),
            label(std::string(milestoneLine(*reached)), withWeight(brandBody(), QFont::Medium), ink.ink(1, On::milestone),
                  "quonReportMilestoneLine", Qt::AlignLeft, true)};
        if (auto remaining = milestoneRemainingText(lifetimeWords, deps_.locale))
            texts.push_back(label(*remaining, brandCaption(), ink.ink(0.55, On::milestone), "quonReportMilestoneNext"));
        layout->addWidget(tile(texts, brandAmber().opacity(0.1), "quonReportMilestone"));
    }

    // Sessions line.
    const Color symbolInk = ink.moss(On::backdrop, platform::ui::kLargeTextContrast);
    layout->addWidget(row({symbol("waveform", symbolInk, "quonReportSessionsSymbol"),
                           label(copy.sessionsText(), brandCaption(), ink.ink(0.7, On::backdrop), "quonReportSessions")},
                          6, "quonReportSessionsRow"));

    // Time of day.
    if (const auto dominant = usageLog_.dominantTimeOfDay(30, 2.0)) {
        layout->addWidget(row({symbol(std::string(timeOfDaySymbol(dominant->first)), symbolInk, "quonReportTimeOfDaySymbol"),
                               label(timeOfDaySentence(dominant->first), brandCaption(), ink.ink(0.7, On::backdrop),
                                     "quonReportTimeOfDay")},
                              6, "quonReportTimeOfDayRow"));
    }

    // Closing line.
    auto* tail = label(copy.tailText(), brandBody(), ink.ink(0.78, On::backdrop), "quonReportTail", Qt::AlignHCenter, true);
    tail->setContentsMargins(0, 4, 0, 0);
    layout->addWidget(tail);
    return cards;
}

QWidget* QuonReportView::makeEmptyState(const ReportInk& ink) {
    using On = ReportInk::On;
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
                            ink.ink(1, On::backdrop), "quonReportEmptyTitle", Qt::AlignHCenter, true));
    auto* body = label("Talk to him or have him read something aloud \u2014 your stats will start filling in here.",
                       brandBody(), ink.ink(0.7, On::backdrop), "quonReportEmptyBody", Qt::AlignHCenter, true);
    body->setContentsMargins(12, 0, 12, 0);
    layout->addWidget(body);
    layout->addSpacing(12);
    return empty;
}

QuonReportWindowController::QuonReportWindowController(UsageLog& usageLog, PreferencesStore& preferences,
                                                       QuonReportDependencies deps)
    : window_(std::make_unique<platform::ui::WindowHost>(
          kTitle, platform::ui::WindowHost::Options{.size = {520, 720}, .minimizable = false, .stayOnTop = true})),
      preferences_(preferences) {
    window_->setObjectName("quonReportWindow");
    view_ = new QuonReportView(usageLog, preferences, std::move(deps));
    window_->setContent(view_);
    window_->setMinimumSize(480, 480);
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
    controller.window()->showAndActivate();
}

}  // namespace parlowen
