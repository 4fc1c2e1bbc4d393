#pragma once

// The web layer on Qt WebEngine. The only code that links the engine; no
// engine header leaves it.

#include <filesystem>
#include <memory>

#include "platform/values/XdgDirs.h"
#include "platform/webview/WebView.h"

namespace platform {

// Readies the process for the engine. Call it in main before the Qt
// application object exists: the engine needs contexts shared between its
// threads and its own URL scheme registered by then. The engine's sandbox
// cannot start when the process runs as root (as in CI), so it is switched
// off then, and only then.
void prepareWebEngine();

struct QtWebProfileLocation {
    std::filesystem::path storage;  // cookies and the rest of the website data
    std::filesystem::path cache;
};

// <data home>/com.kelvatrum.Parlowen/WebEngine and the same under the cache home.
QtWebProfileLocation webProfileLocation(const XdgDirs& dirs);

// One named, persistent profile: its cookies (session cookies too) are kept
// on disk, so a sign-in survives restarts. Pages and views must not
// outlive it. Main thread only; the Qt application object must exist.
class QtWebProfile final : public WebProfile {
public:
    explicit QtWebProfile(QtWebProfileLocation location);
    ~QtWebProfile() override;
    QtWebProfile(const QtWebProfile&) = delete;
    QtWebProfile& operator=(const QtWebProfile&) = delete;

    std::unique_ptr<WebPage> makePage() override;
    std::unique_ptr<WebView> makeView() override;
    Task<std::vector<WebCookie>> allCookies() override;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace platform
