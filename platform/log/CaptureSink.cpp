#include "platform/log/CaptureSink.h"

namespace platform {

void CaptureSink::write(const LogRecord& record) {
    CapturedLogLine line{std::string(record.subsystem), std::string(record.category), record.level,
                         std::string(record.message)};
    std::lock_guard lock(mutex_);
    lines_.push_back(std::move(line));
}

std::vector<CapturedLogLine> CaptureSink::lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
}

std::optional<CapturedLogLine> CaptureSink::find(std::string_view text, std::optional<LogLevel> level) const {
    std::lock_guard lock(mutex_);
    for (const auto& line : lines_) {
        if (level && line.level != *level) continue;
        if (line.message.find(text) != std::string::npos) return line;
    }
    return std::nullopt;
}

std::vector<CapturedLogLine> CaptureSink::linesOfCategory(std::string_view category) const {
    std::vector<CapturedLogLine> out;
    std::lock_guard lock(mutex_);
    for (const auto& line : lines_)
        if (line.category == category) out.push_back(line);
    return out;
}

std::vector<std::string> CaptureSink::messages() const {
    std::vector<std::string> out;
    std::lock_guard lock(mutex_);
    out.reserve(lines_.size());
    for (const auto& line : lines_) out.push_back(line.message);
    return out;
}

void CaptureSink::clear() {
    std::lock_guard lock(mutex_);
    lines_.clear();
}

ScopedLogCapture::ScopedLogCapture()
    : sink_(std::make_shared<CaptureSink>()), previous_(logSinks()), previousStandardError_(standardErrorLogLevel()) {
    setLogSinks({sink_});
    setStandardErrorLogging(false);
}

ScopedLogCapture::~ScopedLogCapture() {
    setLogSinks(std::move(previous_));
    setStandardErrorLogLevel(previousStandardError_);
}

}  // namespace platform
