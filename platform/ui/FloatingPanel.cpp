#include "platform/ui/FloatingPanel.h"

namespace platform::ui {

FloatingPanel::FloatingPanel(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus) {
    setObjectName(QStringLiteral("floatingPanel"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_X11DoNotAcceptFocus);
    setFocusPolicy(Qt::NoFocus);
}

void FloatingPanel::setContentSize(QSize size) { resize(size); }

void FloatingPanel::orderFrontRegardless() {
    show();
    raise();
}

void FloatingPanel::orderOut() { hide(); }

}  // namespace platform::ui
