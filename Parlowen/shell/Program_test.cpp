#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <vector>

#include "platform/runtime/Environment.h"
#include "platform/testsupport/TempHome.h"

namespace {

// Runs the real program offscreen; it dies with the test if the test dies first.
class RunningProgram {
public:
    RunningProgram() {
        const auto environment = platform::Environment::fromProcess().with("QT_QPA_PLATFORM", "offscreen");
        std::vector<std::string> entries;
        for (const auto& [name, value] : environment.all()) entries.push_back(name + "=" + value);
        std::vector<char*> envp;
        for (auto& e : entries) envp.push_back(e.data());
        envp.push_back(nullptr);

        std::string path = PARLOWEN_EXECUTABLE;
        char* argv[] = {path.data(), nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        spawned_ = posix_spawn(&pid_, path.c_str(), &actions, nullptr, argv, envp.data()) == 0;
        posix_spawn_file_actions_destroy(&actions);
        if (spawned_) pidfd_ = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
    }

    ~RunningProgram() {
        if (spawned_ && !reaped_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (pidfd_ >= 0) ::close(pidfd_);
    }

    bool spawned() const { return spawned_ && pidfd_ >= 0; }
    pid_t pid() const { return pid_; }

    // Waits up to `timeout` for the process to end; true once it has.
    bool waitForExit(std::chrono::milliseconds timeout) {
        pollfd p{pidfd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0) return false;
        reaped_ = ::waitpid(pid_, &status_, 0) == pid_;
        return reaped_;
    }
    int status() const { return status_; }

    // True once the process has its own handler for `sig` (SigCgt in /proc),
    // false when it ended or `timeout` passed first.
    bool waitUntilCatching(int sig, std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            if (catches(sig)) return true;
            pollfd p{pidfd_, POLLIN, 0};
            if (::poll(&p, 1, 10) > 0) return false;  // it ended
        }
        return false;
    }

private:
    bool catches(int sig) const {
        std::ifstream in("/proc/" + std::to_string(pid_) + "/status");
        std::string line;
        while (std::getline(in, line)) {
            if (line.rfind("SigCgt:", 0) != 0) continue;
            const unsigned long long mask = std::stoull(line.substr(7), nullptr, 16);
            return (mask >> (sig - 1)) & 1u;
        }
        return false;
    }

    pid_t pid_ = -1;
    int pidfd_ = -1;
    bool spawned_ = false;
    bool reaped_ = false;
    int status_ = 0;
};

TEST(ParlowenProgram, RunsUntilToldToQuitAndExitsCleanlyOnSignals) {
    using namespace std::chrono_literals;
    for (int sig : {SIGTERM, SIGINT}) {
        RunningProgram program;
        ASSERT_TRUE(program.spawned());
        ASSERT_TRUE(program.waitUntilCatching(sig, 10s)) << "the program ended or never handled signal " << sig;
        // With no window open it keeps running.
        EXPECT_FALSE(program.waitForExit(200ms));

        ASSERT_EQ(::kill(program.pid(), sig), 0);
        ASSERT_TRUE(program.waitForExit(5s)) << "no exit after signal " << sig;
        ASSERT_TRUE(WIFEXITED(program.status())) << "killed by signal " << WTERMSIG(program.status());
        EXPECT_EQ(WEXITSTATUS(program.status()), 0);
    }
}

}  // namespace
