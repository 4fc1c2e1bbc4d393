#pragma once

#include <array>
#include <string>
#include <string_view>

namespace parlowen {

// Where the program runs from. Only the first two are install locations from
// which automatic updates may run.
struct BundleLocation {
    enum class Status { applications, userApplications, derivedData, translocated, otherUnknown };

    // Classifies a bundle path by its text alone; comparisons are exact and case-sensitive.
    static Status classify(std::string_view bundlePath);
};

// The case name ("applications", ...), as logs print it.
std::string_view toString(BundleLocation::Status status);

inline bool isCanonical(BundleLocation::Status status) {
    return status == BundleLocation::Status::applications || status == BundleLocation::Status::userApplications;
}

// Where this Linux build of the program runs from: the executable's path, its
// status, and whether the location is one we expect (nothing to warn about).
struct ExecutableLocation {
    std::string path;
    BundleLocation::Status status = BundleLocation::Status::otherUnknown;
    bool expected = false;
};

// The folders a system install lives under, and the per-user one (below HOME).
inline constexpr std::array<std::string_view, 3> kSystemInstallPrefixes{"/usr", "/usr/local", "/opt"};
inline constexpr std::string_view kUserInstallPrefix = ".local";

// "/usr, /usr/local, /opt or ~/.local": the install locations, as users read them.
std::string installLocationsText();

// Linux install locations: an executable under /usr, /usr/local or /opt is a
// system install (`applications`), one under ~/.local a per-user install
// (`userApplications`), and one inside the build tree it was built in a
// development build (`derivedData`), which is expected too but gets no
// automatic updates. Any other path is classified by its text as above.
// `home` and `buildTree` may be empty (then their rule does not apply).
ExecutableLocation locateExecutable(const std::string& executablePath, const std::string& home,
                                    const std::string& buildTree);

}  // namespace parlowen
