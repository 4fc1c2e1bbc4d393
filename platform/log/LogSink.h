#pragma once

// Where log entries go. Sinks are installed process-wide; every Logger writes
// to all of them. The registry is thread-safe and never calls a sink while
// holding its own lock, so a sink may log or change the sinks itself.

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/log/Log.h"

namespace platform {

struct LogRecord {
    std::chrono::system_clock::time_point time;
    LogLevel level = LogLevel::info;
    std::string_view subsystem;
    std::string_view category;
    std::string_view message;
};

class LogSink {
public:
    virtual ~LogSink() = default;
    virtual bool accepts(LogLevel) const { return true; }
    // Called from any thread, possibly from several at once.
    virtual void write(const LogRecord& record) = 0;
};

// The sinks in use besides standard error. At start this is the systemd
// journal sink alone.
std::vector<std::shared_ptr<LogSink>> logSinks();
void setLogSinks(std::vector<std::shared_ptr<LogSink>> sinks);
void addLogSink(std::shared_ptr<LogSink> sink);
void removeLogSink(const std::shared_ptr<LogSink>& sink);

// Standard error gets log lines only when this is switched on (off at start):
// every level, or from the given level up.
void setStandardErrorLogging(bool on);
bool standardErrorLogging();
void setStandardErrorLogLevel(std::optional<LogLevel> minimum);
std::optional<LogLevel> standardErrorLogLevel();

// Writes one line per entry to a file descriptor (standard error by default):
// "HH:MM:SS.mmm <level> [<subsystem>:<category>] <message>", local time.
class StandardErrorSink : public LogSink {
public:
    explicit StandardErrorSink(int fd = 2, LogLevel minimum = LogLevel::debug) : fd_(fd), minimum_(minimum) {}
    bool accepts(LogLevel level) const override { return level >= minimum_; }
    void write(const LogRecord& record) override;

private:
    int fd_;
    LogLevel minimum_;
};

// Whether the systemd journal takes entries here (its socket exists).
bool journalAvailable(const std::filesystem::path& socket = "/run/systemd/journal/socket");

// The least level a program mirrors to standard error: from info when there
// is no journal (standard error stands in for it), from notice when standard
// error is a terminal or mirroring was asked for, else none.
std::optional<LogLevel> programStandardErrorLevel(bool journal, bool standardErrorIsTerminal, bool mirrorAsked);

// A program's log destinations, set once at its start: the journal when it is
// available, standard error as programStandardErrorLevel says.
void startProgramLogging(bool mirrorAsked);

}  // namespace platform
