#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "platform/runtime/Error.h"
#include "platform/values/Bytes.h"
#include "platform/values/Date.h"

namespace platform {

// Errors of the file helpers: domain "file"; the description names the path and
// the system's reason.
inline constexpr const char* kFileErrorDomain = "file";
enum class FileErrorCode {
    notFound = 1,     // the file does not exist (callers usually treat this as "no data yet")
    readFailed = 2,   // exists but could not be read (permissions, a folder, I/O error)
    writeFailed = 3,  // a folder could not be made, or writing, syncing or renaming failed
    moveFailed = 4,
};
// An error of this domain, with the code's case name.
Error fileError(FileErrorCode code, std::string description);
// The same, described as `<what> "<path>": <reason>`.
Error fileError(FileErrorCode code, std::string_view what, const std::filesystem::path& path,
                std::string_view reason);

// Replaces the file at `path` with `bytes` so that readers see either the old or
// the new content, never a mix: writes a temporary file in the same folder, syncs
// it, renames it over the target and syncs the folder. Missing parent folders are
// created. An existing file's permission bits are kept; a new file gets the usual
// 0666 less the umask. On failure the old file is untouched and no temporary file
// is left behind.
Status writeFileAtomically(const std::filesystem::path& path, ByteView bytes);
inline Status writeFileAtomically(const std::filesystem::path& path, std::string_view text) {
    return writeFileAtomically(path, asBytes(text));
}

// The whole file. A missing file fails with FileErrorCode::notFound.
Result<Bytes> readFile(const std::filesystem::path& path);
// The lower-case hexadecimal SHA-256 of the file, read a part at a time.
Result<std::string> sha256HexOfFile(const std::filesystem::path& path);

// Renames `path` to "<path>.<suffix>" (adding "-2", "-3", ... if that name is taken)
// and returns the new location. Used to keep a file that could not be read before
// writing a fresh one in its place.
Result<std::filesystem::path> moveAside(const std::filesystem::path& path, std::string_view suffix);

// "corrupt-<UTC time as yyyyMMdd'T'HHmmss'Z'>", the suffix for moveAside of an unreadable file.
std::string corruptSuffix(Date now);

}  // namespace platform
