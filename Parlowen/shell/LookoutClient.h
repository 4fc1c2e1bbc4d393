#pragma once

#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "Parlowen/shell/BundleInfo.h"
#include "platform/crashreporter/CrashReporter.h"
#include "platform/log/Log.h"

namespace parlowen {

class PreferencesStore;

// The application's only contact with the crash and error reporter: starts
// it at launch when the user allowed it and the build has an endpoint,
// installs the hooks that strip personal data from every event and
// breadcrumb, records categorised breadcrumbs, and stops the reporter when
// the user withdraws consent. One instance per process, owned by the
// composition root; start, record and stop run on the main thread, the
// scrubbers on the reporter's threads (they touch only their arguments).
class LookoutClient {
public:
    enum class Category { engineSelected, voiceChanged, themeSwitched, kokoroDownloadFailed, readAloudError };
    static std::string_view categoryText(Category category);

    static constexpr const char* environmentName = "release";

    // `home` is the user's home folder (HOME), replaced by "~" in reports.
    LookoutClient(platform::CrashReporter& reporter, BundleInfo bundle, std::string home);

    bool isStarted() const { return started_; }

    // Starts the reporter once, when `sendCrashReports` is on and the bundle
    // has an endpoint; otherwise logs why it stays off.
    void start(const PreferencesStore& settings);
    // A breadcrumb for a later report; nothing while not started.
    void record(Category category, const std::string& message,
                std::optional<platform::ReportData> data = std::nullopt);
    // Closes the reporter when it runs.
    void stop();

    // "parlowen@<short version>+<build>", with "0.0.0" and "0" for what is absent.
    static std::string releaseName(const BundleInfo& bundle);

    static const std::set<std::string, std::less<>>& tagAllowlist();
    static const std::set<std::string, std::less<>>& dataAllowlist();

    // Every occurrence of `home` in `text` becomes "~" (when both are non-empty).
    static std::string replacingHomePath(std::string text, std::string_view home);
    // Nothing for a breadcrumb that must not be kept.
    static std::optional<platform::Breadcrumb> scrubBreadcrumb(platform::Breadcrumb breadcrumb, std::string_view home);
    // Never drops the event.
    static platform::CrashEvent scrubEvent(platform::CrashEvent event, std::string_view home);

private:
    platform::CrashReporter& reporter_;
    BundleInfo bundle_;
    std::string home_;
    bool started_ = false;
    platform::Logger log_{"com.kelvatrum.Parlowen", "lookout"};
};

}  // namespace parlowen
