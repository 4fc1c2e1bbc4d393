#include "platform/ui/Sheet.h"

#include <QVBoxLayout>

namespace platform::ui {

Sheet::Sheet(QWidget* parent, QWidget* content) : QDialog(parent, Qt::Sheet | Qt::Dialog), content_(content) {
    setWindowModality(Qt::WindowModal);
    setAttribute(Qt::WA_DeleteOnClose);
    auto* box = new QVBoxLayout(this);
    box->setContentsMargins(0, 0, 0, 0);
    box->addWidget(content_);
}

void Sheet::present() {
    if (parentWidget()) setWindowTitle(parentWidget()->window()->windowTitle());
    open();
    raise();
    activateWindow();
}

void Sheet::dismiss() {
    dismissing_ = true;
    done(QDialog::Accepted);
}

void Sheet::reject() {
    if (dismissing_) return QDialog::reject();
    if (onCancel_) {
        auto cancel = onCancel_;
        cancel();
        if (isVisible()) QDialog::reject();
        return;
    }
    QDialog::reject();
}

}  // namespace platform::ui
