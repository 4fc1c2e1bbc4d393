#include "Auralith/foundation/AppLogger.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>

#include <fmt/format.h>

namespace auralith {

namespace {

std::mutex& subsystemMutex() {
    static std::mutex m;
    return m;
}

std::string& defaultSubsystemStorage() {
    static std::string subsystem = "com.corvexa";
    return subsystem;
}

// A warning goes to the system log as an error entry, as the package always did.
platform::LogLevel systemLevel(AppLogger::Level level) {
    switch (level) {
        case AppLogger::Level::debug: return platform::LogLevel::debug;
        case AppLogger::Level::info: return platform::LogLevel::info;
        case AppLogger::Level::notice: return platform::LogLevel::notice;
        case AppLogger::Level::warning: return platform::LogLevel::error;
        case AppLogger::Level::error: return platform::LogLevel::error;
        case AppLogger::Level::fault: return platform::LogLevel::fault;
    }
    return platform::LogLevel::info;
}

}  // namespace

std::optional<AppLogger::Level> AppLogger::levelFromRawValue(int raw) {
    if (raw < 0 || raw > 5) return std::nullopt;
    return static_cast<Level>(raw);
}

AppLogger::AppLogger(std::string category) : AppLogger(defaultSubsystem(), std::move(category)) {}

AppLogger::AppLogger(std::string subsystem, std::string category)
    : osLogger_(std::move(subsystem), std::move(category)) {}

std::string AppLogger::defaultSubsystem() {
    std::lock_guard lock(subsystemMutex());
    return defaultSubsystemStorage();
}

void AppLogger::setDefaultSubsystem(std::string subsystem) {
    std::lock_guard lock(subsystemMutex());
    defaultSubsystemStorage() = std::move(subsystem);
}

void AppLogger::log(Level level, std::string_view message) const {
    // Dynamic text is private in the system log unless redaction is turned off.
    osLogger_.log(systemLevel(level), "{}", platform::priv(message));
    if (level >= Level::warning) LogConsole::write(level, category(), message);
}

std::string_view LogConsole::levelWord(AppLogger::Level level) {
    switch (level) {
        case AppLogger::Level::debug: return "DEBUG";
        case AppLogger::Level::info: return "INFO";
        case AppLogger::Level::notice: return "NOTICE";
        case AppLogger::Level::warning: return "WARN";
        case AppLogger::Level::error: return "ERROR";
        case AppLogger::Level::fault: return "FAULT";
    }
    return "INFO";
}

std::string LogConsole::formatLine(AppLogger::Level level, std::string_view category, std::string_view message,
                                   std::chrono::system_clock::time_point time) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    std::tm local{};
    localtime_r(&seconds, &local);
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count() % 1000;
    if (ms < 0) ms += 1000;
    return fmt::format("[{:02}:{:02}:{:02}.{:03}] [{}] [Auralith.{}] {}\n", local.tm_hour, local.tm_min, local.tm_sec,
                       ms, levelWord(level), category, message);
}

void LogConsole::write(AppLogger::Level level, std::string_view category, std::string_view message) {
    const std::string line = formatLine(level, category, message, std::chrono::system_clock::now());
    // One write for the line, so concurrent lines never interleave; a short
    // write (a full pipe, a non-blocking terminal) is completed.
    if (const int error = platform::writeAllToDescriptor(STDERR_FILENO, line); error != 0) {
        const std::string report = fmt::format("Failed to write to stderr: {}\n", std::strerror(error));
        std::fwrite(report.data(), 1, report.size(), stdout);
        std::fflush(stdout);
    }
}

}  // namespace auralith
