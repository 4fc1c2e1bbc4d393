#include "Parlowen/podcast/views/PodcastConfirmSheet.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>

#include "Parlowen/model/Theme.h"
#include "platform/ui/Buttons.h"
#include "platform/ui/Finders.h"
#include "platform/ui/ScreenshotTesting.h"

namespace parlowen {
namespace {

using platform::ui::findNamed;

const std::filesystem::path kShots = PARLOWEN_SCREENSHOT_DIR;
const std::string kLong =
    "An unusually long value that names a voice engine with far more words than any row was ever meant to hold";

struct Sheet {
    int confirmations = 0;
    bool closedAfterConfirm = false;
    std::unique_ptr<PodcastConfirmSheet> sheet;

    explicit Sheet(Theme theme = Theme::hearth, std::string title = "How salmon find their way home",
                   std::string engine = "Gemini (cloud)") {
        sheet = std::make_unique<PodcastConfirmSheet>(title, engine, "Claude Sonnet 4.6", "Puck", "Charon",
                                                      palette(theme), [this] {
                                                          ++confirmations;
                                                          closedAfterConfirm = !sheet->isVisible();
                                                      });
        sheet->show();
        platform::ui::testing::settle();
    }
    void press(Qt::Key key) {
        QKeyEvent down(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(sheet.get(), &down);
        QKeyEvent up(QEvent::KeyRelease, key, Qt::NoModifier);
        QApplication::sendEvent(sheet.get(), &up);
        platform::ui::testing::settle();
    }
};

TEST(PodcastConfirmSheet, EscapeCancelsWithoutConfirming) {
    Sheet s;
    s.press(Qt::Key_Escape);
    EXPECT_FALSE(s.sheet->isVisible());
    EXPECT_EQ(s.sheet->result(), QDialog::Rejected);
    EXPECT_EQ(s.confirmations, 0);
}

TEST(PodcastConfirmSheet, ReturnConfirmsOnceThenCloses) {
    Sheet s;
    s.press(Qt::Key_Return);
    EXPECT_EQ(s.confirmations, 1);
    EXPECT_FALSE(s.closedAfterConfirm);  // the action ran while the sheet was still up
    EXPECT_FALSE(s.sheet->isVisible());
    EXPECT_EQ(s.sheet->result(), QDialog::Accepted);
}

TEST(PodcastConfirmSheet, ShowsTheRequestInItsRows) {
    Sheet s;
    EXPECT_EQ(s.sheet->width(), 460);
    EXPECT_EQ(findNamed<QLabel>(s.sheet.get(), "question")->text(), "Turn this into a podcast?");
    const std::pair<const char*, const char*> rows[] = {{"engine", "Engine"},
                                                        {"script", "Script"},
                                                        {"hostA", "Quon (curious)"},
                                                        {"hostB", "Nell (explainer)"}};
    for (auto [row, text] : rows) EXPECT_EQ(findNamed<QLabel>(s.sheet.get(), std::string(row) + "/label")->text(), text);
    EXPECT_EQ(findNamed<QLabel>(s.sheet.get(), "hostB/value")->text(), "Charon");
    auto* generate = findNamed<platform::ui::PushButton>(s.sheet.get(), "generate");
    auto* cancel = findNamed<platform::ui::PushButton>(s.sheet.get(), "cancel");
    EXPECT_EQ(generate->text(), "Generate podcast");
    EXPECT_GT(generate->geometry().left(), cancel->geometry().right());
}

TEST(PodcastConfirmSheet, LongTextsKeepTheWidthAndTheExplanationWhole) {
    const std::string title(400, 'x');
    Sheet s(Theme::hearth, "Salmon " + std::string(60, 'a') + " " + kLong + " " + kLong, kLong);
    EXPECT_EQ(s.sheet->width(), 460);
    // The title is cut to two lines.
    auto* itemTitle = findNamed<QLabel>(s.sheet.get(), "itemTitle");
    EXPECT_EQ(itemTitle->text().count('\n'), 1);
    EXPECT_TRUE(itemTitle->text().endsWith(QChar(0x2026)));
    // The explanation gets all the height it needs.
    auto* explanation = findNamed<QLabel>(s.sheet.get(), "explanation");
    EXPECT_GE(explanation->height(), explanation->heightForWidth(explanation->width()));
    EXPECT_LE(explanation->geometry().bottom(),
              findNamed<QWidget>(s.sheet.get(), "generate")->geometry().top());
    // The long value stays at least 8 points from its label.
    auto* label = findNamed<QLabel>(s.sheet.get(), "engine/label");
    auto* value = findNamed<QLabel>(s.sheet.get(), "engine/value");
    EXPECT_GE(value->geometry().left() - label->geometry().right() - 1, 8);
    EXPECT_EQ(label->width(), label->sizeHint().width());
    platform::ui::testing::saveScreenshot(s.sheet.get(), kShots / "podcast-confirm-long.png");
}

TEST(PodcastConfirmSheet, ReadableInEveryTheme) {
    for (Theme theme : allCases<Theme>()) {
        SCOPED_TRACE(std::string(rawValue(theme)));
        Sheet s(theme);
        auto shot = platform::ui::testing::saveScreenshot(
            s.sheet.get(), kShots / ("podcast-confirm-" + std::string(rawValue(theme)) + ".png"));
        for (const auto& f : platform::ui::testing::contrastFailures(s.sheet.get(), shot))
            ADD_FAILURE() << f.widget << " \"" << f.text << "\" " << f.ratio << " < " << f.required << " ("
                          << f.foreground << " on " << f.background << ")";
        // Texts stay in the brand ink whatever the theme.
        EXPECT_EQ(findNamed<QLabel>(s.sheet.get(), "question")->palette().color(QPalette::WindowText),
                  QColor(0x3D, 0x2E, 0x22));
    }
}

}  // namespace
}  // namespace parlowen
