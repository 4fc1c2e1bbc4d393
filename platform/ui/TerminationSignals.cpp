#include "platform/ui/TerminationSignals.h"

#include <QSocketNotifier>

#include <array>
#include <atomic>
#include <cassert>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace platform::ui {
namespace {

constexpr std::array<int, 2> kSignals{SIGINT, SIGTERM};

// Write end of the live instance's pipe; the handler may only touch this.
std::atomic<int> g_writeFd{-1};

extern "C" void onTerminationSignal(int sig) {
    const int savedErrno = errno;
    const int fd = g_writeFd.load();
    if (fd >= 0) {
        const unsigned char byte = static_cast<unsigned char>(sig);
        // A full pipe already holds a pending wake-up, so a lost byte loses nothing.
        [[maybe_unused]] auto written = ::write(fd, &byte, 1);
    }
    errno = savedErrno;
}

}  // namespace

struct TerminationSignals::Impl {
    std::function<void(int)> onSignal;
    int fds[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> notifier;
    std::array<struct sigaction, kSignals.size()> previous{};

    void drain() {
        unsigned char buffer[64];
        for (;;) {
            const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            for (ssize_t i = 0; i < n; ++i) onSignal(buffer[i]);
        }
    }
};

TerminationSignals::TerminationSignals(std::function<void(int)> onSignal) : impl_(std::make_unique<Impl>()) {
    assert(g_writeFd.load() < 0 && "only one TerminationSignals at a time");
    impl_->onSignal = std::move(onSignal);
    if (::pipe2(impl_->fds, O_CLOEXEC | O_NONBLOCK) != 0) std::abort();

    impl_->notifier = std::make_unique<QSocketNotifier>(impl_->fds[0], QSocketNotifier::Read);
    Impl* impl = impl_.get();
    QObject::connect(impl_->notifier.get(), &QSocketNotifier::activated, [impl] { impl->drain(); });

    g_writeFd.store(impl_->fds[1]);
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < kSignals.size(); ++i) ::sigaction(kSignals[i], &action, &impl_->previous[i]);
}

TerminationSignals::~TerminationSignals() {
    for (std::size_t i = 0; i < kSignals.size(); ++i) ::sigaction(kSignals[i], &impl_->previous[i], nullptr);
    g_writeFd.store(-1);
    impl_->notifier.reset();
    ::close(impl_->fds[0]);
    ::close(impl_->fds[1]);
}

}  // namespace platform::ui
