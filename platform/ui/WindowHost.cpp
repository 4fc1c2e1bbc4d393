#include "platform/ui/WindowHost.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>
#include <QShortcut>
#include <QVBoxLayout>
#include <QWindow>

namespace platform::ui {

WindowHost::WindowHost(const QString& title, Options options, QWidget* parent) : QWidget(parent, Qt::Window) {
    Qt::WindowFlags flags = Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint;
    if (options.minimizable) flags |= Qt::WindowMinimizeButtonHint;
    if (options.resizable) flags |= Qt::WindowMaximizeButtonHint;
    if (options.stayOnTop) flags |= Qt::WindowStaysOnTopHint;
    setWindowFlags(flags);
    setWindowTitle(title);
    auto* box = new QVBoxLayout(this);
    box->setContentsMargins(0, 0, 0, 0);
    box->setSpacing(0);
    resize(options.size);
    if (!options.resizable) setFixedSize(options.size);
    if (auto* screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(), options.size);
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    auto* closeKey = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_W), this);
    closeKey->setContext(Qt::WindowShortcut);
    connect(closeKey, &QShortcut::activated, this, [this] { close(); });
}

void WindowHost::setContent(QWidget* content) {
    if (content_ == content) return;
    if (content_) {
        layout()->removeWidget(content_);
        content_->hide();
        content_->setParent(nullptr);
        content_->deleteLater();
    }
    content_ = content;
    if (content_) layout()->addWidget(content_);
}

void WindowHost::showAndActivate() {
    show();
    raise();
    activateWindow();
}

void WindowHost::orderOut() { close(); }

void WindowHost::closeEvent(QCloseEvent* event) {
    // Closing only hides: the window, its content and its place are kept.
    event->ignore();
    emit willClose();
    hide();
}

void WindowHost::mousePressEvent(QMouseEvent* event) {
    // A press that no control took lands here: the background moves the window.
    if (event->button() == Qt::LeftButton && windowHandle()) {
        windowHandle()->startSystemMove();
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}

}  // namespace platform::ui
