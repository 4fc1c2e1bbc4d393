#include "Parlowen/shell/MemoryMonitor.h"

#include "platform/log/Log.h"

namespace parlowen {
namespace {

const platform::Logger& memoryLog() {
    static const platform::Logger log("com.kelvatrum.Parlowen", "memory");
    return log;
}

// Holds no reference to the monitor, which may be gone by the time the
// reading comes back from the background executor.
platform::Task<void> takeSample(platform::Executor* main, platform::Executor* background,
                                platform::ResidentSizeReader reader, std::optional<std::string> note) {
    co_await platform::resumeOn(*background);
    auto bytes = reader();
    co_await platform::resumeOn(*main);
    // A monitor stopped while the reading was under way logs nothing more.
    if ((co_await platform::currentStopToken()).stop_requested()) co_return;
    if (!bytes) {
        memoryLog().error("rss read failed");
        co_return;
    }
    const double megabytes = static_cast<double>(*bytes) / 1048576.0;
    if (note && !note->empty())
        memoryLog().info("rss={:.1f} MB note={}", megabytes, *note);
    else
        memoryLog().info("rss={:.1f} MB", megabytes);
}

platform::Task<void> sampleLoop(std::weak_ptr<void> monitor, platform::Executor* main,
                                platform::Executor* background, platform::ResidentSizeReader reader) {
    co_await takeSample(main, background, reader, std::string("startup"));
    const std::stop_token stop = co_await platform::currentStopToken();
    while (!monitor.expired() && !stop.stop_requested()) {
        if (!co_await platform::sleepFor(platform::seconds(double(MemoryMonitor::intervalSeconds)))) co_return;
        if (stop.stop_requested() || monitor.expired()) co_return;
        co_await takeSample(main, background, reader, std::nullopt);
    }
}

}  // namespace

MemoryMonitor::MemoryMonitor(platform::Executor& main, platform::Executor& background,
                             platform::ResidentSizeReader reader)
    : main_(main), background_(background), reader_(std::move(reader)) {}

MemoryMonitor::~MemoryMonitor() {
    lifetime_.end();
    stop();
}

void MemoryMonitor::start() {
    PARLOWEN_ASSERT_ON(main_);
    if (task_.valid()) return;
    task_ = platform::spawn(main_, sampleLoop(lifetime_.weak(), &main_, &background_, reader_));
}

void MemoryMonitor::stop() {
    task_.cancel();
    task_ = {};
}

platform::Task<void> MemoryMonitor::sample(std::optional<std::string> note) {
    return takeSample(&main_, &background_, reader_, std::move(note));
}

}  // namespace parlowen
