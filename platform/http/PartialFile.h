#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>

#include "platform/runtime/Error.h"

namespace platform {

// A download's file while its body arrives: a fresh file beside the
// destination (same folder, so the final move is a rename), moved into place
// by commit() and removed by discard() or when dropped.
class PartialFile {
public:
    PartialFile() = default;
    PartialFile(PartialFile&& other) noexcept;
    PartialFile& operator=(PartialFile&& other) noexcept;
    ~PartialFile();

    static Result<PartialFile> create(const std::filesystem::path& destination);

    Status write(const void* data, std::size_t size);
    // Closes the file and renames it over the destination.
    Status commit();
    // Closes and removes the file (nothing happens at the destination).
    void discard();

    bool isOpen() const { return file_ != nullptr; }
    const std::filesystem::path& path() const { return path_; }

private:
    std::FILE* file_ = nullptr;
    std::filesystem::path path_;
    std::filesystem::path destination_;
};

}  // namespace platform
