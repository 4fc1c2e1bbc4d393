#include "platform/crashreporter/CrashReporter.h"

#include <deque>

namespace platform {
namespace {

template <class T>
std::optional<T> throughHook(const std::function<std::optional<T>(T)>& hook, T value) {
    if (!hook) return value;
    return hook(std::move(value));
}

class LocalCrashReporter : public CrashReporter {
public:
    static constexpr std::size_t kMaxBreadcrumbs = 100;

    void start(CrashReporterOptions options) override {
        std::lock_guard lock(mutex_);
        options_ = std::move(options);
    }
    void addBreadcrumb(Breadcrumb breadcrumb) override {
        std::function<std::optional<Breadcrumb>(Breadcrumb)> hook;
        {
            std::lock_guard lock(mutex_);
            if (!options_) return;
            hook = options_->beforeBreadcrumb;
        }
        auto kept = throughHook(hook, std::move(breadcrumb));
        if (!kept) return;
        std::lock_guard lock(mutex_);
        if (!options_) return;
        breadcrumbs_.push_back(std::move(*kept));
        if (breadcrumbs_.size() > kMaxBreadcrumbs) breadcrumbs_.pop_front();
    }
    void close() override {
        std::lock_guard lock(mutex_);
        options_.reset();
        breadcrumbs_.clear();
    }

private:
    std::mutex mutex_;
    std::optional<CrashReporterOptions> options_;
    std::deque<Breadcrumb> breadcrumbs_;
};

}  // namespace

std::unique_ptr<CrashReporter> makeLocalCrashReporter() { return std::make_unique<LocalCrashReporter>(); }

void RecordingCrashReporter::start(CrashReporterOptions options) {
    std::lock_guard lock(mutex_);
    ++starts_;
    options_ = std::move(options);
}

void RecordingCrashReporter::addBreadcrumb(Breadcrumb breadcrumb) {
    std::function<std::optional<Breadcrumb>(Breadcrumb)> hook;
    {
        std::lock_guard lock(mutex_);
        if (options_) hook = options_->beforeBreadcrumb;
    }
    auto kept = throughHook(hook, std::move(breadcrumb));
    if (!kept) return;
    std::lock_guard lock(mutex_);
    breadcrumbs_.push_back(std::move(*kept));
}

void RecordingCrashReporter::close() {
    std::lock_guard lock(mutex_);
    ++closes_;
}

int RecordingCrashReporter::startCount() const {
    std::lock_guard lock(mutex_);
    return starts_;
}

int RecordingCrashReporter::closeCount() const {
    std::lock_guard lock(mutex_);
    return closes_;
}

std::optional<CrashReporterOptions> RecordingCrashReporter::options() const {
    std::lock_guard lock(mutex_);
    return options_;
}

std::vector<Breadcrumb> RecordingCrashReporter::breadcrumbs() const {
    std::lock_guard lock(mutex_);
    return breadcrumbs_;
}

std::optional<CrashEvent> RecordingCrashReporter::send(CrashEvent event) const {
    std::function<std::optional<CrashEvent>(CrashEvent)> hook;
    {
        std::lock_guard lock(mutex_);
        if (options_) hook = options_->beforeSend;
    }
    return throughHook(hook, std::move(event));
}

}  // namespace platform
