#include "Parlowen/shell/LookoutClient.h"

#include "Parlowen/shell/settings/PreferencesStore.h"

namespace parlowen {
namespace {

// The entries whose key is allowed; missing entries become an empty map.
template <class Map>
Map allowedEntries(const std::optional<Map>& entries, const std::set<std::string, std::less<>>& allowlist) {
    Map kept;
    if (!entries) return kept;
    for (const auto& [key, value] : *entries)
        if (allowlist.contains(key)) kept.emplace(key, value);
    return kept;
}

}  // namespace

std::string_view LookoutClient::categoryText(Category category) {
    switch (category) {
        case Category::engineSelected: return "engine.selected";
        case Category::voiceChanged: return "voice.changed";
        case Category::themeSwitched: return "theme.switched";
        case Category::kokoroDownloadFailed: return "kokoro.download_failed";
        case Category::readAloudError: return "read_aloud.error";
    }
    return {};
}

LookoutClient::LookoutClient(platform::CrashReporter& reporter, BundleInfo bundle, std::string home)
    : reporter_(reporter), bundle_(std::move(bundle)), home_(std::move(home)) {}

const std::set<std::string, std::less<>>& LookoutClient::tagAllowlist() {
    static const std::set<std::string, std::less<>> tags{"context", "engine.dictation", "engine.readaloud",
                                                         "press.style", "subsystem"};
    return tags;
}

const std::set<std::string, std::less<>>& LookoutClient::dataAllowlist() {
    static const std::set<std::string, std::less<>> keys{
        "context", "engine", "engine.dictation", "engine.readaloud", "voice",
        "previous_engine", "theme", "previous_theme", "failure_reason"};
    return keys;
}

std::string LookoutClient::releaseName(const BundleInfo& bundle) {
    return "parlowen@" + bundle.shortVersion.value_or("0.0.0") + "+" + bundle.bundleVersion.value_or("0");
}

std::string LookoutClient::replacingHomePath(std::string text, std::string_view home) {
    if (text.empty() || home.empty()) return text;
    std::string out;
    std::size_t from = 0;
    for (std::size_t at = text.find(home); at != std::string::npos; at = text.find(home, from)) {
        out.append(text, from, at - from);
        out += '~';
        from = at + home.size();
    }
    out.append(text, from, std::string::npos);
    return out;
}

std::optional<platform::Breadcrumb> LookoutClient::scrubBreadcrumb(platform::Breadcrumb breadcrumb,
                                                                   std::string_view home) {
    const std::string category = breadcrumb.category.value_or("");
    if (category == "http" || breadcrumb.type == "http" || category.starts_with("ui.")) return std::nullopt;
    if (breadcrumb.message) breadcrumb.message = replacingHomePath(std::move(*breadcrumb.message), home);
    breadcrumb.data = allowedEntries(breadcrumb.data, dataAllowlist());
    return breadcrumb;
}

platform::CrashEvent LookoutClient::scrubEvent(platform::CrashEvent event, std::string_view home) {
    event.user.reset();
    event.serverName.reset();

    event.tags = allowedEntries(event.tags, tagAllowlist());
    event.extra = allowedEntries(event.extra, dataAllowlist());

    if (event.breadcrumbs) {
        std::vector<platform::Breadcrumb> kept;
        for (auto& crumb : *event.breadcrumbs)
            if (auto scrubbed = scrubBreadcrumb(std::move(crumb), home)) kept.push_back(std::move(*scrubbed));
        event.breadcrumbs = std::move(kept);
    }
    for (auto& exception : event.exceptions)
        if (exception.value) exception.value = replacingHomePath(std::move(*exception.value), home);
    if (event.message)
        event.message = platform::ReportMessage{.formatted = replacingHomePath(event.message->formatted, home)};
    return event;
}

void LookoutClient::start(const PreferencesStore& settings) {
    if (started_) return;
    if (!settings.sendCrashReports()) {
        log_.info("crash reporting disabled by preference; reporter not initialised");
        return;
    }
    const std::string endpoint = bundle_.crashReporterEndpoint.value_or("");
    if (endpoint.empty()) {
        log_.info("crash reporting endpoint not configured; reporter not initialised");
        return;
    }
    const std::string release = releaseName(bundle_);
    const std::string home = home_;
    platform::CrashReporterOptions options;
    options.endpoint = endpoint;
    options.releaseName = release;
    options.environment = environmentName;
    options.sendDefaultPersonalData = false;
    options.attachStacktrace = true;
    options.enableAutoSessionTracking = false;
    options.enableTracing = false;
    options.tracesSampleRate = 0;
    // The hooks run on the reporter's threads: they hold copies, not the client.
    options.beforeSend = [home](platform::CrashEvent event) -> std::optional<platform::CrashEvent> {
        return scrubEvent(std::move(event), home);
    };
    options.beforeBreadcrumb = [home](platform::Breadcrumb breadcrumb) {
        return scrubBreadcrumb(std::move(breadcrumb), home);
    };
    reporter_.start(std::move(options));
    started_ = true;
    log_.info("crash reporting active (release={} env={})", release, environmentName);
}

void LookoutClient::record(Category category, const std::string& message, std::optional<platform::ReportData> data) {
    if (!started_) return;
    platform::Breadcrumb crumb;
    crumb.level = "info";
    crumb.category = std::string(categoryText(category));
    crumb.message = replacingHomePath(message, home_);
    if (data) crumb.data = allowedEntries(data, dataAllowlist());
    reporter_.addBreadcrumb(std::move(crumb));
}

void LookoutClient::stop() {
    if (!started_) return;
    reporter_.close();
    started_ = false;
    log_.info("crash reporting deactivated (will resume on next launch if pref is on)");
}

}  // namespace parlowen
