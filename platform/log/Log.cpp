#include "platform/log/Log.h"

#include <atomic>
#include <cerrno>
#include <ctime>
#include <exception>
#include <mutex>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/log/JournalSink.h"
#include "platform/log/LogSink.h"

namespace platform {
namespace {

std::atomic<bool> g_redactPrivate{true};

using SinkList = std::vector<std::shared_ptr<LogSink>>;

// Loggers read an immutable snapshot of the sinks, taken under the lock and
// used after it is released, so writers never block each other on a sink.
class Registry {
public:
    Registry() : installed_{std::make_shared<JournalSink>()} { rebuild(); }

    std::shared_ptr<const SinkList> snapshot() {
        std::lock_guard lock(mutex_);
        return active_;
    }

    SinkList installed() {
        std::lock_guard lock(mutex_);
        return installed_;
    }

    template <class Change>
    void change(Change&& apply) {
        std::shared_ptr<const SinkList> old;
        {
            std::lock_guard lock(mutex_);
            apply(installed_, standardError_);
            old = std::move(active_);
            rebuild();
        }
        // `old` may hold the last reference to a sink; release it outside the lock.
    }

    std::optional<LogLevel> standardError() {
        std::lock_guard lock(mutex_);
        return standardError_;
    }

private:
    void rebuild() {
        auto list = std::make_shared<SinkList>(installed_);
        if (standardError_) {
            if (!stderrSink_ || stderrSinkLevel_ != *standardError_) {
                stderrSink_ = std::make_shared<StandardErrorSink>(2, *standardError_);
                stderrSinkLevel_ = *standardError_;
            }
            list->push_back(stderrSink_);
        }
        active_ = std::move(list);
    }

    std::mutex mutex_;
    SinkList installed_;
    std::optional<LogLevel> standardError_;
    std::shared_ptr<LogSink> stderrSink_;
    LogLevel stderrSinkLevel_ = LogLevel::debug;
    std::shared_ptr<const SinkList> active_;
};

// Never destroyed: loggers may still run in other threads or static destructors at exit.
Registry& registry() {
    static Registry* r = new Registry();
    return *r;
}

bool anyAccepts(const SinkList& sinks, LogLevel level) {
    for (const auto& sink : sinks)
        if (sink->accepts(level)) return true;
    return false;
}

void dispatch(const SinkList& sinks, const LogRecord& record) {
    for (const auto& sink : sinks) {
        if (!sink->accepts(record.level)) continue;
        try {
            sink->write(record);
        } catch (...) {
            // A failing sink must not take the caller down, nor silence the others.
        }
    }
}

}  // namespace

std::string_view logLevelName(LogLevel level) {
    switch (level) {
        case LogLevel::debug: return "debug";
        case LogLevel::info: return "info";
        case LogLevel::notice: return "notice";
        case LogLevel::error: return "error";
        case LogLevel::fault: return "fault";
    }
    return "info";
}

void setRedactPrivate(bool on) { g_redactPrivate.store(on, std::memory_order_relaxed); }
bool redactPrivate() { return g_redactPrivate.load(std::memory_order_relaxed); }

Logger::Logger(std::string subsystem, std::string category)
    : subsystem_(std::move(subsystem)), category_(std::move(category)) {}

bool Logger::isEnabled(LogLevel level) const { return anyAccepts(*registry().snapshot(), level); }

void Logger::write(LogLevel level, std::string_view message) const {
    dispatch(*registry().snapshot(),
             LogRecord{std::chrono::system_clock::now(), level, subsystem_, category_, message});
}

// One snapshot of the sinks decides whether to format and receives the entry.
void Logger::writeFormatted(LogLevel level, fmt::string_view format, fmt::format_args args) const {
    const auto sinks = registry().snapshot();
    if (!anyAccepts(*sinks, level)) return;
    std::string message;
    try {
        message = fmt::vformat(format, args);
    } catch (const std::exception& e) {
        message = fmt::format("(unformattable log message \"{}\": {})", std::string_view(format.data(), format.size()),
                              e.what());
    } catch (...) {
        return;
    }
    dispatch(*sinks, LogRecord{std::chrono::system_clock::now(), level, subsystem_, category_, message});
}

std::vector<std::shared_ptr<LogSink>> logSinks() { return registry().installed(); }

void setLogSinks(std::vector<std::shared_ptr<LogSink>> sinks) {
    registry().change([&](SinkList& installed, std::optional<LogLevel>&) { installed = std::move(sinks); });
}

void addLogSink(std::shared_ptr<LogSink> sink) {
    if (!sink) return;
    registry().change([&](SinkList& installed, std::optional<LogLevel>&) { installed.push_back(std::move(sink)); });
}

void removeLogSink(const std::shared_ptr<LogSink>& sink) {
    registry().change([&](SinkList& installed, std::optional<LogLevel>&) { std::erase(installed, sink); });
}

void setStandardErrorLogLevel(std::optional<LogLevel> minimum) {
    registry().change([&](SinkList&, std::optional<LogLevel>& standardError) { standardError = minimum; });
}

std::optional<LogLevel> standardErrorLogLevel() { return registry().standardError(); }

void setStandardErrorLogging(bool on) {
    setStandardErrorLogLevel(on ? std::optional(LogLevel::debug) : std::nullopt);
}

bool standardErrorLogging() { return registry().standardError().has_value(); }

bool journalAvailable(const std::filesystem::path& socket) {
    struct stat st {};
    return ::stat(socket.c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
}

std::optional<LogLevel> programStandardErrorLevel(bool journal, bool standardErrorIsTerminal, bool mirrorAsked) {
    if (!journal) return LogLevel::info;
    if (standardErrorIsTerminal || mirrorAsked) return LogLevel::notice;
    return std::nullopt;
}

void startProgramLogging(bool mirrorAsked) {
    const bool journal = journalAvailable();
    // Entries sent to a journal that is not there would be lost one by one.
    if (!journal)
        registry().change([](SinkList& installed, std::optional<LogLevel>&) {
            std::erase_if(installed, [](const auto& sink) { return dynamic_cast<JournalSink*>(sink.get()); });
        });
    setStandardErrorLogLevel(programStandardErrorLevel(journal, ::isatty(2) == 1, mirrorAsked));
}

void StandardErrorSink::write(const LogRecord& record) {
    using namespace std::chrono;
    auto sinceEpoch = record.time.time_since_epoch();
    std::time_t seconds = duration_cast<std::chrono::seconds>(sinceEpoch).count();
    auto millis = duration_cast<milliseconds>(sinceEpoch).count() % 1000;
    if (millis < 0) millis += 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    std::string line = fmt::format("{:02}:{:02}:{:02}.{:03} {} [{}:{}] {}\n", local.tm_hour, local.tm_min,
                                   local.tm_sec, millis, logLevelName(record.level), record.subsystem,
                                   record.category, record.message);
    // One write per line so lines from several threads do not interleave.
    (void)writeAllToDescriptor(fd_, line);
}

int writeAllToDescriptor(int fd, std::string_view text) {
    const char* data = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                pollfd ready{fd, POLLOUT, 0};
                if (::poll(&ready, 1, -1) < 0 && errno != EINTR) return errno;
                continue;
            }
            return errno;
        }
        data += n;
        left -= static_cast<std::size_t>(n);
    }
    return 0;
}

}  // namespace platform
