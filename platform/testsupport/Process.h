#pragma once

// Child processes for tests: programs run to completion with their output
// captured, and long-running children (daemons, helper programs) that die
// with the test.
//
// Every child is started with PR_SET_PDEATHSIG (SIGKILL unless it asks for
// another signal), so it is killed when the thread that started it ends; start children from the test's main
// thread (or from a thread that outlives them). Each child leads its own
// process group, so stopping it also ends what it started and left in its
// group. The child gets default signal dispositions, an empty signal mask and
// only descriptors 0-2 (plus any it is explicitly given).

#include <sys/types.h>

#include <csignal>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/runtime/Environment.h"
#include "platform/runtime/Error.h"

namespace testsupport {

struct RunOptions {
    // Given to the child as standard input, followed by end of file.
    std::string input;
    // The child and its process group are killed when it runs longer.
    std::chrono::milliseconds timeout{10'000};
    std::optional<std::filesystem::path> workingDirectory;
};

struct RunResult {
    int exitCode = -1;  // -1 when ended by a signal or never started
    int signal = 0;     // the signal that ended it, if any
    bool timedOut = false;
    std::string out;
    std::string err;

    bool ok() const { return exitCode == 0 && !timedOut; }
    // One line for assertion messages: status, then both outputs.
    std::string describe() const;
};

// Runs a program to completion and captures standard output and error.
// argv[0] is looked up in the PATH of `env` unless it contains a slash; a
// program that cannot be found or started gives exit code 127 and says why
// in `err`. Returns as soon as the program itself has exited, even if a
// process it left in the background still holds its output open (xclip
// does this to serve the selection).
RunResult runProcess(const std::vector<std::string>& argv, const platform::Environment& env,
                     const RunOptions& options = {});

struct ExitStatus {
    int code = -1;   // -1 when ended by a signal
    int signal = 0;
};

struct SpawnOptions {
    // Standard input: this text and then end of file; /dev/null when absent.
    std::optional<std::string> input;
    // Standard output and error are appended here; /dev/null when empty.
    std::filesystem::path outputFile;
    // Descriptors handed to the child as 3, 4, ... in this order (the caller
    // keeps and closes its own copies).
    std::vector<int> extraFds;
    std::optional<std::filesystem::path> workingDirectory;
    // What the child gets when the thread that started it ends. A daemon
    // that must end what it started itself (which SIGKILL would orphan) asks
    // for SIGTERM.
    int deathSignal = SIGKILL;
};

// A running child. Stopped (and reaped) on destruction.
class Process {
public:
    static platform::Result<Process> spawn(const std::vector<std::string>& argv,
                                           const platform::Environment& env, SpawnOptions options = {});

    Process() = default;
    Process(Process&& other) noexcept;
    Process& operator=(Process&& other) noexcept;
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;
    ~Process();

    // The child's PID; kept after stop() so tests can check that it is gone.
    pid_t pid() const { return pid_; }
    // Becomes readable when the child has exited, for poll(); -1 once reaped.
    int pidfd() const { return pidfd_; }
    const std::string& name() const { return name_; }
    const std::filesystem::path& outputFile() const { return outputFile_; }

    bool running() const;
    // Empty while the child runs.
    std::optional<ExitStatus> exitStatus() const;
    // Waits for the child to exit on its own; true if it has.
    bool waitForExit(std::chrono::milliseconds timeout) const;
    // SIGTERM to the child's process group, SIGKILL after `grace`, then reaps
    // the child. Safe to call more than once.
    void stop(std::chrono::milliseconds grace = std::chrono::milliseconds(2000));
    // What the child has written to its output file so far.
    std::string output() const;

private:
    pid_t pid_ = -1;
    int pidfd_ = -1;
    bool reaped_ = false;
    ExitStatus status_;
    std::string name_;
    std::filesystem::path outputFile_;
};

// True once `pid` runs no more: it is gone, or a zombie waiting to be reaped.
bool processGone(pid_t pid);

// Checks `condition` at short, growing intervals (a few milliseconds at
// first) until it holds or `timeout` has passed; returns its last answer.
bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

// Another program puts `text` on the clipboard of the display in `env`: xclip,
// which stays behind to serve it. Its first process exits before the one left
// behind owns the selection, so this returns only once a reader sees the text
// there; the result says what went wrong otherwise.
RunResult xclipWriteAndConfirm(const std::string& text, const platform::Environment& env);

}  // namespace testsupport
