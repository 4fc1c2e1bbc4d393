#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

#include "Parlowen/brand/BrandColors.h"
#include "Parlowen/brand/BrandFonts.h"
#include "Parlowen/brand/BrandViews.h"
#include "Parlowen/brand/MascotArtwork.h"
#include "Parlowen/brand/QuonHero.h"
#include "Parlowen/brand/StepFrame.h"
#include "Parlowen/shell/views/ThemePalette.h"
#include "platform/ui/Animations.h"
#include "platform/ui/Buttons.h"
#include "platform/ui/Finders.h"
#include "platform/ui/IconRegistry.h"
#include "platform/ui/ScreenshotTesting.h"
#include "platform/ui/Surfaces.h"
#include "platform/ui/ThemeScope.h"

namespace parlowen {
namespace {

using platform::ui::findNamed;
using platform::ui::PushButton;
using platform::ui::toQColor;

const std::filesystem::path kShots = PARLOWEN_SCREENSHOT_DIR;

void pressReturn(QWidget* target) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(target, &press);
}

class BrandViewsTest : public ::testing::Test {
protected:
    platform::ui::AnimationsOff noAnimations;
};

TEST_F(BrandViewsTest, FontsFollowTheirTextStyles) {
    EXPECT_EQ(brandTitle().pixelSize(), 22);
    EXPECT_EQ(brandTitle().weight(), QFont::DemiBold);
    EXPECT_EQ(brandBody().pixelSize(), 13);
    EXPECT_EQ(brandBody().weight(), QFont::Normal);
    EXPECT_EQ(brandCaption().pixelSize(), 10);
    EXPECT_EQ(brandCallout().pixelSize(), 12);
    EXPECT_EQ(brandCallout().weight(), QFont::Medium);
    EXPECT_EQ(brandSerifTitle().pixelSize(), 22);
    EXPECT_EQ(brandSerifTitle().styleHint(), QFont::Serif);
    EXPECT_EQ(&brandTitle(), &brandTitle()) << "made once";
}

TEST_F(BrandViewsTest, BrandCardKeepsItsColoursWhateverTheTheme) {
    QWidget window;
    platform::ui::ThemeScope::apply(&window, duskPalette());
    auto* box = new QVBoxLayout(&window);
    auto* text = new QLabel("Card");
    auto* card = brandCard(text, 14, 0.35, QMargins(20, 20, 20, 20));
    box->addWidget(card);
    window.resize(200, 120);
    window.show();
    platform::ui::testing::settle();

    EXPECT_EQ(card->fill(), brandLinen());
    EXPECT_EQ(card->borderColor(), brandAmber().opacity(0.35));
    EXPECT_DOUBLE_EQ(card->borderWidth(), 1);
    const QImage image = card->grab().toImage();
    EXPECT_EQ(image.pixelColor(image.width() / 2, 6).rgb(), toQColor(brandLinen()).rgb()) << "linen in a dark theme";
    EXPECT_EQ(image.size(), card->size()) << "the border is inside the edge";
    EXPECT_NE(image.pixelColor(0, 0).rgb(), toQColor(brandLinen()).rgb()) << "rounded corners show what is behind";
}

TEST_F(BrandViewsTest, TryItCardWrapsLongHintsAndKeepsTheSymbolAtTheTop) {
    auto heightFor = [](const std::string& hint, int* symbolTop) {
        BrandTryItCard card(hint);
        card.resize(320, card.heightForWidth(320) > 0 ? card.heightForWidth(320) : card.sizeHint().height());
        card.show();
        platform::ui::testing::settle();
        card.resize(320, card.layout()->totalHeightForWidth(320));
        platform::ui::testing::settle();
        *symbolTop = card.symbolLabel()->mapTo(&card, QPoint(0, 0)).y();
        EXPECT_EQ(card.hintLabel()->text(), QString::fromStdString(hint));
        return card.height();
    };
    int shortTop = 0, longTop = 0;
    const int shortHeight = heightFor("Hold Fn and speak.", &shortTop);
    const int longHeight = heightFor(
        "Hold the dictation key, say a sentence or two about your day, then let go and watch the words land in the "
        "focused field; try it in the box below as many times as you like.",
        &longTop);
    EXPECT_GT(longHeight, shortHeight + 10) << "the card grows with the wrapped hint";
    EXPECT_EQ(shortTop, 13) << "12 points of padding and 1 above the symbol";
    EXPECT_EQ(longTop, shortTop) << "the symbol stays at the top";
}

TEST_F(BrandViewsTest, HeroTakesItsSquareAndItsGlowSpillsWithoutMovingNeighbours) {
    QWidget column;
    column.resize(300, 400);
    platform::ui::ThemeScope::apply(&column, hearthPalette());
    column.setAutoFillBackground(true);
    auto* box = new QVBoxLayout(&column);
    box->setSpacing(0);
    box->setContentsMargins(0, 100, 0, 0);
    auto* hero = new QuonHero(QuonKind::listening, 110);
    auto* below = new QLabel("below");
    box->addWidget(hero, 0, Qt::AlignHCenter);
    box->addWidget(below);
    box->addStretch();
    column.show();
    platform::ui::testing::settle();

    EXPECT_EQ(hero->size(), QSize(110, 110));
    EXPECT_EQ(below->y(), hero->y() + 110) << "laid out as if there were no glow";
    EXPECT_DOUBLE_EQ(hero->glowReach(), 0.2 * 110 + 33);

    const QImage shot = column.grab().toImage();
    const QColor surface = toQColor(brandCream());
    const QColor aboveHero = shot.pixelColor(hero->x() + 55, hero->y() - 12);
    EXPECT_NE(aboveHero.rgb(), surface.rgb()) << "the glow reaches past the square";
    EXPECT_GT(aboveHero.red(), aboveHero.blue()) << "and it is amber";
    EXPECT_EQ(shot.pixelColor(5, 5).rgb(), surface.rgb()) << "and fades out";
    const QImage saved = platform::ui::testing::saveScreenshot(&column, kShots / "quon-hero.png");
    platform::ui::testing::expectReadable(&column, saved, "quon-hero.png");
}

struct SecondaryCase {
    bool label;
    bool action;
};

TEST_F(BrandViewsTest, SecondaryButtonOnlyWithBothLabelAndAction) {
    for (auto c : {SecondaryCase{true, false}, SecondaryCase{false, true}, SecondaryCase{true, true}}) {
        int backs = 0;
        StepFrameFields fields{.title = "Microphone", .subtitle = "Quon needs to hear you.", .primaryLabel = "Continue",
                               .primaryAction = [] {}};
        if (c.label) fields.secondaryLabel = "Back";
        if (c.action) fields.secondaryAction = [&] { ++backs; };
        StepFrame frame(std::move(fields));
        frame.resize(500, 400);
        frame.show();
        platform::ui::testing::settle();
        auto* secondary = findNamed<PushButton>(&frame, "secondaryButton");
        EXPECT_EQ(secondary != nullptr, c.label && c.action) << c.label << c.action;
        if (secondary) {
            secondary->click();
            EXPECT_EQ(backs, 1);
            EXPECT_EQ(secondary->x(), 0) << "at the leading edge";
        }
        auto* primary = frame.primaryButton();
        EXPECT_EQ(primary->geometry().right(), frame.width() - 1) << "the primary button sits at the trailing edge";
    }
}

TEST_F(BrandViewsTest, DisabledPrimaryIgnoresClickAndReturnUntilCleared) {
    int presses = 0;
    StepFrame frame({.title = "Accessibility", .subtitle = "Grant access.", .primaryLabel = "Grant access",
                     .primaryAction = [&] { ++presses; }, .primaryDisabled = true});
    frame.resize(500, 400);
    frame.show();
    platform::ui::testing::settle();

    frame.primaryButton()->click();
    pressReturn(&frame);
    EXPECT_EQ(presses, 0);

    frame.setPrimaryDisabled(false);
    frame.setPrimaryLabel("Continue");
    frame.primaryButton()->click();
    pressReturn(&frame);
    EXPECT_EQ(presses, 2) << "the same frame works again: click and Return";
    EXPECT_EQ(frame.primaryButton()->text(), "Continue");
}

TEST_F(BrandViewsTest, LongTitlesWrapAndOnlyTheMiddleScrolls) {
    auto* tall = new QWidget;
    tall->setMinimumHeight(1200);
    const std::string title =
        "A very long heading that cannot possibly fit on one line of a narrow walkthrough window at all";
    StepFrame frame({.title = title, .subtitle = "A paragraph that also goes on for quite a while, long enough to "
                                                 "need a second line in a frame this narrow.",
                     .primaryLabel = "Continue", .primaryAction = [] {}, .content = tall});
    frame.resize(360, 520);
    frame.show();
    platform::ui::testing::settle();

    const QFontMetrics fm(frame.titleLabel()->font());
    EXPECT_GE(frame.titleLabel()->height(), 2 * fm.lineSpacing()) << "wrapped onto further lines";
    EXPECT_EQ(frame.titleLabel()->text().toStdString(), title) << "not cut off";
    EXPECT_LE(frame.titleLabel()->width(), frame.width());
    EXPECT_GT(frame.scrollArea()->verticalScrollBar()->maximum(), 0) << "the content scrolls";
    frame.scrollArea()->verticalScrollBar()->setValue(600);
    EXPECT_TRUE(frame.titleLabel()->isVisible());
    EXPECT_TRUE(frame.primaryButton()->isVisible());
    EXPECT_LE(frame.primaryButton()->mapTo(&frame, QPoint(0, frame.primaryButton()->height())).y(), frame.height())
        << "the footer stays in the frame";

    auto* small = new QLabel("short");
    StepFrame shortFrame({.title = "T", .subtitle = "S", .primaryLabel = "OK", .primaryAction = [] {},
                          .content = small});
    shortFrame.resize(360, 520);
    shortFrame.show();
    platform::ui::testing::settle();
    EXPECT_EQ(small->mapTo(shortFrame.scrollArea()->viewport(), QPoint(0, 0)), QPoint(0, 0))
        << "short content sits at the top, against the leading edge";
    EXPECT_EQ(small->width(), shortFrame.scrollArea()->viewport()->width()) << "in a full-width frame";
}

TEST_F(BrandViewsTest, MascotStandInsExistForEveryImageName) {
    ensureMascotArtwork();
    auto& icons = platform::ui::IconRegistry::shared();
    for (auto name : mascotAssetNames())
        EXPECT_EQ(icons.sourceOf(std::string(name)), platform::ui::IconRegistry::Source::painter) << name;
    const QImage listening = mascotPixmap(QuonKind::listening, {64, 64}).toImage();
    const QImage reading = mascotPixmap(QuonKind::reading, {64, 64}).toImage();
    EXPECT_NE(listening, reading) << "poses look different";
    EXPECT_EQ(mascotPixmap(QuonKind::success, {64, 64}).toImage(), mascotPixmap(QuonKind::portraitDirect, {64, 64}).toImage());
}

TEST_F(BrandViewsTest, ScreenshotOfAStepWithHeroCardsAndHintInEveryTheme) {
    for (Theme theme : allCases<Theme>()) {
        const std::string file = "step-frame-" + std::string(rawValue(theme)) + ".png";
        const ThemePalette& palette = parlowen::palette(theme);
        platform::ui::ThemedBackground window;
        platform::ui::ThemeScope::apply(&window, palette);
        window.resize(660, 700);
        auto* margins = new QVBoxLayout(&window);
        margins->setContentsMargins(32, 28, 32, 24);

        auto* content = new QWidget;
        auto* column = new QVBoxLayout(content);
        column->setSpacing(16);
        column->addWidget(new QuonHero(QuonKind::thinking, 110), 0, Qt::AlignHCenter);
        auto* cardText = new QLabel("Hold Right Option to dictate. Release to insert.");
        cardText->setObjectName("cardText");
        cardText->setWordWrap(true);
        QPalette ink = cardText->palette();
        ink.setColor(QPalette::WindowText, toQColor(brandInk()));
        cardText->setPalette(ink);
        column->addWidget(brandCard(cardText, 14, 0.35, QMargins(16, 14, 16, 14)));
        column->addWidget(new BrandTryItCard("Try it now: hold the key and say hello."));

        margins->addWidget(new StepFrame({.title = "Meet Quon", .subtitle = "Quon listens when you hold a key and reads "
                                                                            "aloud when you ask. Everything below is yours to try.",
                                          .primaryLabel = "Continue", .primaryAction = [] {},
                                          .secondaryLabel = "Back", .secondaryAction = [] {}, .content = content}));
        platform::ui::testing::expectScreenshot(&window, kShots / file,
                                                {"stepFrame", "title", "subtitle", "scrollArea", "divider",
                                                 "secondaryButton", "primaryButton", "quonHero", "brandCard", "cardText",
                                                 "tryItCard", "tryItCard/symbol", "tryItCard/hint"});
    }
}

}  // namespace
}  // namespace parlowen
