#include "platform/log/JournalSink.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <systemd/sd-journal.h>

#include "platform/log/CaptureSink.h"
#include "platform/runtime/Environment.h"
#include "platform/testsupport/Services.h"

namespace {

using platform::LogLevel;

platform::LogRecord record(LogLevel level, std::string_view message) {
    return platform::LogRecord{std::chrono::system_clock::now(), level, "com.kelvatrum.Parlowen", "notepad", message};
}

TEST(JournalSink, LevelsMapToSyslogPriorities) {
    const std::pair<LogLevel, int> table[] = {
        {LogLevel::debug, 7}, {LogLevel::info, 6}, {LogLevel::notice, 5}, {LogLevel::error, 3}, {LogLevel::fault, 2}};
    for (auto [level, priority] : table) {
        EXPECT_EQ(platform::journalPriority(level), priority) << platform::logLevelName(level);
        EXPECT_EQ(platform::journalFields(record(level, "x"), "")[1], fmt::format("PRIORITY={}", priority));
    }
}

TEST(JournalSink, FieldsCarryMessageSubsystemCategoryAndIdentifier) {
    EXPECT_EQ(platform::journalFields(record(LogLevel::notice, "saved note id=3 title=a=b"), "parlowen"),
              (std::vector<std::string>{"MESSAGE=saved note id=3 title=a=b", "PRIORITY=5",
                                        "SUBSYSTEM=com.kelvatrum.Parlowen", "CATEGORY=notepad",
                                        "SYSLOG_IDENTIFIER=parlowen"}));
    // No identifier, no field; line breaks stay inside the message.
    auto fields = platform::journalFields(record(LogLevel::error, "line one\nline two"), "");
    ASSERT_EQ(fields.size(), 4u);
    EXPECT_EQ(fields[0], "MESSAGE=line one\nline two");
}

TEST(JournalSink, LoggerEntriesReachTheSenderAsJournalFields) {
    platform::ScopedLogCapture capture;  // restores the sinks afterwards
    std::vector<std::vector<std::string>> sent;
    auto sink = std::make_shared<platform::JournalSink>("parlowen", [&](const std::vector<std::string>& fields) {
        sent.push_back(fields);
        return -ENOENT;  // an unreachable journal is not the caller's problem
    });
    platform::setLogSinks({sink});
    platform::Logger("com.kelvatrum.Parlowen", "listen-later").fault("queue lost count={}", 3);

    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], (std::vector<std::string>{"MESSAGE=queue lost count=3", "PRIORITY=2",
                                                 "SUBSYSTEM=com.kelvatrum.Parlowen", "CATEGORY=listen-later",
                                                 "SYSLOG_IDENTIFIER=parlowen"}));
}

TEST(JournalSink, TheJournalSinkIsInstalledAtStart) {
    // Runs before any test replaces the sinks only when run alone; the
    // restored list after a capture is the list from before it, so this holds either way.
    auto sinks = platform::logSinks();
    ASSERT_EQ(sinks.size(), 1u);
    EXPECT_NE(dynamic_cast<platform::JournalSink*>(sinks[0].get()), nullptr);
    EXPECT_FALSE(platform::standardErrorLogging());
}

// --- Against a real systemd-journald -------------------------------------
//
// A child process gets a private mount namespace with fresh tmpfs on /run and
// /var/log, starts its own journald there (volatile storage, no kernel log),
// logs through JournalSink and reads the entry back with sd-journal. It
// reports "KEY=value" lines, or "SKIP <reason>", through a pipe.

constexpr const char* kJournald = "/lib/systemd/systemd-journald";

void report(int fd, const std::string& text) {
    std::string line = text + "\n";
    (void)!::write(fd, line.data(), line.size());
}

bool writeFile(const char* path, const std::string& content) {
    std::ofstream out(path);
    out << content;
    return bool(out);
}

std::string field(sd_journal* j, const char* name) {
    const void* data = nullptr;
    size_t length = 0;
    if (sd_journal_get_data(j, name, &data, &length) < 0) return "(none)";
    std::string text(static_cast<const char*>(data), length);
    return text.substr(std::strlen(name) + 1);
}

