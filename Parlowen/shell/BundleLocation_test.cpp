#include <gtest/gtest.h>

#include "Parlowen/shell/BundleLocation.h"

namespace parlowen {
namespace {

using Status = BundleLocation::Status;

TEST(BundleLocation, ClassifiesByTheFirstMatchingRule) {
    const struct {
        const char* path;
        Status status;
    } cases[] = {
        {"/Applications/Parlowen.app", Status::applications},
        {"/Applications/Utilities/Parlowen.app", Status::applications},
        {"/Applications", Status::otherUnknown},  // the folder itself, no trailing slash
        {"/applications/Parlowen.app", Status::otherUnknown},  // case-sensitive
        {"/Users/ann/Applications/Parlowen.app", Status::userApplications},
        {"//Users//ann//Applications//Parlowen.app", Status::userApplications},  // empty pieces dropped
        {"/Users/ann/Desktop/Applications/Parlowen.app", Status::otherUnknown},  // third piece is Desktop
        {"/Users/ann/Applications", Status::otherUnknown},  // only three pieces
        {"/home/Users/ann/Applications/Parlowen.app", Status::otherUnknown},  // first piece must be Users
        {"/Users/ann/Library/Developer/Xcode/DerivedData/Parlowen-abc/Build/Products/Debug/Parlowen.app",
         Status::derivedData},
        {"/tmp/x/Build/Products/Release/Parlowen.app", Status::derivedData},
        {"/DerivedData/Parlowen.app", Status::derivedData},
        {"/private/var/AppTranslocation/DerivedData/Parlowen.app", Status::derivedData},  // derivedData wins
        {"/private/var/folders/xy/AppTranslocation/1234/d/Parlowen.app", Status::translocated},
        {"/private/var/folders/xy/apptranslocation/Parlowen.app", Status::otherUnknown},
        {"/Volumes/Parlowen/Parlowen.app", Status::otherUnknown},
        {"", Status::otherUnknown},
        // A per-user Applications folder also inside a development folder: rule 2 comes first.
        {"/Users/ann/Applications/DerivedData/Parlowen.app", Status::userApplications},
    };
    for (const auto& c : cases) EXPECT_EQ(BundleLocation::classify(c.path), c.status) << c.path;
}

TEST(BundleLocation, StatusesPrintAsTheirCaseNames) {
    EXPECT_EQ(toString(Status::applications), "applications");
    EXPECT_EQ(toString(Status::userApplications), "userApplications");
    EXPECT_EQ(toString(Status::derivedData), "derivedData");
    EXPECT_EQ(toString(Status::translocated), "translocated");
    EXPECT_EQ(toString(Status::otherUnknown), "otherUnknown");
}

TEST(BundleLocation, LinuxInstallLocationsAndTheBuildTreeAreExpected) {
    const std::string home = "/home/ann";
    const std::string build = "/work/build";
    const struct {
        const char* path;
        Status status;
        bool expected;
    } cases[] = {
        {"/usr/bin/Parlowen", Status::applications, true},
        {"/usr/local/bin/Parlowen", Status::applications, true},
        {"/opt/parlowen/bin/Parlowen", Status::applications, true},
        {"/home/ann/.local/bin/Parlowen", Status::userApplications, true},
        {"/work/build/Parlowen/shell/Parlowen", Status::derivedData, true},
        // Name prefixes are not folders.
        {"/usrlocal/bin/Parlowen", Status::otherUnknown, false},
        {"/optional/Parlowen", Status::otherUnknown, false},
        {"/home/ann/.localstuff/Parlowen", Status::otherUnknown, false},
        {"/work/build-other/Parlowen/shell/Parlowen", Status::otherUnknown, false},
        // Dot-dot does not smuggle a path into an install folder.
        {"/usr/../tmp/Parlowen", Status::otherUnknown, false},
        // Someone else's ~/.local is not ours.
        {"/home/bob/.local/bin/Parlowen", Status::otherUnknown, false},
        {"/home/ann/Downloads/Parlowen", Status::otherUnknown, false},
        // Everything else follows the text rules, alerts included.
        {"/tmp/AppTranslocation/Parlowen", Status::translocated, false},
        {"/srv/ci/Build/Products/Parlowen", Status::derivedData, false},
        {"/Applications/Parlowen", Status::applications, true},
    };
    for (const auto& c : cases) {
        const auto location = locateExecutable(c.path, home, build);
        EXPECT_EQ(location.path, c.path);
        EXPECT_EQ(location.status, c.status) << c.path;
        EXPECT_EQ(location.expected, c.expected) << c.path;
    }
}

TEST(BundleLocation, BuildTreeComesBeforeInstallFoldersAndEmptyFoldersMatchNothing) {
    // A checkout built under /usr/src is still a development build.
    EXPECT_EQ(locateExecutable("/usr/src/p/build/Parlowen", "/home/ann", "/usr/src/p/build/").status,
              Status::derivedData);
    // No HOME and no build tree: those rules stay out of the way.
    EXPECT_EQ(locateExecutable("/.local/bin/Parlowen", "", "").status, Status::otherUnknown);
    EXPECT_EQ(locateExecutable("/.local/bin/Parlowen", "/", "").status, Status::userApplications);
    EXPECT_EQ(locateExecutable("/home/ann/.local/bin/Parlowen", "/home/ann/", "").status, Status::userApplications);
}

}  // namespace
}  // namespace parlowen
