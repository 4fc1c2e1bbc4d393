#include "platform/values/Files.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/random.h>
#include <unistd.h>

#include <fmt/core.h>

#include "platform/values/Date.h"

namespace platform {
namespace fs = std::filesystem;

Error fileError(FileErrorCode code, std::string description) {
    const char* caseName = code == FileErrorCode::notFound     ? "notFound"
                           : code == FileErrorCode::readFailed ? "readFailed"
                           : code == FileErrorCode::writeFailed ? "writeFailed"
                                                                : "moveFailed";
    return Error::make(kFileErrorDomain, static_cast<int>(code), caseName, std::move(description));
}

Error fileError(FileErrorCode code, std::string_view what, const fs::path& path, std::string_view reason) {
    return fileError(code, fmt::format("{} \"{}\": {}", what, path.string(), reason));
}

namespace {

Error fileError(FileErrorCode code, std::string_view what, const fs::path& path, int err) {
    return fileError(code, what, path, std::string_view(std::strerror(err)));
}

std::string randomSuffix() {
    static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    unsigned char raw[8] = {};
    if (getrandom(raw, sizeof raw, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof raw)) {
        // Uniqueness, not secrecy, is what matters; O_EXCL catches the rare clash.
        const auto seed = static_cast<unsigned long>(getpid()) ^ static_cast<unsigned long>(clock());
        for (std::size_t i = 0; i < sizeof raw; ++i) raw[i] = static_cast<unsigned char>(seed >> (i * 5));
    }
    std::string s;
    for (unsigned char c : raw) s += kChars[c % 36];
    return s;
}

bool writeAll(int fd, ByteView bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

Status writeFileAtomically(const fs::path& path, ByteView bytes) {
    const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) return fail(fileError(FileErrorCode::writeFailed, "Could not create the folder for", path, ec.value()));

    int fd = -1;
    fs::path temp;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        temp = folder / ("." + path.filename().string() + ".tmp-" + randomSuffix());
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) return fail(fileError(FileErrorCode::writeFailed, "Could not write", path, errno));

    auto abandon = [&](int err) {
        ::close(fd);
        ::unlink(temp.c_str());
        return fail(fileError(FileErrorCode::writeFailed, "Could not write", path, err));
    };

    // Keep a private file private across rewrites.
    struct stat existing {};
    if (::stat(path.c_str(), &existing) == 0 && ::fchmod(fd, existing.st_mode & 07777) != 0) return abandon(errno);
    if (!writeAll(fd, bytes)) return abandon(errno);
    if (::fsync(fd) != 0) return abandon(errno);
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        return fail(fileError(FileErrorCode::writeFailed, "Could not write", path, err));
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        return fail(fileError(FileErrorCode::writeFailed, "Could not replace", path, err));
    }
    // The rename is durable only once the folder's entry is on disk.
    const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return ok();
}

namespace {

// Hands the file to `piece` a part at a time; `opened` learns the file's size first.
template <class Piece, class Opened>
Status readInPieces(const fs::path& path, Opened opened, Piece piece) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        return fail(fileError(err == ENOENT ? FileErrorCode::notFound : FileErrorCode::readFailed,
                              "Could not read", path, err));
    }
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) opened(static_cast<std::size_t>(st.st_size));
    std::uint8_t buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            const int err = errno;
            ::close(fd);
            return fail(fileError(FileErrorCode::readFailed, "Could not read", path, err));
        }
        piece(ByteView(buf, static_cast<std::size_t>(n)));
    }
    ::close(fd);
    return ok();
}

}  // namespace

Result<Bytes> readFile(const fs::path& path) {
    Bytes out;
    auto read = readInPieces(
        path, [&out](std::size_t size) { out.reserve(size); },
        [&out](ByteView part) { out.insert(out.end(), part.begin(), part.end()); });
    if (!read) return fail(read.error());
    return out;
}

Result<std::string> sha256HexOfFile(const fs::path& path) {
    Sha256Hasher hasher;
    auto read = readInPieces(
        path, [](std::size_t) {}, [&hasher](ByteView part) { hasher.update(part); });
    if (!read) return fail(read.error());
    return hexEncode(hasher.finish());
}

Result<fs::path> moveAside(const fs::path& path, std::string_view suffix) {
    const std::string base = path.string() + "." + std::string(suffix);
    for (int n = 1; n < 1000; ++n) {
        fs::path target = n == 1 ? fs::path(base) : fs::path(fmt::format("{}-{}", base, n));
        std::error_code ec;
        if (fs::exists(fs::symlink_status(target, ec))) continue;
        // link + unlink instead of rename: never replaces a name taken meanwhile.
        if (::link(path.c_str(), target.c_str()) == 0) {
            ::unlink(path.c_str());
            return target;
        }
        if (errno == EEXIST) continue;
        if (errno == EPERM || errno == EXDEV || errno == EMLINK || errno == ENOTSUP) {
            if (::rename(path.c_str(), target.c_str()) == 0) return target;
        }
        return fail(fileError(FileErrorCode::moveFailed, "Could not move aside", path, errno));
    }
    return fail(fileError(FileErrorCode::moveFailed, "Could not move aside", path, EEXIST));
}

std::string corruptSuffix(Date now) {
    std::string iso = formatIso8601(now);  // 2025-03-09T10:15:00Z
    std::string compact;
    for (char c : iso)
        if (c != '-' && c != ':') compact += c;
    return "corrupt-" + compact;
}

}  // namespace platform
