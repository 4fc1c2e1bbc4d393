#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <functional>

#include "platform/ui/QtAlertPresenter.h"
#include "platform/ui/ScriptedAlertPresenter.h"

namespace platform::ui {
namespace {

Alert twoButtonAlert() {
    return Alert{"Something happened", "More about it.", AlertStyle::warning, {"Quit", "Continue anyway"}};
}

TEST(ScriptedAlertPresenter, RecordsAlertsAndAnswersFromItsScript) {
    ScriptedAlertPresenter alerts(1);
    alerts.answerNext(0);
    EXPECT_EQ(alerts.run(twoButtonAlert()), 0);
    EXPECT_EQ(alerts.run(twoButtonAlert()), 1);  // script used up: the default answer
    alerts.answerNext(5);
    EXPECT_EQ(alerts.run(twoButtonAlert()), -1);  // no such button
    // Without buttons the alert shows one "OK", answered as 0.
    alerts.answerNext(0);
    EXPECT_EQ(alerts.run(Alert{"Done", "", AlertStyle::informational, {}}), 0);

    ASSERT_EQ(alerts.shown().size(), 4u);
    EXPECT_EQ(alerts.shown()[0].messageText, "Something happened");
    EXPECT_EQ(alerts.shown()[0].informativeText, "More about it.");
    EXPECT_EQ(alerts.shown()[0].style, AlertStyle::warning);
    EXPECT_EQ(alerts.shown()[0].buttons, (std::vector<std::string>{"Quit", "Continue anyway"}));
}

// Runs `inspect` on the message box once it is up, from inside its modal loop.
void whenAlertShows(std::function<void(QMessageBox&)> inspect) {
    auto* poll = new QTimer(qApp);
    QObject::connect(poll, &QTimer::timeout, [poll, inspect = std::move(inspect)] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible()) return;
        poll->stop();
        poll->deleteLater();
        inspect(*box);
    });
    poll->start(0);
}

TEST(QtAlertPresenter, ShowsTextsAndButtonsInOrderAndReturnsTheClickedIndex) {
    QtAlertPresenter presenter;
    bool inspected = false;
    whenAlertShows([&](QMessageBox& box) {
        inspected = true;
        EXPECT_EQ(box.text(), "Something happened");
        EXPECT_EQ(box.informativeText(), "More about it.");
        EXPECT_EQ(box.icon(), QMessageBox::Warning);
        EXPECT_TRUE(box.isModal());
        auto* first = box.findChild<QPushButton*>("alertButton0");
        auto* second = box.findChild<QPushButton*>("alertButton1");
        ASSERT_TRUE(first && second);
        EXPECT_EQ(first->text(), "Quit");
        EXPECT_EQ(second->text(), "Continue anyway");
        EXPECT_LT(first->mapTo(&box, QPoint()).x(), second->mapTo(&box, QPoint()).x());
        EXPECT_EQ(box.defaultButton(), first);

        // With two buttons Escape chooses nothing: the alert waits for a choice.
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(&box, &escape);
        EXPECT_TRUE(box.isVisible());
        second->click();
    });
    EXPECT_EQ(presenter.run(twoButtonAlert()), 1);
    EXPECT_TRUE(inspected);
}

TEST(QtAlertPresenter, EscapeChoosesTheAlertsEscapeButton) {
    QtAlertPresenter presenter;
    whenAlertShows([](QMessageBox& box) {
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(&box, &escape);
    });
    Alert alert{"Big read", "", AlertStyle::informational, {"One", "Two", "Cancel"}};
    alert.escapeButton = 2;
    EXPECT_EQ(presenter.run(alert), 2);
}

TEST(QtAlertPresenter, StylesMapToIcons) {
    QtAlertPresenter presenter;
    for (auto [style, icon] : {std::pair{AlertStyle::informational, QMessageBox::Information},
                               std::pair{AlertStyle::critical, QMessageBox::Critical}}) {
        QMessageBox::Icon shown = QMessageBox::NoIcon;
        whenAlertShows([&](QMessageBox& box) {
            shown = box.icon();
            // A single-button alert answers to Return as its default.
            QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
            QApplication::sendEvent(&box, &enter);
        });
        EXPECT_EQ(presenter.run(Alert{"Done", "", style, {"OK"}}), 0);
        EXPECT_EQ(shown, icon);
    }
}

}  // namespace
}  // namespace platform::ui
