#pragma once

// The application's one toast: a short message near the top of the screen
// for 2.8 seconds, on a panel that never takes focus from the application
// the user works in. A new message replaces the one on screen and restarts
// the time; a click hides it at once.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include <QWidget>

#include "platform/log/Log.h"
#include "platform/runtime/Executor.h"
#include "platform/runtime/Observable.h"
#include "platform/ui/Coordinates.h"

class QLabel;

namespace platform::ui {
class FloatingPanel;
}

namespace parlowen {

// The toast's view: the thinking mascot and the message (at most two lines)
// on a dark rounded card with an amber border; a click runs `onTap`.
// Children: "mascot", "message".
class ToastContent : public QWidget {
public:
    explicit ToastContent(QWidget* parent = nullptr);

    void setContent(std::string message, std::function<void()> onTap);
    const std::string& message() const { return message_; }
    QLabel* messageLabel() const { return label_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void layoutChildren();

    std::string message_;
    std::function<void()> onTap_;
    QLabel* mascot_;
    QLabel* label_;
};

class NoSelectionToast {
public:
    static constexpr std::string_view kDefaultMessage = "Select some text first, then try again.";
    static constexpr int kWidth = 360;
    static constexpr int kHeight = 64;
    static constexpr double kTopInset = 32;
    static constexpr double kVisibleSeconds = 2.8;

    // The visible frame (work area) of the main screen in Qt's coordinates,
    // if there is a screen.
    using VisibleFrame = std::function<std::optional<platform::ui::Rect>()>;
    static VisibleFrame primaryScreenVisibleFrame();

    // `main` runs the hide; the panel starts hidden.
    explicit NoSelectionToast(platform::Executor& main, VisibleFrame visibleFrame = primaryScreenVisibleFrame());
    ~NoSelectionToast();
    NoSelectionToast(const NoSelectionToast&) = delete;
    NoSelectionToast& operator=(const NoSelectionToast&) = delete;

    void show(const std::string& message);
    // Hides the toast now and drops the pending hide.
    void dismiss();

    bool isShown() const;
    platform::ui::FloatingPanel& panel() const { return *panel_; }
    ToastContent& content() const { return *content_; }

private:
    platform::Executor& main_;
    VisibleFrame visibleFrame_;
    std::unique_ptr<platform::ui::FloatingPanel> panel_;
    ToastContent* content_;
    platform::ScopedTimer dismissWorkItem_;
    platform::Logger logger_{"com.kelvatrum.Parlowen", "toast"};
    platform::Lifetime lifetime_;
};

}  // namespace parlowen
