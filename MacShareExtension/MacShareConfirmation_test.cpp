#include "MacShareExtension/MacShareConfirmation.h"

#include <QLabel>

#include <gtest/gtest.h>

#include "Parlowen/model/Theme.h"
#include "Parlowen/shell/views/ThemePalette.h"
#include "platform/runtime/ManualExecutor.h"
#include "platform/ui/Animations.h"
#include "platform/ui/Palette.h"
#include "platform/ui/ScreenshotTesting.h"
#include "platform/ui/ThemeScope.h"

namespace parlowen {
namespace {

using State = MacShareViewModel::State;
const std::filesystem::path kShots = PARLOWEN_SCREENSHOT_DIR;

QString text(QWidget* root, const char* name) { return root->findChild<QLabel*>(name)->text(); }
bool shown(QWidget* root, const char* name) { return !root->findChild<QLabel*>(name)->isHidden(); }

class MacShareConfirmationTest : public ::testing::Test {
protected:
    platform::ui::AnimationsOff noAnimations;
    platform::ManualExecutor executor;
};

TEST_F(MacShareConfirmationTest, EachStateShowsItsSymbolTitleAndOnlyAFailureItsMessage) {
    auto model = std::make_shared<MacShareViewModel>(executor);
    MacShareConfirmation view(model);
    EXPECT_EQ(view.size(), QSize(320, 220));
    const auto palette = platform::ui::ThemeScope::resolve(&view);
    const auto system = platform::ui::systemColors(palette);
    auto tint = [&] { return view.findChild<QLabel*>("shareConfirmationSymbol")->property("symbolTint").value<QColor>(); };
    auto symbol = [&] { return view.findChild<QLabel*>("shareConfirmationSymbol")->property("symbolName").toString(); };

    EXPECT_EQ(symbol(), "arrow.up.circle");
    EXPECT_EQ(tint(), platform::ui::toQColor(palette.accent));
    EXPECT_EQ(text(&view, "shareConfirmationTitle"), QString::fromUtf8("Adding to Quon\u2026"));
    EXPECT_FALSE(shown(&view, "shareConfirmationMessage"));

    model->finish(State::failure("The disk is full."));
    EXPECT_EQ(symbol(), "exclamationmark.triangle.fill");
    EXPECT_EQ(tint(), platform::ui::toQColor(system.orange));
    EXPECT_EQ(text(&view, "shareConfirmationTitle"), "Couldn't add to Quon");
    EXPECT_TRUE(shown(&view, "shareConfirmationMessage"));
    EXPECT_EQ(text(&view, "shareConfirmationMessage"), "The disk is full.");

    auto success = std::make_shared<MacShareViewModel>(executor);
    MacShareConfirmation done(success);
    success->finish(State::success());
    EXPECT_EQ(done.findChild<QLabel*>("shareConfirmationSymbol")->property("symbolName").toString(),
              "checkmark.circle.fill");
    EXPECT_EQ(done.findChild<QLabel*>("shareConfirmationSymbol")->property("symbolTint").value<QColor>(),
              platform::ui::toQColor(system.green));
    EXPECT_EQ(text(&done, "shareConfirmationTitle"), "Added to Quon");
    EXPECT_FALSE(shown(&done, "shareConfirmationMessage"));
}

TEST_F(MacShareConfirmationTest, EveryThemeAndStateIsReadable) {
    const std::vector<std::pair<std::string, State>> states = {
        {"working", State::working()},
        {"success", State::success()},
        {"failure", State::failure("The operation couldn't be completed because the folder is not writable.")}};
    for (Theme theme : allCases<Theme>()) {
        for (const auto& [name, state] : states) {
            SCOPED_TRACE(std::string(rawValue(theme)) + " " + name);
            auto model = std::make_shared<MacShareViewModel>(executor);
            QWidget window;
            window.setObjectName("sharePanel");
            setThemePalette(&window, palette(theme));
            auto* view = new MacShareConfirmation(model, &window);
            window.setFixedSize(view->size());
            model->finish(state);
            std::vector<std::string> names{"shareConfirmation/shareConfirmationSymbol",
                                           "shareConfirmation/shareConfirmationTitle"};
            if (name == "failure") names.push_back("shareConfirmation/shareConfirmationMessage");
            platform::ui::testing::expectScreenshot(
                &window, kShots / ("share-" + std::string(rawValue(theme)) + "-" + name + ".png"), names);
            for (const char* label : {"shareConfirmationTitle", "shareConfirmationMessage"}) {
                auto* l = view->findChild<QLabel*>(label);
                if (l->isVisible()) {
                    EXPECT_GE(l->height(), l->heightForWidth(l->width())) << label << " is cut";
                }
            }
        }
    }
}

}  // namespace
}  // namespace parlowen
