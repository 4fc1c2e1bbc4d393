#include <gmock/gmock.h>
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

#include "platform/log/LogSink.h"
#include "platform/runtime/Environment.h"
#include "platform/testsupport/Process.h"
#include "platform/testsupport/TempHome.h"
#include "platform/values/XdgDirs.h"

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

using ::testing::HasSubstr;
using ::testing::MatchesRegex;

// No display and nothing that asks for log mirroring.
platform::Environment headless() {
    return platform::Environment::fromProcess()
        .without("DISPLAY")
        .without("WAYLAND_DISPLAY")
        .without("QT_QPA_PLATFORM")
        .without("PARLOWEN_LOG_STDERR");
}

// The program loads some hundred and fifty libraries: on a busy machine its
// start alone can take several seconds, even just to print its help.
const testsupport::RunOptions kSlowStart{.timeout = std::chrono::seconds(60)};

TEST(ParlowenProgram, ExplainsItselfAndItsVersionWithoutADisplay) {
    const auto env = headless();
    for (const char* option : {"--help", "-h"}) {
        const auto help = testsupport::runProcess({PARLOWEN_EXECUTABLE, option}, env, kSlowStart);
        ASSERT_EQ(help.exitCode, 0) << help.describe();
        EXPECT_THAT(help.out, HasSubstr("Usage: Parlowen "));
        EXPECT_THAT(help.out, HasSubstr("  Dictation                 Super+Shift+D     (⇧⌘D)\n"));
        EXPECT_THAT(help.out, HasSubstr("  Read aloud                Ctrl+Shift+S      (⌃⇧S)\n"));
        EXPECT_THAT(help.out, HasSubstr("  Notepad                   Super+Shift+N     (⇧⌘N)\n"));
        EXPECT_THAT(help.out, HasSubstr("  Summarise and read aloud  Ctrl+Alt+Shift+S  (⌃⌥⇧S)\n"));
        const platform::XdgDirs dirs(env);
        EXPECT_THAT(help.out, HasSubstr("Settings: " + (dirs.configHome() / "com.kelvatrum.Parlowen/defaults.json").string()));
        EXPECT_THAT(help.out, HasSubstr("Data:     " + (dirs.dataHome() / "com.kelvatrum.Parlowen/").string()));
        EXPECT_THAT(help.out, HasSubstr("journalctl -t Parlowen"));
        EXPECT_THAT(help.out, HasSubstr("Ctrl+C"));
        EXPECT_EQ(help.err, "");
    }
    const auto version = testsupport::runProcess({PARLOWEN_EXECUTABLE, "--version"}, env, kSlowStart);
    EXPECT_EQ(version.exitCode, 0) << version.describe();
    EXPECT_THAT(version.out, MatchesRegex("Parlowen [0-9]+\\.[0-9]+\\.[0-9]+\n"));
    EXPECT_EQ(version.err, "");
}

TEST(ParlowenProgram, RefusesWhatItDoesNotKnowWithExitStatus2) {
    const struct {
        std::vector<std::string> arguments;
        std::string error;
    } cases[] = {
        {{"--frob"}, "Parlowen: unknown option '--frob'\n"},
        {{"-platform", "offscreen", "--verbose"}, "Parlowen: unknown option '--verbose'\n"},
        {{"notes.txt"}, "Parlowen: unexpected argument 'notes.txt'\n"},
        {{"-platform"}, "Parlowen: option '-platform' needs a value\n"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> argv{PARLOWEN_EXECUTABLE};
        argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
        const auto r = testsupport::runProcess(argv, headless(), kSlowStart);
        EXPECT_EQ(r.exitCode, 2) << r.describe();
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, c.error + "Try 'Parlowen --help' for more information.\n");
    }
}

// Standard error is a file here, never a terminal.
class LoggingProgram {
public:
    explicit LoggingProgram(const platform::Environment& env) {
        auto spawned = testsupport::Process::spawn({PARLOWEN_EXECUTABLE}, env.with("QT_QPA_PLATFORM", "offscreen"),
                                                   {.outputFile = dir_ / "output.txt"});
        if (spawned) process_ = std::move(*spawned);
    }
    bool started() const { return process_.pid() > 0; }
    bool waitForOutput(const std::string& text) {
        return testsupport::waitUntil([&] { return process_.output().find(text) != std::string::npos; },
                                      std::chrono::seconds(20));
    }
    testsupport::Process& process() { return process_; }

private:
    testsupport::TempDir dir_;
    testsupport::Process process_;
};

TEST(ParlowenProgram, ScriptsRunSeesTheLaunchAndExitLinesOnStandardError) {
    LoggingProgram program(headless().with("PARLOWEN_LOG_STDERR", "1"));
    ASSERT_TRUE(program.started());
    ASSERT_TRUE(program.waitForOutput("notice [com.kelvatrum.Parlowen:lifecycle] launch version="))
        << program.process().output();
    program.process().stop(std::chrono::seconds(10));
    EXPECT_THAT(program.process().output(), HasSubstr("notice [com.kelvatrum.Parlowen:lifecycle] exit code=0\n"));
}

TEST(ParlowenProgram, WithoutAJournalTheLogGoesToStandardError) {
    if (platform::journalAvailable()) GTEST_SKIP() << "this machine runs a journal";
    LoggingProgram program(headless());
    ASSERT_TRUE(program.started());
    ASSERT_TRUE(program.waitForOutput("[com.kelvatrum.Parlowen:lifecycle] launch version="))
        << program.process().output();
    // Below notice too: standard error stands in for the journal.
    ASSERT_TRUE(program.waitForOutput("info [com.kelvatrum.Parlowen:lifecycle] bundle path="))
        << program.process().output();
}

}  // namespace
