#pragma once

#include <filesystem>

namespace testsupport {

// Every test process runs with HOME and the XDG folders pointed at a fresh
// temporary folder, so nothing a test does reaches the real home.
void isolateHome();
const std::filesystem::path& processTempRoot();

// A fresh folder under the process's temporary root, removed on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::filesystem::path& p) const { return path_ / p; }

private:
    std::filesystem::path path_;
};

}  // namespace testsupport
