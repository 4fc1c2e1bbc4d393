#include "platform/testsupport/Process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>
#include <utility>

namespace testsupport {
namespace {

using Clock = std::chrono::steady_clock;

platform::Error processError(const std::string& description) {
    return platform::Error::make("testsupport.Process", 1, "spawnFailed", description);
}

std::string errnoText(int err) { return std::strerror(err); }

// Through syscall(): glibc 2.36's <sys/pidfd.h> lacks C linkage for C++.
int openPidfd(pid_t pid) { return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)); }

std::optional<std::string> findExecutable(const std::string& name, const platform::Environment& env) {
    auto usable = [](const std::string& p) {
        struct stat st {};
        return ::stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(p.c_str(), X_OK) == 0;
    };
    if (name.find('/') != std::string::npos) return usable(name) ? std::optional(name) : std::nullopt;
    std::string path = env.value("PATH", "/usr/local/bin:/usr/bin:/bin");
    std::stringstream dirs(path);
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + name;
        if (usable(candidate)) return candidate;
    }
    return std::nullopt;
}

// Everything the child needs, prepared before fork so that the child only
// makes async-signal-safe calls.
struct ChildSetup {
    std::string path;
    std::vector<std::string> argv;
    std::vector<std::string> env;
    std::vector<std::pair<int, int>> fds;  // (descriptor in the child, descriptor here)
    std::string workingDirectory;
    int deathSignal = SIGKILL;
};

void writeAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        data += n;
        size -= static_cast<size_t>(n);
    }
}

[[noreturn]] void childFail(const char* prefix, size_t prefixLength, int err) {
    writeAll(2, prefix, prefixLength);
    const char* text = ::strerrordesc_np(err);  // a static string: safe after fork
    if (text) writeAll(2, text, std::strlen(text));
    writeAll(2, "\n", 1);
    ::_exit(127);
}

platform::Result<pid_t> forkExec(const ChildSetup& setup) {
    std::vector<char*> argv;
    for (const auto& a : setup.argv) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const auto& e : setup.env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    int highest = 2;
    for (const auto& [target, source] : setup.fds) highest = std::max(highest, target);
    std::vector<int> moved(setup.fds.size(), -1);
    const std::string execPrefix = "cannot run " + setup.path + ": ";
    const std::string chdirPrefix = "cannot enter " + setup.workingDirectory + ": ";

    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) return platform::fail(processError("fork failed: " + errnoText(errno)));
    if (pid == 0) {
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        struct sigaction dfl {};
        dfl.sa_handler = SIG_DFL;
        for (int sig = 1; sig < NSIG; ++sig) {
            if (sig != SIGKILL && sig != SIGSTOP) ::sigaction(sig, &dfl, nullptr);
        }
        // Die with the test; if the parent is already gone, don't start at all.
        if (::prctl(PR_SET_PDEATHSIG, setup.deathSignal) != 0 || ::getppid() != parent) ::_exit(127);
        ::setpgid(0, 0);
        // Move every source above the target range first so no dup2 clobbers another source.
        for (size_t i = 0; i < setup.fds.size(); ++i) {
            moved[i] = ::fcntl(setup.fds[i].second, F_DUPFD_CLOEXEC, highest + 1);
            if (moved[i] < 0) childFail(execPrefix.c_str(), execPrefix.size(), errno);
        }
        for (size_t i = 0; i < setup.fds.size(); ++i) {
            if (::dup2(moved[i], setup.fds[i].first) < 0) childFail(execPrefix.c_str(), execPrefix.size(), errno);
        }
        if (::close_range(static_cast<unsigned>(highest + 1), ~0U, 0) != 0) {
            for (int fd = highest + 1; fd < 4096; ++fd) ::close(fd);
        }
        if (!setup.workingDirectory.empty() && ::chdir(setup.workingDirectory.c_str()) != 0) {
            childFail(chdirPrefix.c_str(), chdirPrefix.size(), errno);
        }
        ::execve(setup.path.c_str(), argv.data(), envp.data());
        childFail(execPrefix.c_str(), execPrefix.size(), errno);
    }
    // Also set the group here, so a stop() right after spawn finds it.
    ::setpgid(pid, pid);
    return pid;
}

std::vector<std::string> envStrings(const platform::Environment& env) {
    std::vector<std::string> out;
    for (const auto& [k, v] : env.all()) out.push_back(k + "=" + v);
    return out;
}

// Standard input as an in-memory file: no pipe to fill, no SIGPIPE if the
// child never reads it.
int inputFd(const std::optional<std::string>& input) {
    if (!input) return ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    int fd = ::memfd_create("stdin", MFD_CLOEXEC);
    if (fd < 0) return -1;
    writeAll(fd, input->data(), input->size());
    ::lseek(fd, 0, SEEK_SET);
    return fd;
}

