#include "Parlowen/dictation/FocusSnapshot.h"

#include <system_error>

#include "platform/log/Log.h"

namespace parlowen {

namespace fs = std::filesystem;

namespace {

const platform::Logger& snapshotLog() {
    static const platform::Logger log("com.kelvatrum.Parlowen", "focus-snapshot");
    return log;
}

const char* orNil(const std::optional<std::string>& s) { return s ? s->c_str() : "nil"; }

constexpr platform::Duration kMessagingTimeout = std::chrono::milliseconds(500);

}  // namespace

std::optional<FocusSnapshot> FocusSnapshot::capture(platform::Accessibility& accessibility,
                                                    platform::Workspace& workspace) {
    if (!accessibility.isTrusted()) {
        snapshotLog().debug("capture skipped: AX not trusted");
        return std::nullopt;
    }
    accessibility.setMessagingTimeout(kMessagingTimeout);
    auto focused = accessibility.focusedElement();
    if (!focused || !*focused) {
        snapshotLog().debug("capture: no focused element (status={})", focused ? 0 : focused.error().code);
        return std::nullopt;
    }
    FocusSnapshot snapshot;
    snapshot.element = *focused;
    auto pid = snapshot.element->processIdentifier();
    if (!pid) {
        snapshotLog().debug("capture: failed to read owning pid");
        return std::nullopt;
    }
    snapshot.processIdentifier = *pid;

    if (auto app = workspace.runningApplication(*pid)) {
        snapshot.bundleIdentifier = app->bundleIdentifier;
        // Programs here are not bundles: the workspace recognises Chromium-class
        // programs by their executable and libraries instead of frameworks.
        snapshot.isLikelyChromiumApp = app->isChromiumClass || isChromiumBundleIdentifier(app->bundleIdentifier);
    }
    auto role = snapshot.element->roleName();
    snapshot.isSecureField = role && *role == platform::kPasswordTextRole;

    snapshotLog().info("captured focus (pid={}, bundle={}, isChromium={}, secure={})", snapshot.processIdentifier,
                       orNil(snapshot.bundleIdentifier), snapshot.isLikelyChromiumApp, snapshot.isSecureField);
    return snapshot;
}

bool FocusSnapshot::insertViaAX(const std::string& text) const {
    if (isLikelyChromiumApp) {
        snapshotLog().info(
            "insertViaAX: skipping captured-focus path — bundle={} is Chromium-class (AX writes silently no-op there); "
            "falling through to ⌘V",
            orNil(bundleIdentifier));
        return false;
    }
    auto settable = element ? element->isSelectedTextSettable() : platform::Result<bool>(false);
    if (!settable || !*settable) {
        snapshotLog().debug("insertViaAX: attribute not settable on captured element (bundle={})",
                            orNil(bundleIdentifier));
        return false;
    }
    auto written = element->setSelectedText(text);
    if (written) return true;
    snapshotLog().debug("insertViaAX: set failed status={} bundle={}", written.error().code, orNil(bundleIdentifier));
    return false;
}

bool FocusSnapshot::reactivate(platform::Workspace& workspace) const {
    auto app = workspace.runningApplication(processIdentifier);
    if (!app) {
        snapshotLog().debug("reactivate: original app gone (pid={})", processIdentifier);
        return false;
    }
    auto front = workspace.frontmostApplication();
    if (front && front->processIdentifier == processIdentifier) return true;
    bool didActivate = workspace.activate(processIdentifier);
    snapshotLog().info("reactivate: pid={} bundle={} didActivate={}", processIdentifier, orNil(bundleIdentifier),
                       didActivate);
    return didActivate;
}

std::vector<fs::path> FocusSnapshot::chromiumFrameworkPaths(const fs::path& bundleURL) {
    std::vector<fs::path> paths;
    fs::path current = bundleURL.lexically_normal();
    if (current.has_relative_path() && current.filename().empty()) current = current.parent_path();
    for (int pass = 0; pass < 12; ++pass) {
        if (current.filename().string().ends_with(".app")) {
            for (const char* name : chromiumFrameworkNames) paths.push_back(current / "Contents" / "Frameworks" / name);
        }
        fs::path parent = current.parent_path();
        if (parent == current || parent == "/") break;
        current = parent;
    }
    return paths;
}

bool FocusSnapshot::hasChromiumFramework(const fs::path& bundleURL) {
    for (const auto& path : chromiumFrameworkPaths(bundleURL)) {
        std::error_code ec;
        if (fs::exists(path, ec)) return true;
    }
    return false;
}

bool FocusSnapshot::isChromiumBundleIdentifier(const std::optional<std::string>& bundleIdentifier) {
    if (!bundleIdentifier) return false;
    std::string lower = *bundleIdentifier;
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    for (const char* prefix : chromiumBundlePrefixes)
        if (lower.starts_with(prefix)) return true;
    return false;
}

}  // namespace parlowen
