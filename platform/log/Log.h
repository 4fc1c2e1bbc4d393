#pragma once

// Process-wide logging: a Logger names a subsystem and a category and hands
// short event texts ("bundle path={} status={}") to the installed sinks
// (platform/log/LogSink.h). Values are public unless wrapped in priv(), which
// prints "<private>" while redaction is on (the default).

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include <fmt/format.h>  // the value formatters priv() reuses

namespace platform {

enum class LogLevel : std::uint8_t { debug, info, notice, error, fault };

// "debug", "info", "notice", "error", "fault".
std::string_view logLevelName(LogLevel level);

// Writes every byte of `text` to the descriptor: a short write continues
// where it stopped, EINTR retries, and a non-blocking descriptor that is
// full is waited for. Returns 0, or the errno of the failure.
int writeAllToDescriptor(int fd, std::string_view text);

// Redaction of private values is a runtime setting, on until turned off.
void setRedactPrivate(bool on);
bool redactPrivate();

// A value that is shown only while redaction is off. Holds a reference (or a
// view), so use it inside the logging call that formats it.
template <class T>
struct PrivateValue {
    T value;
};

template <class T>
PrivateValue<const T&> priv(const T& value) {
    return {value};
}
inline PrivateValue<std::string_view> priv(const char* value) {
    return {value ? std::string_view(value) : std::string_view("(null)")};
}

class Logger {
public:
    Logger(std::string subsystem, std::string category);

    const std::string& subsystem() const { return subsystem_; }
    const std::string& category() const { return category_; }

    // Whether any installed sink takes this level; callers may skip costly
    // work for a message nobody records.
    bool isEnabled(LogLevel level) const;

    // Writes an already formatted message.
    void write(LogLevel level, std::string_view message) const;

    // Formats only when an installed sink takes `level`.
    template <class... Args>
    void log(LogLevel level, fmt::format_string<Args...> format, Args&&... args) const {
        writeFormatted(level, format, fmt::make_format_args(args...));
    }

    template <class... Args>
    void debug(fmt::format_string<Args...> format, Args&&... args) const {
        log(LogLevel::debug, format, std::forward<Args>(args)...);
    }
    template <class... Args>
    void info(fmt::format_string<Args...> format, Args&&... args) const {
        log(LogLevel::info, format, std::forward<Args>(args)...);
    }
    template <class... Args>
    void notice(fmt::format_string<Args...> format, Args&&... args) const {
        log(LogLevel::notice, format, std::forward<Args>(args)...);
    }
    template <class... Args>
    void error(fmt::format_string<Args...> format, Args&&... args) const {
        log(LogLevel::error, format, std::forward<Args>(args)...);
    }
    template <class... Args>
    void fault(fmt::format_string<Args...> format, Args&&... args) const {
        log(LogLevel::fault, format, std::forward<Args>(args)...);
    }

private:
    void writeFormatted(LogLevel level, fmt::string_view format, fmt::format_args args) const;

    std::string subsystem_;
    std::string category_;
};

}  // namespace platform

// priv(x) formats like x itself (format specs included) unless redaction is on.
template <class T, class Char>
struct fmt::formatter<platform::PrivateValue<T>, Char> : fmt::formatter<std::remove_cvref_t<T>, Char> {
    template <class FormatContext>
    auto format(const platform::PrivateValue<T>& p, FormatContext& ctx) const -> decltype(ctx.out()) {
        if (platform::redactPrivate()) {
            constexpr std::string_view redacted = "<private>";
            return std::copy(redacted.begin(), redacted.end(), ctx.out());
        }
        return fmt::formatter<std::remove_cvref_t<T>, Char>::format(p.value, ctx);
    }
};