[[noreturn]] void journalChild(int out, const std::string& marker) {
    auto skip = [&](const std::string& why) {
        report(out, "SKIP " + why + ": " + std::strerror(errno));
        _exit(0);
    };
    if (::access(kJournald, X_OK) != 0) skip("no systemd-journald");
    if (::unshare(CLONE_NEWNS) != 0) skip("cannot make a mount namespace");
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) skip("cannot make mounts private");
    if (::mount("tmpfs", "/run", "tmpfs", 0, "mode=0755") != 0) skip("cannot mount /run");
    struct stat st{};
    if (::stat("/var/log", &st) == 0 && ::mount("tmpfs", "/var/log", "tmpfs", 0, "mode=0755") != 0)
        skip("cannot mount /var/log");
    ::mkdir("/run/systemd", 0755);
    ::mkdir("/run/systemd/journald.conf.d", 0755);
    if (!writeFile("/run/systemd/journald.conf.d/test.conf",
                   "[Journal]\nStorage=volatile\nReadKMsg=no\nForwardToSyslog=no\nForwardToKMsg=no\n"
                   "ForwardToConsole=no\nForwardToWall=no\n"))
        skip("cannot write journald configuration");

    pid_t journald = ::fork();
    if (journald == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        int devnull = ::open("/dev/null", O_RDWR);
        ::dup2(devnull, 0);
        ::dup2(devnull, 1);
        ::dup2(devnull, 2);
        ::execl(kJournald, kJournald, static_cast<char*>(nullptr));
        _exit(127);
    }
    auto finish = [&](int code) {
        ::kill(journald, SIGTERM);
        ::waitpid(journald, nullptr, 0);
        _exit(code);
    };
    bool up = false;
    for (int i = 0; i < 200 && !up; ++i) {
        up = ::access("/run/systemd/journal/socket", F_OK) == 0;
        if (!up) ::usleep(25'000);
    }
    if (!up) {
        report(out, "SKIP journald did not start");
        finish(0);
    }

    platform::JournalSink sink;
    platform::LogRecord entry{std::chrono::system_clock::now(), LogLevel::notice, marker, "engine.tts.cmu",
                              "voice ready\nsecond line"};
    sink.write(entry);
    report(out, fmt::format("SENT={}", platform::JournalSink::sendToJournal(
                                           platform::journalFields({entry.time, LogLevel::fault, marker, "second", "again"},
                                                                   "custom-id"))));

    // journald stores asynchronously: poll for both entries.
    for (int attempt = 0; attempt < 200; ++attempt) {
        sd_journal* j = nullptr;
        if (sd_journal_open_directory(&j, "/run/log/journal", 0) >= 0) {
            sd_journal_add_match(j, ("SUBSYSTEM=" + marker).c_str(), 0);
            std::vector<std::string> found;
            SD_JOURNAL_FOREACH(j) {
                found.push_back(fmt::format("MESSAGE={}|PRIORITY={}|CATEGORY={}|SYSLOG_IDENTIFIER={}",
                                            field(j, "MESSAGE"), field(j, "PRIORITY"), field(j, "CATEGORY"),
                                            field(j, "SYSLOG_IDENTIFIER")));
            }
            sd_journal_close(j);
            if (found.size() >= 2) {
                for (auto& f : found) {
                    std::replace(f.begin(), f.end(), '\n', '~');
                    report(out, "ENTRY " + f);
                }
                finish(0);
            }
        }
        ::usleep(25'000);
    }
    report(out, "TIMEOUT");
    finish(1);
    _exit(1);
}

TEST(JournalSinkIntegration, EntriesLandInARealJournalWithTheirFields) {
    int pipefd[2];
    ASSERT_EQ(::pipe(pipefd), 0);
    std::string marker = fmt::format("com.kelvatrum.Parlowen.test-{}", ::getpid());
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(pipefd[0]);
        journalChild(pipefd[1], marker);
    }
    ::close(pipefd[1]);
    std::string output;
    char buf[1024];
    ssize_t n;
    while ((n = ::read(pipefd[0], buf, sizeof buf)) > 0) output.append(buf, size_t(n));
    ::close(pipefd[0]);
    int status = 0;
    ::waitpid(child, &status, 0);

    if (output.starts_with("SKIP")) {
        if (testsupport::servicesRequired())
            FAIL() << "journald needed but unavailable: " << output;
        GTEST_SKIP() << output;
    }
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << output;
    EXPECT_NE(output.find("SENT=0\n"), std::string::npos) << output;
    EXPECT_NE(output.find("ENTRY MESSAGE=voice ready~second line|PRIORITY=5|CATEGORY=engine.tts.cmu|"
                          "SYSLOG_IDENTIFIER=log_test\n"),
              std::string::npos)
        << output;
    EXPECT_NE(output.find("ENTRY MESSAGE=again|PRIORITY=2|CATEGORY=second|SYSLOG_IDENTIFIER=custom-id\n"),
              std::string::npos)
        << output;
}

}  // namespace