ExitStatus decode(int status) {
    ExitStatus s;
    if (WIFEXITED(status)) s.code = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) s.signal = WTERMSIG(status);
    return s;
}

bool pollReadable(int fd, std::chrono::milliseconds timeout) {
    if (fd < 0) return true;
    auto deadline = Clock::now() + timeout;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd p{fd, POLLIN, 0};
        int r = ::poll(&p, 1, static_cast<int>(std::max<long>(0, left.count())));
        if (r > 0) return true;
        if (r == 0) return false;
        if (errno != EINTR) return false;
    }
}

// Reads what is there now; false at end of file or on error.
bool readAvailable(int fd, std::string& into) {
    char buffer[8192];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            into.append(buffer, static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
        return false;
    }
}

}  // namespace

std::string RunResult::describe() const {
    std::string s;
    if (timedOut) s = "timed out";
    else if (signal) s = "killed by signal " + std::to_string(signal);
    else s = "exit code " + std::to_string(exitCode);
    return s + "; stdout: [" + out + "] stderr: [" + err + "]";
}

RunResult runProcess(const std::vector<std::string>& argv, const platform::Environment& env,
                     const RunOptions& options) {
    RunResult result;
    if (argv.empty()) {
        result.exitCode = 127;
        result.err = "no program given";
        return result;
    }
    auto path = findExecutable(argv[0], env);
    if (!path) {
        result.exitCode = 127;
        result.err = argv[0] + ": not found in PATH";
        return result;
    }
    int in = inputFd(options.input.empty() ? std::nullopt : std::optional(options.input));
    int out[2] = {-1, -1};
    int err[2] = {-1, -1};
    if (in < 0 || ::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
        result.exitCode = 127;
        result.err = "cannot create pipes: " + errnoText(errno);
        for (int fd : {in, out[0], out[1], err[0], err[1]})
            if (fd >= 0) ::close(fd);
        return result;
    }
    ChildSetup setup{*path, argv, envStrings(env), {{0, in}, {1, out[1]}, {2, err[1]}},
                     options.workingDirectory ? options.workingDirectory->string() : std::string()};
    auto pid = forkExec(setup);
    ::close(in);
    ::close(out[1]);
    ::close(err[1]);
    if (!pid) {
        ::close(out[0]);
        ::close(err[0]);
        result.exitCode = 127;
        result.err = pid.error().description;
        return result;
    }
    int pidfd = openPidfd(*pid);
    ::fcntl(out[0], F_SETFL, O_NONBLOCK);
    ::fcntl(err[0], F_SETFL, O_NONBLOCK);

    const auto deadline = Clock::now() + options.timeout;
    int outFd = out[0];
    int errFd = err[0];
    bool exited = false;
    while (!exited) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            ::kill(-*pid, SIGKILL);
            ::kill(*pid, SIGKILL);
            result.timedOut = true;
            break;
        }
        pollfd fds[3] = {{pidfd, POLLIN, 0}, {outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
        int r = ::poll(fds, 3, static_cast<int>(left.count()));
        if (r < 0 && errno != EINTR) break;
        if (r <= 0) continue;
        if (fds[1].revents && !readAvailable(outFd, result.out)) outFd = -1;
        if (fds[2].revents && !readAvailable(errFd, result.err)) errFd = -1;
        if (fds[0].revents) exited = true;
    }
    int status = 0;
    while (::waitpid(*pid, &status, 0) < 0 && errno == EINTR) {
    }
    // Whatever the program wrote is in the pipes now; take it without
    // waiting for background children that may still hold them open.
    if (outFd >= 0) readAvailable(outFd, result.out);
    if (errFd >= 0) readAvailable(errFd, result.err);
    ::close(out[0]);
    ::close(err[0]);
    if (pidfd >= 0) ::close(pidfd);
    auto decoded = decode(status);
    if (!result.timedOut) {
        result.exitCode = decoded.code;
        result.signal = decoded.signal;
    } else {
        result.signal = SIGKILL;
    }
    return result;
}

