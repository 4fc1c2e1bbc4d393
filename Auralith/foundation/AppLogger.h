#pragma once

// The speech package's logger: one per class, created once. Entries go to the
// system log under a subsystem and a category; warnings and worse are also
// mirrored to standard error, one line each, whether or not the system log
// takes them.

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "platform/log/Log.h"

namespace auralith {

class AppLogger {
public:
    enum class Level : int { debug = 0, info = 1, notice = 2, warning = 3, error = 4, fault = 5 };
    static std::optional<Level> levelFromRawValue(int raw);

    // Takes the default subsystem as it is now; a later change does not reach this logger.
    explicit AppLogger(std::string category);
    AppLogger(std::string subsystem, std::string category);

    // "com.corvexa" until changed; set it, if at all, before package components are first used.
    static std::string defaultSubsystem();
    static void setDefaultSubsystem(std::string subsystem);

    const std::string& subsystem() const { return osLogger_.subsystem(); }
    const std::string& category() const { return osLogger_.category(); }

    void log(Level level, std::string_view message) const;
    void debug(std::string_view message) const { log(Level::debug, message); }
    void info(std::string_view message) const { log(Level::info, message); }
    void notice(std::string_view message) const { log(Level::notice, message); }
    void warning(std::string_view message) const { log(Level::warning, message); }
    void error(std::string_view message) const { log(Level::error, message); }
    void fault(std::string_view message) const { log(Level::fault, message); }

private:
    platform::Logger osLogger_;
};

inline constexpr const char* kTtsSubsystem = "com.auralith.tts";
inline constexpr const char* kDiarizationSubsystem = "com.auralith.diarization";

// The standard-error mirror.
struct LogConsole {
    // "DEBUG", "INFO", "NOTICE", "WARN", "ERROR", "FAULT".
    static std::string_view levelWord(AppLogger::Level level);
    // "[HH:mm:ss.SSS] [WARN] [Auralith.<category>] <message>\n", local time.
    static std::string formatLine(AppLogger::Level level, std::string_view category, std::string_view message,
                                  std::chrono::system_clock::time_point time);
    // Writes the line for now to standard error in one write, completing a
    // short one; a failed write is reported on standard output and otherwise
    // ignored.
    static void write(AppLogger::Level level, std::string_view category, std::string_view message);
};

}  // namespace auralith
