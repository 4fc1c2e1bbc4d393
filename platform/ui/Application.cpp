#include "platform/ui/Application.h"

#include <QApplication>
#include <QTimer>

#include <cstdlib>

#include "platform/ui/TerminationSignals.h"

namespace platform::ui {

struct Application::Impl {
    std::unique_ptr<QApplication> owned;
    std::function<void()> willTerminate;
    bool terminating = false;
    std::unique_ptr<TerminationSignals> signalWatch;
};

Application::Application(int& argc, char** argv) : impl_(std::make_unique<Impl>()) {
    impl_->owned = std::make_unique<QApplication>(argc, argv);
    install();
}

Application::Application() : impl_(std::make_unique<Impl>()) {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) std::abort();
    install();
}

void Application::install() {
    // The program lives in its status item and gestures, not in a window.
    QApplication::setQuitOnLastWindowClosed(false);
    impl_->signalWatch = std::make_unique<TerminationSignals>([this](int) { terminate(); });
}

Application::~Application() {
    impl_->signalWatch.reset();
    impl_->owned.reset();
}

void Application::setWillTerminate(std::function<void()> willTerminate) {
    impl_->willTerminate = std::move(willTerminate);
}

void Application::whenRunning(std::function<void()> job) {
    QTimer::singleShot(0, QCoreApplication::instance(), std::move(job));
}

int Application::exec() {
    if (impl_->terminating) return 0;
    return QApplication::exec();
}

void Application::terminate() {
    if (impl_->terminating) return;
    impl_->terminating = true;
    if (impl_->willTerminate) impl_->willTerminate();
    QCoreApplication::exit(0);
}

bool Application::isTerminating() const { return impl_->terminating; }

}  // namespace platform::ui
