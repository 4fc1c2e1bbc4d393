#include "platform/ui/QtAlertPresenter.h"

#include <QMessageBox>
#include <QPushButton>

#include <vector>

namespace platform::ui {
namespace {

QMessageBox::Icon iconFor(AlertStyle style) {
    switch (style) {
        case AlertStyle::warning: return QMessageBox::Warning;
        case AlertStyle::critical: return QMessageBox::Critical;
        case AlertStyle::informational: break;
    }
    return QMessageBox::Information;
}

}  // namespace

int QtAlertPresenter::run(const Alert& alert) {
    QMessageBox box;
    box.setObjectName("alert");
    box.setWindowModality(Qt::ApplicationModal);
    box.setIcon(iconFor(alert.style));
    box.setText(QString::fromStdString(alert.messageText));
    box.setInformativeText(QString::fromStdString(alert.informativeText));

    // One role for every button keeps them in the order they were added.
    std::vector<QPushButton*> buttons;
    for (std::size_t i = 0; i < alert.buttons.size(); ++i) {
        QPushButton* b = box.addButton(QString::fromStdString(alert.buttons[i]), QMessageBox::AcceptRole);
        b->setObjectName(QString("alertButton%1").arg(i));
        buttons.push_back(b);
    }
    if (buttons.empty()) buttons.push_back(box.addButton(QMessageBox::Ok));
    box.setDefaultButton(buttons.front());
    if (alert.escapeButton && *alert.escapeButton < buttons.size())
        box.setEscapeButton(buttons[*alert.escapeButton]);
    else if (buttons.size() == 1)
        box.setEscapeButton(buttons.front());

    box.exec();
    for (std::size_t i = 0; i < buttons.size(); ++i) {
        if (box.clickedButton() == buttons[i]) return static_cast<int>(i);
    }
    return -1;
}

}  // namespace platform::ui
