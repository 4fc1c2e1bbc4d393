#pragma once

// The crash and error reporter: our own event and breadcrumb values, the
// options it is started with (including the two scrubbing hooks it runs
// before anything is kept or sent), and the reporter itself.
//
// No Debian package provides such a reporter, so the Linux implementation
// (makeLocalCrashReporter) captures no crashes and sends nothing: it keeps
// its options and the breadcrumbs that pass the hook, as a reporter would
// hold them for a later report. RecordingCrashReporter is the test double.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace platform {

// A value in a breadcrumb's data or an event's extra data.
using ReportValue = std::variant<std::string, std::int64_t, double, bool>;
using ReportData = std::map<std::string, ReportValue>;

struct Breadcrumb {
    std::string level = "info";
    std::optional<std::string> category;
    std::optional<std::string> type;
    std::optional<std::string> message;
    std::optional<ReportData> data;

    friend bool operator==(const Breadcrumb&, const Breadcrumb&) = default;
};

struct ReportUser {
    std::string id;
    std::string email;
    std::string username;
    std::string ipAddress;

    friend bool operator==(const ReportUser&, const ReportUser&) = default;
};

struct ReportException {
    std::string type;
    std::optional<std::string> value;

    friend bool operator==(const ReportException&, const ReportException&) = default;
};

// An event's message: its formatted text, and the format with its
// parameters when it was made from one.
struct ReportMessage {
    std::string formatted;
    std::optional<std::string> format;
    std::vector<std::string> params;

    friend bool operator==(const ReportMessage&, const ReportMessage&) = default;
};

struct CrashEvent {
    std::optional<ReportUser> user;
    std::optional<std::string> serverName;
    std::optional<std::map<std::string, std::string>> tags;
    std::optional<ReportData> extra;
    std::optional<std::vector<Breadcrumb>> breadcrumbs;
    std::vector<ReportException> exceptions;
    std::optional<ReportMessage> message;

    friend bool operator==(const CrashEvent&, const CrashEvent&) = default;
};

struct CrashReporterOptions {
    std::string endpoint;
    std::string releaseName;
    std::string environment;
    bool sendDefaultPersonalData = false;
    bool attachStacktrace = false;
    bool enableAutoSessionTracking = true;
    bool enableTracing = true;
    double tracesSampleRate = 1.0;
    // Run on the reporter's own threads; nothing returned means dropped.
    std::function<std::optional<CrashEvent>(CrashEvent)> beforeSend;
    std::function<std::optional<Breadcrumb>(Breadcrumb)> beforeBreadcrumb;
};

class CrashReporter {
public:
    virtual ~CrashReporter() = default;
    virtual void start(CrashReporterOptions options) = 0;
    // Kept for a later report, after the before-breadcrumb hook.
    virtual void addBreadcrumb(Breadcrumb breadcrumb) = 0;
    virtual void close() = 0;
};

// The Linux reporter: nothing leaves the machine (see the top of this file).
// Keeps the most recent 100 breadcrumbs while started.
std::unique_ptr<CrashReporter> makeLocalCrashReporter();

// The test double: records every call; breadcrumbs are recorded after the
// hook, as the reporter would keep them.
class RecordingCrashReporter : public CrashReporter {
public:
    void start(CrashReporterOptions options) override;
    void addBreadcrumb(Breadcrumb breadcrumb) override;
    void close() override;

    int startCount() const;
    int closeCount() const;
    std::optional<CrashReporterOptions> options() const;
    std::vector<Breadcrumb> breadcrumbs() const;
    // Passes `event` through the started reporter's before-send hook.
    std::optional<CrashEvent> send(CrashEvent event) const;

private:
    mutable std::mutex mutex_;
    int starts_ = 0;
    int closes_ = 0;
    std::optional<CrashReporterOptions> options_;
    std::vector<Breadcrumb> breadcrumbs_;
};

}  // namespace platform
