#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QMouseEvent>

#include "Parlowen/shell/views/NoSelectionToast.h"
#include "platform/log/CaptureSink.h"
#include "platform/runtime/ManualExecutor.h"
#include "platform/ui/Animations.h"
#include "platform/ui/FloatingPanel.h"
#include "platform/ui/ScreenshotTesting.h"

namespace parlowen {
namespace {

using platform::milliseconds;
using platform::seconds;

const std::filesystem::path kShots = PARLOWEN_SCREENSHOT_DIR;

void click(QWidget* target) {
    const QPointF at(target->width() / 2.0, target->height() / 2.0);
    const QPointF global = target->mapToGlobal(at);
    QMouseEvent press(QEvent::MouseButtonPress, at, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, at, global, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(target, &release);
}

class ToastTest : public ::testing::Test {
protected:
    platform::ui::AnimationsOff noAnimations;
    platform::ScopedLogCapture logs;
    platform::ManualExecutor main;
    // A screen whose visible frame starts below a 25-point menu bar.
    std::optional<platform::ui::Rect> screen = platform::ui::Rect{0, 25, 1280, 999};
    NoSelectionToast toast{main, [this] { return screen; }};
};

TEST_F(ToastTest, StartsHiddenWithTheBuiltInMessage) {
    EXPECT_FALSE(toast.isShown());
    EXPECT_EQ(toast.content().message(), "Select some text first, then try again.");
    EXPECT_EQ(toast.panel().size(), QSize(360, 64));
    EXPECT_EQ(toast.panel().windowTitle(), "Parlowen");
}

TEST_F(ToastTest, ASecondMessageReplacesTheFirstAndRestartsTheTime) {
    toast.show("Select some text first, then try again.");
    EXPECT_TRUE(toast.isShown());
    main.advance(seconds(1));
    toast.show("Select some text to queue, then try again.");
    EXPECT_EQ(toast.content().message(), "Select some text to queue, then try again.");

    main.advance(seconds(2.7));  // 3.7 s after the first: its hide was dropped
    EXPECT_TRUE(toast.isShown());
    main.advance(milliseconds(99));
    EXPECT_TRUE(toast.isShown());
    main.advance(milliseconds(1));  // 2.8 s after the second
    EXPECT_FALSE(toast.isShown());
    EXPECT_EQ(main.pendingTimers(), 0u);
}

TEST_F(ToastTest, AClickHidesItAtOnceAndThePendingHideDoesNothing) {
    toast.show("Focus changed mid-dictation — your text is in the Notepad.");
    click(&toast.content());
    EXPECT_FALSE(toast.isShown());

    main.advance(seconds(1));
    toast.show("Select some text first, then try again.");
    main.advance(seconds(2));  // 3 s after the first show: its hide must not fire
    EXPECT_TRUE(toast.isShown());
    main.advance(seconds(0.8));
    EXPECT_FALSE(toast.isShown());

    toast.show("again");
    toast.dismiss();
    EXPECT_FALSE(toast.isShown());
    main.advance(seconds(5));
    EXPECT_FALSE(toast.isShown());
}

TEST_F(ToastTest, SitsThirtyTwoPointsBelowTheTopOfTheVisibleFrameCentred) {
    toast.show("Select some text first, then try again.");
    EXPECT_EQ(toast.panel().pos(), QPoint(640 - 180, 25 + 32));

    screen = platform::ui::Rect{1920, 0, 1000, 700};  // another work area
    toast.show("moved");
    EXPECT_EQ(toast.panel().pos(), QPoint(1920 + 500 - 180, 32));

    screen.reset();  // no screen: the panel stays where it was
    toast.show("kept");
    EXPECT_EQ(toast.panel().pos(), QPoint(1920 + 500 - 180, 32));
}

TEST_F(ToastTest, LongMessagesAreCutToTwoLinesAndEveryShowIsLogged) {
    const std::string longText =
        "Finalising the dictation failed because the recogniser returned no text at all, and there is nothing more "
        "that can be said about it in so little space, however hard one tries to squeeze it in.";
    toast.show(longText);
    const QString shown = toast.content().messageLabel()->text();
    EXPECT_EQ(shown.count('\n'), 1) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith(QChar(0x2026))) << "cut with an ellipsis";
    EXPECT_EQ(toast.content().message(), longText) << "the message itself is kept whole";

    toast.show("short");
    EXPECT_EQ(toast.content().messageLabel()->text(), "short");

    const auto lines = logs->linesOfCategory("toast");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1].subsystem, "com.kelvatrum.Parlowen");
    EXPECT_EQ(lines[1].level, platform::LogLevel::info);
    EXPECT_EQ(lines[1].message, "toast shown: short");
}

TEST_F(ToastTest, OutlivesNoPendingHide) {
    auto early = std::make_unique<NoSelectionToast>(main, [this] { return screen; });
    early->show("going");
    EXPECT_EQ(main.pendingTimers(), 1u);
    early.reset();
    EXPECT_EQ(main.pendingTimers(), 0u);  // its hide went with it
    main.advance(seconds(3));  // the hide of a destroyed toast must not run
}

// The toast is not a themed window: it draws on the brand's night surface
// whatever the theme, so one look covers them all.
TEST_F(ToastTest, Screenshot) {
    toast.show("Select some text first, then try again.");
    platform::ui::testing::expectScreenshot(&toast.panel(), kShots / "toast.png", {"toastContent", "mascot", "message"});
    toast.show("Focus changed mid-dictation — your text is in the Notepad. It will stay there until you copy it out.");
    platform::ui::testing::expectScreenshot(&toast.panel(), kShots / "toast-two-lines.png", {"mascot", "message"});
}

}  // namespace
}  // namespace parlowen
