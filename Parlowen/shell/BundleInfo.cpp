#include "Parlowen/shell/BundleInfo.h"

namespace parlowen {
namespace {
std::optional<std::string> nonEmpty(const char* text) {
    if (!text || !*text) return std::nullopt;
    return std::string(text);
}
}  // namespace

BundleInfo BundleInfo::thisBuild() {
    return BundleInfo{
        .shortVersion = nonEmpty(PARLOWEN_BUNDLE_SHORT_VERSION),
        .bundleVersion = nonEmpty(PARLOWEN_BUNDLE_BUILD_NUMBER),
        .crashReporterEndpoint = nonEmpty(PARLOWEN_CRASH_REPORTER_ENDPOINT),
    };
}

}  // namespace parlowen
