#pragma once

// Test double: records every entry so a test can look for the lines it expects.

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/log/LogSink.h"

namespace platform {

struct CapturedLogLine {
    std::string subsystem;
    std::string category;
    LogLevel level = LogLevel::info;
    std::string message;
};

class CaptureSink : public LogSink {
public:
    void write(const LogRecord& record) override;

    std::vector<CapturedLogLine> lines() const;
    // The first line whose message contains `text` (and has the level, when given).
    std::optional<CapturedLogLine> find(std::string_view text,
                                        std::optional<LogLevel> level = std::nullopt) const;
    bool contains(std::string_view text, std::optional<LogLevel> level = std::nullopt) const {
        return find(text, level).has_value();
    }
    // Every line of one category, in order.
    std::vector<CapturedLogLine> linesOfCategory(std::string_view category) const;
    // Every message, in order (handy for exact comparisons).
    std::vector<std::string> messages() const;
    void clear();

private:
    mutable std::mutex mutex_;
    std::vector<CapturedLogLine> lines_;
};

// Makes a fresh CaptureSink the only sink (standard error switched off) for
// its lifetime, then restores the sinks and switch that were there before.
class ScopedLogCapture {
public:
    ScopedLogCapture();
    ~ScopedLogCapture();
    ScopedLogCapture(const ScopedLogCapture&) = delete;
    ScopedLogCapture& operator=(const ScopedLogCapture&) = delete;

    CaptureSink& sink() { return *sink_; }
    CaptureSink* operator->() { return sink_.get(); }

private:
    std::shared_ptr<CaptureSink> sink_;
    std::vector<std::shared_ptr<LogSink>> previous_;
    std::optional<LogLevel> previousStandardError_;
};

}  // namespace platform
