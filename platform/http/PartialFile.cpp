#include "platform/http/PartialFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <unistd.h>
#include <utility>

#include <fmt/core.h>

#include "platform/http/HttpTypes.h"

namespace platform {

namespace {
Error fileError(const std::string& what, const std::filesystem::path& path, int err) {
    return toError(HttpError::file, fmt::format("{} {}: {}", what, path.string(), std::strerror(err)));
}
}  // namespace

PartialFile::PartialFile(PartialFile&& other) noexcept
    : file_(std::exchange(other.file_, nullptr)),
      path_(std::move(other.path_)),
      destination_(std::move(other.destination_)) {}

PartialFile& PartialFile::operator=(PartialFile&& other) noexcept {
    if (this != &other) {
        discard();
        file_ = std::exchange(other.file_, nullptr);
        path_ = std::move(other.path_);
        destination_ = std::move(other.destination_);
    }
    return *this;
}

PartialFile::~PartialFile() { discard(); }

Result<PartialFile> PartialFile::create(const std::filesystem::path& destination) {
    if (destination.filename().empty())
        return fail(toError(HttpError::file, "no file name in " + destination.string()));
    std::random_device random;
    std::filesystem::path folder = destination.parent_path();
    if (folder.empty()) folder = ".";
    for (int attempt = 0; attempt < 16; ++attempt) {
        // A hidden name, so a listing of the folder never shows half a file.
        std::uint64_t tag = (std::uint64_t(random()) << 32) | random();
        std::filesystem::path candidate =
            folder / fmt::format(".{}.part-{:016x}", destination.filename().string(), tag);
        int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return fail(fileError("cannot create", candidate, errno));
        }
        std::FILE* f = ::fdopen(fd, "wb");
        if (!f) {
            int err = errno;
            ::close(fd);
            ::unlink(candidate.c_str());
            return fail(fileError("cannot open", candidate, err));
        }
        PartialFile p;
        p.file_ = f;
        p.path_ = std::move(candidate);
        p.destination_ = destination;
        return p;
    }
    return fail(toError(HttpError::file, "no free temporary name beside " + destination.string()));
}

Status PartialFile::write(const void* data, std::size_t size) {
    if (!file_) return fail(toError(HttpError::file, "the file is closed"));
    if (size > 0 && std::fwrite(data, 1, size, file_) != size) return fail(fileError("cannot write", path_, errno));
    return ok();
}

Status PartialFile::commit() {
    if (!file_) return fail(toError(HttpError::file, "the file is closed"));
    std::FILE* f = std::exchange(file_, nullptr);
    bool flushed = std::fflush(f) == 0;
    int err = errno;
    if (std::fclose(f) != 0 && flushed) {
        flushed = false;
        err = errno;
    }
    if (!flushed) {
        ::unlink(path_.c_str());
        return fail(fileError("cannot write", path_, err));
    }
    if (::rename(path_.c_str(), destination_.c_str()) != 0) {
        err = errno;
        ::unlink(path_.c_str());
        return fail(fileError("cannot move into place", destination_, err));
    }
    path_.clear();
    return ok();
}

void PartialFile::discard() {
    if (file_) std::fclose(std::exchange(file_, nullptr));
    if (!path_.empty()) {
        ::unlink(path_.c_str());
        path_.clear();
    }
}

}  // namespace platform
