#pragma once

// A titled top-level window that is built once and kept: it is centred on
// the screen when built and never again, so a window the user moved or
// resized comes back where it was. Its close button and Ctrl+W hide it and
// emit `willClose`; `showAndActivate` shows it raised and activated through
// the window manager; dragging its background moves it.

#include <QWidget>

namespace platform::ui {

class WindowHost : public QWidget {
    Q_OBJECT
public:
    struct Options {
        QSize size{640, 480};
        bool resizable = true;
        bool minimizable = true;
        // Floats above ordinary windows.
        bool stayOnTop = false;
    };

    WindowHost(const QString& title, Options options, QWidget* parent = nullptr);

    // Places `content` (reparented) as the window's whole content, replacing
    // (and deleting) the previous one.
    void setContent(QWidget* content);
    QWidget* content() const { return content_; }

    void showAndActivate();
    // Hides the window as its close button does (emits willClose).
    void orderOut();

signals:
    void willClose();

protected:
    void closeEvent(QCloseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    QWidget* content_ = nullptr;
};

}  // namespace platform::ui
