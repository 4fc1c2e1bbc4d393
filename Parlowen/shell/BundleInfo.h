#pragma once

#include <optional>
#include <string>

namespace parlowen {

// What the application bundle's information list would say about this build:
// its version texts and deployment settings. All come from the build
// (PARLOWEN_VERSION, PARLOWEN_BUILD_NUMBER, PARLOWEN_CRASH_REPORTER_ENDPOINT
// in CMake); empty values count as absent.
struct BundleInfo {
    std::optional<std::string> shortVersion;   // "1.4.2"
    std::optional<std::string> bundleVersion;  // the build number, "57"
    std::optional<std::string> crashReporterEndpoint;

    static BundleInfo thisBuild();
};

}  // namespace parlowen
