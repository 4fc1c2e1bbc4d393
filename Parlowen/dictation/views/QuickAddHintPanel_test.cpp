#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>

#include "Parlowen/dictation/views/QuickAddHintPanelController.h"
#include "Parlowen/dictation/views/QuickAddHintView.h"
#include "Parlowen/shell/settings/SettingsTestSupport.h"
#include "Parlowen/shell/views/ThemePalette.h"
#include "platform/runtime/ManualExecutor.h"
#include "platform/ui/Animations.h"
#include "platform/ui/Buttons.h"
#include "platform/ui/Finders.h"
#include "platform/ui/ScreenshotTesting.h"
#include "platform/ui/ThemeScope.h"

namespace {

using parlowen::QuickAddHintPanelController;
using platform::ui::findAllNamed;
using platform::ui::findNamed;
using Strings = std::vector<std::string>;

const std::filesystem::path kShots = PARLOWEN_SCREENSHOT_DIR;

void pressKey(QWidget* target, int key) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
    QApplication::sendEvent(target, &release);
}

class QuickAddHintPanelTest : public settingstest::StoreTest {
protected:
    void SetUp() override { prefs->dictationContextualPhrases.set({"Parlowen"}); }

    QWidget* panel() const { return controller.panel(); }
    QLineEdit* field() const { return findNamed<QLineEdit>(panel(), "entryField"); }
    QPushButton* button(std::string_view name) const { return findNamed<QPushButton>(panel(), name); }
    bool shown(std::string_view name) const { return findNamed(panel(), name)->isVisibleTo(panel()); }
    Strings hints() const { return prefs->dictationContextualPhrases(); }
    // Types into the cleared entry field key by key.
    void type(const QString& text) {
        field()->clear();
        for (const QChar c : text) {
            QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
            QApplication::sendEvent(field(), &press);
        }
    }
    Strings recentButtonTexts(std::size_t row) const {
        const auto rows = findAllNamed(panel(), "recentWordRow");
        Strings out;
        for (auto* b : findAllNamed(rows.at(row), "recentWord"))
            out.push_back(static_cast<QPushButton*>(b)->text().toStdString());
        return out;
    }

    platform::ui::AnimationsOff noAnimations;
    platform::ManualExecutor main;
    std::unique_ptr<parlowen::PreferencesStore> prefs = open();
    Strings recent;
    QuickAddHintPanelController controller{*prefs, [this] { return recent; }, main};
};

TEST_F(QuickAddHintPanelTest, ReturnAddsTheTypedWordOnceAndTheAddButtonFollowsTheEntry) {
    controller.show();
    EXPECT_TRUE(controller.isVisible());
    EXPECT_TRUE(field()->placeholderText().startsWith("e.g. "));
    EXPECT_FALSE(shown("confirmation"));
    EXPECT_FALSE(button("addButton")->isEnabled());

    type("   ");
    EXPECT_FALSE(button("addButton")->isEnabled());
    pressKey(field(), Qt::Key_Return);
    EXPECT_EQ(hints(), Strings{"Parlowen"});
    EXPECT_FALSE(shown("confirmation"));

    type("  Kubernetes ");
    EXPECT_EQ(controller.model().entry(), "  Kubernetes ");
    EXPECT_TRUE(button("addButton")->isEnabled());
    pressKey(field(), Qt::Key_Return);
    EXPECT_EQ(hints(), (Strings{"Parlowen", "Kubernetes"}));
    EXPECT_TRUE(shown("confirmation"));
    EXPECT_EQ(findNamed<QLabel>(panel(), "confirmation/confirmationText")->text().toStdString(),
              "Added \u201CKubernetes\u201D to Recognition Hints.");
    EXPECT_EQ(field()->text(), "  Kubernetes ");  // adding leaves the entry

    button("addButton")->click();  // the same word again
    EXPECT_EQ(hints(), (Strings{"Parlowen", "Kubernetes"}));
    EXPECT_EQ(findNamed<QLabel>(panel(), "confirmationText")->text().toStdString(),
              "\u201CKubernetes\u201D is already in your hints.");
}

