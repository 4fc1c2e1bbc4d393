#pragma once

#include <sys/types.h>

#include <array>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/accessibility/Accessibility.h"
#include "platform/x11/Workspace.h"

namespace parlowen {

// The text element that had the keyboard focus when a dictation began, and
// the application that owns it, with the two facts that decide how text may
// be inserted later: a Chromium-class application (where accessibility
// writes are silently ignored) and a secure (password) field. A plain value;
// copies share the element. Main thread only.
struct FocusSnapshot {
    std::shared_ptr<platform::AccessibleElement> element;
    pid_t processIdentifier = 0;
    std::optional<std::string> bundleIdentifier;
    bool isLikelyChromiumApp = false;
    bool isSecureField = false;

    static constexpr std::array<const char*, 7> chromiumFrameworkNames = {
        "Electron Framework.framework",      "Chromium Embedded Framework.framework",
        "Chromium Framework.framework",      "Google Chrome Framework.framework",
        "Brave Browser Framework.framework", "Microsoft Edge Framework.framework",
        "Vivaldi Framework.framework"};
    static constexpr std::array<const char*, 12> chromiumBundlePrefixes = {
        "com.google.chrome",  "org.chromium.chromium",       "com.microsoft.edgemac",
        "com.brave.browser",  "com.vivaldi.vivaldi",         "com.operasoftware.opera",
        "company.thebrowser.browser", "company.thebrowser.dia", "ru.yandex.desktop.yandex-browser",
        "com.pushplaylabs.sidekick",  "com.coccoc.coccoc",     "com.naver.whale"};

    // The element with the keyboard focus now; none when accessibility is
    // not trusted or no element can be read. Each query waits at most 0.5 s.
    static std::optional<FocusSnapshot> capture(platform::Accessibility& accessibility,
                                                platform::Workspace& workspace);

    // Writes `text` into the captured element in place of its selection (or
    // at its caret). False for a Chromium-class application, an element that
    // cannot take it, or a failed write.
    bool insertViaAX(const std::string& text) const;
    // True when the owning application is, or has just been made, the active one.
    bool reactivate(platform::Workspace& workspace) const;

    // Whether an application bundle (or a bundle inside one, up to 11
    // folders deep) holds one of the Chromium frameworks.
    static bool hasChromiumFramework(const std::filesystem::path& bundleURL);
    static std::vector<std::filesystem::path> chromiumFrameworkPaths(const std::filesystem::path& bundleURL);
    static bool isChromiumBundleIdentifier(const std::optional<std::string>& bundleIdentifier);
};

}  // namespace parlowen
