#include "platform/testsupport/Process.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "platform/testsupport/TempHome.h"

namespace testsupport {
namespace {

using ::testing::HasSubstr;
using namespace std::chrono_literals;

platform::Environment env() { return platform::Environment::fromProcess(); }

pid_t readPid(const std::filesystem::path& file) {
    std::ifstream in(file);
    pid_t pid = -1;
    in >> pid;
    return pid;
}

TEST(RunProcess, CapturesBothOutputsExitCodeAndInput) {
    auto r = runProcess({"sh", "-c", "cat; echo oops >&2; exit 3"}, env(), RunOptions{.input = "hello\n"});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(r.out, "hello\n");
    EXPECT_EQ(r.err, "oops\n");
    EXPECT_FALSE(r.ok());
    EXPECT_FALSE(r.timedOut);
}

TEST(RunProcess, UsesTheGivenEnvironmentOnly) {
    platform::Environment only({{"PATH", "/usr/bin:/bin"}, {"PARLOWEN_PROBE", "x y"}});
    auto r = runProcess({"env"}, only);
    ASSERT_TRUE(r.ok()) << r.describe();
    EXPECT_THAT(r.out, HasSubstr("PARLOWEN_PROBE=x y\n"));
    EXPECT_THAT(r.out, ::testing::Not(HasSubstr("HOME=")));
}

TEST(RunProcess, MissingProgramReportsWhy) {
    auto r = runProcess({"parlowen-no-such-program"}, env());
    EXPECT_EQ(r.exitCode, 127);
    EXPECT_THAT(r.err, HasSubstr("parlowen-no-such-program"));
}

TEST(RunProcess, KillsAProgramThatOverrunsItsTimeout) {
    auto start = std::chrono::steady_clock::now();
    auto r = runProcess({"sleep", "30"}, env(), RunOptions{.timeout = 200ms});
    EXPECT_TRUE(r.timedOut);
    EXPECT_FALSE(r.ok());
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
}

// Like `xclip -i`, which leaves a child serving the selection with our pipes open.
TEST(RunProcess, ReturnsWhenTheProgramExitsEvenIfItsBackgroundChildHoldsTheOutput) {
    TempDir dir;
    auto start = std::chrono::steady_clock::now();
    auto r = runProcess({"sh", "-c", "sleep 30 & echo $! > " + (dir / "bg.pid").string() + "; echo done"}, env());
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    ASSERT_TRUE(r.ok()) << r.describe();
    EXPECT_EQ(r.out, "done\n");
    pid_t background = readPid(dir / "bg.pid");
    ASSERT_GT(background, 0);
    ::kill(background, SIGKILL);
}

TEST(Process, StopEndsTheChildAndWhatItLeftInItsGroup) {
    TempDir dir;
    auto p = Process::spawn({"sh", "-c", "sleep 30 & echo $! > " + (dir / "bg.pid").string() + "; echo up; wait"},
                            env(), SpawnOptions{.outputFile = dir / "out.log"});
    ASSERT_TRUE(p) << p.error().description;
    ASSERT_TRUE(waitUntil([&] { return p->output() == "up\n"; }, 5s)) << p->output();
    pid_t background = readPid(dir / "bg.pid");
    ASSERT_GT(background, 0);
    EXPECT_TRUE(p->running());

    p->stop();
    EXPECT_FALSE(p->running());
    EXPECT_TRUE(processGone(p->pid()));
    EXPECT_TRUE(waitUntil([&] { return processGone(background); }, 2s));
    ASSERT_TRUE(p->exitStatus());
    EXPECT_EQ(p->exitStatus()->signal, SIGTERM);
}

TEST(Process, ReportsHowItExitedAndFeedsItsInput) {
    TempDir dir;
    auto p = Process::spawn({"sh", "-c", "read line; echo got $line; exit 4"}, env(),
                            SpawnOptions{.input = "ping\n", .outputFile = dir / "out.log"});
    ASSERT_TRUE(p) << p.error().description;
    ASSERT_TRUE(p->waitForExit(5s));
    ASSERT_TRUE(p->exitStatus());
    EXPECT_EQ(p->exitStatus()->code, 4);
    EXPECT_EQ(p->output(), "got ping\n");
}

// The guarantee the service fixtures rest on: a daemon does not outlive the
// test that started it, even when the test dies without cleaning up.
TEST(Process, DiesWithTheProcessThatStartedIt) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    pid_t test = ::fork();
    ASSERT_GE(test, 0);
    if (test == 0) {
        ::close(fds[0]);
        auto p = Process::spawn({"sleep", "30"}, platform::Environment::fromProcess());
        pid_t pid = p ? p->pid() : -1;
        (void)!::write(fds[1], &pid, sizeof pid);
        ::_exit(0);  // no destructors: the child must die of PR_SET_PDEATHSIG alone
    }
    ::close(fds[1]);
    pid_t daemon = -1;
    ASSERT_EQ(::read(fds[0], &daemon, sizeof daemon), static_cast<ssize_t>(sizeof daemon));
    ::close(fds[0]);
    ::waitpid(test, nullptr, 0);
    ASSERT_GT(daemon, 0);
    EXPECT_TRUE(waitUntil([&] { return processGone(daemon); }, 3s));
}

}  // namespace
}  // namespace testsupport
