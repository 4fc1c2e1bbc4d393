#include "Parlowen/shell/SingleInstance.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>

namespace parlowen {

namespace {

constexpr const char* kReopenRequest = "reopen\n";

std::optional<sockaddr_un> addressOf(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof(address.sun_path)) return std::nullopt;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return address;
}

// Sends the reopen request to a running instance; false when none answers.
bool handOff(const sockaddr_un& address) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    bool sent = false;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0) {
        const std::size_t size = std::strlen(kReopenRequest);
        sent = ::send(fd, kReopenRequest, size, MSG_NOSIGNAL) == static_cast<ssize_t>(size);
    }
    ::close(fd);
    return sent;
}

}  // namespace

std::string SingleInstance::socketPath(const platform::Environment& environment) {
    const std::string runtime = environment.value("XDG_RUNTIME_DIR");
    if (!runtime.empty()) return runtime + "/com.kelvatrum.Parlowen";
    return "/tmp/com.kelvatrum.Parlowen-" + std::to_string(::getuid());
}

SingleInstance::SingleInstance(std::string path, platform::Executor& main, std::function<void()> onReopen)
    : path_(std::move(path)), main_(main), onReopen_(std::move(onReopen)), log_("com.kelvatrum.Parlowen", "lifecycle") {
    auto address = addressOf(path_);
    if (!address) {
        log_.error("single-instance socket path too long: {}", path_);
        return;
    }
    // Two tries: a start racing this one may bind between our connect and bind.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (handOff(*address)) {
            role_ = Role::secondary;
            return;
        }
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) break;
        // Nobody answers: a socket file left here belongs to an ended instance.
        if (attempt == 0) ::unlink(path_.c_str());
        if (::bind(fd, reinterpret_cast<const sockaddr*>(&*address), sizeof(*address)) == 0 && ::listen(fd, 4) == 0) {
            listenFd_ = fd;
            break;
        }
        const int error = errno;
        ::close(fd);
        if (error != EADDRINUSE) {
            log_.error("single-instance socket unavailable: {}", std::strerror(error));
            return;
        }
    }
    if (listenFd_ < 0) return;
    if (::pipe2(wakeFds_, O_CLOEXEC) != 0) {
        ::close(listenFd_);
        listenFd_ = -1;
        return;
    }
    listener_ = std::thread([this] { listen(); });
}

SingleInstance::~SingleInstance() {
    if (listener_.joinable()) {
        const char stop = 1;
        [[maybe_unused]] auto n = ::write(wakeFds_[1], &stop, 1);
        listener_.join();
    }
    // After the join: the listener reads the lifetime when it posts.
    lifetime_.end();
    for (int fd : wakeFds_)
        if (fd >= 0) ::close(fd);
    if (listenFd_ >= 0) {
        ::close(listenFd_);
        ::unlink(path_.c_str());
    }
}

void SingleInstance::listen() {
    for (;;) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakeFds_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents) return;
        if (!(fds[0].revents & POLLIN)) continue;
        const int client = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) continue;
        // Only a well-formed request counts; a stray connection does nothing.
        char buffer[16] = {};
        const std::size_t want = std::strlen(kReopenRequest);
        std::size_t got = 0;
        while (got < want) {
            pollfd one{client, POLLIN, 0};
            if (::poll(&one, 1, 1000) <= 0) break;
            const ssize_t n = ::recv(client, buffer + got, want - got, 0);
            if (n <= 0) break;
            got += static_cast<std::size_t>(n);
        }
        ::close(client);
        if (got == want && std::memcmp(buffer, kReopenRequest, want) == 0)
            main_.post(lifetime_.guard([this] {
                if (onReopen_) onReopen_();
            }));
    }
}

}  // namespace parlowen