TEST_F(QuickAddHintPanelTest, ConfirmationClosesThePanelAndClosingClearsTheEntry) {
    controller.show();
    type("Kubernetes");
    button("addButton")->click();
    main.advance(platform::milliseconds(699));
    EXPECT_TRUE(controller.isVisible());
    main.advance(platform::milliseconds(1));
    EXPECT_FALSE(controller.isVisible());
    EXPECT_EQ(controller.model().entry(), "");
    EXPECT_EQ(field()->text(), "");
    EXPECT_EQ(controller.model().lastAddedConfirmation(), std::nullopt);

    controller.show();
    EXPECT_FALSE(shown("confirmation"));
}

TEST_F(QuickAddHintPanelTest, CancelAndEscapeClose) {
    controller.show();
    type("draft");
    button("cancelButton")->click();
    EXPECT_FALSE(controller.isVisible());
    EXPECT_EQ(controller.model().entry(), "");

    controller.show();
    type("draft");
    pressKey(field(), Qt::Key_Escape);
    EXPECT_FALSE(controller.isVisible());
    EXPECT_EQ(field()->text(), "");
    EXPECT_EQ(hints(), Strings{"Parlowen"});

    // Closed by hand before the dismissal was due; shown again, it stays open.
    controller.show();
    type("Alpha");
    button("addButton")->click();
    controller.close();
    controller.show();
    main.advance(platform::seconds(2));
    EXPECT_TRUE(controller.isVisible());
}

TEST_F(QuickAddHintPanelTest, RecentWordsComeInRowsOfFourAndFillTheEntry) {
    controller.show();
    EXPECT_FALSE(shown("recentWords"));

    controller.close();
    recent = {"Priya", "Oakland", "office", "yesterday", "emailed", "Siobhan", "Zürich", "Kubernetes", "staging"};
    controller.show();
    ASSERT_TRUE(shown("recentWords"));
    ASSERT_EQ(findAllNamed(panel(), "recentWordRow").size(), 3u);
    EXPECT_EQ(recentButtonTexts(0), (Strings{"Priya", "Oakland", "office", "yesterday"}));
    EXPECT_EQ(recentButtonTexts(2), Strings{"staging"});

    findAllNamed(findAllNamed(panel(), "recentWordRow")[1], "recentWord")[2]->setFocus();
    static_cast<QPushButton*>(findAllNamed(findAllNamed(panel(), "recentWordRow")[1], "recentWord")[2])->click();
    EXPECT_EQ(field()->text().toStdString(), "Zürich");
    EXPECT_EQ(hints(), Strings{"Parlowen"});  // picked, not added

    controller.close();
    recent = {"Priya"};
    controller.show();
    EXPECT_EQ(findAllNamed(panel(), "recentWordRow").size(), 1u);
    EXPECT_EQ(recentButtonTexts(0), Strings{"Priya"});
}

TEST_F(QuickAddHintPanelTest, ShowingAndPickingFocusTheEntryField) {
    controller.show();
    QApplication::setActiveWindow(panel());
    platform::ui::testing::settle();
    auto* cancel = button("cancelButton");
    cancel->setFocus();
    controller.model().pickRecentWord("Priya");
    EXPECT_TRUE(field()->hasFocus());
    cancel->setFocus();
    controller.close();
    controller.show();
    QApplication::setActiveWindow(panel());
    EXPECT_TRUE(field()->hasFocus());
}

TEST_F(QuickAddHintPanelTest, ScreenshotInEveryTheme) {
    recent = {"Priya", "Oakland", "office", "yesterday", "emailed"};
    for (parlowen::Theme theme : parlowen::allCases<parlowen::Theme>()) {
        const parlowen::ThemePalette& palette = parlowen::palette(theme);
        parlowen::setThemePalette(panel(), palette);
        controller.show();
        type("Siobhan");
        button("addButton")->click();
        platform::ui::testing::expectScreenshot(
            panel(), kShots / ("quick-add-hint-panel-" + std::string(parlowen::rawValue(theme)) + ".png"),
            {"title", "caption", "entryField", "addButton", "recentWords", "recentWordRow/recentWord", "confirmation",
             "confirmationSymbol", "cancelButton"});
        EXPECT_GE(panel()->width(), 440);
        EXPECT_GE(panel()->height(), 260);
        // The default button is the theme's accent, not the stock blue.
        const QImage shot = panel()->grab().toImage();
        auto* add = button("addButton");
        const QColor fill = shot.pixelColor(add->mapTo(panel(), QPoint(4, add->height() / 2)));
        EXPECT_EQ(fill.rgb(), platform::ui::toQColor(palette.accent).rgb()) << parlowen::rawValue(theme);
        controller.close();
    }
}

}  // namespace
