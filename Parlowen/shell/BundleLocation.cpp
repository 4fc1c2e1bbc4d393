#include "Parlowen/shell/BundleLocation.h"

#include <filesystem>
#include <vector>

namespace parlowen {
namespace {

std::vector<std::string_view> nonEmptyPieces(std::string_view path) {
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t slash = path.find('/', start);
        const std::size_t end = slash == std::string_view::npos ? path.size() : slash;
        if (end > start) pieces.push_back(path.substr(start, end - start));
        if (slash == std::string_view::npos) break;
        start = slash + 1;
    }
    return pieces;
}

// `folder` with any trailing slashes removed, "" for an empty folder.
std::string trimmedFolder(std::string folder) {
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
}

// True when `path` lies inside `folder` (a whole path component, not a name prefix).
bool isInside(const std::string& path, std::string folder) {
    folder = trimmedFolder(std::move(folder));
    if (folder.empty()) return false;
    if (folder == "/") return path.size() > 1 && path.front() == '/';
    return path.size() > folder.size() + 1 && path.compare(0, folder.size(), folder) == 0 &&
           path[folder.size()] == '/';
}

}  // namespace

BundleLocation::Status BundleLocation::classify(std::string_view path) {
    if (path.starts_with("/Applications/")) return Status::applications;

    const auto pieces = nonEmptyPieces(path);
    if (pieces.size() >= 4 && pieces[0] == "Users" && pieces[2] == "Applications") return Status::userApplications;

    if (path.find("/DerivedData/") != std::string_view::npos || path.find("/Build/Products/") != std::string_view::npos)
        return Status::derivedData;
    if (path.find("/AppTranslocation/") != std::string_view::npos) return Status::translocated;
    return Status::otherUnknown;
}

std::string_view toString(BundleLocation::Status status) {
    switch (status) {
        case BundleLocation::Status::applications: return "applications";
        case BundleLocation::Status::userApplications: return "userApplications";
        case BundleLocation::Status::derivedData: return "derivedData";
        case BundleLocation::Status::translocated: return "translocated";
        case BundleLocation::Status::otherUnknown: return "otherUnknown";
    }
    return "otherUnknown";
}

std::string installLocationsText() {
    std::string text;
    for (std::string_view prefix : kSystemInstallPrefixes) (text += prefix) += ", ";
    text.erase(text.size() - 2);
    return text + " or ~/" + std::string(kUserInstallPrefix);
}

ExecutableLocation locateExecutable(const std::string& executablePath, const std::string& home,
                                    const std::string& buildTree) {
    using Status = BundleLocation::Status;
    // "/usr/../tmp/x" must not pass for an install under /usr.
    const std::string path = std::filesystem::path(executablePath).lexically_normal().string();

    if (isInside(path, buildTree)) return {executablePath, Status::derivedData, true};
    for (std::string_view prefix : kSystemInstallPrefixes) {
        if (isInside(path, std::string(prefix))) return {executablePath, Status::applications, true};
    }
    const std::string homeFolder = trimmedFolder(home);
    if (!homeFolder.empty() &&
        isInside(path, (homeFolder == "/" ? "" : homeFolder) + "/" + std::string(kUserInstallPrefix)))
        return {executablePath, Status::userApplications, true};

    const Status status = BundleLocation::classify(executablePath);
    return {executablePath, status, isCanonical(status)};
}

}  // namespace parlowen
