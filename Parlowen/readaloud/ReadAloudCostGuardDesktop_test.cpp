// The cost question on a real display, as a Qt message box: Escape (sent
// through XTest) cancels, a click on the second button reads with the chosen
// engine, and the texts group the count by the user's locale.

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <functional>

#include "Parlowen/readaloud/ReadAloudCostGuard.h"
#include "platform/testsupport/OnDisplay.h"
#include "platform/ui/QtAlertPresenter.h"

// Last: Xlib's macros (Status, None, ...) would clash with the names above.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace parlowen {
namespace {

using Choice = ReadAloudCostGuard::Choice;

// Runs `act` on the message box once it is up and has the keyboard, from inside its modal loop.
void whenAlertIsActive(std::function<void(QMessageBox&)> act) {
    auto* poll = new QTimer(qApp);
    QObject::connect(poll, &QTimer::timeout, [poll, act = std::move(act)] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible()) return;
        if (!box->isActiveWindow()) {
            box->activateWindow();  // no window manager gives it focus
            return;
        }
        poll->stop();
        poll->deleteLater();
        act(*box);
    });
    poll->start(10);
}

// Input as the X server gets it from a device.
struct XInput {
    Display* display = XOpenDisplay(nullptr);
    ~XInput() {
        if (display) XCloseDisplay(display);
    }
    void key(KeySym sym) {
        const KeyCode code = XKeysymToKeycode(display, sym);
        XTestFakeKeyEvent(display, code, True, 0);
        XTestFakeKeyEvent(display, code, False, 0);
        XFlush(display);
    }
    void click(QPoint global) {
        XTestFakeMotionEvent(display, -1, global.x(), global.y(), 0);
        XTestFakeButtonEvent(display, 1, True, 0);
        XTestFakeButtonEvent(display, 1, False, 0);
        XFlush(display);
    }
};

TEST(CostGuardDesktop, EscapeCancelsAndTheSecondButtonReadsWithTheChosenEngine) {
    if (!testsupport::onDisplayChild()) {
        testsupport::XvfbDisplay display;
        PARLOWEN_REQUIRE_OR_SKIP(display.start());
        return testsupport::runCurrentTestOnDisplay(display.environment());
    }
    XInput input;
    ASSERT_NE(input.display, nullptr);
    platform::ui::QtAlertPresenter presenter;
    ReadAloudCostGuard guard(presenter, "de_DE");
    const ReadAloudCostGuard::Context context{12'345, "Cartesia", "voice-1…", 3.7035,
                                              ReadAloudCostGuard::formatCost(12'345, ReadAloudEngineKind::cartesia)};

    QString text, informative;
    whenAlertIsActive([&](QMessageBox& box) {
        text = box.text();
        informative = box.informativeText();
        input.key(XK_Escape);
    });
    EXPECT_EQ(guard.confirm(context), Choice::cancel);
    EXPECT_EQ(text.toStdString(), "Big read \u2014 about $3.70 on Cartesia");
    EXPECT_EQ(informative.toStdString(),
              "That's about 12.345 characters. Parlowen can read this with Zoe (free, on-device) or with the "
              "Cartesia voice you've picked.");

    QString second;
    whenAlertIsActive([&](QMessageBox& box) {
        auto* button = box.findChild<QPushButton*>("alertButton1");
        ASSERT_NE(button, nullptr);
        second = button->text();
        input.click(button->mapToGlobal(button->rect().center()));
    });
    EXPECT_EQ(guard.confirm(context), Choice::useChosenEngine);
    EXPECT_EQ(second.toStdString(), "Use Cartesia anyway");
}

}  // namespace
}  // namespace parlowen