platform::Result<Process> Process::spawn(const std::vector<std::string>& argv, const platform::Environment& env,
                                         SpawnOptions options) {
    if (argv.empty()) return platform::fail(processError("no program given"));
    auto path = findExecutable(argv[0], env);
    if (!path) return platform::fail(processError(argv[0] + ": not found in PATH"));
    int in = inputFd(options.input);
    if (in < 0) return platform::fail(processError("cannot prepare standard input: " + errnoText(errno)));
    int out = options.outputFile.empty()
                  ? ::open("/dev/null", O_WRONLY | O_CLOEXEC)
                  : ::open(options.outputFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (out < 0) {
        int e = errno;
        ::close(in);
        return platform::fail(processError("cannot open " + options.outputFile.string() + ": " + errnoText(e)));
    }
    ChildSetup setup{*path, argv, envStrings(env), {{0, in}, {1, out}, {2, out}},
                     options.workingDirectory ? options.workingDirectory->string() : std::string()};
    for (size_t i = 0; i < options.extraFds.size(); ++i)
        setup.fds.emplace_back(3 + static_cast<int>(i), options.extraFds[i]);
    setup.deathSignal = options.deathSignal;
    auto pid = forkExec(setup);
    ::close(in);
    ::close(out);
    if (!pid) return platform::fail(pid.error());
    int pidfd = openPidfd(*pid);
    if (pidfd < 0) {
        int e = errno;
        ::kill(-*pid, SIGKILL);
        ::kill(*pid, SIGKILL);
        ::waitpid(*pid, nullptr, 0);
        return platform::fail(processError("pidfd_open failed: " + errnoText(e)));
    }
    Process p;
    p.pid_ = *pid;
    p.pidfd_ = pidfd;
    p.name_ = std::filesystem::path(argv[0]).filename().string();
    p.outputFile_ = options.outputFile;
    return p;
}

Process::Process(Process&& other) noexcept { *this = std::move(other); }

Process& Process::operator=(Process&& other) noexcept {
    if (this != &other) {
        stop();
        pid_ = std::exchange(other.pid_, -1);
        pidfd_ = std::exchange(other.pidfd_, -1);
        reaped_ = std::exchange(other.reaped_, false);
        status_ = other.status_;
        name_ = std::move(other.name_);
        outputFile_ = std::move(other.outputFile_);
    }
    return *this;
}

Process::~Process() { stop(); }

std::optional<ExitStatus> Process::exitStatus() const {
    if (pid_ <= 0) return std::nullopt;
    if (reaped_) return status_;
    siginfo_t info{};
    // WNOWAIT leaves the zombie in place: its PID (and process group) stay ours until stop().
    if (::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) != 0) return std::nullopt;
    if (info.si_pid != pid_) return std::nullopt;
    ExitStatus s;
    if (info.si_code == CLD_EXITED) s.code = info.si_status;
    else s.signal = info.si_status;
    return s;
}

bool Process::running() const { return pid_ > 0 && !reaped_ && !exitStatus(); }

bool Process::waitForExit(std::chrono::milliseconds timeout) const {
    if (pid_ <= 0 || reaped_) return true;
    return pollReadable(pidfd_, timeout);
}

void Process::stop(std::chrono::milliseconds grace) {
    if (pid_ <= 0 || reaped_) return;
    if (::kill(-pid_, SIGTERM) != 0) ::kill(pid_, SIGTERM);
    if (!pollReadable(pidfd_, grace)) {
        ::kill(-pid_, SIGKILL);
        ::kill(pid_, SIGKILL);
        pollReadable(pidfd_, std::chrono::milliseconds(2000));
    }
    // The child is a zombie now and still holds its group id: end whatever
    // it left behind in its group before reaping it.
    ::kill(-pid_, SIGKILL);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    status_ = decode(status);
    reaped_ = true;
    ::close(pidfd_);
    pidfd_ = -1;
}

std::string Process::output() const {
    if (outputFile_.empty()) return {};
    std::ifstream in(outputFile_, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

bool processGone(pid_t pid) {
    if (::kill(pid, 0) != 0) return errno == ESRCH;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    // The state letter follows the command name, which ends at the last ')'.
    auto close = line.rfind(')');
    return close != std::string::npos && line.size() > close + 2 && line[close + 2] == 'Z';
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    auto interval = std::chrono::milliseconds(2);
    for (;;) {
        if (condition()) return true;
        auto now = Clock::now();
        if (now >= deadline) return false;
        std::this_thread::sleep_for(std::min<Clock::duration>(interval, deadline - now));
        interval = std::min(interval * 2, std::chrono::milliseconds(50));
    }
}

RunResult xclipWriteAndConfirm(const std::string& text, const platform::Environment& env) {
    auto written = runProcess({"xclip", "-selection", "clipboard", "-i"}, env, RunOptions{.input = text});
    if (!written.ok()) return written;
    RunResult read;
    // Short reads: while the old owner (perhaps this very process, not serving
    // its loop now) still holds the selection, a read may get no answer.
    const bool seen = waitUntil(
        [&] {
            read = runProcess({"xclip", "-selection", "clipboard", "-o"}, env,
                              RunOptions{.timeout = std::chrono::seconds(2)});
            return read.ok() && read.out == text;
        },
        std::chrono::seconds(30));
    if (seen) return written;
    read.exitCode = read.exitCode == 0 ? 1 : read.exitCode;
    read.err = "the clipboard never showed the written text; last read: " + read.describe();
    return read;
}

}  // namespace testsupport
